// The per-frame decision end to end: for each kind of frame, what the tool prints and what lands on disk.
#include "support/exrFixtures.h"
#include "support/frameRun.h"
#include "support/runTool.h"

#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputPart.h>
#include <ImfFrameBuffer.h>
#include <ImfIntAttribute.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using namespace zqtest;

// What happens to the frame on disk.
enum class Outcome
{
    Copied,        // left as it is; with NoOverwrite a byte copy with the same time goes to the "_crop." file
    Rewritten,     // replaced by a multi-part file (in place), or written to the "_crop." file
    NothingWritten // the frame failed or was left out: no "_crop." file, the input untouched
};

struct DecisionCase
{
    const char*                             what;
    std::function<void(const std::string&)> write;
    std::string                             lines; // the frame's lines after "Frame 0001: ", {in} for the input path
    Outcome                                 outcome;
    int                                     parts = 0; // part count of a rewritten frame
    Imath::Box2i                            window;    // data window of a rewritten frame's parts
};

const std::string kDeepRefused = "    : Data Error! Part 1 holds deep data, which is not read as a flat image.\n";
const std::string kCopyOnly =
    "    openEXR: Copy only (already cropped and multipart or DeepData or Negative Borders).\n";
const std::string kDone = "    done\n";
// A time far from now, so that a copy that did not keep it cannot match by chance.
const struct timespec kInputTime = {1262304000, 123456789};

std::vector<ChannelSpec> channels(std::initializer_list<const char*> names, const Imath::Box2i& content)
{
    std::vector<ChannelSpec> list;
    for (const char* name : names)
        list.push_back({name, Imf::HALF, boxPixels(content, 0.5f)});
    return list;
}

PartSpec part(std::initializer_list<const char*> names, const Imath::Box2i& dataWindow,
              const Imath::Box2i& content = box(10, 10, 20, 20))
{
    PartSpec frame;
    frame.dataWindow = dataWindow;
    frame.channels = channels(names, content);
    return frame;
}

const Imath::Box2i kFull = box(0, 0, 63, 47);
const Imath::Box2i kCropped = box(8, 8, 39, 31);

PartSpec subsampled(PartSpec frame, const std::string& name)
{
    frame.channels.push_back({name, Imf::HALF, boxPixels(box(10, 10, 20, 20), 0.5f), 2, 2});
    return frame;
}

// A scan-line header of the given size with one HALF channel Y and no pixels written: the line offset table
// stays zero, so the file counts as incomplete.
void writeHeaderOnly(const std::string& path, int width, int height)
{
    Imf::Header header(width, height);
    header.compression() = Imf::ZIP_COMPRESSION;
    header.channels().insert("Y", Imf::Channel(Imf::HALF));
    Imf::OutputFile file(path.c_str(), header);
}

// A complete-looking frame whose header claims 65536 x 64008 HALF samples (8001 MB) while it holds no pixels:
// every entry of the line offset table is pointed at the table itself.
void writeHugeHeader(const std::string& path)
{
    const int width = 65536, height = 64008;
    writeHeaderOnly(path, width, height);
    std::string bytes = readBytes(path);
    size_t      chunks = (height + 15) / 16;
    ASSERT_GT(bytes.size(), chunks * 8);
    uint64_t table = bytes.size() - chunks * 8;
    for (size_t i = 0; i < chunks; ++i)
        for (int b = 0; b < 8; ++b)
            bytes[size_t(table + i * 8 + size_t(b))] = char((table >> (8 * b)) & 0xff);
    writeBytes(path, bytes);
}

// A two-part frame: a scan-line part 0 with one HALF channel R, and a deep scan-line part 1 with the FLOAT channels
// given; both hold their content (one deep sample per pixel) in box(10, 10, 20, 20) only.
void writeScanlineThenDeep(const std::string& path, std::initializer_list<const char*> deepChannels)
{
    const int   width = 64, height = 48;
    const auto  inside = [](int x, int y) { return x >= 10 && x <= 20 && y >= 10 && y <= 20; };
    Imf::Header headers[2] = {Imf::Header(width, height), Imf::Header(width, height)};
    headers[0].channels().insert("R", Imf::Channel(Imf::HALF));
    headers[0].setName("flat");
    headers[0].setType(Imf::SCANLINEIMAGE);
    for (const char* name : deepChannels)
        headers[1].channels().insert(name, Imf::Channel(Imf::FLOAT));
    headers[1].setName("deep");
    headers[1].setType(Imf::DEEPSCANLINE);
    headers[1].compression() = Imf::ZIPS_COMPRESSION;
    Imf::MultiPartOutputFile file(path.c_str(), headers, 2);

    std::vector<uint16_t> red(size_t(width * height), 0);
    std::vector<unsigned> counts(size_t(width * height), 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if (inside(x, y))
            {
                red[size_t(y * width + x)] = 0x3800; // 0.5 as half
                counts[size_t(y * width + x)] = 1;
            }
    Imf::FrameBuffer flat;
    flat.insert("R", Imf::Slice(Imf::HALF, reinterpret_cast<char*>(red.data()), 2, 2 * width));
    Imf::OutputPart part0(file, 0);
    part0.setFrameBuffer(flat);
    part0.writePixels(height);

    std::vector<float>  samples(counts.size(), 0.5f);
    std::vector<float*> pointers(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        pointers[i] = &samples[i];
    Imf::DeepFrameBuffer deep;
    deep.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data()), sizeof(unsigned),
                                           sizeof(unsigned) * width));
    for (const char* name : deepChannels)
        deep.insert(name, Imf::DeepSlice(Imf::FLOAT, reinterpret_cast<char*>(pointers.data()), sizeof(float*),
                                         sizeof(float*) * width, sizeof(float)));
    Imf::DeepScanLineOutputPart part1(file, 1);
    part1.setFrameBuffer(deep);
    part1.writePixels(height);
}

// A valid uncropped frame, stored without compression (one 256-byte line per chunk), cut to its first bytes
// (count: how many are kept; negative: how many are dropped at the end).
void writeTruncated(const std::string& path, long count)
{
    PartSpec frame;
    frame.compression = Imf::NO_COMPRESSION;
    frame.channels.push_back({"Y", Imf::FLOAT, boxPixels(box(10, 10, 20, 20), 0.5f)});
    writeSinglePart(path, frame);
    std::string bytes = readBytes(path);
    writeBytes(path, bytes.substr(0, count >= 0 ? size_t(count) : bytes.size() - size_t(-count)));
}

const std::vector<DecisionCase>& decisionCases()
{
    static const std::vector<DecisionCase> cases = {
        // copied unchanged, decided from the headers
        {"negative data window origin",
         [](const std::string& p) { writeSinglePart(p, part({"R", "G", "B", "A"}, box(-10, 0, 53, 47))); },
         "        Negative data window not supported for cropping.\n" + kCopyOnly + kDone, Outcome::Copied},
        {"negative origin in the second part only",
         [](const std::string& p) { writeMultiPart(p, {part({"R", "G"}, kFull), part({"Z"}, box(0, -5, 63, 42))}); },
         "        Negative data window not supported for cropping.\n" + kCopyOnly + kDone, Outcome::Copied},
        {"deep first part", [](const std::string& p) { writeDeepScanline(p, 64, 48); }, kCopyOnly + kDone,
         Outcome::Copied},
        {"deep second part: not seen as deep, refused when read",
         [](const std::string& p) { writeScanlineThenDeep(p, {"Z"}); }, kDeepRefused, Outcome::NothingWritten},
        {"deep second part with alpha: never flattened",
         [](const std::string& p) { writeScanlineThenDeep(p, {"A", "Z"}); }, kDeepRefused, Outcome::NothingWritten},
        {"multi-part, second part cropped",
         [](const std::string& p) { writeMultiPart(p, {part({"R", "G"}, kFull), part({"Z"}, box(0, 0, 62, 47))}); },
         kCopyOnly + kDone, Outcome::Copied},
        {"single part cropped, RGBA",
         [](const std::string& p) { writeSinglePart(p, part({"R", "G", "B", "A"}, kCropped)); }, kCopyOnly + kDone,
         Outcome::Copied},
        {"single part cropped, one layer of three channels",
         [](const std::string& p) { writeSinglePart(p, part({"diffuse.R", "diffuse.G", "diffuse.B"}, kCropped)); },
         kCopyOnly + kDone, Outcome::Copied},
        {"subsampled channel",
         [](const std::string& p) { writeSinglePart(p, subsampled(part({"Y"}, kFull), "RY")); },
         "    openEXR: Copy only (subsampled channels).\n" + kDone, Outcome::Copied},
        {"subsampled channel in the second part",
         [](const std::string& p) { writeMultiPart(p, {part({"R"}, kFull), subsampled(part({"Y"}, kFull), "BY")}); },
         "    openEXR: Copy only (subsampled channels).\n" + kDone, Outcome::Copied},
        {"subsampled single layer, cropped: the first copy-only rule speaks",
         [](const std::string& p) { writeSinglePart(p, subsampled(part({}, kCropped), "A")); }, kCopyOnly + kDone,
         Outcome::Copied},
        {"memory estimate above the limit", writeHugeHeader,
         "       Loading the image would require 8001 MB memory. This application limit is 8000 MB\n"
         "    Image dimensions larger than buffer.\n",
         Outcome::Copied},
        // multi-part input crop
        {"multi-part, no part cropped",
         [](const std::string& p) { writeMultiPart(p, {part({"R", "G", "B"}, kFull), part({"Z"}, kFull)}); },
         "        EXR(multipart) convert to cropped:    min[   6,   6]  max[  24,  24]  11.8%\n" + kDone,
         Outcome::Rewritten, 2, box(6, 6, 24, 24)},
        {"multi-part, second part's window of the same size moved by one column",
         [](const std::string& p) { writeMultiPart(p, {part({"R"}, kFull), part({"Z"}, box(1, 0, 64, 47))}); },
         "    openEXR: part sizes do not match\n" + kDone, Outcome::NothingWritten},
        {"multi-part, content up to the edges",
         [](const std::string& p) {
             writeMultiPart(p, {part({"R"}, kFull, box(3, 2, 60, 45)), part({"Z"}, kFull, box(3, 2, 60, 45))});
         },
         "    openEXR: Copy only (already in scanline-mode and multipart, crop not required).\n" + kDone,
         Outcome::Copied},
        // single-part writer
        {"single part with a Cryptomatte layer",
         [](const std::string& p) { writeSinglePart(p, part({"R", "G", "B", "A", "cryptomatte00.R"}, kFull)); },
         "       We do not resave Deep Data or Cryptomatte images.\n" + kDone, Outcome::Copied},
        {"single part cropped, RGBA and Z: two layers, rewritten without a crop",
         [](const std::string& p) { writeSinglePart(p, part({"R", "G", "B", "A", "Z"}, kCropped)); },
         "    openEXR: Saving as EXR2.0 multiPart (was EXR1.0 with cropped or deep data)\n" + kDone,
         Outcome::Rewritten, 1, kCropped},
        {"single part cropped, RGBA and depth.Z",
         [](const std::string& p) { writeSinglePart(p, part({"R", "G", "B", "A", "depth.Z"}, kCropped)); },
         "    openEXR: Saving as EXR2.0 multiPart (was EXR1.0 with cropped or deep data)\n" + kDone,
         Outcome::Rewritten, 2, kCropped},
        {"single part not cropped",
         [](const std::string& p) { writeSinglePart(p, part({"R", "G", "B", "A"}, kFull)); },
         "        EXR convert to multipart + cropped:  min[   6,   6]  max[  24,  24]  11.8%\n"
         "    openEXR: Save converted multiPartOutputFile\n" +
             kDone,
         Outcome::Rewritten, 1, box(6, 6, 24, 24)},
        {"single part, data window of display size elsewhere: not cropped",
         [](const std::string& p) { writeSinglePart(p, part({"R", "G", "B", "A"}, box(10, 10, 73, 57))); },
         "        EXR convert to multipart + cropped:  min[   0,   0]  max[  14,  14]  7.3%\n"
         "    openEXR: Save converted multiPartOutputFile\n" +
             kDone,
         Outcome::Rewritten, 1, box(10, 10, 24, 24)},
        // frames that fail
        // The library refuses a type attribute that is no text when it opens the file, before the tool reads it.
        {"type attribute that is no text",
         [](const std::string& p) {
             PartSpec frame = part({"R", "G", "B", "A"}, kFull);
             frame.editHeader = [](Imf::Header& h) { h.insert("type", Imf::IntAttribute(3)); };
             writeSinglePart(p, frame);
         },
         "    : Data Error! Cannot read image file \"{in}\". Cannot assign a value of type \"string\" to image "
         "attribute \"type\" of type \"int\".\n",
         Outcome::NothingWritten},
        {"first part incomplete", [](const std::string& p) { writeHeaderOnly(p, 64, 48); }, "    : Wrong filesize!\n",
         Outcome::NothingWritten},
        {"text file", [](const std::string& p) { writeBytes(p, "This is a text file, not an image.\n"); },
         "    : Data Error! Cannot read image file \"{in}\". File is not an image file.\n", Outcome::NothingWritten},
        {"zero bytes", [](const std::string& p) { writeBytes(p, ""); },
         "    : Data Error! Cannot read image file \"{in}\". Early end of file: read 0 out of 4 requested bytes.\n",
         Outcome::NothingWritten},
        {"cut inside the header", [](const std::string& p) { writeTruncated(p, 100); },
         "    : Data Error! Cannot read image file \"{in}\". Early end of file: read 3 out of 4 requested bytes.\n",
         Outcome::NothingWritten},
        {"cut inside the pixels", [](const std::string& p) { writeTruncated(p, -10); },
         "    : Data Error! Error reading pixel data from image file \"{in}\". Early end of file: read 246 out of 256 "
         "requested bytes.\n",
         Outcome::NothingWritten},
    };
    return cases;
}

std::string expectedOutput(const TempDir& dir, const std::string& lines)
{
    return expectedRun(dir, replaceAll(lines, "{in}", dir.file("shot.0001.exr")));
}

// A rewritten frame: its part count, and every part with the expected data window and the input's display window.
void expectRewritten(const std::string& path, const DecisionCase& c)
{
    ASSERT_EQ(partCount(path), c.parts) << c.what;
    for (int p = 0; p < c.parts; ++p)
    {
        Imf::Header header = readHeader(path, p);
        EXPECT_EQ(header.dataWindow(), c.window) << c.what << ", part " << p;
        EXPECT_EQ(header.displayWindow(), kFull) << c.what << ", part " << p;
    }
}

void setInputTime(const std::string& path)
{
    const struct timespec times[2] = {kInputTime, kInputTime};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

mode_t modeOf(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// The mode a new file gets from the tool: 0666 less the umask it inherits from this process.
mode_t newFileMode()
{
    mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

const int64_t kInputTimeNs = int64_t(kInputTime.tv_sec) * 1000000000 + kInputTime.tv_nsec;

// With NoOverwrite the input keeps its bytes and time; the "_crop." file is a copy, a rewrite or absent.
TEST(FrameDecision, NoOverwrite)
{
    for (const DecisionCase& c : decisionCases())
    {
        TempDir     dir;
        std::string input = dir.file("shot.0001.exr");
        std::string output = dir.file("shot_crop.0001.exr");
        c.write(input);
        setInputTime(input);
        ASSERT_EQ(chmod(input.c_str(), 0640), 0);
        std::string before = readBytes(input);
        ToolRun     run = runTool({dir.file("shot."), ".exr", "1", "1", "1", "0", "true", "true"});
        EXPECT_EQ(run.output, expectedOutput(dir, c.lines)) << c.what;
        EXPECT_EQ(run.exitCode, 0) << c.what;
        EXPECT_EQ(readBytes(input), before) << c.what;
        EXPECT_EQ(modificationTimeNs(input), kInputTimeNs) << c.what;
        EXPECT_EQ(modeOf(input), 0640u) << c.what;
        if (c.outcome != Outcome::NothingWritten)
            EXPECT_EQ(modeOf(output), newFileMode()) << c.what;
        switch (c.outcome)
        {
        case Outcome::Copied:
            EXPECT_EQ(dir.list(), (std::vector<std::string>{"shot.0001.exr", "shot_crop.0001.exr"})) << c.what;
            EXPECT_TRUE(readBytes(output) == before) << c.what;
            EXPECT_EQ(modificationTimeNs(output), kInputTimeNs) << c.what;
            break;
        case Outcome::Rewritten:
            EXPECT_EQ(dir.list(), (std::vector<std::string>{"shot.0001.exr", "shot_crop.0001.exr"})) << c.what;
            expectRewritten(output, c);
            break;
        case Outcome::NothingWritten:
            EXPECT_EQ(dir.list(), std::vector<std::string>{"shot.0001.exr"}) << c.what;
            break;
        }
    }
}

// In place, only a rewrite touches the frame; every other way out leaves its bytes and time alone.
TEST(FrameDecision, InPlace)
{
    for (const DecisionCase& c : decisionCases())
    {
        TempDir     dir;
        std::string input = dir.file("shot.0001.exr");
        c.write(input);
        setInputTime(input);
        ASSERT_EQ(chmod(input.c_str(), 0640), 0);
        std::string before = readBytes(input);
        ToolRun     run = runTool({dir.file("shot."), ".exr", "1", "1", "1", "0"});
        EXPECT_EQ(run.output, expectedOutput(dir, c.lines)) << c.what;
        EXPECT_EQ(run.exitCode, 0) << c.what;
        EXPECT_EQ(dir.list(), std::vector<std::string>{"shot.0001.exr"}) << c.what;
        EXPECT_EQ(modeOf(input), 0640u) << c.what;
        if (c.outcome == Outcome::Rewritten)
        {
            EXPECT_FALSE(readBytes(input) == before) << c.what;
            expectRewritten(input, c);
        }
        else
        {
            EXPECT_TRUE(readBytes(input) == before) << c.what;
            EXPECT_EQ(modificationTimeNs(input), kInputTimeNs) << c.what;
        }
    }
}

} // namespace
