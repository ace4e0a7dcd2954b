// Frame sequence discovery: frame texts of listed names, their slots and warnings, and what a run prints for them.
#include "driver/findSequenceFrames.h"
#include "support/exrFixtures.h"
#include "support/frameRun.h"
#include "support/runTool.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace zqtest;

const std::string kCopyOnly =
    "    openEXR: Copy only (already cropped and multipart or DeepData or Negative Borders).\n"
    "    done\n";

// The result line of a slot without a file: the bare directory cannot be opened.
std::string emptySlot(const TempDir& dir)
{
    return "Frame : \n    : Data Error! Cannot read image file \"" + dir.path() + "\". Is a directory.\n";
}

TEST(FrameTextOf, SeparatorsSignsAndExtension)
{
    struct Case
    {
        const char* name;
        const char* baseName;
        const char* extension;
        const char* expected; // nullptr: the name does not start with the base name
    };
    const Case cases[] = {
        // separators: at most two characters that are neither digit nor '-'
        {"shot.0001.exr", "shot.", ".exr", "0001"},
        {"shot.0001.exr", "shot", ".exr", "0001"},
        {"shot..0003.exr", "shot", ".exr", "0003"},
        {"shot...0003.exr", "shot", ".exr", ".0003"},
        {"shot._-5.exr", "shot", ".exr", "-5"},
        {"shot_v2.0001.exr", "shot", ".exr", "2.0001"},
        {"12.exr", "", ".exr", "12"},
        // signs
        {"shot.-005.exr", "shot.", ".exr", "-005"},
        {"shot.--5.exr", "shot.", ".exr", "--5"},
        {"shot.+5.exr", "shot.", ".exr", "5"},
        // base name in any case; the extension is cut by its length only
        {"SHOT.0001.EXR", "shot.", ".exr", "0001"},
        {"Shot.0001.tif", "sHOT.", ".exr", "0001"},
        {"shot.0001.exr", "shot.", "exr", "0001."},
        {"shot.7", "shot.", ".exr", "7"},
        // what is left when nothing or more than the number follows
        {"shot.exr", "shot", ".exr", ""},
        {"shot..exr", "shot.", ".exr", ""},
        {"shot.0001_mask.exr", "shot.", ".exr", "0001_mask"},
        // other names
        {"other.0001.exr", "shot.", ".exr", nullptr},
        {"sho", "shot", ".exr", nullptr},
        {"xshot.0001.exr", "shot", ".exr", nullptr},
    };
    for (const Case& c : cases)
    {
        QString text = frameTextOf(QString::fromUtf8(c.name), QString::fromUtf8(c.baseName),
                                   QString::fromUtf8(c.extension));
        if (!c.expected)
            EXPECT_TRUE(text.isNull()) << c.name << " gave '" << text.toStdString() << "'";
        else
        {
            EXPECT_FALSE(text.isNull()) << c.name;
            EXPECT_EQ(text.toStdString(), c.expected) << c.name;
        }
    }
}

TEST(PlaceSequenceFrames, SlotsFoundCountAndWarnings)
{
    struct Case
    {
        const char*              what;
        std::vector<std::string> names;
        const char*              baseName;
        SequenceRange            range;
        std::vector<std::string> slots; // "name text" per slot, "-" when empty
        int32_t                  found;
        std::string              console;
    };
    const Case cases[] = {
        {"gaps, in frame order whatever the listing order",
         {"shot.0003.exr", "shot.0001.exr"}, "shot.", {1, 4, 1, 0, 4},
         {"shot.0001.exr 0001", "-", "shot.0003.exr 0003", "-"}, 2, ""},
        {"step: off-step, past the end and before the start warn",
         {"shot.0002.exr", "shot.0005.exr", "shot.0011.exr", "shot.0000.exr", "shot.0009.exr"},
         "shot.",
         {1, 9, 2, 0, 5},
         {"-", "-", "shot.0005.exr 0005", "-", "shot.0009.exr 0009"}, 2,
         "Warning:  Not a frame of this sequene '0002' : 2!=step (1-9,2 offs:0) \n"
         "Warning:  Not a frame of this sequene '0011' : 11>end (1-9,2 offs:0) \n"
         "Warning:  Not a frame of this sequene '0000' : 0<start (1-9,2 offs:0) \n"},
        {"the same number twice: both count, the later one holds the slot",
         {"shot.1.exr", "shot.0001.exr"}, "shot.", {1, 1, 1, 0, 1}, {"shot.0001.exr 0001"}, 2, ""},
        {"offset 100 moves -99 to the first slot",
         {"shot.1.exr", "shot.-99.exr"}, "shot.", {1, 10, 1, 100, 10},
         {"shot.-99.exr -99", "-", "-", "-", "-", "-", "-", "-", "-", "-"}, 1,
         "Warning:  Not a frame of this sequene '1' : 1>end (1-10,1 offs:100) \n"},
        {"negative offset",
         {"shot.1.exr", "shot.6.exr"}, "shot.", {1, 1, 1, -5, 1}, {"shot.6.exr 6"}, 1,
         "Warning:  Not a frame of this sequene '1' : 1<start (1-1,1 offs:-5) \n"},
        {"negative frame numbers",
         {"shot.-003.exr", "shot.0000.exr", "shot.-001.exr", "shot.0003.exr"}, "shot.", {-3, 3, 3, 0, 3},
         {"shot.-003.exr -003", "shot.0000.exr 0000", "shot.0003.exr 0003"}, 3,
         "Warning:  Not a frame of this sequene '-001' : -1!=step (-3-3,3 offs:0) \n"},
        {"base name in any case, separators and plus sign",
         {"SHOT.0002.exr", "shot..0003.exr", "shot.+4.exr", "shot_5.exr"}, "shot", {1, 5, 1, 0, 5},
         {"-", "SHOT.0002.exr 0002", "shot..0003.exr 0003", "shot.+4.exr 4", "shot_5.exr 5"}, 4, ""},
        {"names that are no frames are skipped silently",
         {"shot.0001_mask.exr", "shot_v2.0001.exr", "shot.exr", "other.0001.exr", "shot...0001.exr", "shot.x.exr",
          "shot.1.5.exr"},
         "shot", {1, 2, 1, 0, 2}, {"-", "-"}, 0, ""},
    };
    for (const Case& c : cases)
    {
        QStringList names;
        for (const std::string& name : c.names)
            names.append(QString::fromStdString(name));
        FrameSlots slots(c.range.frameCount);
        ASSERT_TRUE(slots.isValid()) << c.what;
        QByteArray console;
        int32_t    found = placeSequenceFrames(names, QString::fromLatin1(c.baseName), QStringLiteral(".exr"), c.range,
                                               slots, console);
        std::vector<std::string> placed;
        for (int32_t k = 0; k < slots.count(); ++k)
        {
            FrameSlot slot = slots.at(k);
            placed.push_back(slot.fileName.isEmpty() && slot.frameText.isEmpty()
                                 ? std::string("-")
                                 : slot.fileName.toStdString() + " " + slot.frameText.toStdString());
        }
        EXPECT_EQ(placed, c.slots) << c.what;
        EXPECT_EQ(found, c.found) << c.what;
        EXPECT_EQ(console.toStdString(), c.console) << c.what;
    }
}

// Every slot is visited in frame order; a slot without a file fails on the bare directory and the run goes on.
TEST(SequenceRun, GapsAreVisitedInFrameOrder)
{
    TempDir dir;
    writeCroppedRgba(dir.file("shot.0003.exr"));
    writeCroppedRgba(dir.file("shot.0001.exr"));
    ToolRun run = runTool({dir.file("shot."), ".exr", "1", "4", "1", "0", "true", "true"});
    EXPECT_EQ(run.output, bannerText() + "Searching for '" + dir.path() + "shot.*.exr'.\n" + "Found 2 of 4 frames\n" +
                              "Frame 0001: \n" + kCopyOnly + emptySlot(dir) + "Frame 0003: \n" + kCopyOnly +
                              emptySlot(dir) + "All Done\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(dir.list(),
              (std::vector<std::string>{"shot.0001.exr", "shot.0003.exr", "shot_crop.0001.exr", "shot_crop.0003.exr"}));
}

// A file outside the sequence draws its warning between the search line and the found line.
TEST(SequenceRun, WarningBeforeTheFoundLine)
{
    TempDir dir;
    writeCroppedRgba(dir.file("shot.0001.exr"));
    writeCroppedRgba(dir.file("shot.0005.exr"));
    ToolRun run = runTool({dir.file("shot."), ".exr", "1", "3", "2", "0"});
    EXPECT_EQ(run.output, bannerText() + "Searching for '" + dir.path() + "shot.*.exr'.\n" +
                              "Warning:  Not a frame of this sequene '0005' : 5>end (1-3,2 offs:0) \n" +
                              "Found 1 of 2 frames\n" + "Frame 0001: \n" + kCopyOnly + emptySlot(dir) + "All Done\n");
    EXPECT_EQ(run.exitCode, 0);
}

TEST(SequenceRun, NoFramesFound)
{
    struct Case
    {
        const char*              what;
        std::vector<std::string> files;
        std::string              between; // what comes between the search line and the found line
        const char*              found;
    };
    const Case cases[] = {
        {"empty directory", {}, "", "Found 0 of 3 frames\n"},
        {"only other names and a frame past the end",
         {"other.0001.exr", "shot.0001.tif", "shot.0001_mask.exr", "shot.0009.exr"},
         "Warning:  Not a frame of this sequene '0009' : 9>end (1-3,1 offs:0) \n", "Found 0 of 3 frames\n"},
    };
    for (const Case& c : cases)
    {
        TempDir dir;
        for (const std::string& name : c.files)
            writeCroppedRgba(dir.file(name));
        std::vector<std::string> before = dir.list();
        ToolRun run = runTool({dir.file("shot."), ".exr", "1", "3", "1", "0", "true", "true"});
        EXPECT_EQ(run.output, bannerText() + "Searching for '" + dir.path() + "shot.*.exr'.\n" + c.between + c.found +
                                  "Warning:  No frames found.\n")
            << c.what;
        EXPECT_EQ(run.exitCode, 255) << c.what;
        EXPECT_EQ(dir.list(), before) << c.what;
    }

    TempDir     dir;
    std::string missing = dir.file("missing/");
    ToolRun     run = runTool({missing + "shot.", ".exr", "1", "1", "1", "0"});
    EXPECT_EQ(run.output, bannerText() + "Searching for '" + missing + "shot.*.exr'.\n" + "Found 0 of 1 frames\n" +
                              "Warning:  No frames found.\n");
    EXPECT_EQ(run.exitCode, 255);
}

// ".EXR" names and any letter case of the base name are found; temporary files and directories are not frames.
TEST(SequenceRun, LetterCaseLeftoversAndDirectories)
{
    TempDir dir;
    writeCroppedRgba(dir.file("SHOT.0001.EXR"));
    writeBytes(dir.file(".shot.0002.exr.x.zqtmp"), "left over by a killed run");
    writeCroppedRgba(dir.file(".shot.0003.exr"));
    ASSERT_EQ(mkdir(dir.file("shot.0004.exr").c_str(), 0755), 0);
    std::string before = readBytes(dir.file("SHOT.0001.EXR"));
    ToolRun run = runTool({dir.file("shot."), ".exr", "1", "4", "1", "0", "1", "1"});
    EXPECT_EQ(run.output, bannerText() + "Searching for '" + dir.path() + "shot.*.exr'.\n" + "Found 1 of 4 frames\n" +
                              "Frame 0001: \n" + kCopyOnly + emptySlot(dir) + emptySlot(dir) + emptySlot(dir) +
                              "All Done\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{".shot.0002.exr.x.zqtmp", ".shot.0003.exr", "SHOT.0001.EXR",
                                                    "shot.0004.exr", "shot_crop.0001.exr"}));
    EXPECT_EQ(readBytes(dir.file("shot_crop.0001.exr")), before);
    EXPECT_EQ(readBytes(dir.file(".shot.0002.exr.x.zqtmp")), "left over by a killed run");
}

// Paths are printed in Latin-1 as they are: a percent sign in them has no format meaning.
TEST(SequenceRun, PathsPrintedAsLatin1WithoutFormatMeaning)
{
    TempDir           top;
    const std::string directory = top.file("100%s %d%%n r\xC3\xA9/"); // UTF-8 on disk
    const std::string printed = replaceAll(directory, "\xC3\xA9", "\xE9");
    ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
    writeBytes(directory + "shot.0001.exr", "This is a text file, not an image.\n");
    writeCroppedRgba(directory + "shot.0002.exr");
    ToolRun run = runTool({directory + "shot.", ".exr", "1", "2", "1", "0", "1", "1"});
    EXPECT_EQ(run.output, bannerText() + "Searching for '" + printed + "shot.*.exr'.\n" + "Found 2 of 2 frames\n" +
                              "Frame 0001: \n    : Data Error! Cannot read image file \"" + printed +
                              "shot.0001.exr\". File is not an image file.\n" + "Frame 0002: \n" + kCopyOnly +
                              "All Done\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(readBytes(directory + "shot_crop.0002.exr"), readBytes(directory + "shot.0002.exr"));
}

// The output name drops one trailing '.' of the base name; a second run does not take the "_crop." files for frames.
TEST(SequenceRun, OutputNameAndRerun)
{
    for (const char* baseName : {"shot.", "shot"})
    {
        TempDir dir;
        writeCroppedRgba(dir.file("shot.0007.exr"));
        for (int pass = 1; pass <= 2; ++pass)
        {
            ToolRun run = runTool({dir.file(baseName), ".exr", "7", "7", "1", "0", "1", "1"});
            EXPECT_EQ(run.output, bannerText() + "Searching for '" + dir.path() + baseName + "*.exr'.\n" +
                                      "Found 1 of 1 frames\n" + "Frame 0007: \n" + kCopyOnly + "All Done\n")
                << baseName << ", run " << pass;
            EXPECT_EQ(dir.list(), (std::vector<std::string>{"shot.0007.exr", "shot_crop.0007.exr"}))
                << baseName << ", run " << pass;
        }
    }
}

} // namespace
