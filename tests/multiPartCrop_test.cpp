// End-to-end runs of multi-part frames: one crop window for all parts, copy-through decisions, failures.
#include "support/exrFixtures.h"
#include "support/frameRun.h"
#include "support/pixelProof.h"
#include "support/runTool.h"

#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputPart.h>
#include <ImfFrameBuffer.h>
#include <ImfIntAttribute.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStringAttribute.h>

#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <sys/stat.h>

namespace {

using namespace zqtest;

const char* const kCopyCropped =
    "    openEXR: Copy only (already cropped and multipart or DeepData or Negative Borders).\n    done\n";
const char* const kCopyNoGain =
    "    openEXR: Copy only (already in scanline-mode and multipart, crop not required).\n    done\n";

std::string cropLines(const std::string& window)
{
    return "        EXR(multipart) convert to cropped:    " + window + "\n    done\n";
}

PartSpec partOf(const std::string& name, std::vector<ChannelSpec> channels,
                const Imath::Box2i& window = box(0, 0, 63, 47))
{
    PartSpec part;
    part.name = name;
    part.displayWindow = part.dataWindow = window;
    part.channels = std::move(channels);
    return part;
}

// A 64 x 48 two-part file whose second part is deep: part 0 "flat" (R) and part 1 "deep" (Z, one sample a pixel).
void writeFlatAndDeep(const std::string& path)
{
    const int   width = 64, height = 48;
    Imf::Header headers[2] = {Imf::Header(width, height), Imf::Header(width, height)};
    headers[0].setName("flat");
    headers[0].setType(Imf::SCANLINEIMAGE);
    headers[0].channels().insert("R", Imf::Channel(Imf::FLOAT));
    headers[1].setName("deep");
    headers[1].setType(Imf::DEEPSCANLINE);
    headers[1].compression() = Imf::ZIPS_COMPRESSION;
    headers[1].channels().insert("Z", Imf::Channel(Imf::FLOAT));
    Imf::MultiPartOutputFile file(path.c_str(), headers, 2);

    std::vector<float>        samples(size_t(width * height), 2.0f);
    std::vector<unsigned int> counts(samples.size(), 1);
    std::vector<float*>       pointers(samples.size());
    for (size_t i = 0; i < pointers.size(); ++i)
        pointers[i] = &samples[i];
    Imf::FrameBuffer flat;
    flat.insert("R", Imf::Slice(Imf::FLOAT, reinterpret_cast<char*>(samples.data()), 4, 4 * width));
    Imf::OutputPart flatPart(file, 0);
    flatPart.setFrameBuffer(flat);
    flatPart.writePixels(height);
    Imf::DeepFrameBuffer deep;
    deep.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data()), 4, 4 * width));
    deep.insert("Z", Imf::DeepSlice(Imf::FLOAT, reinterpret_cast<char*>(pointers.data()), sizeof(float*),
                                    sizeof(float*) * width, 4));
    Imf::DeepScanLineOutputPart deepPart(file, 1);
    deepPart.setFrameBuffer(deep);
    deepPart.writePixels(height);
}

struct CropCase
{
    const char*           what;
    std::vector<PartSpec> parts;
    const char*           cropWindow; // as printed
    Imath::Box2i          written;    // data window of every output part
};

TEST(MultiPartCrop, OneCropWindowForAllParts)
{
    std::vector<PartSpec> tenParts;
    for (int i = 0; i < 10; ++i)
        tenParts.push_back(partOf("", {{"c", Imf::HALF, pixelAt(5 + 5 * i, 5 + 3 * i, 1.0f)}}));
    std::vector<PartSpec> shifted = {partOf("a", {{"R", Imf::HALF, pixelAt(110, 70, 1.0f)}}),
                                     partOf("b", {{"G", Imf::FLOAT, emptyPixels()}})};
    for (PartSpec& part : shifted)
        part.dataWindow = box(100, 50, 163, 97);
    PartSpec tiled = partOf("tiled", {{"G", Imf::HALF, [](int, int) { return 1.0f; }}});
    tiled.tiled = true;

    const CropCase cases[] = {
        {"mixed pixel types over two parts",
         {partOf("rgb", {{"R", Imf::HALF, boxPixels(box(10, 10, 20, 20))},
                         {"G", Imf::HALF, emptyPixels()},
                         {"B", Imf::HALF, boxPixels(box(12, 12, 14, 14), -1.0f)}}),
          partOf("aux", {{"Z", Imf::FLOAT, pixelAt(40, 30, 2.0f, 1e10f)}, {"id", Imf::UINT, pixelAt(45, 12, 1.0f)}})},
         "min[   6,   6]  max[  49,  34]  41.5%", box(6, 6, 49, 34)},
        {"content in one part of three",
         {partOf("one", {{"R", Imf::HALF, emptyPixels()}}), partOf("two", {{"R", Imf::FLOAT, emptyPixels()}}),
          partOf("three", {{"R", Imf::UINT, pixelAt(30, 20, 5.0f)}})},
         "min[  26,  16]  max[  34,  24]  2.6%", box(26, 16, 34, 24)},
        {"ten parts", tenParts, "min[   1,   1]  max[  54,  36]  63.3%", box(1, 1, 54, 36)},
        {"data window origin (100,50)", shifted, "min[   6,  16]  max[  14,  24]  2.6%", box(106, 66, 114, 74)},
        {"every part empty",
         {partOf("one", {{"R", Imf::HALF, emptyPixels()}}), partOf("two", {{"Z", Imf::FLOAT, emptyPixels()}})},
         "min[   1,   1]  max[  19,  19]  11.8%", box(1, 1, 19, 19)},
        {"a tiled part is rewritten without gain", {partOf("scan", {{"R", Imf::HALF, emptyPixels()}}), tiled},
         "min[   0,   0]  max[  63,  47]  100.0%", box(0, 0, 63, 47)},
    };
    for (const CropCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeMultiPart(dir.file("shot.0001.exr"), c.parts);
        EXPECT_EQ(runOnFrame(dir, true), expectedRun(dir, cropLines(c.cropWindow)));
        std::string output = dir.file("shot_crop.0001.exr");
        ASSERT_EQ(partCount(output), int(c.parts.size()));
        for (int p = 0; p < partCount(output); ++p)
        {
            Imf::Header header = readHeader(output, p);
            EXPECT_EQ(header.name(), readHeader(dir.file("shot.0001.exr"), p).name());
            EXPECT_EQ(header.dataWindow(), c.written) << "part " << p;
            EXPECT_EQ(header.displayWindow(), c.parts[size_t(p)].displayWindow) << "part " << p;
            EXPECT_FALSE(header.hasTileDescription()) << "part " << p;
            EXPECT_EQ(header.type(), Imf::SCANLINEIMAGE) << "part " << p;
        }
        EXPECT_TRUE(outputHoldsInputPixels(dir.file("shot.0001.exr"), output));
    }
}

TEST(MultiPartCrop, PartsKeepNameAndViewAndOnlyTheFirstIsStamped)
{
    auto lookingAt = [](const char* view) {
        return [view](Imf::Header& header) {
            header.setView(view);
            header.lineOrder() = Imf::DECREASING_Y;
            header.screenWindowCenter() = Imath::V2f(3, 4);
        };
    };
    PartSpec left = partOf("rgba_left", {{"R", Imf::HALF, boxPixels(box(10, 10, 20, 20))},
                                         {"A", Imf::HALF, boxPixels(box(10, 10, 20, 20))}});
    left.editHeader = [&](Imf::Header& header) {
        lookingAt("left")(header);
        header.insert("shotName", Imf::StringAttribute("sh010"));
        header.insert("frameNum", Imf::IntAttribute(7));
        header.insert("ZQ/convertedToMultiPart", Imf::StringAttribute("yes"));
    };
    PartSpec right = partOf("rgba_right", {{"R", Imf::HALF, boxPixels(box(14, 10, 24, 20))},
                                           {"A", Imf::HALF, boxPixels(box(14, 10, 24, 20))}});
    right.editHeader = [&](Imf::Header& header) {
        lookingAt("right")(header);
        header.insert("partNote", Imf::StringAttribute("only the first part's attributes are kept"));
    };
    PartSpec depth = partOf("depth", {{"Z", Imf::FLOAT, pixelAt(30, 30, 2.0f, 1e10f)}});
    depth.compression = Imf::PIZ_COMPRESSION;
    TempDir dir;
    writeMultiPart(dir.file("shot.0001.exr"), {left, right, depth});

    EXPECT_EQ(runOnFrame(dir, true), expectedRun(dir, cropLines("min[   6,   6]  max[  34,  34]  27.4%")));
    std::string output = dir.file("shot_crop.0001.exr");
    std::string windows = "  display (0,0)-(63,47) data (6,6)-(34,34) compression 2 lineOrder 0\n";
    EXPECT_EQ(replaceAll(std::regex_replace(dumpExr(output), std::regex(" hash [0-9a-f]+"), ""), toolHostName(),
                         "<host>"),
              "part 0: name=\"rgba_left\" type=scanlineimage view=left\n" + windows +
                  "  channel A 1\n"
                  "  channel R 1\n"
                  "  attr ZQ/application (string) = \"zqCropExr\"\n"
                  "  attr ZQ/clientname (string) = \"<host>\"\n"
                  "  attr ZQ/convertedToMultiPart (string) = \"no\"\n"
                  "  attr ZQ/cropped (string) = \"yes\"\n"
                  "  attr ZQ/dateWritten (string) = <date>\n"
                  "  attr ZQ/dateWrittenInt (int) = <date>\n"
                  "  attr ZQ/jobID (string) = \"{AAAba}\"\n"
                  "  attr ZQ/scenename (string) = \"sceneA\"\n"
                  "  attr frameNum (int) = 7\n"
                  "  attr shotName (string) = \"sh010\"\n"
                  "part 1: name=\"rgba_right\" type=scanlineimage view=right\n" +
                  windows +
                  "  channel A 1\n"
                  "  channel R 1\n"
                  "part 2: name=\"depth\" type=scanlineimage view=-\n" +
                  windows + "  channel Z 2\n");
    for (int p = 0; p < 3; ++p)
        EXPECT_EQ(readHeader(output, p).screenWindowCenter(), Imath::V2f(0, 0)) << "part " << p;
    EXPECT_TRUE(outputHoldsInputPixels(dir.file("shot.0001.exr"), output));
}

struct UnchangedCase
{
    const char*           what;
    std::vector<PartSpec> parts;
    std::string           frameLines;
    bool                  copied; // with a separate output path: copied there, or nothing written
};

TEST(MultiPartCrop, FramesThatAreNotRewritten)
{
    // The display window is shared by every part; a data window of the same size elsewhere is a mismatch.
    PartSpec elsewhere = partOf("b", {{"R", Imf::HALF, emptyPixels()}});
    elsewhere.dataWindow = box(10, 0, 73, 47);
    PartSpec cropped = partOf("a", {{"R", Imf::HALF, pixelAt(20, 20, 1.0f)}});
    cropped.dataWindow = box(10, 10, 40, 30);
    const PartSpec plain = partOf("b", {{"R", Imf::HALF, pixelAt(63, 0, 1.0f)}});

    const UnchangedCase cases[] = {
        {"second part's data window elsewhere", {partOf("a", {{"R", Imf::HALF, pixelAt(20, 20, 1.0f)}}), elsewhere},
         "    openEXR: part sizes do not match\n    done\n", false},
        {"first part cropped", {cropped, plain}, kCopyCropped, true},
        // Only the first part is looked at, so the mismatch of the second goes unseen.
        {"Cryptomatte channels in the first part",
         {partOf("a", {{"R", Imf::HALF, pixelAt(20, 20, 1.0f)}, {"CryptoObject00.R", Imf::FLOAT, emptyPixels()}}),
          elsewhere},
         "    openEXR: Copy only (already cropped and multipart or DeepData).\n    done\n", true},
        {"content up to the corners",
         {partOf("a", {{"R", Imf::HALF, [](int x, int y) { return x == y && (x == 0 || x == 47); }}}), plain},
         kCopyNoGain, true},
    };
    for (const UnchangedCase& c : cases)
    {
        SCOPED_TRACE(c.what);
        TempDir dir;
        writeMultiPart(dir.file("shot.0001.exr"), c.parts);
        std::string bytes = readBytes(dir.file("shot.0001.exr"));
        EXPECT_EQ(runOnFrame(dir, true), expectedRun(dir, c.frameLines));
        EXPECT_EQ(readBytes(dir.file("shot.0001.exr")), bytes);
        if (c.copied)
            EXPECT_EQ(readBytes(dir.file("shot_crop.0001.exr")), bytes);
        else
            EXPECT_EQ(dir.list(), std::vector<std::string>{"shot.0001.exr"});
    }
}

TEST(MultiPartCrop, CropIsSkippedOnlyWhenEveryBoundIsWithinFourPixelsOfTheEdge)
{
    // 100 x 80 scan-line parts: the crop is skipped when min x and min y < 5, max x > 95 and max y > 75.
    const struct
    {
        Imath::Box2i content;
        std::string  frameLines;
    } cases[] = {
        {box(8, 8, 92, 72), kCopyNoGain},
        {box(9, 8, 92, 72), cropLines("min[   5,   4]  max[  96,  76]  84.0%")},
        {box(8, 9, 92, 72), cropLines("min[   4,   5]  max[  96,  76]  83.7%")},
        {box(8, 8, 91, 72), cropLines("min[   4,   4]  max[  95,  76]  84.0%")},
        {box(8, 8, 92, 71), cropLines("min[   4,   4]  max[  96,  75]  83.7%")},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.frameLines);
        TempDir dir;
        writeMultiPart(dir.file("shot.0001.exr"),
                       {partOf("a", {{"R", Imf::HALF, boxPixels(c.content)}}, box(0, 0, 99, 79)),
                        partOf("b", {{"Z", Imf::FLOAT, emptyPixels()}}, box(0, 0, 99, 79))});
        EXPECT_EQ(runOnFrame(dir, false), expectedRun(dir, c.frameLines));
    }
}

TEST(MultiPartCrop, InPlaceRewriteKeepsTheModeAndASecondRunLeavesTheFrameAlone)
{
    TempDir                     dir;
    std::string                 frame = dir.file("shot.0001.exr");
    const std::vector<PartSpec> parts = {partOf("a", {{"R", Imf::HALF, pixelAt(10, 20, 1.0f)}}),
                                         partOf("b", {{"id", Imf::UINT, pixelAt(12, 22, 3.0f)}})};
    writeMultiPart(frame, parts);
    writeMultiPart(dir.file("input.exr"), parts);
    ASSERT_EQ(chmod(frame.c_str(), 0640), 0);

    EXPECT_EQ(runOnFrame(dir, false), expectedRun(dir, cropLines("min[   6,  16]  max[  16,  26]  3.9%")));
    struct stat info;
    ASSERT_EQ(stat(frame.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"input.exr", "shot.0001.exr"}));
    EXPECT_TRUE(outputHoldsInputPixels(dir.file("input.exr"), frame));

    std::string rewritten = readBytes(frame);
    EXPECT_EQ(runOnFrame(dir, false), expectedRun(dir, kCopyCropped));
    EXPECT_EQ(readBytes(frame), rewritten);
}

TEST(MultiPartCrop, UnreadableLaterPartEndsTheFrameWithDataError)
{
    TempDir     dir;
    std::string frame = dir.file("shot.0001.exr");
    // Uncompressed rows of 100 FLOAT samples: a chunk is 12 bytes of part, row and size, then 400 bytes of samples.
    PartSpec second = partOf("b", {{"Z", Imf::FLOAT, pixelAt(10, 20, 1.0f)}}, box(0, 0, 99, 79));
    second.compression = Imf::NO_COMPRESSION;
    writeMultiPart(frame, {partOf("a", {{"R", Imf::HALF, pixelAt(10, 20, 1.0f)}}, box(0, 0, 99, 79)), second});
    std::string bytes = readBytes(frame);
    writeBytes(frame, bytes.substr(0, bytes.size() - 300));
    std::string truncated = readBytes(frame);

    EXPECT_EQ(runOnFrame(dir, false),
              expectedRun(dir, "    : Data Error! Error reading pixel data from image file \"" + frame +
                                   "\". Early end of file: read 100 out of 400 requested bytes.\n"));
    EXPECT_EQ(readBytes(frame), truncated);

    writeFlatAndDeep(frame);
    std::string deep = readBytes(frame);
    EXPECT_EQ(runOnFrame(dir, false),
              expectedRun(dir, "    : Data Error! Part 1 holds deep data, which is not read as a flat image.\n"));
    EXPECT_EQ(readBytes(frame), deep);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"shot.0001.exr"});
}

} // namespace
