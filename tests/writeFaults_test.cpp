// Writes that fail: every frame ends with its result and detail text, the target keeps its bytes, no temp file stays.
#include "support/exrFixtures.h"
#include "support/frameRun.h"
#include "support/runTool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using zqtest::box;
using zqtest::ChannelSpec;
using zqtest::PartSpec;

// A two-layer 256 x 128 frame with content in the middle: the tool rewrites it cropped.
PartSpec croppableFrame()
{
    PartSpec part;
    part.displayWindow = part.dataWindow = box(0, 0, 255, 127);
    for (const char* name : {"R", "G", "B", "diffuse.R"})
        part.channels.push_back(ChannelSpec{name, Imf::HALF, [](int x, int y) {
                                                return (x > 60 && x < 200 && y > 30 && y < 100) ? 0.25f + x * 0.001f
                                                                                                  : 0.0f;
                                            }});
    return part;
}

const char* const kCropLines = "        EXR convert to multipart + cropped:  min[  57,  27]  max[ 203, 103]  34.5%\n"
                               "    openEXR: Save converted multiPartOutputFile\n";

bool hasTempFile(const zqtest::TempDir& dir)
{
    for (const std::string& name : dir.list())
        if (name.size() > 6 && name.compare(name.size() - 6, 6, ".zqtmp") == 0)
            return true;
    return false;
}

TEST(WriteFaults, FileSizeLimitFailsTheWriteAndKeepsTheFrame)
{
    zqtest::TempDir dir;
    std::string     frame = dir.file("shot.0001.exr");
    zqtest::writeSinglePart(frame, croppableFrame());
    const std::string before = zqtest::readBytes(frame);

    // In place: the rewrite is larger than the limit.
    zqtest::ToolRun run = zqtest::runTool({dir.file("shot."), ".exr", "1", "1", "1", "0"},
                                          {"prlimit", "--fsize=2000", "--"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, zqtest::expectedRun(dir, std::string(kCropLines) +
                                                                  "    Failed to save file. Failed to write pixel data to image file \"" +
                                                                  frame + "\". File too large.\n"));
    EXPECT_EQ(zqtest::readBytes(frame), before);
    EXPECT_FALSE(hasTempFile(dir));

    // NoOverwrite over an earlier result: the earlier result stays.
    std::string output = dir.file("shot_crop.0001.exr");
    zqtest::writeBytes(output, "earlier result");
    run = zqtest::runTool({dir.file("shot."), ".exr", "1", "1", "1", "0", "true", "true"},
                          {"prlimit", "--fsize=2000", "--"});
    EXPECT_NE(run.output.find("    Failed to save file. Failed to write pixel data to image file \"" + output + "\". File too large.\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(zqtest::readBytes(output), "earlier result");
    EXPECT_EQ(zqtest::readBytes(frame), before);
    EXPECT_FALSE(hasTempFile(dir));
}

TEST(WriteFaults, TargetThatIsADirectory)
{
    zqtest::TempDir dir;
    std::string     frame = dir.file("shot.0001.exr");
    zqtest::writeSinglePart(frame, croppableFrame());
    std::string output = dir.file("shot_crop.0001.exr");
    ASSERT_EQ(mkdir(output.c_str(), 0755), 0);

    zqtest::ToolRun run = zqtest::runTool({dir.file("shot."), ".exr", "1", "1", "1", "0", "true", "true"});
    EXPECT_EQ(run.output, zqtest::expectedRun(dir, std::string(kCropLines) +
                                                                  "    Failed to save file. cannot replace '" + output +
                                                                  "': Is a directory\n"));
    EXPECT_FALSE(hasTempFile(dir));

    // A frame that is only copied reports the copy error instead.
    PartSpec single;
    single.channels.push_back(ChannelSpec{"R", Imf::HALF, zqtest::boxPixels(box(1, 1, 62, 46))});
    single.dataWindow = box(0, 0, 31, 47); // cropped, one layer: copied unchanged
    zqtest::writeSinglePart(frame, single);
    run = zqtest::runTool({dir.file("shot."), ".exr", "1", "1", "1", "0", "true", "true"});
    EXPECT_NE(run.output.find("    openEXR: Copy only (already cropped and multipart or DeepData or Negative "
                              "Borders).\n    : File failed to load! copy '" +
                              frame + "' to '" + output + "' failed: cannot replace '" + output +
                              "': Is a directory\n"),
              std::string::npos)
        << run.output;
    EXPECT_FALSE(hasTempFile(dir));
}

TEST(WriteFaults, DirectoryRemovedWhileTheFrameIsRead)
{
    zqtest::TempDir parent;
    std::string     dir = parent.file("seq/");
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    // Large enough that reading takes far longer than the pause below.
    PartSpec part;
    part.displayWindow = part.dataWindow = box(0, 0, 1999, 1499);
    for (int c = 0; c < 12; ++c)
        part.channels.push_back(ChannelSpec{"layer" + std::to_string(c) + ".R", Imf::FLOAT,
                                            [](int x, int y) { return float((x * 7919 + y * 104729) % 1000) + 1; }});
    zqtest::writeSinglePart(dir + "shot.0001.exr", part);

    std::thread remover([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        EXPECT_EQ(std::system(("rm -rf '" + dir + "'").c_str()), 0);
    });
    zqtest::ToolRun run = zqtest::runTool({dir + "shot.", ".exr", "1", "1", "1", "0"});
    remover.join();
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.output.find("    Failed to save file. Cannot open image file \"" + dir +
                              "shot.0001.exr\". No such file or directory.\nAll Done\n"),
              std::string::npos)
        << run.output;
    EXPECT_EQ(parent.list(), std::vector<std::string>{});
}

TEST(WriteFaults, OutputDirectoryWithoutWritePermission)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to run the tool as another user";
    if (std::system("setpriv --version >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "setpriv is not installed";
    zqtest::TempDir dir;
    std::string     frame = dir.file("shot.0001.exr");
    zqtest::writeSinglePart(frame, croppableFrame());
    const std::string before = zqtest::readBytes(frame);
    chmod(dir.path().c_str(), 0755);
    chmod(frame.c_str(), 0644);

    zqtest::ToolRun run =
        zqtest::runTool({dir.file("shot."), ".exr", "1", "1", "1", "0", "true", "true"},
                        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    if (run.output.empty())
        GTEST_SKIP() << "the tool cannot run as an unprivileged user here: " << run.errors;
    EXPECT_EQ(run.output, zqtest::expectedRun(dir, std::string(kCropLines) + "    Failed to save file. Cannot open image file \"" +
                                       dir.file("shot_crop.0001.exr") + "\". Permission denied.\n"));
    EXPECT_EQ(zqtest::readBytes(frame), before);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"shot.0001.exr"});
}

} // namespace
