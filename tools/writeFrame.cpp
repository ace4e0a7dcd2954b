// Writes a frame recipe with the OpenEXR API: one part as a single-part file, several as a multi-part file.
#include "makeFrame.h"

#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputFile.h>
#include <ImfDeepScanLineOutputPart.h>
#include <ImfDeepTiledOutputFile.h>
#include <ImfDeepTiledOutputPart.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStandardAttributes.h>
#include <ImfTiledOutputFile.h>
#include <ImfTiledOutputPart.h>

#include <cstring>

namespace zqtools {

namespace {

int sampleBytes(Imf::PixelType type)
{
    return type == Imf::HALF ? 2 : 4;
}

int64_t widthOf(const Imath::Box2i& box)
{
    return int64_t(box.max.x) - box.min.x + 1;
}

int64_t heightOf(const Imath::Box2i& box)
{
    return int64_t(box.max.y) - box.min.y + 1;
}

const char* partType(PartKind kind)
{
    switch (kind)
    {
    case PartKind::Scanline: return Imf::SCANLINEIMAGE.c_str();
    case PartKind::Deep: return Imf::DEEPSCANLINE.c_str();
    case PartKind::DeepTiled: return Imf::DEEPTILE.c_str();
    default: return Imf::TILEDIMAGE.c_str();
    }
}

Imf::LevelMode levelMode(PartKind kind)
{
    return kind == PartKind::Mipmap   ? Imf::MIPMAP_LEVELS
           : kind == PartKind::Ripmap ? Imf::RIPMAP_LEVELS
                                      : Imf::ONE_LEVEL;
}

Imf::Header makeHeader(const PartRecipe& part, bool multiPart)
{
    Imf::Header header(part.displayWindow, part.dataWindow, 1.0f, Imath::V2f(0, 0), 1.0f, part.lineOrder,
                       part.compression);
    for (const ChannelRecipe& c : part.channels)
        header.channels().insert(c.name, Imf::Channel(c.type, c.xSampling, c.ySampling));
    if (part.kind != PartKind::Scanline && part.kind != PartKind::Deep)
        header.setTileDescription(Imf::TileDescription(unsigned(part.tileWidth), unsigned(part.tileHeight),
                                                       levelMode(part.kind), part.rounding));
    if (multiPart || part.kind == PartKind::Deep || part.kind == PartKind::DeepTiled)
        header.setType(partType(part.kind));
    if (part.name)
        header.setName(*part.name);
    if (part.view)
        header.setView(*part.view);
    if (!part.multiView.empty())
        Imf::addMultiView(header, part.multiView);
    if (part.zipLevel)
        header.zipCompressionLevel() = *part.zipLevel;
    for (const AttributeRecipe& a : part.attributes)
        header.insert(a.name, *a.attribute);
    return header;
}

// Slices over planes laid out on window (level 0: the data window; other levels: that level's window).
Imf::FrameBuffer flatBuffer(const PartRecipe& part, std::vector<std::vector<char>>& planes, const Imath::Box2i& window)
{
    Imf::FrameBuffer buffer;
    for (size_t c = 0; c < part.channels.size(); ++c)
    {
        const ChannelRecipe& channel = part.channels[c];
        int64_t              bytes = sampleBytes(channel.type);
        int64_t              rowBytes = widthOf(window) / channel.xSampling * bytes;
        char*                origin = planes[c].data() - int64_t(window.min.x) / channel.xSampling * bytes -
                       int64_t(window.min.y) / channel.ySampling * rowBytes;
        buffer.insert(channel.name, Imf::Slice(channel.type, origin, size_t(bytes), size_t(rowBytes), channel.xSampling,
                                               channel.ySampling));
    }
    return buffer;
}

// A lower resolution level: every 2^lx-th column and 2^ly-th row of level 0.
std::vector<std::vector<char>> levelPlanes(const PartRecipe& part, const PartPlanes& full, const Imath::Box2i& level,
                                           int lx, int ly)
{
    std::vector<std::vector<char>> planes(full.planes.size());
    int64_t                        fullWidth = widthOf(part.dataWindow);
    for (size_t c = 0; c < planes.size(); ++c)
    {
        int64_t bytes = sampleBytes(part.channels[c].type);
        planes[c].resize(size_t(widthOf(level) * heightOf(level) * bytes));
        for (int64_t y = 0; y < heightOf(level); ++y)
            for (int64_t x = 0; x < widthOf(level); ++x)
                std::memcpy(&planes[c][size_t((y * widthOf(level) + x) * bytes)],
                            &full.planes[c][size_t(((y << ly) * fullWidth + (x << lx)) * bytes)], size_t(bytes));
    }
    return planes;
}

template <class Out>
void writeScanlines(Out& out, const PartRecipe& part, PartPlanes& planes)
{
    out.setFrameBuffer(flatBuffer(part, planes.planes, part.dataWindow));
    out.writePixels(int(heightOf(part.dataWindow)));
}

template <class Out>
void writeTiledLevels(Out& out, const PartRecipe& part, PartPlanes& planes)
{
    for (int ly = 0; ly < out.numYLevels(); ++ly)
        for (int lx = 0; lx < out.numXLevels(); ++lx)
        {
            if (!out.isValidLevel(lx, ly))
                continue;
            Imath::Box2i                   window = out.dataWindowForLevel(lx, ly);
            std::vector<std::vector<char>> level;
            if (lx || ly)
                level = levelPlanes(part, planes, window, lx, ly);
            out.setFrameBuffer(flatBuffer(part, lx || ly ? level : planes.planes, window));
            out.writeTiles(0, out.numXTiles(lx) - 1, 0, out.numYTiles(ly) - 1, lx, ly);
        }
}

bool nonZero(Imf::PixelType type, const char* sample)
{
    uint32_t bits = 0;
    std::memcpy(&bits, sample, size_t(sampleBytes(type)));
    return type == Imf::HALF ? (bits & 0x7fff) != 0 : type == Imf::FLOAT ? (bits & 0x7fffffff) != 0 : bits != 0;
}

// Deep samples: part.deepSamples copies of the pixel's value where any channel is not zero, none elsewhere.
struct DeepPixels
{
    std::vector<unsigned int>       counts;
    std::vector<std::vector<char>>  samples;
    std::vector<std::vector<char*>> pointers;
    Imf::DeepFrameBuffer            buffer;

    DeepPixels(const PartRecipe& part, const PartPlanes& planes)
    {
        const Imath::Box2i& w = part.dataWindow;
        size_t              pixels = size_t(widthOf(w) * heightOf(w));
        counts.assign(pixels, 0);
        for (size_t c = 0; c < part.channels.size(); ++c)
            for (size_t i = 0; i < pixels; ++i)
                if (nonZero(part.channels[c].type, &planes.planes[c][i * size_t(sampleBytes(part.channels[c].type))]))
                    counts[i] = unsigned(part.deepSamples);
        int64_t rowOffset = int64_t(w.min.y) * widthOf(w) + w.min.x;
        buffer.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data() - rowOffset),
                                                 sizeof(unsigned), sizeof(unsigned) * size_t(widthOf(w))));
        samples.resize(part.channels.size());
        pointers.resize(part.channels.size());
        for (size_t c = 0; c < part.channels.size(); ++c)
            addChannel(part, planes, c, rowOffset);
    }

    void addChannel(const PartRecipe& part, const PartPlanes& planes, size_t c, int64_t rowOffset)
    {
        const ChannelRecipe& channel = part.channels[c];
        size_t               bytes = size_t(sampleBytes(channel.type));
        size_t               total = 0;
        for (unsigned count : counts)
            total += count;
        samples[c].resize(total * bytes);
        pointers[c].assign(counts.size(), nullptr);
        char* next = samples[c].data();
        for (size_t i = 0; i < counts.size(); ++i)
        {
            pointers[c][i] = counts[i] ? next : nullptr;
            for (unsigned s = 0; s < counts[i]; ++s, next += bytes)
                std::memcpy(next, &planes.planes[c][i * bytes], bytes);
        }
        buffer.insert(channel.name,
                      Imf::DeepSlice(channel.type, reinterpret_cast<char*>(pointers[c].data() - rowOffset),
                                     sizeof(char*), sizeof(char*) * size_t(widthOf(part.dataWindow)), bytes));
    }
};

template <class Out>
void writeDeepScanlines(Out& out, const PartRecipe& part, PartPlanes& planes)
{
    DeepPixels pixels(part, planes);
    out.setFrameBuffer(pixels.buffer);
    out.writePixels(int(heightOf(part.dataWindow)));
}

template <class Out>
void writeDeepTiles(Out& out, const PartRecipe& part, PartPlanes& planes)
{
    DeepPixels pixels(part, planes);
    out.setFrameBuffer(pixels.buffer);
    out.writeTiles(0, out.numXTiles(0) - 1, 0, out.numYTiles(0) - 1, 0, 0);
}

// Opens the output of the part's kind with the given arguments (a path and header, or a multi-part file and
// index) and writes the part's pixels into it.
template <class Scan, class Tiled, class Deep, class DeepTiled, class... Open>
void writePart(const PartRecipe& part, Open&&... open)
{
    PartPlanes planes = fillPlanes(part);
    switch (part.kind)
    {
    case PartKind::Scanline:
    {
        Scan out(open...);
        return writeScanlines(out, part, planes);
    }
    case PartKind::Deep:
    {
        Deep out(open...);
        return writeDeepScanlines(out, part, planes);
    }
    case PartKind::DeepTiled:
    {
        DeepTiled out(open...);
        return writeDeepTiles(out, part, planes);
    }
    default:
    {
        Tiled out(open...);
        return writeTiledLevels(out, part, planes);
    }
    }
}

} // namespace

void writeFrame(const std::string& path, const FrameRecipe& frame)
{
    if (frame.damage.pixels != PixelData::Written)
    {
        // The header and an offset table of zeros, without a sample: no plane is made, whatever the size.
        Imf::OutputFile file(path.c_str(), makeHeader(frame.parts[0], false));
        return;
    }
    if (frame.parts.size() == 1)
    {
        Imf::Header header = makeHeader(frame.parts[0], false);
        writePart<Imf::OutputFile, Imf::TiledOutputFile, Imf::DeepScanLineOutputFile, Imf::DeepTiledOutputFile>(
            frame.parts[0], path.c_str(), header);
        return;
    }
    std::vector<Imf::Header> headers;
    for (const PartRecipe& part : frame.parts)
        headers.push_back(makeHeader(part, true));
    Imf::MultiPartOutputFile file(path.c_str(), headers.data(), int(headers.size()));
    for (size_t i = 0; i < frame.parts.size(); ++i)
        writePart<Imf::OutputPart, Imf::TiledOutputPart, Imf::DeepScanLineOutputPart, Imf::DeepTiledOutputPart>(
            frame.parts[i], file, int(i));
}

} // namespace zqtools
