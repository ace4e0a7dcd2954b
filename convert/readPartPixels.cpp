// Reading every scan line of one part into a frame buffer, through the tool's own decoder where it can.
//
// The library decodes a chunk and then copies it into the frame buffer sample by sample, assembling every sample
// from single bytes in a function call of its own; for a ZIP frame that copy costs about as much as the inflate. The
// tool takes the raw chunks from the library (which keeps the offsets and the file's lock), inflates them, undoes
// the ZIP predictor and byte interleave, and copies each channel's run of samples of a line at once: the file
// stores samples little-endian, as this machine does. Anything else is left to the library.
#include "convert/readPartPixels.h"

#include <ImfChannelList.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfThreading.h>

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>
#include <vector>

namespace {

/// Where one channel's samples of a decoded line go.
struct ChannelCopy
{
    size_t lineOffset; ///< bytes before the channel's samples in a decoded line
    size_t bytes;      ///< bytes of the channel's samples in a line
    char*  firstPixel; ///< the frame buffer's address of the channel's sample at (data window min x, y = 0)
    size_t yStride;    ///< the frame buffer's bytes from one line to the next
};

/// How the chunks of a part are laid out and where their samples go.
struct PartPlan
{
    int                      minY = 0, maxY = 0;   ///< the data window's first and last line
    int                      linesPerChunk = 1;    ///< lines in a chunk
    size_t                   lineBytes = 0;        ///< bytes of a decoded line, all channels
    bool                     zip = false;          ///< chunks are deflated, predicted and interleaved
    std::vector<ChannelCopy> copies;               ///< the channels the frame buffer takes
};

size_t sampleBytes(Imf::PixelType type)
{
    return type == Imf::HALF ? 2 : 4;
}

// The plan of a part the tool decodes itself; false for a part left to the library.
bool planPart(const Imf::Header& header, const Imf::FrameBuffer& frameBuffer, PartPlan& plan)
{
#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
    return false;
#endif
    if (header.hasTileDescription() || (header.hasType() && header.type() != "scanlineimage"))
        return false;
    switch (header.compression())
    {
    case Imf::NO_COMPRESSION: plan.linesPerChunk = 1; break;
    case Imf::ZIPS_COMPRESSION: plan.linesPerChunk = 1, plan.zip = true; break;
    case Imf::ZIP_COMPRESSION: plan.linesPerChunk = 16, plan.zip = true; break;
    default: return false;
    }
    const Imath::Box2i& window = header.dataWindow();
    size_t              width = size_t(int64_t(window.max.x) - window.min.x + 1);
    plan.minY = window.min.y;
    plan.maxY = window.max.y;
    for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        const Imf::Channel& channel = it.channel();
        if (channel.xSampling != 1 || channel.ySampling != 1)
            return false;
        size_t            bytes = width * sampleBytes(channel.type);
        const Imf::Slice* slice = frameBuffer.findSlice(it.name());
        if (slice)
        {
            if (slice->type != channel.type || slice->xStride != sampleBytes(channel.type) || slice->xSampling != 1 ||
                slice->ySampling != 1)
                return false;
            plan.copies.push_back({plan.lineBytes, bytes, slice->base + int64_t(window.min.x) * int64_t(slice->xStride),
                                   slice->yStride});
        }
        plan.lineBytes += bytes;
    }
    for (Imf::FrameBuffer::ConstIterator it = frameBuffer.begin(); it != frameBuffer.end(); ++it)
        if (!header.channels().findChannel(it.name()))
            return false;
    return true;
}

// Undoes the ZIP predictor in place: every byte was stored as its difference to the one before, plus 128.
void undoPredictor(unsigned char* bytes, size_t count)
{
    for (size_t i = 1; i < count; ++i)
        bytes[i] = static_cast<unsigned char>(bytes[i - 1] + bytes[i] - 128);
}

// Copies count bytes of the de-interleaved chunk from byte offset at: even bytes of the chunk sit in the first half
// of the buffer, odd bytes in the second half.
void copyDeinterleaved(char* to, const char* firstHalf, const char* secondHalf, size_t at, size_t count)
{
    size_t i = 0;
    if (at & 1)
        to[i++] = secondHalf[at / 2];
    const char* even = firstHalf + (at + i) / 2;
    const char* odd = secondHalf + (at + i) / 2;
    for (; i + 1 < count; i += 2, ++even, ++odd)
    {
        to[i] = *even;
        to[i + 1] = *odd;
    }
    if (i < count)
        to[i] = *even;
}

// Decodes chunk number chunk into the frame buffer; false when it cannot be decoded.
bool decodeChunk(const Imf::InputPart& part, const PartPlan& plan, int chunk, std::vector<char>& raw,
                 std::vector<char>& inflated)
{
    int    y0 = plan.minY + chunk * plan.linesPerChunk;
    int    lines = std::min(plan.linesPerChunk, plan.maxY - y0 + 1);
    size_t expected = size_t(lines) * plan.lineBytes;
    int    size = int(raw.size());
    part.rawPixelDataToBuffer(y0, raw.data(), size);
    if (size < 0 || size_t(size) > expected)
        return false;
    // A chunk that deflate could not shrink is stored as the plain line data, without predictor or interleave.
    bool stored = size_t(size) == expected;
    if (!plan.zip && !stored)
        return false;
    if (!stored)
    {
        uLongf length = uLongf(expected);
        if (uncompress(reinterpret_cast<Bytef*>(inflated.data()), &length,
                       reinterpret_cast<const Bytef*>(raw.data()), uLong(size)) != Z_OK ||
            length != expected)
            return false;
        undoPredictor(reinterpret_cast<unsigned char*>(inflated.data()), expected);
    }
    const char* firstHalf = stored ? raw.data() : inflated.data();
    const char* secondHalf = firstHalf + (expected + 1) / 2;
    for (int line = 0; line < lines; ++line)
        for (const ChannelCopy& copy : plan.copies)
        {
            char*  to = copy.firstPixel + int64_t(y0 + line) * int64_t(copy.yStride);
            size_t at = size_t(line) * plan.lineBytes + copy.lineOffset;
            if (stored)
                std::memcpy(to, firstHalf + at, copy.bytes);
            else
                copyDeinterleaved(to, firstHalf, secondHalf, at, copy.bytes);
        }
    return true;
}

// Decodes every chunk of the part on the library's thread count; false when any chunk could not be decoded.
bool decodePart(const Imf::InputPart& part, const PartPlan& plan)
{
    int              chunks = (plan.maxY - plan.minY) / plan.linesPerChunk + 1;
    int              threads = std::clamp(Imf::globalThreadCount(), 1, chunks);
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    auto work = [&] {
        std::vector<char> raw(size_t(plan.linesPerChunk) * plan.lineBytes);
        std::vector<char> inflated(plan.zip ? raw.size() : 0);
        for (int chunk = next++; chunk < chunks && !failed; chunk = next++)
        {
            try
            {
                if (!decodeChunk(part, plan, chunk, raw, inflated))
                    failed = true;
            }
            catch (...)
            {
                failed = true;
            }
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread& helper : helpers)
        helper.join();
    return !failed;
}

// The library's own read of the whole part; its exception tells what is wrong with the file.
void readWithTheLibrary(Imf::MultiPartInputFile& input, int partIndex, const Imf::FrameBuffer& frameBuffer)
{
    Imf::InputPart part(input, partIndex);
    part.setFrameBuffer(frameBuffer);
    part.readPixels(part.header().dataWindow().min.y, part.header().dataWindow().max.y);
}

} // namespace

void readPartPixels(Imf::MultiPartInputFile& input, const QString& path, int partIndex,
                    const Imf::FrameBuffer& frameBuffer)
{
    {
        Imf::InputPart part(input, partIndex);
        PartPlan       plan;
        if (planPart(part.header(), frameBuffer, plan))
        {
            if (decodePart(part, plan))
                return;
            // A failed read can leave the open file's stream at its end: the library reads from a fresh one.
            Imf::MultiPartInputFile fresh(path.toUtf8().constData(), Imf::globalThreadCount(), true);
            readWithTheLibrary(fresh, partIndex, frameBuffer);
            return;
        }
    }
    readWithTheLibrary(input, partIndex, frameBuffer);
}
