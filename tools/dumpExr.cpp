// The text dump of zqExrDump: parts, windows, channels with sample hashes and every other attribute.
#include "dumpExr.h"

#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineInputPart.h>
#include <ImfDeepTiledInputPart.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfPartType.h>
#include <ImfTileDescriptionAttribute.h>

#include <cstring>
#include <map>
#include <vector>

namespace zqtools {

namespace {

// A part whose samples would need more memory than this is reported instead of read.
constexpr uint64_t kMaxSampleBytes = uint64_t(4) << 30;

// Attributes shown in their own lines or that only describe the file layout, with the type they have there.
const std::pair<const char*, const char*> kShownElsewhere[] = {
    {"name", "string"},         {"type", "string"},      {"view", "string"},         {"compression", "compression"},
    {"lineOrder", "lineOrder"}, {"dataWindow", "box2i"}, {"displayWindow", "box2i"}, {"tiles", "tiledesc"},
    {"channels", "chlist"},     {"chunkCount", "int"},   {"version", "int"}};

const char* const kPixelTypes[] = {"uint", "half", "float"};

bool shownElsewhere(const char* name, const Imf::Attribute& attribute)
{
    for (const auto& [known, type] : kShownElsewhere)
        if (std::strcmp(name, known) == 0)
            return std::strcmp(attribute.typeName(), type) == 0;
    return false;
}

int sampleBytes(Imf::PixelType type)
{
    return type == Imf::HALF ? 2 : 4;
}

int64_t floorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Samples of one channel over the data window, laid out the way a frame buffer slice addresses them.
struct Plane
{
    std::vector<char> bytes;
    int64_t           firstX = 0, firstY = 0, columns = 0, rows = 0;
    int               size = 2;

    Plane(const Imath::Box2i& w, const Imf::Channel& channel) : size(sampleBytes(channel.type))
    {
        firstX = -floorDiv(-int64_t(w.min.x), channel.xSampling);
        firstY = -floorDiv(-int64_t(w.min.y), channel.ySampling);
        columns = floorDiv(w.max.x, channel.xSampling) - firstX + 1;
        rows = floorDiv(w.max.y, channel.ySampling) - firstY + 1;
        bytes.assign(size_t(columns * rows * size), 0);
    }

    Imf::Slice slice(const Imf::Channel& channel)
    {
        char* origin = bytes.data() - (firstY * columns + firstX) * size;
        return Imf::Slice(channel.type, origin, size_t(size), size_t(columns * size), channel.xSampling,
                          channel.ySampling);
    }
};

uint64_t pixelBytes(const Imf::Header& header)
{
    const Imath::Box2i& w = header.dataWindow();
    uint64_t            pixels = uint64_t(int64_t(w.max.x) - w.min.x + 1) * uint64_t(int64_t(w.max.y) - w.min.y + 1);
    uint64_t            total = 0;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
        total += pixels / uint64_t(it.channel().xSampling * it.channel().ySampling) * 4;
    return total;
}

void checkSize(const Imf::Header& header, uint64_t bytesPerPixelAndSample = 1)
{
    if (pixelBytes(header) * bytesPerPixelAndSample > kMaxSampleBytes)
        throw std::runtime_error("the part's samples would need more than 4 GiB; not read");
}

std::string hashOf(const std::vector<char>& bytes)
{
    Fnv1a hash;
    hash.add(bytes.data(), bytes.size());
    return hash.hex();
}

// One hash per channel of a flat part (level 0 of a tiled one).
std::map<std::string, std::string> flatHashes(Imf::MultiPartInputFile& file, int index, const Imf::Header& header)
{
    checkSize(header);
    Imf::InputPart               part(file, index);
    std::map<std::string, Plane> planes;
    Imf::FrameBuffer             buffer;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        Plane& plane = planes.emplace(it.name(), Plane(header.dataWindow(), it.channel())).first->second;
        buffer.insert(it.name(), plane.slice(it.channel()));
    }
    part.setFrameBuffer(buffer);
    part.readPixels(header.dataWindow().min.y, header.dataWindow().max.y);
    std::map<std::string, std::string> hashes;
    for (const auto& [name, plane] : planes)
        hashes[name] = hashOf(plane.bytes);
    return hashes;
}

// Deep samples: the frame buffer is set once; after the counts are read, storage is made and the pointers aimed.
struct DeepSamples
{
    const Imath::Box2i                        window;
    const int64_t                             width;
    std::vector<unsigned int>                 counts;
    std::map<std::string, std::vector<char>>  samples;
    std::map<std::string, std::vector<char*>> pointers;
    Imf::DeepFrameBuffer                      buffer;

    explicit DeepSamples(const Imf::Header& header)
        : window(header.dataWindow()), width(int64_t(window.max.x) - window.min.x + 1)
    {
        counts.assign(size_t(width * (int64_t(window.max.y) - window.min.y + 1)), 0);
        int64_t offset = int64_t(window.min.y) * width + window.min.x;
        buffer.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data() - offset),
                                                 sizeof(unsigned), sizeof(unsigned) * size_t(width)));
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
        {
            std::vector<char*>& at = pointers[it.name()];
            at.assign(counts.size(), nullptr);
            size_t size = size_t(sampleBytes(it.channel().type));
            buffer.insert(it.name(), Imf::DeepSlice(it.channel().type, reinterpret_cast<char*>(at.data() - offset),
                                                    sizeof(char*), sizeof(char*) * size_t(width), size));
        }
    }

    void allocate(const Imf::Header& header)
    {
        uint64_t total = 0;
        for (unsigned count : counts)
            total += count;
        if (total * 4 * pointers.size() > kMaxSampleBytes)
            throw std::runtime_error("the part's deep samples would need more than 4 GiB; not read");
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
        {
            size_t              size = size_t(sampleBytes(it.channel().type));
            std::vector<char>&  storage = samples[it.name()];
            std::vector<char*>& at = pointers[it.name()];
            storage.assign(size_t(total) * size, 0);
            char* next = storage.data();
            for (size_t i = 0; i < counts.size(); next += counts[i] * size, ++i)
                at[i] = next;
        }
    }

    std::map<std::string, std::string> hashes() const
    {
        std::map<std::string, std::string> result;
        Fnv1a                              countHash;
        countHash.add(counts.data(), counts.size() * sizeof(unsigned));
        result[""] = countHash.hex();
        for (const auto& [name, bytes] : samples)
            result[name] = hashOf(bytes);
        return result;
    }
};

// Hashes of a deep part; the key "" holds the hash of the sample counts.
std::map<std::string, std::string> deepHashes(Imf::MultiPartInputFile& file, int index, const Imf::Header& header)
{
    checkSize(header);
    DeepSamples deep(header);
    if (header.type() == Imf::DEEPTILE)
    {
        Imf::DeepTiledInputPart part(file, index);
        part.setFrameBuffer(deep.buffer);
        part.readPixelSampleCounts(0, part.numXTiles(0) - 1, 0, part.numYTiles(0) - 1, 0, 0);
        deep.allocate(header);
        part.readTiles(0, part.numXTiles(0) - 1, 0, part.numYTiles(0) - 1, 0, 0);
        return deep.hashes();
    }
    Imf::DeepScanLineInputPart part(file, index);
    part.setFrameBuffer(deep.buffer);
    part.readPixelSampleCounts(header.dataWindow().min.y, header.dataWindow().max.y);
    deep.allocate(header);
    part.readPixels(header.dataWindow().min.y, header.dataWindow().max.y);
    return deep.hashes();
}

std::string boxText(const Imath::Box2i& b)
{
    return std::to_string(b.min.x) + " " + std::to_string(b.min.y) + " " + std::to_string(b.max.x) + " " +
           std::to_string(b.max.y);
}

// The lines of a part before its channels: name, type, view, compression, line order, windows, tiles.
void describePart(const Imf::Header& header, std::string& out, bool& failed)
{
    out += "  name " + (header.hasName() ? quoted(header.name()) : std::string("-")) + "\n";
    out += "  type " + (header.hasType() ? bareName(header.type()) : std::string("-")) + "\n";
    if (header.hasView())
        out += "  view " + quoted(header.view()) + "\n";
    for (const char* name : {"compression", "lineOrder"})
        if (const Imf::Attribute* attribute = header.findTypedAttribute<Imf::Attribute>(name))
            out += std::string("  ") + name + " " + attributeValueText(*attribute, failed) + "\n";
    out += "  dataWindow " + boxText(header.dataWindow()) + "\n";
    out += "  displayWindow " + boxText(header.displayWindow()) + "\n";
    if (header.hasTileDescription())
        out += "  tiles " + attributeValueText(header.typedAttribute<Imf::TileDescriptionAttribute>("tiles"), failed) +
               "\n";
}

void dumpPart(Imf::MultiPartInputFile& file, int index, bool pixels, std::string& out, bool& failed)
{
    const Imf::Header& header = file.header(index);
    out += "part " + std::to_string(index) + "\n";
    describePart(header, out, failed);
    bool deep = header.hasType() && (header.type() == Imf::DEEPSCANLINE || header.type() == Imf::DEEPTILE);
    std::map<std::string, std::string> hashes;
    if (pixels)
        try
        {
            hashes = deep ? deepHashes(file, index, header) : flatHashes(file, index, header);
        }
        catch (const std::exception& e)
        {
            failed = true;
            out += std::string("  error: ") + e.what() + "\n";
        }
    if (hashes.count(""))
        out += "  sampleCounts " + hashes[""] + "\n";
    size_t channels = 0;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
        ++channels;
    out += "  channels " + std::to_string(channels) + "\n";
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        const Imf::Channel& c = it.channel();
        int                 type = int(c.type);
        out += "    " + bareName(it.name()) + " " + (type >= 0 && type < 3 ? kPixelTypes[type] : std::to_string(type)) +
               " " + std::to_string(c.xSampling) + "," + std::to_string(c.ySampling) + (c.pLinear ? " linear" : "") +
               (hashes.count(it.name()) ? " " + hashes[it.name()] : "") + "\n";
    }
    std::string attributes;
    size_t      count = 0;
    for (auto it = header.begin(); it != header.end(); ++it)
        if (!shownElsewhere(it.name(), it.attribute()))
        {
            ++count;
            attributes += "    " + bareName(it.name()) + " " + bareName(it.attribute().typeName()) + " " +
                          attributeValueText(it.attribute(), failed) + "\n";
        }
    out += "  attributes " + std::to_string(count) + "\n" + attributes;
}

} // namespace

bool dumpExr(const std::string& path, bool pixels, std::string& out)
{
    bool failed = false;
    try
    {
        Imf::MultiPartInputFile file(path.c_str());
        out += "parts " + std::to_string(file.parts()) + "\n";
        for (int p = 0; p < file.parts(); ++p)
            dumpPart(file, p, pixels, out, failed);
    }
    catch (const std::exception& e)
    {
        failed = true;
        out += std::string("error: ") + e.what() + "\n";
    }
    return !failed;
}

} // namespace zqtools
