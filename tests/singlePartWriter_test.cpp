// End-to-end runs of single-part frames through the multi-part writer: crop, part split, metadata, safety.
#include "support/exrFixtures.h"
#include "support/frameRun.h"
#include "support/pixelProof.h"
#include "support/runTool.h"

#include <ImfBoxAttribute.h>
#include <ImfChromaticitiesAttribute.h>
#include <ImfFloatAttribute.h>
#include <ImfIntAttribute.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <ImfVecAttribute.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <limits>
#include <regex>
#include <sstream>
#include <sys/stat.h>

namespace {

using namespace zqtest;

// The crop line and the save line of a cropped rewrite.
std::string cropAndSaveLines(const std::string& window)
{
    return "        EXR convert to multipart + cropped:  " + window +
           "\n    openEXR: Save converted multiPartOutputFile\n";
}

std::string cropLines(const std::string& window)
{
    return cropAndSaveLines(window) + "    done\n";
}

const char* const kUncroppedLines =
    "    openEXR: Saving as EXR2.0 multiPart (was EXR1.0 with cropped or deep data)\n    done\n";

// dumpExr without the pixel hashes (the pixel proof covers the pixels) and with the host name masked.
std::string layoutOf(const std::string& path)
{
    return replaceAll(std::regex_replace(dumpExr(path), std::regex(" hash [0-9a-f]+"), ""), toolHostName(),
                      "<host>");
}

// The lines of layoutOf that start with one of the prefixes.
std::string layoutLines(const std::string& path, std::initializer_list<const char*> prefixes)
{
    std::istringstream lines(layoutOf(path));
    std::string        kept;
    for (std::string line; std::getline(lines, line);)
        for (const char* prefix : prefixes)
            if (line.rfind(prefix, 0) == 0)
            {
                kept += line + "\n";
                break;
            }
    return kept;
}

PartSpec frameOf(int width, int height, std::vector<ChannelSpec> channels)
{
    PartSpec part;
    part.displayWindow = part.dataWindow = box(0, 0, width - 1, height - 1);
    part.channels = std::move(channels);
    return part;
}

const PartSpec kOnePixel = frameOf(100, 100, {{"R", Imf::HALF, pixelAt(10, 20, 0.5f)}});
const char* const kOnePixelWindow = "min[   6,  16]  max[  14,  24]  0.8%";

struct CropCase
{
    const char*  what;
    PartSpec     frame;
    const char*  cropWindow; // as printed
    Imath::Box2i written;    // data window of every output part
};

TEST(SinglePartWriter, CropWindowFromTheNonEmptySamples)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    PartSpec    shifted = frameOf(100, 100, {{"R", Imf::HALF, pixelAt(110, 70, 1.0f)}});
    shifted.dataWindow = box(100, 50, 199, 149);
    // Only the name cut to 150 characters enters the background rule, and it no longer ends in ".A".
    const std::string longAlpha = std::string(150, 'x') + ".A";

    const CropCase cases[] = {
        {"content at two corners",
         frameOf(100, 100, {{"R", Imf::HALF, [](int x, int y) { return x == y && (x == 0 || x == 99); }}}),
         "min[   0,   0]  max[  99,  99]  100.0%", box(0, 0, 99, 99)},
        {"one pixel", kOnePixel, kOnePixelWindow, box(6, 16, 14, 24)},
        {"all empty", frameOf(100, 100, {{"R", Imf::HALF, emptyPixels()}}), "min[   1,   1]  max[  19,  19]  3.6%",
         box(1, 1, 19, 19)},
        {"all empty, narrower and lower than the fixed window", frameOf(8, 6, {{"R", Imf::HALF, emptyPixels()}}),
         "min[   1,   1]  max[   7,   5]  72.9%", box(1, 1, 7, 5)},
        {"NaN and infinities only",
         frameOf(100, 100,
                 {{"R", Imf::HALF, [=](int x, int y) { return x == 50 ? nan : y == 50 ? 70000.0f : 0.0f; }},
                  {"P.X", Imf::FLOAT, [=](int x, int y) { return x == y ? (x % 2 ? inf : -inf) : 0.0f; }}}),
         "min[   1,   1]  max[  19,  19]  3.6%", box(1, 1, 19, 19)},
        {"far-plane Z and normals.Z are background",
         frameOf(100, 100,
                 {{"Z", Imf::FLOAT, pixelAt(30, 40, 2.0f, 1e10f)},
                  {"normals.Z", Imf::HALF, [](int, int) { return 0.5f; }},
                  {"R", Imf::HALF, pixelAt(30, 40, 1.0f)}}),
         "min[  26,  36]  max[  34,  44]  0.8%", box(26, 36, 34, 44)},
        {"content only in a layer's alpha", frameOf(100, 100, {{"beauty.A", Imf::HALF, pixelAt(70, 80, 0.25f, 1.0f)}}),
         "min[  66,  76]  max[  74,  84]  0.8%", box(66, 76, 74, 84)},
        {"plain A, depth.Z and a cut name have no background value",
         frameOf(100, 100,
                 {{"A", Imf::HALF, pixelAt(3, 3, 1.0f)},
                  {"depth.Z", Imf::FLOAT, [](int x, int) { return x >= 90 ? 1e10f : 0.0f; }},
                  {longAlpha, Imf::HALF, [](int, int) { return 1.0f; }}}),
         "min[   0,   0]  max[  99,  99]  100.0%", box(0, 0, 99, 99)},
        {"UINT, HALF and FLOAT content",
         frameOf(100, 100,
                 {{"id", Imf::UINT, pixelAt(30, 40, 1.0f)},
                  {"R", Imf::HALF, pixelAt(50, 10, 0.25f)},
                  {"P.X", Imf::FLOAT, pixelAt(70, 60, -0.5f)}}),
         "min[  26,   6]  max[  74,  64]  28.9%", box(26, 6, 74, 64)},
        {"data window origin (100,50)", shifted, kOnePixelWindow, box(106, 66, 114, 74)},
    };
    for (const CropCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeSinglePart(dir.file("shot.0001.exr"), c.frame);
        EXPECT_EQ(runOnFrame(dir, true), expectedRun(dir, cropLines(c.cropWindow)));
        std::string output = dir.file("shot_crop.0001.exr");
        for (int p = 0; p < partCount(output); ++p)
            EXPECT_EQ(readHeader(output, p).dataWindow(), c.written) << "part " << p;
        EXPECT_TRUE(outputHoldsInputPixels(dir.file("shot.0001.exr"), output));
    }
}

TEST(SinglePartWriter, LayersBecomeNamedPartsWithTheFarmMetadataOnTheFirst)
{
    TempDir  dir;
    PartSpec frame = frameOf(64, 48, {});
    for (const char* name : {"A", "B", "G", "R"})
        frame.channels.push_back({name, Imf::HALF, boxPixels(box(10, 10, 20, 20), 0.5f)});
    for (const char* name : {"diffuse.B", "diffuse.G", "diffuse.R"})
        frame.channels.push_back({name, Imf::FLOAT, boxPixels(box(30, 5, 40, 15), 2.0f)});
    frame.channels.push_back({"specular.R", Imf::HALF, pixelAt(12, 12, 1.0f)});
    frame.compression = Imf::PIZ_COMPRESSION;
    frame.editHeader = [](Imf::Header& header) {
        header.lineOrder() = Imf::DECREASING_Y;
        header.screenWindowCenter() = Imath::V2f(3, 4);
        header.screenWindowWidth() = 2.0f;
        header.pixelAspectRatio() = 1.25f;
        header.insert("shotName", Imf::StringAttribute("sh010"));
        header.insert("frameNum", Imf::IntAttribute(7));
        header.insert("exposure", Imf::FloatAttribute(1.5f));
        header.insert("camPos", Imf::V3fAttribute(Imath::V3f(1, 2, 3)));
        header.insert("ZQ/scenename", Imf::StringAttribute("old scene"));
        header.insert("ZQ/cropped", Imf::StringAttribute("no"));
        header.insert("region", Imf::Box2iAttribute(box(1, 2, 3, 4)));
        header.insert("chromaticities", Imf::ChromaticitiesAttribute(Imf::Chromaticities()));
    };
    writeSinglePart(dir.file("shot.0001.exr"), frame);

    EXPECT_EQ(runOnFrame(dir, true), expectedRun(dir, cropLines("min[   6,   1]  max[  44,  24]  30.5%")));
    std::string output = dir.file("shot_crop.0001.exr");
    std::string windows = "  display (0,0)-(63,47) data (6,1)-(44,24) compression 2 lineOrder 0\n";
    EXPECT_EQ(layoutOf(output), "part 0: name=\"\" type=scanlineimage view=-\n" + windows +
                                    "  channel A 1\n"
                                    "  channel B 1\n"
                                    "  channel G 1\n"
                                    "  channel R 1\n"
                                    "  attr ZQ/application (string) = \"zqCropExr\"\n"
                                    "  attr ZQ/clientname (string) = \"<host>\"\n"
                                    "  attr ZQ/convertedToMultiPart (string) = \"yes\"\n"
                                    "  attr ZQ/cropped (string) = \"yes\"\n"
                                    "  attr ZQ/dateWritten (string) = <date>\n"
                                    "  attr ZQ/dateWrittenInt (int) = <date>\n"
                                    "  attr ZQ/jobID (string) = \"{AAAba}\"\n"
                                    "  attr ZQ/scenename (string) = \"sceneA\"\n"
                                    "  attr camPos (v3f) = (1 2 3)\n"
                                    "  attr exposure (float) = 1.5\n"
                                    "  attr frameNum (int) = 7\n"
                                    "  attr shotName (string) = \"sh010\"\n"
                                    "part 1: name=\"_1_1\" type=scanlineimage view=-\n" +
                                    windows +
                                    "  channel diffuse.B 2\n"
                                    "  channel diffuse.G 2\n"
                                    "  channel diffuse.R 2\n"
                                    "part 2: name=\"_2_1\" type=scanlineimage view=-\n" +
                                    windows + "  channel specular.R 1\n");
    for (int p = 0; p < 3; ++p)
    {
        Imf::Header header = readHeader(output, p);
        EXPECT_EQ(header.screenWindowCenter(), Imath::V2f(0, 0)) << "part " << p;
        EXPECT_EQ(header.screenWindowWidth(), 2.0f) << "part " << p;
        EXPECT_EQ(header.pixelAspectRatio(), 1.25f) << "part " << p;
    }
    EXPECT_TRUE(outputHoldsInputPixels(dir.file("shot.0001.exr"), output));
}

TEST(SinglePartWriter, StereoFrameSplitsByViewWithTheDefaultViewFirst)
{
    TempDir  dir;
    PartSpec frame = frameOf(64, 48, {});
    for (const char* name : {"B", "G", "R", "left.B", "left.G", "left.R", "diffuse.left.R", "diffuse.right.R"})
        frame.channels.push_back({name, Imf::HALF, boxPixels(box(8, 9, 50, 30))});
    frame.channels.push_back({"disparity.x", Imf::FLOAT, pixelAt(40, 40, 3.0f)});
    frame.editHeader = [](Imf::Header& header) { Imf::addMultiView(header, Imf::StringVector{"right", "left"}); };
    writeSinglePart(dir.file("shot.0001.exr"), frame);

    EXPECT_EQ(runOnFrame(dir, true), expectedRun(dir, cropLines("min[   4,   5]  max[  54,  44]  66.4%")));
    std::string output = dir.file("shot_crop.0001.exr");
    EXPECT_EQ(layoutLines(output, {"part", "  channel", "  attr multiView"}),
              "part 0: name=\"\" type=scanlineimage view=right\n"
              "  channel B 1\n"
              "  channel G 1\n"
              "  channel R 1\n"
              "part 1: name=\"_1_1\" type=scanlineimage view=left\n"
              "  channel left.B 1\n"
              "  channel left.G 1\n"
              "  channel left.R 1\n"
              "part 2: name=\"_2_1\" type=scanlineimage view=right\n"
              "  channel diffuse.right.R 1\n"
              "part 3: name=\"_3_1\" type=scanlineimage view=left\n"
              "  channel diffuse.left.R 1\n"
              "part 4: name=\"_4_1\" type=scanlineimage view=-\n"
              "  channel disparity.x 2\n");
    EXPECT_TRUE(outputHoldsInputPixels(dir.file("shot.0001.exr"), output));
}

TEST(SinglePartWriter, CroppedMultiLayerFrameIsRewrittenWithItsOwnWindow)
{
    TempDir  dir;
    PartSpec frame = frameOf(64, 48, {{"R", Imf::HALF, pixelAt(20, 20, 1.0f)},
                                      {"G", Imf::HALF, emptyPixels()},
                                      {"diffuse.R", Imf::FLOAT, pixelAt(30, 25, 2.0f)}});
    frame.dataWindow = box(10, 8, 49, 39);
    writeSinglePart(dir.file("shot.0001.exr"), frame);
    writeSinglePart(dir.file("input.exr"), frame); // the frame itself is replaced

    EXPECT_EQ(runOnFrame(dir, false), expectedRun(dir, kUncroppedLines));
    std::string output = dir.file("shot.0001.exr");
    EXPECT_EQ(layoutLines(output, {"part", "  display", "  attr ZQ/c"}),
              "part 0: name=\"\" type=scanlineimage view=-\n"
              "  display (0,0)-(63,47) data (10,8)-(49,39) compression 2 lineOrder 0\n"
              "  attr ZQ/clientname (string) = \"<host>\"\n"
              "  attr ZQ/convertedToMultiPart (string) = \"yes\"\n"
              "  attr ZQ/cropped (string) = \"yes\"\n"
              "part 1: name=\"_1_1\" type=scanlineimage view=-\n"
              "  display (0,0)-(63,47) data (10,8)-(49,39) compression 2 lineOrder 0\n");
    EXPECT_TRUE(outputHoldsInputPixels(dir.file("input.exr"), output));
}

TEST(SinglePartWriter, CryptomatteFrameIsCopiedUnchanged)
{
    TempDir dir;
    writeSinglePart(dir.file("shot.0001.exr"), frameOf(64, 48, {{"R", Imf::HALF, pixelAt(20, 20, 1.0f)},
                                                                {"CryptoObject00.R", Imf::FLOAT, pixelAt(20, 20, 7.0f)},
                                                                {"CryptoObject00.G", Imf::FLOAT, emptyPixels()}}));

    EXPECT_EQ(runOnFrame(dir, true),
              expectedRun(dir, "       We do not resave Deep Data or Cryptomatte images.\n    done\n"));
    EXPECT_EQ(readBytes(dir.file("shot_crop.0001.exr")), readBytes(dir.file("shot.0001.exr")));
}

TEST(SinglePartWriter, TwoThousandChannelsAreAllKept)
{
    TempDir  dir;
    PartSpec frame = frameOf(40, 30, {});
    for (int k = 0; k < 2000; ++k)
    {
        char name[16];
        std::snprintf(name, sizeof name, "c%04d", k);
        // Only a channel far beyond the first 800 holds content.
        frame.channels.push_back({name, Imf::HALF, k == 1900 ? pixelAt(20, 15, 1.0f) : emptyPixels()});
    }
    writeSinglePart(dir.file("shot.0001.exr"), frame);

    EXPECT_EQ(runOnFrame(dir, true), expectedRun(dir, cropLines("min[  16,  11]  max[  24,  19]  6.8%")));
    EXPECT_EQ(readHeader(dir.file("shot_crop.0001.exr"), 0).dataWindow(), box(16, 11, 24, 19));
    EXPECT_TRUE(outputHoldsInputPixels(dir.file("shot.0001.exr"), dir.file("shot_crop.0001.exr")));
}

} // namespace
