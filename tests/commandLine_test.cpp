// Command-line checks of the tool: refusals in their order with texts and exit codes, flags, and the options parsed.
#include "driver/parseCommandLine.h"
#include "support/exrFixtures.h"
#include "support/frameRun.h"
#include "support/runTool.h"

#include <ImfStringAttribute.h>

#include <gtest/gtest.h>

namespace {

using namespace zqtest;

const std::string kUsage =
    "\nUsage:\n\n"
    "  zqExrCropRegion BaseFileName Extension Start End Step Offset [exrHalfOnly] [NoOverwrite] [unCrop] "
    "[AbortIfCropped] [metadataSceneName] [metadataJobID]\n"
    "  exrHalfOnly and NoOverwrite can be set to \"true\" to enable it or \"false\".\n"
    "  unCrop and AbortIfCropped have to be set, but are ignored\n"
    "  metadataSceneName and metadataJobID is written as scene name metadata into the EXR.\n"
    "\n\n";

const std::string kCopyOnly =
    "    openEXR: Copy only (already cropped and multipart or DeepData or Negative Borders).\n";

QStringList toQt(const std::vector<std::string>& arguments)
{
    QStringList list;
    for (const std::string& argument : arguments)
        list.append(QString::fromStdString(argument));
    return list;
}

// A frame that the tool rewrites with a crop: one RGBA layer, full data window, content in a small box.
void writeUncroppedRgba(const std::string& path)
{
    PartSpec part;
    for (const char* name : {"R", "G", "B", "A"})
        part.channels.push_back({name, Imf::HALF, boxPixels(box(10, 10, 20, 20), 0.5f)});
    writeSinglePart(path, part);
}

struct RefusalCase
{
    const char*              what;
    std::vector<std::string> arguments;
    std::string              output;
    int                      exitCode; // as the shell sees it
};

// Every refusal, in the order the checks run: each case breaks one check and, where it matters, a later one too.
const std::vector<RefusalCase>& refusalCases()
{
    static const std::vector<RefusalCase> cases = {
        // fewer than six arguments, counted before the root option
        {"no arguments", {}, zqtest::bannerText() + kUsage, 255},
        {"five arguments", {"/r/shot.", ".exr", "1", "2", "1"}, zqtest::bannerText() + kUsage, 255},
        {"five with root", {"-zqRoot", "R", "/r/shot.", ".exr", "1"}, zqtest::bannerText() + kUsage, 255},
        // extension before the numbers
        {"tif", {"/r/shot.", ".tif", "x", "1", "1", "0"}, "No .exr sequence. Exit.", 0},
        {"empty extension", {"/r/shot.", "", "1", "1", "1", "0"}, "No .exr sequence. Exit.", 0},
        {"exr not at the end", {"/r/shot.", ".exr.bak", "1", "1", "1", "0"}, "No .exr sequence. Exit.", 0},
        // the numbers, Start first
        {"start text", {"/r/shot.", ".exr", "abc", "x", "1", "0"}, "Error: Start Frame is not a number.\n'abc'\n\n",
         255},
        {"start empty", {"/r/shot.", ".exr", "", "1", "1", "0"}, "Error: Start Frame is not a number.\n''\n\n", 255},
        {"start fraction", {"/r/shot.", ".exr", "1.5", "2", "1", "0"},
         "Error: Start Frame is not a number.\n'1.5'\n\n", 255},
        {"start overflow", {"/r/shot.", ".exr", "2147483648", "1", "1", "0"},
         "Error: Start Frame is not a number.\n'2147483648'\n\n", 255},
        {"start hex", {"/r/shot.", ".exr", "0x10", "1", "1", "0"}, "Error: Start Frame is not a number.\n'0x10'\n\n",
         255},
        {"root not first", {"/r/shot.", ".exr", "-zqRoot", "R", "1", "0"},
         "Error: Start Frame is not a number.\n'-zqRoot'\n\n", 255},
        {"end text", {"/r/shot.", ".exr", "1", "x1", "one", "0"}, "Error: End Frame is not a number.\n'x1'\n\n", 255},
        {"step text", {"/r/shot.", ".exr", "1", "5", "one", "o"}, "Error: Frame Step is not a number.\n'one'\n\n", 255},
        {"step zero", {"/r/shot.", ".exr", "1", "5", "0", "o"}, "Error: Frame Step is wrong.\n'0'\n\n", 255},
        {"step negative", {"/r/shot.", ".exr", "5", "1", "-2", "0"}, "Error: Frame Step is wrong.\n'-2'\n\n", 255},
        {"offset text", {"/r/shot.", ".exr", "1", "5", "1", "o"}, "Error: Frame Offset is not a number.\n'o'\n\n", 255},
        // numbers before the extension rule
        {"cxr with bad start", {"/r/shot.", ".cxr", "s", "5", "1", "0"}, "Error: Start Frame is not a number.\n's'\n\n",
         255},
        // the extension rule, before the frame count
        {"cxr", {"/r/shot.", ".cxr", "10", "1", "1", "0"}, "Error: Not an .exr extension.\n", 0},
        {"cxr TRUE", {"/r/shot.", ".cxr", "1", "5", "1", "0", "TRUE"}, "Error: Not an .exr extension.\n", 0},
        {"cxr 1", {"/r/shot.", ".CXR", "1", "5", "1", "0", "1"}, "Error: Not an .exr extension.\n", 0},
        {"suffix before exr", {"/r/shot.", "_beauty.exr", "1", "5", "1", "0"}, "Error: Not an .exr extension.\n", 0},
        // the frame count
        {"end before start", {"/r/shot.", ".exr", "10", "1", "1", "0"}, "Error: Sequence start/end/step error.\n", 255},
        {"end one before start", {"/r/shot.", ".exr", "1", "0", "1", "0"}, "Error: Sequence start/end/step error.\n",
         255},
        // root option in any case; missing arguments behind it are empty
        {"root, no step", {"-ZQROOT", "R", "/r/shot.", ".exr", "1", "2"}, "Error: Frame Step is not a number.\n''\n\n",
         255},
        {"root, no offset", {"-zqroot", "R", "/r/shot.", ".exr", "1", "2", "3"},
         "Error: Frame Offset is not a number.\n''\n\n", 255},
        {"root value skipped", {"-zqRoot", "/r/shot.", ".exr", ".tif", "1", "2", "1", "0"}, "No .exr sequence. Exit.",
         0},
        {"root, optional flags counted behind it", {"-zqRoot", "R", "/r/shot.", ".cxr", "1", "2", "1", "0"},
         "Error: Not an .exr extension.\n", 0},
    };
    return cases;
}

TEST(CommandLineRun, RefusalsPrintOnlyTheirTextAndExit)
{
    for (const RefusalCase& c : refusalCases())
    {
        ToolRun run = runTool(c.arguments);
        EXPECT_EQ(run.output, c.output) << c.what;
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what;
    }
}

TEST(IsTrueFlag, OneOrTrueInAnyCase)
{
    const std::pair<const char*, bool> cases[] = {
        {"1", true},      {"true", true},   {"TRUE", true},   {"True", true},  {"tRuE", true},
        {"True1", false}, {"yes", false},   {"", false},      {"0", false},    {"false", false},
        {" true", false}, {"true ", false}, {"01", false},    {"1.0", false},  {"on", false},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(isTrueFlag(QString::fromLatin1(text)), expected) << "'" << text << "'";
}

struct OptionsCase
{
    const char*              what;
    std::vector<std::string> arguments;
    Options                  expected;
};

Options options(const char* directory, const char* base, const char* extension, int32_t start, int32_t end,
                int32_t step, int32_t offset, bool exrHalfOnly, bool noOverwrite, const char* scene, int64_t jobId,
                int32_t frameCount)
{
    Options o;
    o.directoryText = QString::fromUtf8(directory);
    o.baseName = QString::fromUtf8(base);
    o.extension = QString::fromUtf8(extension);
    o.start = start;
    o.end = end;
    o.step = step;
    o.offset = offset;
    o.exrHalfOnly = exrHalfOnly;
    o.noOverwrite = noOverwrite;
    o.sceneName = QString::fromUtf8(scene);
    o.jobId = jobId;
    o.frameCount = frameCount;
    return o;
}

TEST(ParseCommandLine, OptionsOfAcceptedCommandLines)
{
    const OptionsCase cases[] = {
        {"defaults", {"/r/shot.", ".exr", "1", "100", "1", "0"},
         options("/r/", "shot.", ".exr", 1, 100, 1, 0, true, false, "", 0, 100)},
        {"quotient truncates toward zero", {"C:\\render\\shot.", ".EXR", "5", "1", "10", "-3"},
         options("C:\\render\\", "shot.", ".EXR", 5, 1, 10, -3, true, false, "", 0, 1)},
        {"single frame", {"shot", ".exr", "7", "7", "3", "0"},
         options("", "shot", ".exr", 7, 7, 3, 0, true, false, "", 0, 1)},
        {"every optional argument",
         {"/r/x/shot", ".exr", "-12", "12", "4", "7", "false", "TRUE", "u", "a", "Scene 1", "123456789012"},
         options("/r/x/", "shot", ".exr", -12, 12, 4, 7, false, true, "Scene 1", 123456789012LL, 7)},
        {"flags that are not true", {"/r/shot.", ".exr", "1", "2", "1", "0", "", "True1"},
         options("/r/", "shot.", ".exr", 1, 2, 1, 0, false, false, "", 0, 2)},
        {"exrHalfOnly yes lets cxr through", {"/r/shot.", ".cxr", "1", "2", "1", "0", "yes", "1"},
         options("/r/", "shot.", ".cxr", 1, 2, 1, 0, false, true, "", 0, 2)},
        {"job id not a number", {"/r/shot.", ".exr", "1", "2", "1", "0", "0", "0", "", "", "", "abc"},
         options("/r/", "shot.", ".exr", 1, 2, 1, 0, false, false, "", 0, 2)},
        {"negative job id", {"/r/shot.", ".exr", "1", "2", "1", "0", "1", "0", "", "", "S", "-5"},
         options("/r/", "shot.", ".exr", 1, 2, 1, 0, true, false, "S", -5, 2)},
        {"root option, split at either separator",
         {"-ZqRoot", "/farm/root", "/r/a\\b", ".cxr", "1", "3", "1", "0", "0", "1", "", "", "", "9"},
         options("/r/a\\", "b", ".cxr", 1, 3, 1, 0, false, true, "", 9, 3)},
    };
    for (const OptionsCase& c : cases)
    {
        CommandLine result = parseCommandLine(toQt(c.arguments));
        ASSERT_TRUE(result.run) << c.what << ": " << result.message.toStdString();
        const Options& o = result.options;
        const Options& e = c.expected;
        EXPECT_EQ(o.directoryText, e.directoryText) << c.what;
        EXPECT_EQ(o.baseName, e.baseName) << c.what;
        EXPECT_EQ(o.extension, e.extension) << c.what;
        EXPECT_EQ(o.start, e.start) << c.what;
        EXPECT_EQ(o.end, e.end) << c.what;
        EXPECT_EQ(o.step, e.step) << c.what;
        EXPECT_EQ(o.offset, e.offset) << c.what;
        EXPECT_EQ(o.exrHalfOnly, e.exrHalfOnly) << c.what;
        EXPECT_EQ(o.noOverwrite, e.noOverwrite) << c.what;
        EXPECT_EQ(o.sceneName, e.sceneName) << c.what;
        EXPECT_EQ(o.jobId, e.jobId) << c.what;
        EXPECT_EQ(o.frameCount, e.frameCount) << c.what;
    }
}

// The NoOverwrite flag decides where the frame goes; a ".cxr" sequence runs once exrHalfOnly is false.
TEST(CommandLineRun, NoOverwriteFlagAndCxrSequence)
{
    struct Case
    {
        const char* extension;
        const char* exrHalfOnly;
        const char* noOverwrite;
        bool        cropFileWritten;
    };
    const Case cases[] = {
        {".exr", "true", "1", true},   {".exr", "true", "True", true},  {".exr", "true", "yes", false},
        {".exr", "true", "True1", false}, {".cxr", "false", "TRUE", true}, {".cxr", "0", "false", false},
    };
    for (const Case& c : cases)
    {
        TempDir     dir;
        std::string frame = dir.file(std::string("shot.0001") + c.extension);
        writeCroppedRgba(frame);
        std::string before = readBytes(frame);
        ToolRun     run = runTool({dir.file("shot."), c.extension, "1", "1", "1", "0", c.exrHalfOnly, c.noOverwrite});
        std::string expected = zqtest::bannerText() + "Searching for '" + dir.path() + "shot.*" + c.extension + "'.\n" +
                               "Found 1 of 1 frames\nFrame 0001: \n" + kCopyOnly + "    done\nAll Done\n";
        std::string what = std::string(c.extension) + " " + c.exrHalfOnly + " " + c.noOverwrite;
        EXPECT_EQ(run.output, expected) << what;
        EXPECT_EQ(run.exitCode, 0) << what;
        std::vector<std::string> files = {"shot.0001" + std::string(c.extension)};
        if (c.cropFileWritten)
            files.push_back("shot_crop.0001" + std::string(c.extension));
        EXPECT_EQ(dir.list(), files) << what;
        EXPECT_EQ(readBytes(frame), before) << what;
        if (c.cropFileWritten)
            EXPECT_EQ(readBytes(dir.file("shot_crop.0001" + std::string(c.extension))), before) << what;
    }
}

// metadataSceneName and metadataJobID reach the rewritten frame's first header; the client name always does.
TEST(CommandLineRun, SceneNameAndJobIdStampedIntoTheFrame)
{
    struct Case
    {
        const char* scene;
        const char* jobId;
        const char* expectedScene; // nullptr: no attribute
        const char* expectedJob;   // nullptr: no attribute
    };
    const Case cases[] = {
        {"Shot 010", "25", "Shot 010", "{AAAba}"},
        {"", "abc", nullptr, nullptr},
        {"S", "0", "S", nullptr},
    };
    for (const Case& c : cases)
    {
        TempDir dir;
        writeUncroppedRgba(dir.file("shot.0001.exr"));
        ToolRun run = runTool({dir.file("shot."), ".exr", "1", "1", "1", "0", "1", "0", "u", "a", c.scene, c.jobId});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        Imf::Header header = readHeader(dir.file("shot.0001.exr"), 0);
        auto        text = [&](const char* name) -> std::string {
            const Imf::StringAttribute* attribute = header.findTypedAttribute<Imf::StringAttribute>(name);
            return attribute ? attribute->value() : std::string("<none>");
        };
        EXPECT_EQ(text("ZQ/scenename"), c.expectedScene ? c.expectedScene : "<none>") << c.scene;
        EXPECT_EQ(text("ZQ/jobID"), c.expectedJob ? c.expectedJob : "<none>") << c.jobId;
        EXPECT_EQ(text("ZQ/clientname"), toolHostName());
    }
}

} // namespace
