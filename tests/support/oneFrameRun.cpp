// One file run through the tool as a sequence of its own, and the checks any input, however damaged, must pass.
#include "support/oneFrameRun.h"

#include "support/exrFixtures.h"
#include "support/pixelProof.h"
#include "support/runTool.h"

#include <ImfThreading.h>

#include <algorithm>
#include <cctype>
#include <exception>
#include <filesystem>
#include <sstream>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define ZQ_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZQ_ADDRESS_SANITIZER 1
#endif
#endif

namespace zqtest {

namespace {

// AddressSanitizer reserves terabytes of address space, so such builds run under the timeout alone.
std::vector<std::string> limits()
{
#ifdef ZQ_ADDRESS_SANITIZER
    return {"timeout", "60"};
#else
    return {"prlimit", "--as=4294967296", "--", "timeout", "60"};
#endif
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream       stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

// Problems with a written file: unreadable, or not holding the input's pixels.
std::string checkWrittenFile(const std::string& sourcePath, const std::string& written)
{
    // Read as the tool reads, with four threads: on a damaged tile the library's pixels depend on the thread count
    // (regressions/tiled_rle_damaged_tile gives other samples with 0, 1 and 2 or more threads).
    Imf::setGlobalThreadCount(4);
    try
    {
        const int parts = partCount(written);
        for (int p = 0; p < parts; ++p)
            readPart(written, p);
    }
    catch (const std::exception& error)
    {
        return "the written file does not read back: " + std::string(error.what()) + "\n";
    }
    ::testing::AssertionResult pixels = outputHoldsInputPixels(sourcePath, written);
    return pixels ? std::string() : "the written file does not hold the input's pixels: " +
                                        std::string(pixels.message()) + "\n";
}

} // namespace

::testing::AssertionResult survivesOneFrameRun(const std::string& sourcePath, FrameTarget target)
{
    const bool        noOverwrite = target == FrameTarget::NoOverwrite;
    TempDir           dir;
    const std::string frame = dir.file("f.0001.exr");
    const std::string copy = dir.file("f_crop.0001.exr");
    const std::string original = readBytes(sourcePath);
    writeBytes(frame, original);

    ToolRun run = runTool({dir.file("f."), ".exr", "1", "1", "1", "0", "0", noOverwrite ? "1" : "0"}, limits());
    const std::string seen = "\n--- output:\n" + run.output + "--- errors:\n" + run.errors;
    if (run.exitCode == 124)
        return ::testing::AssertionFailure() << "hung (killed after 60 s)" << seen;
    if (run.exitCode >= 128)
        return ::testing::AssertionFailure() << "crashed with signal " << run.exitCode - 128 << seen;

    std::string problems;
    if (run.exitCode != 0)
        problems += "exit code " + std::to_string(run.exitCode) + "\n";

    // The frame heading, any conversion messages, exactly one result line, then "All Done" as the last line.
    std::vector<std::string> lines = linesOf(run.output);
    auto heading = std::find(lines.begin(), lines.end(), "Frame 0001: ");
    bool done = false;
    if (heading == lines.end())
        problems += "no \"Frame 0001: \" line\n";
    else if (lines.size() < 2 || lines.back() != "All Done" || lines.end() - heading < 3)
        problems += "no result line followed by \"All Done\" at the end\n";
    else
    {
        const std::string& result = lines[lines.size() - 2];
        if (result.size() <= 4 || result.compare(0, 4, "    ") != 0 || result[4] == ' ')
            problems += "the line before \"All Done\" is no result line: \"" + result + "\"\n";
        done = result == "    done";
        auto isHeading = [](const std::string& line) { return line.rfind("Frame ", 0) == 0; };
        if (std::count_if(lines.begin(), lines.end(), isHeading) != 1)
            problems += "more than one frame heading\n";
    }

    // Nothing but the frame and its NoOverwrite target may be left: no temporary file, nothing else.
    for (const std::string& name : dir.list())
        if (name != "f.0001.exr" && !(noOverwrite && name == "f_crop.0001.exr"))
            problems += "left behind: " + name + "\n";

    const std::string frameNow = readBytes(frame);
    if (noOverwrite)
    {
        if (frameNow != original)
            problems += "the input changed although NoOverwrite was given\n";
        const std::string copyNow = readBytes(copy);
        if (!copyNow.empty() && copyNow != original)
            problems += checkWrittenFile(sourcePath, copy);
    }
    else if (frameNow != original)
    {
        if (!done)
            problems += "the frame was written over although its result is not \"done\"\n";
        problems += checkWrittenFile(sourcePath, frame);
    }

    if (!problems.empty())
        return ::testing::AssertionFailure() << problems << seen;
    return ::testing::AssertionSuccess();
}

std::vector<std::string> filesUnder(const std::string& directory)
{
    std::vector<std::string> files;
    std::error_code          error;
    if (!std::filesystem::is_directory(directory, error))
        return files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory))
        if (entry.is_regular_file() && entry.path().filename() != "README.md")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

std::string testNameOf(const std::string& path, const std::string& base)
{
    std::string name = path.compare(0, base.size(), base) == 0 ? path.substr(base.size()) : path;
    while (!name.empty() && name[0] == '/')
        name.erase(0, 1);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)))
            c = '_';
    return name;
}

} // namespace zqtest
