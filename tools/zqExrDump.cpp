// zqExrDump: a compact, stable text dump of OpenEXR files for test references and pixel-identity checks.
//
//   zqExrDump FILE
//
// Prints the file's parts, windows, channels with an FNV-1a hash of their decoded samples, and every other
// attribute; nothing that depends on how the file was compressed. Exit 1 when anything could not be read.
#include "attributeTypes.h"

#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineInputPart.h>
#include <ImfDeepTiledInputPart.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIDManifestAttribute.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfOpaqueAttribute.h>
#include <ImfPartType.h>
#include <ImfPreviewImageAttribute.h>
#include <ImfStdIO.h>
#include <ImfStringAttribute.h>
#include <ImfStringVectorAttribute.h>
#include <ImfThreading.h>
#include <ImfTileDescriptionAttribute.h>
#include <ImfChannelListAttribute.h>

#include <cstdio>
#include <map>
#include <numeric>
#include <sstream>
#include <vector>

namespace {

// A part whose samples would need more memory than this is reported instead of read.
constexpr uint64_t kMaxSampleBytes = uint64_t(4) << 30;

// FNV-1a, 64 bits, as 16 lower-case hex digits.
std::string hashOf(const void* data, size_t size)
{
    uint64_t hash = 14695981039346656037ull;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

template <class T>
std::string hashOf(const std::vector<T>& items)
{ return hashOf(items.data(), items.size() * sizeof(T)); }

// C escapes (\" \\ \n, \xNN below 0x20 and from 0x7f); a bare name also writes a blank as \x20 to stay one word.
std::string escaped(const std::string& text, bool blankAsHex)
{
    std::string out;
    for (unsigned char c : text)
    {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c == '"' ? "\\\"" : c == '\\' ? "\\\\" : c == '\n' ? "\\n"
               : (c < 0x20 || c >= 0x7f || (blankAsHex && c == ' ')) ? hex : std::string(1, char(c));
    }
    return out;
}

std::string quoted(const std::string& text)
{ return "\"" + escaped(text, false) + "\""; }

std::string number(double value, bool isDouble)
{
    char text[40];
    std::snprintf(text, sizeof text, isDouble ? "%.17g" : "%.9g", value);
    return text;
}

// The word at index of a blank-separated list, or the number when the list is shorter.
std::string nameAt(const char* names, int index)
{
    std::istringstream words(names);
    std::string        word;
    for (int i = 0; words >> word; ++i)
        if (i == index)
            return word;
    return std::to_string(index);
}

std::string channelText(const std::string& name, const Imf::Channel& c)
{
    return escaped(name, true) + " " + nameAt("uint half float", int(c.type)) + " " + std::to_string(c.xSampling) +
           "," + std::to_string(c.ySampling) + (c.pLinear ? " linear" : "");
}

// A value stored as a row of numbers or a named byte, read back from the bytes the library writes for it.
std::string layoutText(const Imf::Attribute& attribute, const zqtools::AttributeType& type)
{
    Imf::StdOSStream stream;
    attribute.writeValueTo(stream, 2);
    std::string bytes = stream.str(), text;
    size_t      at = 0;
    for (const char* letter = type.layout; *letter; ++letter)
    {
        if (*letter == '/')
        {
            text += "/";
            continue;
        }
        uint64_t raw = 0;
        std::memcpy(&raw, bytes.data() + at, size_t(zqtools::fieldBytes(*letter))); // little-endian host
        at += size_t(zqtools::fieldBytes(*letter));
        float  f;
        double d;
        std::memcpy(&f, &raw, 4);
        std::memcpy(&d, &raw, 8);
        text += (text.empty() || text.back() == '/' ? "" : " ") +
                (*letter == 'i'   ? std::to_string(int32_t(raw))
                 : *letter == 'u' ? std::to_string(uint32_t(raw))
                 : *letter == 'b' ? nameAt(type.names, int(raw))
                                  : number(*letter == 'f' ? double(f) : d, *letter == 'd'));
    }
    return text;
}

template <class T>
const T& valueOf(const Imf::Attribute& attribute)
{
    return dynamic_cast<const Imf::TypedAttribute<T>&>(attribute).value();
}

// The value of an attribute as dumped: complete, exact and independent of how the file was compressed.
std::string valueText(const Imf::Attribute& attribute)
{
    if (auto* opaque = dynamic_cast<const Imf::OpaqueAttribute*>(&attribute))
        return "opaque " + std::to_string(opaque->dataSize()) + " " +
               hashOf(opaque->data(), size_t(opaque->dataSize()));
    const zqtools::AttributeType* type = zqtools::findAttributeType(attribute.typeName());
    std::string                   name = type ? type->name : "", out;
    if (type && *type->layout)
        return layoutText(attribute, *type);
    if (name == "string")
        return quoted(valueOf<std::string>(attribute));
    auto list = [&out](const auto& items, auto text) {
        for (const auto& item : items)
            out += " " + text(item);
        return std::to_string(items.size()) + out;
    };
    if (name == "stringvector")
        return list(valueOf<Imf::StringVector>(attribute), quoted);
    if (name == "floatvector")
        return list(valueOf<Imf::FloatVector>(attribute), [](float f) { return number(f, false); });
    if (name == "preview") // PreviewRgba is four bytes r, g, b, a
    {
        const Imf::PreviewImage& preview = valueOf<Imf::PreviewImage>(attribute);
        return std::to_string(preview.width()) + "x" + std::to_string(preview.height()) + " " +
               hashOf(preview.pixels(), size_t(preview.width()) * preview.height() * sizeof(Imf::PreviewRgba));
    }
    if (name == "tiledesc")
    {
        const Imf::TileDescription& t = valueOf<Imf::TileDescription>(attribute);
        return std::to_string(t.xSize) + "x" + std::to_string(t.ySize) + " " +
               nameAt("onelevel mipmap ripmap", t.mode) + " " + nameAt("roundDown roundUp", t.roundingMode);
    }
    if (name == "chlist")
    {
        const Imf::ChannelList& channels = valueOf<Imf::ChannelList>(attribute);
        size_t                  count = 0;
        for (auto it = channels.begin(); it != channels.end(); ++it, ++count)
            out += " " + channelText(it.name(), it.channel());
        return std::to_string(count) + out;
    }
    if (name != "idmanifest")
        throw std::runtime_error("no text for this attribute type");
    // The manifest's uncompressed bytes, so that the text does not depend on the zlib that compressed it. A damaged
    // size would have the library allocate it before decompressing; zlib expands at most ~1032 times.
    const Imf::CompressedIDManifest& compressed = valueOf<Imf::CompressedIDManifest>(attribute);
    if (compressed._uncompressedDataSize == 0 || compressed._compressedDataSize < 0 ||
        compressed._uncompressedDataSize > uint64_t(compressed._compressedDataSize) * 1032 + 1024)
        throw std::runtime_error("idmanifest declares an implausible uncompressed size");
    std::vector<char> bytes;
    Imf::IDManifest(compressed).serialize(bytes);
    return std::to_string(bytes.size()) + " " + hashOf(bytes);
}

std::string attributeText(const Imf::Attribute& attribute, bool& failed)
try
{
    return valueText(attribute);
}
catch (const std::exception& e)
{
    failed = true;
    return std::string("error: ") + e.what();
}

int64_t floorDiv(int64_t a, int64_t b)
{
    return a >= 0 ? a / b : -((-a + b - 1) / b);
}

// Refuses a part whose samples, every one at 4 bytes, would need more than kMaxSampleBytes.
void checkSize(const Imf::Header& header)
{
    const Imath::Box2i& w = header.dataWindow();
    uint64_t            pixels = uint64_t(int64_t(w.max.x) - w.min.x + 1) * uint64_t(int64_t(w.max.y) - w.min.y + 1);
    uint64_t            total = 0;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
        total += pixels / uint64_t(it.channel().xSampling * it.channel().ySampling) * 4;
    if (total > kMaxSampleBytes)
        throw std::runtime_error("the part's samples would need more than 4 GiB; not read");
}

// One hash per channel of a flat part (level 0 of a tiled one).
std::map<std::string, std::string> flatHashes(Imf::MultiPartInputFile& file, int index, const Imf::Header& header)
{
    checkSize(header);
    const Imath::Box2i&                      w = header.dataWindow();
    std::map<std::string, std::vector<char>> planes;
    Imf::FrameBuffer                         buffer;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        const Imf::Channel& c = it.channel();
        int64_t             size = (c.type == Imf::HALF ? 2 : 4), firstX = -floorDiv(-int64_t(w.min.x), c.xSampling);
        int64_t             firstY = -floorDiv(-int64_t(w.min.y), c.ySampling);
        int64_t             columns = floorDiv(w.max.x, c.xSampling) - firstX + 1;
        std::vector<char>&  plane = planes[it.name()];
        plane.assign(size_t(columns * (floorDiv(w.max.y, c.ySampling) - firstY + 1) * size), 0);
        buffer.insert(it.name(), Imf::Slice(c.type, plane.data() - (firstY * columns + firstX) * size, size_t(size),
                                            size_t(columns * size), c.xSampling, c.ySampling));
    }
    Imf::InputPart part(file, index);
    part.setFrameBuffer(buffer);
    part.readPixels(w.min.y, w.max.y);
    std::map<std::string, std::string> hashes;
    for (const auto& [name, plane] : planes)
        hashes[name] = hashOf(plane);
    return hashes;
}

// Hashes of a deep part; the key "" holds the hash of the sample counts. The frame buffer is set once; after the
// counts are read, storage is made and the pointers aimed.
std::map<std::string, std::string> deepHashes(Imf::MultiPartInputFile& file, int index, const Imf::Header& header)
{
    checkSize(header);
    const Imath::Box2i&                       w = header.dataWindow();
    int64_t                                   width = int64_t(w.max.x) - w.min.x + 1;
    int64_t                                   offset = int64_t(w.min.y) * width + w.min.x;
    std::vector<unsigned int>                 counts(size_t(width * (int64_t(w.max.y) - w.min.y + 1)), 0);
    std::map<std::string, std::vector<char>>  samples;
    std::map<std::string, std::vector<char*>> pointers;
    Imf::DeepFrameBuffer                      buffer;
    buffer.insertSampleCountSlice(Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data() - offset),
                                             sizeof(unsigned), sizeof(unsigned) * size_t(width)));
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        std::vector<char*>& at = pointers[it.name()];
        at.assign(counts.size(), nullptr);
        buffer.insert(it.name(), Imf::DeepSlice(it.channel().type, reinterpret_cast<char*>(at.data() - offset),
                                                sizeof(char*), sizeof(char*) * size_t(width),
                                                size_t(it.channel().type == Imf::HALF ? 2 : 4)));
    }
    auto allocate = [&] {
        uint64_t total = std::accumulate(counts.begin(), counts.end(), uint64_t(0));
        if (total * 4 * pointers.size() > kMaxSampleBytes)
            throw std::runtime_error("the part's deep samples would need more than 4 GiB; not read");
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
        {
            size_t             size = size_t(it.channel().type == Imf::HALF ? 2 : 4);
            std::vector<char>& storage = samples[it.name()];
            storage.assign(size_t(total) * size, 0);
            char* next = storage.data();
            for (size_t i = 0; i < counts.size(); next += counts[i] * size, ++i)
                pointers[it.name()][i] = next;
        }
    };
    if (header.type() == Imf::DEEPTILE)
    {
        Imf::DeepTiledInputPart part(file, index);
        part.setFrameBuffer(buffer);
        part.readPixelSampleCounts(0, part.numXTiles(0) - 1, 0, part.numYTiles(0) - 1, 0, 0);
        allocate();
        part.readTiles(0, part.numXTiles(0) - 1, 0, part.numYTiles(0) - 1, 0, 0);
    }
    else
    {
        Imf::DeepScanLineInputPart part(file, index);
        part.setFrameBuffer(buffer);
        part.readPixelSampleCounts(w.min.y, w.max.y);
        allocate();
        part.readPixels(w.min.y, w.max.y);
    }
    std::map<std::string, std::string> hashes{{"", hashOf(counts)}};
    for (const auto& [name, bytes] : samples)
        hashes[name] = hashOf(bytes);
    return hashes;
}

std::string boxText(const Imath::Box2i& b)
{
    return std::to_string(b.min.x) + " " + std::to_string(b.min.y) + " " + std::to_string(b.max.x) + " " +
           std::to_string(b.max.y);
}

// Attributes shown in their own lines or that only describe the file layout, with the type they have there.
bool shownElsewhere(const std::string& name, const Imf::Attribute& attribute)
{
    static const std::map<std::string, std::string> kShown = {
        {"name", "string"},       {"type", "string"},      {"view", "string"},   {"compression", "compression"},
        {"lineOrder", "lineOrder"}, {"dataWindow", "box2i"}, {"displayWindow", "box2i"}, {"tiles", "tiledesc"},
        {"channels", "chlist"},   {"chunkCount", "int"},   {"version", "int"}};
    auto known = kShown.find(name);
    return known != kShown.end() && known->second == attribute.typeName();
}

void dumpPart(Imf::MultiPartInputFile& file, int index, std::string& out, bool& failed)
{
    const Imf::Header& header = file.header(index);
    out += "part " + std::to_string(index) + "\n";
    out += "  name " + (header.hasName() ? quoted(header.name()) : std::string("-")) + "\n";
    out += "  type " + (header.hasType() ? escaped(header.type(), true) : std::string("-")) + "\n";
    if (header.hasView())
        out += "  view " + quoted(header.view()) + "\n";
    for (const char* name : {"compression", "lineOrder"})
        if (const Imf::Attribute* attribute = header.findTypedAttribute<Imf::Attribute>(name))
            out += std::string("  ") + name + " " + attributeText(*attribute, failed) + "\n";
    out += "  dataWindow " + boxText(header.dataWindow()) + "\n";
    out += "  displayWindow " + boxText(header.displayWindow()) + "\n";
    if (header.hasTileDescription())
        out += "  tiles " + attributeText(header["tiles"], failed) + "\n";
    bool deep = header.hasType() && (header.type() == Imf::DEEPSCANLINE || header.type() == Imf::DEEPTILE);
    std::map<std::string, std::string> hashes;
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
    std::string channels;
    size_t      count = 0;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it, ++count)
        channels += "    " + channelText(it.name(), it.channel()) +
                    (hashes.count(it.name()) ? " " + hashes[it.name()] : "") + "\n";
    out += "  channels " + std::to_string(count) + "\n" + channels;
    std::string attributes;
    count = 0;
    for (auto it = header.begin(); it != header.end(); ++it)
        if (!shownElsewhere(it.name(), it.attribute()))
        {
            ++count;
            attributes += "    " + escaped(it.name(), true) + " " + escaped(it.attribute().typeName(), true) + " " +
                          attributeText(it.attribute(), failed) + "\n";
        }
    out += "  attributes " + std::to_string(count) + "\n" + attributes;
}

// Appends the dump of one file to out; false when anything could not be read.
bool dumpExr(const std::string& path, std::string& out)
{
    bool failed = false;
    try
    {
        Imf::MultiPartInputFile file(path.c_str());
        out += "parts " + std::to_string(file.parts()) + "\n";
        for (int p = 0; p < file.parts(); ++p)
            dumpPart(file, p, out, failed);
    }
    catch (const std::exception& e)
    {
        failed = true;
        out += std::string("error: ") + e.what() + "\n";
    }
    return !failed;
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 2)
        return std::fprintf(stderr, "usage: zqExrDump FILE\n"), 2;
    Imf::setGlobalThreadCount(2); // a fixed reader thread count, so that a damaged file reads the same everywhere
    std::string out;
    bool        ok = dumpExr(argv[1], out);
    std::fwrite(out.data(), 1, out.size(), stdout);
    return ok ? 0 : 1;
}
