// The read-back comparison of --verify, on a written file and on a copy of it with one sample changed.
#include "frame/writePartsAtomically.h"

#include <ImfChannelList.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

const Imath::Box2i kWindow(Imath::V2i(2, 3), Imath::V2i(41, 30));
const int          kWidth = 40, kHeight = 28;

// Planes of 4-byte cells (half samples use two bytes of each) and the frame buffers over them, one part per list.
struct Frame
{
    std::vector<Imf::Header>                headers;
    std::vector<Imf::FrameBuffer>           frameBuffers;
    std::vector<std::vector<uint32_t>>      planes;

    explicit Frame(const std::vector<std::vector<std::pair<const char*, Imf::PixelType>>>& parts)
    {
        planes.reserve(16);
        for (size_t p = 0; p < parts.size(); ++p)
        {
            headers.emplace_back(Imath::Box2i(Imath::V2i(0, 0), Imath::V2i(49, 39)), kWindow);
            headers.back().setName("part" + std::to_string(p));
            headers.back().setType("scanlineimage");
            headers.back().compression() = Imf::ZIPS_COMPRESSION;
            frameBuffers.emplace_back();
            for (const auto& [name, type] : parts[p])
            {
                planes.emplace_back(size_t(kWidth * kHeight));
                for (size_t i = 0; i < planes.back().size(); ++i)
                    planes.back()[i] = uint32_t(i * 2654435761u) & (type == Imf::HALF ? 0x3bffu : 0x3f7fffffu);
                char* origin = reinterpret_cast<char*>(planes.back().data()) - (3 * kWidth + 2) * 4;
                headers.back().channels().insert(name, Imf::Channel(type));
                frameBuffers.back().insert(name, Imf::Slice(type, origin, 4, 4 * kWidth));
            }
        }
    }
};

std::string tempPath(const char* name)
{
    return std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp") + "/zqverify." +
           std::to_string(getpid()) + "." + name;
}

void writeFrame(const std::string& path, const Frame& frame)
{
    Imf::MultiPartOutputFile output(path.c_str(), frame.headers.data(), int(frame.headers.size()));
    for (int p = 0; p < int(frame.headers.size()); ++p)
    {
        Imf::OutputPart part(output, p);
        part.setFrameBuffer(frame.frameBuffers[size_t(p)]);
        part.writePixels(kHeight);
    }
}

TEST(VerifyWrittenFile, FindsTheFirstChangedSampleOfACorruptedCopy)
{
    Frame       frame({{{"R", Imf::HALF}, {"Z", Imf::FLOAT}, {"id", Imf::UINT}}, {{"d.R", Imf::HALF}}});
    std::string written = tempPath("written.exr"), copy = tempPath("copy.exr");
    writeFrame(written, frame);
    EXPECT_EQ(verifyWrittenFile(QString::fromStdString(written), frame.headers, frame.frameBuffers), QString());

    // The copy: the written file read back, one sample of part 1 changed at (17, 9), written again.
    Frame read({{{"R", Imf::HALF}, {"Z", Imf::FLOAT}, {"id", Imf::UINT}}, {{"d.R", Imf::HALF}}});
    {
        Imf::MultiPartInputFile input(written.c_str());
        for (int p = 0; p < 2; ++p)
        {
            Imf::InputPart part(input, p);
            part.setFrameBuffer(read.frameBuffers[size_t(p)]);
            part.readPixels(kWindow.min.y, kWindow.max.y);
        }
        read.planes[3][size_t((9 - 3) * kWidth + (17 - 2))] ^= 0x0100;
    }
    writeFrame(copy, read);
    EXPECT_EQ(verifyWrittenFile(QString::fromStdString(copy), frame.headers, frame.frameBuffers).toStdString(),
              "Verification: part 1, channel \"d.R\", first differing pixel (17, 9).");
    // A file with other parts than meant.
    Frame fewer({{{"R", Imf::HALF}, {"Z", Imf::FLOAT}, {"id", Imf::UINT}}});
    EXPECT_EQ(verifyWrittenFile(QString::fromStdString(copy), fewer.headers, fewer.frameBuffers).toStdString(),
              "Verification: the file holds 2 parts instead of 1.");
    std::remove(written.c_str());
    std::remove(copy.c_str());
}

} // namespace
