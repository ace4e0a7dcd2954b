// Test fixtures: EXR files generated with the OpenEXR API, read back and dumped as text.
#include "support/exrFixtures.h"

#include <ImfChannelList.h>
#include <ImfDeepFrameBuffer.h>
#include <ImfDeepScanLineOutputFile.h>
#include <ImfFrameBuffer.h>
#include <ImfInputPart.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfPartType.h>
#include <ImfStringAttribute.h>
#include <ImfTiledOutputFile.h>
#include <ImfTiledOutputPart.h>
#include <Imath/half.h>

#include <ImfAttribute.h>
#include <ImfFloatAttribute.h>
#include <ImfIntAttribute.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfVecAttribute.h>
#include <ImfMatrixAttribute.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace zqtest {

namespace {

int bytesOf(Imf::PixelType type)
{
    return type == Imf::HALF ? 2 : 4;
}

uint32_t toBits(Imf::PixelType type, float value)
{
    switch (type)
    {
    case Imf::HALF: return half(value).bits();
    case Imf::FLOAT:
    {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        return bits;
    }
    default: return uint32_t(value);
    }
}

float fromBits(Imf::PixelType type, uint32_t bits)
{
    switch (type)
    {
    case Imf::HALF:
    {
        half h;
        h.setBits(uint16_t(bits));
        return float(h);
    }
    case Imf::FLOAT:
    {
        float value;
        std::memcpy(&value, &bits, 4);
        return value;
    }
    default: return float(bits);
    }
}

// Sample storage for one part being written.
struct PartPixels
{
    std::vector<std::vector<char>> planes;
    Imf::FrameBuffer               frameBuffer;
};

Imf::Header makeHeader(const PartSpec& part)
{
    Imf::Header header(part.displayWindow, part.dataWindow, 1.0f, Imath::V2f(0, 0), 1.0f, Imf::INCREASING_Y,
                       part.compression);
    for (const ChannelSpec& channel : part.channels)
        header.channels().insert(channel.name, Imf::Channel(channel.type, channel.xSampling, channel.ySampling));
    if (part.tiled)
        header.setTileDescription(Imf::TileDescription(16, 16, Imf::ONE_LEVEL));
    if (part.editHeader)
        part.editHeader(header);
    return header;
}

void fillPixels(const PartSpec& part, PartPixels& pixels)
{
    const Imath::Box2i& w = part.dataWindow;
    int64_t             width = int64_t(w.max.x) - w.min.x + 1;
    int64_t             height = int64_t(w.max.y) - w.min.y + 1;
    pixels.planes.resize(part.channels.size());
    for (size_t c = 0; c < part.channels.size(); ++c)
    {
        const ChannelSpec& channel = part.channels[c];
        int                bytes = bytesOf(channel.type);
        int64_t            sw = width / channel.xSampling + 1, sh = height / channel.ySampling + 1;
        std::vector<char>& plane = pixels.planes[c];
        plane.assign(size_t(width * height * bytes), 0);
        for (int64_t y = 0; y < height; ++y)
            for (int64_t x = 0; x < width; ++x)
            {
                uint32_t bits = toBits(channel.type, channel.value(int(w.min.x + x), int(w.min.y + y)));
                std::memcpy(&plane[size_t((y * width + x) * bytes)], &bits, size_t(bytes));
            }
        (void)sw;
        (void)sh;
        char* origin = plane.data() - (int64_t(w.min.y) * width + w.min.x) * bytes;
        pixels.frameBuffer.insert(channel.name,
                                  Imf::Slice(channel.type, origin, size_t(bytes), size_t(bytes * width),
                                             channel.xSampling, channel.ySampling));
    }
}

} // namespace

PixelFunction emptyPixels()
{
    return [](int, int) { return 0.0f; };
}

PixelFunction boxPixels(const Imath::Box2i& b, float value)
{
    return [b, value](int x, int y) { return b.intersects(Imath::V2i(x, y)) ? value : 0.0f; };
}

Imath::Box2i box(int minX, int minY, int maxX, int maxY)
{
    return Imath::Box2i(Imath::V2i(minX, minY), Imath::V2i(maxX, maxY));
}

void writeSinglePart(const std::string& path, const PartSpec& part)
{
    Imf::Header header = makeHeader(part);
    if (!part.name.empty())
        header.setName(part.name);
    PartPixels pixels;
    fillPixels(part, pixels);
    const Imath::Box2i& w = part.dataWindow;
    if (part.tiled)
    {
        Imf::TiledOutputFile file(path.c_str(), header);
        file.setFrameBuffer(pixels.frameBuffer);
        file.writeTiles(0, file.numXTiles() - 1, 0, file.numYTiles() - 1);
    }
    else
    {
        Imf::OutputFile file(path.c_str(), header);
        file.setFrameBuffer(pixels.frameBuffer);
        file.writePixels(w.max.y - w.min.y + 1);
    }
}

void writeMultiPart(const std::string& path, const std::vector<PartSpec>& parts)
{
    std::vector<Imf::Header> headers;
    for (size_t i = 0; i < parts.size(); ++i)
    {
        headers.push_back(makeHeader(parts[i]));
        if (!parts[i].unnamed)
            headers.back().setName(parts[i].name.empty() ? "part" + std::to_string(i) : parts[i].name);
        headers.back().setType(parts[i].tiled ? Imf::TILEDIMAGE : Imf::SCANLINEIMAGE);
    }
    std::vector<PartPixels> pixels(parts.size());
    Imf::MultiPartOutputFile file(path.c_str(), headers.data(), int(headers.size()));
    for (size_t i = 0; i < parts.size(); ++i)
    {
        fillPixels(parts[i], pixels[i]);
        const Imath::Box2i& w = parts[i].dataWindow;
        if (parts[i].tiled)
        {
            Imf::TiledOutputPart out(file, int(i));
            out.setFrameBuffer(pixels[i].frameBuffer);
            out.writeTiles(0, out.numXTiles() - 1, 0, out.numYTiles() - 1);
        }
        else
        {
            Imf::OutputPart out(file, int(i));
            out.setFrameBuffer(pixels[i].frameBuffer);
            out.writePixels(w.max.y - w.min.y + 1);
        }
    }
}

void writeDeepScanline(const std::string& path, int width, int height)
{
    Imf::Header header(width, height);
    header.channels().insert("Z", Imf::Channel(Imf::FLOAT));
    header.setType(Imf::DEEPSCANLINE);
    header.compression() = Imf::ZIPS_COMPRESSION;
    std::vector<unsigned int> counts(size_t(width * height), 1);
    std::vector<float>        depth(size_t(width * height), 2.0f);
    std::vector<float*>       pointers(size_t(width * height));
    for (size_t i = 0; i < pointers.size(); ++i)
        pointers[i] = &depth[i];
    Imf::DeepFrameBuffer frameBuffer;
    frameBuffer.insertSampleCountSlice(
        Imf::Slice(Imf::UINT, reinterpret_cast<char*>(counts.data()), sizeof(unsigned), sizeof(unsigned) * width));
    frameBuffer.insert("Z", Imf::DeepSlice(Imf::FLOAT, reinterpret_cast<char*>(pointers.data()), sizeof(float*),
                                           sizeof(float*) * width, sizeof(float)));
    Imf::DeepScanLineOutputFile file(path.c_str(), header);
    file.setFrameBuffer(frameBuffer);
    file.writePixels(height);
}

float ChannelPixels::at(int x, int y) const
{
    return fromBits(type, bitsAt(x, y));
}

uint32_t ChannelPixels::bitsAt(int x, int y) const
{
    int64_t width = int64_t(window.max.x) - window.min.x + 1;
    return bits[size_t((int64_t(y) - window.min.y) * width + (x - window.min.x))];
}

std::map<std::string, ChannelPixels> readPart(const std::string& path, int partIndex)
{
    Imf::MultiPartInputFile file(path.c_str());
    Imf::InputPart          part(file, partIndex);
    const Imf::Header&      header = part.header();
    const Imath::Box2i&     w = header.dataWindow();
    int64_t                 width = int64_t(w.max.x) - w.min.x + 1;
    int64_t                 height = int64_t(w.max.y) - w.min.y + 1;
    std::map<std::string, ChannelPixels> result;
    std::map<std::string, std::vector<char>> raw;
    Imf::FrameBuffer frameBuffer;
    for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        Imf::PixelType type = it.channel().type;
        int            bytes = bytesOf(type);
        std::vector<char>& plane = raw[it.name()];
        plane.assign(size_t(width * height * bytes), 0);
        frameBuffer.insert(it.name(), Imf::Slice(type, plane.data() - (int64_t(w.min.y) * width + w.min.x) * bytes,
                                                 size_t(bytes), size_t(bytes * width)));
        result[it.name()].type = type;
        result[it.name()].window = w;
    }
    part.setFrameBuffer(frameBuffer);
    part.readPixels(w.min.y, w.max.y);
    for (auto& [name, pixels] : result)
    {
        int                      bytes = bytesOf(pixels.type);
        const std::vector<char>& plane = raw[name];
        pixels.bits.resize(size_t(width * height));
        for (size_t i = 0; i < pixels.bits.size(); ++i)
        {
            uint32_t bits = 0;
            std::memcpy(&bits, &plane[i * size_t(bytes)], size_t(bytes));
            pixels.bits[i] = bits;
        }
    }
    return result;
}

int partCount(const std::string& path)
{
    return Imf::MultiPartInputFile(path.c_str()).parts();
}

Imf::Header readHeader(const std::string& path, int part)
{
    return Imf::MultiPartInputFile(path.c_str()).header(part);
}

float specValue(const ChannelSpec& channel, int x, int y)
{
    return fromBits(channel.type, toBits(channel.type, channel.value(x, y)));
}

namespace {

std::string boxText(const Imath::Box2i& b)
{
    std::ostringstream text;
    text << "(" << b.min.x << "," << b.min.y << ")-(" << b.max.x << "," << b.max.y << ")";
    return text.str();
}

std::string attributeText(const char* name, const Imf::Attribute& attribute)
{
    std::ostringstream text;
    text << name << " (" << attribute.typeName() << ")";
    if (std::strncmp(name, "ZQ/date", 7) == 0)
        return text.str() + " = <date>";
    if (auto* s = dynamic_cast<const Imf::StringAttribute*>(&attribute))
        text << " = \"" << s->value() << "\"";
    else if (auto* i = dynamic_cast<const Imf::IntAttribute*>(&attribute))
        text << " = " << i->value();
    else if (auto* f = dynamic_cast<const Imf::FloatAttribute*>(&attribute))
        text << " = " << f->value();
    else if (auto* v = dynamic_cast<const Imf::FloatVectorAttribute*>(&attribute))
    {
        text << " = [";
        for (size_t k = 0; k < v->value().size(); ++k)
            text << (k ? " " : "") << v->value()[k];
        text << "]";
    }
    else if (auto* v2 = dynamic_cast<const Imf::V2fAttribute*>(&attribute))
        text << " = (" << v2->value().x << " " << v2->value().y << ")";
    else if (auto* v3 = dynamic_cast<const Imf::V3fAttribute*>(&attribute))
        text << " = (" << v3->value().x << " " << v3->value().y << " " << v3->value().z << ")";
    return text.str();
}

const std::set<std::string> kStandardNames = {"channels",          "compression",        "dataWindow",
                                              "displayWindow",     "lineOrder",          "pixelAspectRatio",
                                              "screenWindowCenter", "screenWindowWidth", "name",
                                              "type",              "view",               "tiles",
                                              "chunkCount",        "version"};

} // namespace

std::string dumpExr(const std::string& path)
{
    std::ostringstream      text;
    Imf::MultiPartInputFile file(path.c_str());
    for (int p = 0; p < file.parts(); ++p)
    {
        const Imf::Header& header = file.header(p);
        text << "part " << p << ": name=" << (header.hasName() ? "\"" + header.name() + "\"" : std::string("-"))
             << " type=" << (header.hasType() ? header.type() : std::string("-"))
             << " view=" << (header.hasView() ? header.view() : std::string("-")) << "\n";
        text << "  display " << boxText(header.displayWindow()) << " data " << boxText(header.dataWindow())
             << " compression " << int(header.compression()) << " lineOrder " << int(header.lineOrder())
             << (header.hasTileDescription() ? " tiled" : "") << "\n";
        std::map<std::string, ChannelPixels> pixels;
        bool deep = header.hasType() && (header.type() == Imf::DEEPSCANLINE || header.type() == Imf::DEEPTILE);
        if (!deep)
            pixels = readPart(path, p);
        for (auto it = header.channels().begin(); it != header.channels().end(); ++it)
        {
            uint64_t hash = 1469598103934665603ull;
            for (uint32_t bits : pixels[it.name()].bits)
                hash = (hash ^ bits) * 1099511628211ull;
            text << "  channel " << it.name() << " " << int(it.channel().type) << " hash " << std::hex << hash
                 << std::dec << "\n";
        }
        for (auto it = header.begin(); it != header.end(); ++it)
            if (!kStandardNames.count(it.name()))
                text << "  attr " << attributeText(it.name(), it.attribute()) << "\n";
    }
    return text.str();
}

TempDir::TempDir()
{
    char pattern[] = "/tmp/zqtest.XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("cannot create a temporary directory");
    m_path = std::string(pattern) + "/";
}

TempDir::~TempDir()
{
    std::string command = "chmod -R u+rwx '" + m_path + "' 2>/dev/null; rm -rf '" + m_path + "'";
    if (std::system(command.c_str()) != 0)
    {
    }
}

std::vector<std::string> TempDir::list() const
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(m_path.c_str()))
    {
        while (dirent* entry = readdir(dir))
            if (std::strcmp(entry->d_name, ".") && std::strcmp(entry->d_name, ".."))
                names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

int64_t modificationTimeNs(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return -1;
    return int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
}

std::string samplesDir()
{
    struct stat info;
    return stat(ZQ_SAMPLES_DIR, &info) == 0 && S_ISDIR(info.st_mode) ? std::string(ZQ_SAMPLES_DIR) : std::string();
}

} // namespace zqtest
