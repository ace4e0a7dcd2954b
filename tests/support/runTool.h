// Runs the built zqExrCropRegion executable and captures what it prints.
#pragma once

#include <string>
#include <vector>

namespace zqtest {

/// What one run of the tool printed and how it ended.
struct ToolRun
{
    std::string output;        ///< standard output
    std::string errors;        ///< standard error
    int         exitCode = -1; ///< exit status (255 for the tool's -1); 128 + signal when killed
};

/// Runs the tool with arguments (without the program name); prefix, when given, is a command that runs it
/// (for example {"prlimit", "--fsize=1000", "--"}).
ToolRun runTool(const std::vector<std::string>& arguments, const std::vector<std::string>& prefix = {});

/// The host name the tool stamps, for masking console output.
std::string toolHostName();

/// The banner the tool prints before a run.
std::string bannerText();

/// Replaces every occurrence of from by to.
std::string replaceAll(std::string text, const std::string& from, const std::string& to);

} // namespace zqtest
