// Writes a frame recipe with the OpenEXR API (one part as a single-part file, several as a multi-part file), then
// does its damage: garbage instead of OpenEXR, a damaged chunk offset table, truncation.
#include "recipe.h"

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
#include <Imath/half.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <numeric>

namespace zqtools {

namespace {

using Planes = std::vector<std::vector<char>>; // one per channel in the recipe's order, row-major over a window

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

// Value noise in [0, 1) from integer hashing, deterministic for a seed.
float hashUnit(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h ^ (h >> 16)) & 0xffffff) / 16777216.0f;
}

// Smooth value noise over 37 x 29 pixel cells plus a little per-pixel grain, at least 0.05.
float noiseAt(int x, int y, uint32_t smoothSeed, uint32_t grainSeed)
{
    float fx = float(x) / 37.0f, fy = float(y) / 29.0f;
    int   ix = int(std::floor(fx)), iy = int(std::floor(fy));
    fx -= float(ix), fy -= float(iy);
    auto  corner = [&](int dx, int dy) { return hashUnit(uint32_t(ix + dx), uint32_t(iy + dy), smoothSeed); };
    float top = corner(0, 0) + (corner(1, 0) - corner(0, 0)) * fx;
    float bottom = corner(0, 1) + (corner(1, 1) - corner(0, 1)) * fx;
    return 0.05f + (top + (bottom - top) * fy) + 0.02f * hashUnit(uint32_t(x), uint32_t(y), grainSeed);
}

// The bits of a number in a channel's type; uint channels take whole numbers only.
uint32_t numberBits(Imf::PixelType type, double number)
{
    float    value = float(number);
    uint32_t bits = type == Imf::HALF ? uint32_t(half(value).bits()) : uint32_t(number);
    if (type == Imf::FLOAT)
        std::memcpy(&bits, &value, 4);
    return bits;
}

// Random bits in a channel's type, finite and never 0: a sign, a fixed exponent and a random mantissa for half and
// float samples, so that nothing repeats for deflate to find.
uint32_t randomBits(Imf::PixelType type, uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = uint32_t(hashUnit(x, y, seed) * 16777216.0f) * 2654435761u ^
                 uint32_t(hashUnit(y, x, seed ^ 0x5bd1e995u) * 16777216.0f);
    return type == Imf::HALF ? (h & 0x83ffu) | 0x3c00u : type == Imf::FLOAT ? (h & 0x807fffffu) | 0x3f800000u : h | 1u;
}

// The first coordinate at or after from that holds a sample.
int64_t firstSample(int64_t from, int sampling)
{
    int64_t remainder = ((from % sampling) + sampling) % sampling;
    return remainder ? from + (sampling - remainder) : from;
}

// The samples of one channel over a window of whole rows of the data window (its top and height multiples of the
// channel's y sampling): zeroes, then the fills in order. Each channel's noise differs.
void fillPlane(const PartRecipe& part, size_t index, const Imath::Box2i& w, std::vector<char>& plane)
{
    const ChannelRecipe& c = part.channels[index];
    int64_t              bytes = sampleBytes(c.type), columns = widthOf(w) / c.xSampling;
    plane.assign(size_t(columns * (heightOf(w) / c.ySampling) * bytes), 0);
    for (const Fill& fill : part.fills)
    {
        Imath::Box2i area(Imath::V2i(std::max(fill.area.min.x, w.min.x), std::max(fill.area.min.y, w.min.y)),
                          Imath::V2i(std::min(fill.area.max.x, w.max.x), std::min(fill.area.max.y, w.max.y)));
        if (area.isEmpty() || !fillSelects(fill, c.name))
            continue;
        uint32_t seed = fill.seed + 7u * uint32_t(index), constant = numberBits(c.type, fill.number);
        for (int64_t y = firstSample(area.min.y, c.ySampling); y <= area.max.y; y += c.ySampling)
            for (int64_t x = firstSample(area.min.x, c.xSampling); x <= area.max.x; x += c.xSampling)
            {
                uint32_t bits = constant;
                if (fill.random)
                    bits = randomBits(c.type, uint32_t(x), uint32_t(y), seed);
                else if (fill.noise) // uint channels get 1 + 1000 x noise, so never 0 either
                {
                    float noise = noiseAt(int(x), int(y), seed, fill.seed);
                    bits = c.type == Imf::UINT ? 1u + uint32_t(noise * 1000.0f) : numberBits(c.type, noise);
                }
                int64_t at = ((y - w.min.y) / c.ySampling * columns + (x - w.min.x) / c.xSampling) * bytes;
                std::memcpy(&plane[size_t(at)], &bits, size_t(bytes));
            }
    }
}

// Rows per band of a scan-line part: about 64 MiB of samples, a multiple of every channel's y sampling.
int64_t bandRows(const PartRecipe& part)
{
    int64_t rowBytes = 0, step = 1;
    for (const ChannelRecipe& c : part.channels)
    {
        rowBytes += widthOf(part.dataWindow) / c.xSampling * sampleBytes(c.type) / c.ySampling;
        step = std::lcm(step, int64_t(c.ySampling));
    }
    return std::max<int64_t>(step, (int64_t(64) << 20) / std::max<int64_t>(1, rowBytes) / step * step);
}

Imf::Header makeHeader(const PartRecipe& part, bool multiPart)
{
    Imf::Header header(part.displayWindow, part.dataWindow, 1.0f, Imath::V2f(0, 0), 1.0f, part.lineOrder,
                       part.compression);
    for (const ChannelRecipe& c : part.channels)
        header.channels().insert(c.name, Imf::Channel(c.type, c.xSampling, c.ySampling));
    bool deep = part.kind == PartKind::Deep || part.kind == PartKind::DeepTiled;
    if (part.kind == PartKind::Tiled || part.kind == PartKind::Mipmap || part.kind == PartKind::DeepTiled)
        header.setTileDescription(
            Imf::TileDescription(unsigned(part.tileWidth), unsigned(part.tileHeight),
                                 part.kind == PartKind::Mipmap ? Imf::MIPMAP_LEVELS : Imf::ONE_LEVEL));
    if (multiPart || deep)
        header.setType(part.kind == PartKind::Scanline ? Imf::SCANLINEIMAGE
                       : part.kind == PartKind::Deep   ? Imf::DEEPSCANLINE
                       : deep                          ? Imf::DEEPTILE
                                                       : Imf::TILEDIMAGE);
    if (part.name)
        header.setName(*part.name);
    if (part.view)
        header.setView(*part.view);
    if (!part.multiView.empty())
        Imf::addMultiView(header, part.multiView);
    for (const auto& [name, attribute] : part.attributes)
        header.insert(name, *attribute);
    return header;
}

// Slices over planes laid out on window (level 0: the data window; other levels: that level's window).
Imf::FrameBuffer flatBuffer(const PartRecipe& part, Planes& planes, const Imath::Box2i& window)
{
    Imf::FrameBuffer buffer;
    for (size_t c = 0; c < part.channels.size(); ++c)
    {
        const ChannelRecipe& channel = part.channels[c];
        int64_t              bytes = sampleBytes(channel.type), rowBytes = widthOf(window) / channel.xSampling * bytes;
        char* origin = planes[c].data() - int64_t(window.min.x) / channel.xSampling * bytes -
                       int64_t(window.min.y) / channel.ySampling * rowBytes;
        buffer.insert(channel.name, Imf::Slice(channel.type, origin, size_t(bytes), size_t(rowBytes), channel.xSampling,
                                               channel.ySampling));
    }
    return buffer;
}

template <class Out>
void writeTiledLevels(Out& out, const PartRecipe& part, Planes& planes)
{
    for (int level = 0; level < out.numLevels(); ++level)
    {
        // A lower level is every 2^level-th column and row of level 0.
        Imath::Box2i window = out.dataWindowForLevel(level);
        Planes       levelPlanes(planes.size());
        for (size_t c = 0; level && c < planes.size(); ++c)
        {
            int64_t bytes = sampleBytes(part.channels[c].type);
            levelPlanes[c].resize(size_t(widthOf(window) * heightOf(window) * bytes));
            for (int64_t y = 0; y < heightOf(window); ++y)
                for (int64_t x = 0; x < widthOf(window); ++x)
                    std::memcpy(&levelPlanes[c][size_t((y * widthOf(window) + x) * bytes)],
                                &planes[c][size_t(((y << level) * widthOf(part.dataWindow) + (x << level)) * bytes)],
                                size_t(bytes));
        }
        out.setFrameBuffer(flatBuffer(part, level ? levelPlanes : planes, window));
        out.writeTiles(0, out.numXTiles(level) - 1, 0, out.numYTiles(level) - 1, level);
    }
}

// Deep samples: part.deepSamples copies of the pixel's value where any channel is not zero, none elsewhere.
struct DeepPixels
{
    std::vector<unsigned int>       counts;
    Planes                          samples;
    std::vector<std::vector<char*>> pointers;
    Imf::DeepFrameBuffer            buffer;

    DeepPixels(const PartRecipe& part, const Planes& planes) : samples(planes.size()), pointers(planes.size())
    {
        const Imath::Box2i& w = part.dataWindow;
        counts.assign(size_t(widthOf(w) * heightOf(w)), 0);
        for (size_t c = 0; c < part.channels.size(); ++c)
            for (size_t i = 0; i < counts.size(); ++i)
            {
                Imf::PixelType type = part.channels[c].type;
                uint32_t       bits = 0;
                std::memcpy(&bits, &planes[c][i * size_t(sampleBytes(type))], size_t(sampleBytes(type)));
                if (bits & (type == Imf::HALF ? 0x7fffu : type == Imf::FLOAT ? 0x7fffffffu : ~0u)) // not 0 nor -0
                    counts[i] = unsigned(part.deepSamples);
            }
        int64_t rowOffset = int64_t(w.min.y) * widthOf(w) + w.min.x;
        buffer.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data() - rowOffset),
                                                 sizeof(unsigned), sizeof(unsigned) * size_t(widthOf(w))));
        size_t total = std::accumulate(counts.begin(), counts.end(), size_t(0));
        for (size_t c = 0; c < part.channels.size(); ++c)
        {
            size_t bytes = size_t(sampleBytes(part.channels[c].type));
            samples[c].resize(total * bytes);
            pointers[c].assign(counts.size(), nullptr);
            char* next = samples[c].data();
            for (size_t i = 0; i < counts.size(); ++i)
            {
                pointers[c][i] = counts[i] ? next : nullptr;
                for (unsigned s = 0; s < counts[i]; ++s, next += bytes)
                    std::memcpy(next, &planes[c][i * bytes], bytes);
            }
            buffer.insert(part.channels[c].name,
                          Imf::DeepSlice(part.channels[c].type, reinterpret_cast<char*>(pointers[c].data() - rowOffset),
                                         sizeof(char*), sizeof(char*) * size_t(widthOf(w)), bytes));
        }
    }
};

// Opens the output of the part's kind with the given arguments (a path and header, or a multi-part file and
// index) and writes the part's pixels into it.
template <class Scan, class Tiled, class Deep, class DeepTiled, class... Open>
void writePart(const PartRecipe& part, Open&&... open)
{
    Planes              planes(part.channels.size());
    const Imath::Box2i& w = part.dataWindow;
    if (part.kind == PartKind::Scanline)
    {
        // In bands of lines, in the file's line order, so that a large frame is never whole in memory; the library
        // gathers the lines of each chunk across bands, so the file is the same as from one write of every line.
        Scan    out(open...);
        int64_t rows = bandRows(part);
        for (int64_t done = 0; done < heightOf(w); done += rows)
        {
            int64_t count = std::min(rows, heightOf(w) - done);
            int64_t top = part.lineOrder == Imf::DECREASING_Y ? w.max.y + 1 - done - count : w.min.y + done;
            Imath::Box2i band(Imath::V2i(w.min.x, int(top)), Imath::V2i(w.max.x, int(top + count - 1)));
            for (size_t c = 0; c < planes.size(); ++c)
                fillPlane(part, c, band, planes[c]);
            out.setFrameBuffer(flatBuffer(part, planes, band));
            out.writePixels(int(count));
        }
        return;
    }
    for (size_t c = 0; c < planes.size(); ++c)
        fillPlane(part, c, w, planes[c]);
    if (part.kind == PartKind::Deep || part.kind == PartKind::DeepTiled)
    {
        DeepPixels pixels(part, planes);
        if (part.kind == PartKind::Deep)
        {
            Deep out(open...);
            out.setFrameBuffer(pixels.buffer);
            return out.writePixels(int(heightOf(w)));
        }
        DeepTiled out(open...);
        out.setFrameBuffer(pixels.buffer);
        return out.writeTiles(0, out.numXTiles(0) - 1, 0, out.numYTiles(0) - 1, 0, 0);
    }
    Tiled out(open...);
    writeTiledLevels(out, part, planes);
}

// Where the chunk offset table of a single-part scan-line frame starts (right after the header), and its entries.
std::pair<size_t, int64_t> offsetTable(const std::string& bytes, const PartRecipe& part)
{
    const int lines[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256}; // per chunk, by compression
    int64_t   entries = (heightOf(part.dataWindow) + lines[part.compression] - 1) / lines[part.compression];
    size_t    at = 8; // magic number and version, then name, type, size and value of each attribute
    while (at < bytes.size() && bytes[at] != '\0')
    {
        size_t type = bytes.find('\0', at), size = type == std::string::npos ? type : bytes.find('\0', type + 1) + 1;
        if (size == std::string::npos || size == 0 || size + 4 > bytes.size())
            throw RecipeError("the written header cannot be read back");
        int32_t length = 0;
        std::memcpy(&length, &bytes[size], 4);
        at = size + 4 + size_t(uint32_t(length));
    }
    if (at + 1 + uint64_t(entries) * 8 > bytes.size())
        throw RecipeError("the chunk offset table is not where it was expected");
    return {at + 1, entries};
}

// Damage to the chunk offset table: every entry aimed at the table itself (the frame holds no pixel, but looks
// complete), the first two swapped, the first past the file's end.
void damageOffsets(std::string& bytes, const FrameRecipe& frame)
{
    auto [table, entries] = offsetTable(bytes, frame.parts[0]);
    for (int64_t i = 0; frame.pixels == PixelData::Fake && i < entries; ++i)
        std::memcpy(&bytes[table + size_t(i) * 8], &table, 8); // little-endian host
    if (frame.swapOffsets && entries >= 2)
        std::swap_ranges(bytes.begin() + std::ptrdiff_t(table), bytes.begin() + std::ptrdiff_t(table + 8),
                         bytes.begin() + std::ptrdiff_t(table + 8));
    uint64_t pastEnd = bytes.size() + 1000;
    if (frame.offsetPastEnd)
        std::memcpy(&bytes[table], &pastEnd, 8);
}

} // namespace

void writeFrame(const std::string& path, const FrameRecipe& frame)
{
    if (frame.pixels != PixelData::Written)
    {
        Imf::OutputFile file(path.c_str(), makeHeader(frame.parts[0], false)); // the header and a table of zeros
    }
    else if (frame.parts.size() == 1)
        writePart<Imf::OutputFile, Imf::TiledOutputFile, Imf::DeepScanLineOutputFile, Imf::DeepTiledOutputFile>(
            frame.parts[0], path.c_str(), makeHeader(frame.parts[0], false));
    else
    {
        std::vector<Imf::Header> headers;
        for (const PartRecipe& part : frame.parts)
            headers.push_back(makeHeader(part, true));
        Imf::MultiPartOutputFile file(path.c_str(), headers.data(), int(headers.size()));
        for (size_t i = 0; i < frame.parts.size(); ++i)
            writePart<Imf::OutputPart, Imf::TiledOutputPart, Imf::DeepScanLineOutputPart, Imf::DeepTiledOutputPart>(
                frame.parts[i], file, int(i));
    }
    bool offsets = frame.pixels == PixelData::Fake || frame.swapOffsets || frame.offsetPastEnd;
    if (!frame.garbage && !frame.truncate && !offsets)
        return;
    std::string bytes = "zqMakeFrame garbage: plain text where a frame was expected.....\n"; // 64 bytes
    if (!frame.garbage)
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (offsets)
        damageOffsets(bytes, frame);
    if (frame.truncate)
    {
        int64_t keep = *frame.truncate >= 0 ? *frame.truncate : int64_t(bytes.size()) + *frame.truncate;
        if (keep < 0 || keep >= int64_t(bytes.size()))
            throw RecipeError("truncate=" + std::to_string(*frame.truncate) + " does not shorten the file of " +
                              std::to_string(bytes.size()) + " bytes");
        bytes.resize(size_t(keep));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(bytes.data(), std::streamsize(bytes.size())).flush())
        throw std::runtime_error("cannot write " + path);
}

} // namespace zqtools
