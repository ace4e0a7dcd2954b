// One-frame runs of the tool for end-to-end tests: the expected console text and a run with the host name masked.
#include "support/frameRun.h"

#include "support/runTool.h"

#include <gtest/gtest.h>

namespace zqtest {

std::string expectedRun(const TempDir& dir, const std::string& frameLines, const std::string& extension)
{
    return bannerText() + "Searching for '" + dir.path() + "shot.*" + extension +
           "'.\nFound 1 of 1 frames\nFrame 0001: \n" + frameLines + "All Done\n";
}

std::string runOnFrame(const TempDir& dir, bool noOverwrite)
{
    ToolRun run = runTool({dir.file("shot."), ".exr", "1", "1", "1", "0", "true", noOverwrite ? "true" : "false",
                           "0", "0", "sceneA", "25"});
    EXPECT_EQ(run.exitCode, 0) << run.errors;
    return replaceAll(run.output, toolHostName(), "<host>");
}

void writeCroppedRgba(const std::string& path)
{
    PartSpec part;
    part.dataWindow = box(8, 8, 39, 31);
    for (const char* name : {"R", "G", "B", "A"})
        part.channels.push_back({name, Imf::HALF, boxPixels(box(10, 10, 20, 20), 0.5f)});
    writeSinglePart(path, part);
}

PixelFunction pixelAt(int px, int py, float value, float background)
{
    return [=](int x, int y) { return x == px && y == py ? value : background; };
}

} // namespace zqtest
