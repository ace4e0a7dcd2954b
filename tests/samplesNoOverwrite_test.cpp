// Every shared sample file, valid or damaged, run as a one-frame sequence with NoOverwrite: no crash, one frame
// heading and one result line, the input untouched, and a "_crop." file that fits the result.
#include "support/exrFixtures.h"
#include "support/runTool.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using namespace zqtest;

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream       stream(text);
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line);
    return lines;
}

bool startsWith(const std::string& text, const std::string& start)
{
    return text.compare(0, start.size(), start) == 0;
}

// The result lines a frame can end with; anything else after the heading is a conversion message.
bool isResultLine(const std::string& line)
{
    static const char* const results[] = {"    done",
                                          "    : File failed to load!",
                                          "    : Unsupported Format!",
                                          "    : Unhandled C Error!",
                                          "    : Memory allocation failed!",
                                          "    : Wrong filesize!",
                                          "    : Data Error!",
                                          "    Image dimensions larger than buffer.",
                                          "    File size too small.",
                                          "    Failed to save file."};
    for (const char* result : results)
        if (startsWith(line, result))
            return true;
    return false;
}

bool mentions(const std::vector<std::string>& lines, const char* text)
{
    for (const std::string& line : lines)
        if (line.find(text) != std::string::npos)
            return true;
    return false;
}

TEST(SamplesNoOverwrite, EverySampleAsAOneFrameSequence)
{
    const std::string samples = samplesDir();
    if (samples.empty())
        GTEST_SKIP() << "the sample directory " << ZQ_SAMPLES_DIR << " is not present";

    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(samples))
        if (entry.is_regular_file() && entry.path().extension() != ".md")
            files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_FALSE(files.empty());

    for (const std::string& sample : files)
    {
        SCOPED_TRACE(sample);
        TempDir           dir;
        const std::string input = dir.file("shot.0001.exr");
        const std::string output = dir.file("shot_crop.0001.exr");
        const std::string bytes = readBytes(sample);
        writeBytes(input, bytes);

        ToolRun run = runTool({dir.file("shot."), ".exr", "1", "1", "1", "0", "true", "true"});
        ASSERT_LT(run.exitCode, 128) << "crashed:\n" << run.output << run.errors;
        EXPECT_EQ(run.exitCode, 0) << run.output;

        const std::string head =
            bannerText() + "Searching for '" + dir.path() + "shot.*.exr'.\nFound 1 of 1 frames\nFrame 0001: \n";
        ASSERT_TRUE(startsWith(run.output, head)) << run.output;
        std::vector<std::string> lines = linesOf(run.output.substr(head.size()));
        ASSERT_GE(lines.size(), 2u) << run.output;
        EXPECT_EQ(lines.back(), "All Done") << run.output;
        lines.pop_back();
        const std::string result = lines.back();
        lines.pop_back();
        EXPECT_TRUE(isResultLine(result)) << run.output;
        for (const std::string& line : lines)
        {
            EXPECT_FALSE(isResultLine(line)) << "second result line: " << line;
            EXPECT_FALSE(startsWith(line, "Frame")) << "second frame heading: " << line;
        }

        EXPECT_TRUE(readBytes(input) == bytes) << "the input was changed";
        const bool copied = mentions(lines, "Copy only") || mentions(lines, "We do not resave") ||
                            mentions(lines, "Loading the image would require");
        const bool rewritten = result == "    done" && !copied && !mentions(lines, "part sizes do not match");
        if (copied)
            EXPECT_TRUE(readBytes(output) == bytes) << "the copy differs from the input";
        else if (rewritten)
        {
            try
            {
                EXPECT_GT(partCount(output), 0);
            }
            catch (const std::exception& error)
            {
                ADD_FAILURE() << "the rewritten frame cannot be read: " << error.what();
            }
        }
        std::vector<std::string> expected = {"shot.0001.exr"};
        if (copied || rewritten)
            expected.push_back("shot_crop.0001.exr");
        EXPECT_EQ(dir.list(), expected) << run.output;
    }
}

} // namespace
