// Damage done to a written frame: garbage instead of OpenEXR, zeroed chunk offset tables, truncation.
#include "makeFrame.h"
#include "recipeText.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace zqtools {

namespace {

constexpr uint32_t kTiledFlag = 0x200;
constexpr uint32_t kMultiPartFlag = 0x1000;

// What the chunk count of a part depends on, read from its raw header.
struct RawPart
{
    int64_t      chunkCount = -1;
    Imath::Box2i dataWindow;
    int          compression = 0;
    bool         tiled = false;
    uint32_t     tileWidth = 1, tileHeight = 1;
    int          levelMode = 0, rounding = 0;
};

// Little-endian reading of the header bytes; running off the end is an error.
class ByteReader
{
public:
    explicit ByteReader(const std::string& bytes) : m_bytes(bytes) {}

    size_t  position() const { return m_pos; }
    uint8_t byte() { return uint8_t(take(1)[0]); }
    uint8_t peek() const
    {
        if (m_pos >= m_bytes.size())
            throw RecipeError("the written file ends inside its header");
        return uint8_t(m_bytes[m_pos]);
    }
    uint32_t    uint32() { return uint32_t(little(4)); }
    uint64_t    uint64() { return little(8); }
    std::string text()
    {
        size_t      end = m_bytes.find('\0', m_pos);
        std::string value = take(end == std::string::npos ? m_bytes.size() + 1 - m_pos : end - m_pos);
        m_pos += 1;
        return value;
    }
    void skip(size_t n) { take(n); }

private:
    std::string take(size_t n)
    {
        if (n > m_bytes.size() - m_pos)
            throw RecipeError("the written file ends inside its header");
        m_pos += n;
        return m_bytes.substr(m_pos - n, n);
    }
    uint64_t little(int n)
    {
        std::string b = take(size_t(n));
        uint64_t    value = 0;
        for (int i = n - 1; i >= 0; --i)
            value = value << 8 | uint8_t(b[size_t(i)]);
        return value;
    }

    const std::string& m_bytes;
    size_t             m_pos = 0;
};

void readAttribute(ByteReader& in, const std::string& name, RawPart& part)
{
    std::string type = in.text();
    uint32_t    size = in.uint32();
    size_t      start = in.position();
    if (name == "chunkCount" && type == "int")
        part.chunkCount = int32_t(in.uint32());
    else if (name == "dataWindow" && type == "box2i")
        for (int* v : {&part.dataWindow.min.x, &part.dataWindow.min.y, &part.dataWindow.max.x, &part.dataWindow.max.y})
            *v = int32_t(in.uint32());
    else if (name == "compression" && type == "compression")
        part.compression = in.byte();
    else if (name == "tiles" && type == "tiledesc")
    {
        part.tiled = true;
        part.tileWidth = in.uint32();
        part.tileHeight = in.uint32();
        uint8_t mode = in.byte();
        part.levelMode = mode & 0xf;
        part.rounding = mode >> 4;
    }
    in.skip(size - (in.position() - start));
}

// The headers of the file; the reader is left at the first chunk offset table.
std::vector<RawPart> readHeaders(ByteReader& in)
{
    in.skip(4);
    uint32_t             version = in.uint32();
    bool                 multiPart = (version & kMultiPartFlag) != 0;
    std::vector<RawPart> parts;
    do
    {
        parts.emplace_back();
        parts.back().tiled = (version & kTiledFlag) != 0;
        for (std::string name = in.text(); !name.empty(); name = in.text())
            readAttribute(in, name, parts.back());
    } while (multiPart && in.peek() != 0);
    if (multiPart)
        in.skip(1); // the empty header that ends the list
    return parts;
}

int linesPerChunk(int compression)
{
    // none, rle, zips, zip, piz, pxr24, b44, b44a, dwaa, dwab
    const int lines[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
    return compression >= 0 && compression < 10 ? lines[compression] : 1;
}

int roundedLog2(int64_t size, int rounding)
{
    int log = 0;
    while ((int64_t(1) << (log + 1)) <= size)
        ++log;
    return rounding == 1 && (int64_t(1) << log) < size ? log + 1 : log;
}

int64_t levelSize(int64_t size, int level, int rounding)
{
    int64_t scaled = rounding == 1 ? (size + (int64_t(1) << level) - 1) >> level : size >> level;
    return std::max<int64_t>(scaled, 1);
}

int64_t tilesIn(int64_t width, int64_t height, const RawPart& part)
{
    return (width + part.tileWidth - 1) / part.tileWidth * ((height + part.tileHeight - 1) / part.tileHeight);
}

int64_t chunkCount(const RawPart& part)
{
    if (part.chunkCount >= 0)
        return part.chunkCount;
    int64_t width = int64_t(part.dataWindow.max.x) - part.dataWindow.min.x + 1;
    int64_t height = int64_t(part.dataWindow.max.y) - part.dataWindow.min.y + 1;
    if (!part.tiled)
        return (height + linesPerChunk(part.compression) - 1) / linesPerChunk(part.compression);
    int xLevels =
        part.levelMode == 0 ? 1 : roundedLog2(part.levelMode == 1 ? std::max(width, height) : width, part.rounding) + 1;
    int     yLevels = part.levelMode == 2 ? roundedLog2(height, part.rounding) + 1 : 1;
    int64_t count = 0;
    for (int ly = 0; ly < yLevels; ++ly)
        for (int lx = 0; lx < xLevels; ++lx)
        {
            int levelY = part.levelMode == 1 ? lx : ly;
            count += tilesIn(levelSize(width, lx, part.rounding), levelSize(height, levelY, part.rounding), part);
        }
    return count;
}

// Points every chunk offset of a frame written without pixels at the offset table itself, the last bytes of the
// file, so that the frame looks complete while holding no pixel.
void fakeOffsets(std::string& bytes)
{
    ByteReader           in(bytes);
    std::vector<RawPart> parts = readHeaders(in);
    int64_t              entries = chunkCount(parts.at(0));
    uint64_t             table = in.position();
    if (table + uint64_t(entries) * 8 != bytes.size())
        throw RecipeError("pixels=fake: the offset table is not where it was expected");
    for (int64_t i = 0; i < entries; ++i)
        for (int b = 0; b < 8; ++b)
            bytes[size_t(table + uint64_t(i) * 8 + uint64_t(b))] = char((table >> (8 * b)) & 0xff);
}

// Where the chunk offset tables start and end, after checking that the tables were found where the first chunk starts.
std::pair<size_t, size_t> offsetTables(const std::string& bytes)
{
    ByteReader           in(bytes);
    std::vector<RawPart> parts = readHeaders(in);
    size_t               tableStart = in.position();
    int64_t              entries = 0;
    for (const RawPart& part : parts)
        entries += chunkCount(part);
    uint64_t firstChunk = UINT64_MAX;
    for (int64_t i = 0; i < entries; ++i)
        firstChunk = std::min(firstChunk, in.uint64());
    if (firstChunk != in.position())
        throw RecipeError("the chunk offset tables are not where they were expected");
    return {tableStart, in.position()};
}

// Sets every chunk offset to 0, swaps the first two, or points the first past the file's end.
void damageOffsets(std::string& bytes, const Damage& damage)
{
    auto [start, end] = offsetTables(bytes);
    if (damage.zeroOffsets)
        std::fill(bytes.begin() + std::ptrdiff_t(start), bytes.begin() + std::ptrdiff_t(end), '\0');
    if (damage.swapOffsets && end - start >= 16)
        std::swap_ranges(bytes.begin() + std::ptrdiff_t(start), bytes.begin() + std::ptrdiff_t(start + 8),
                         bytes.begin() + std::ptrdiff_t(start + 8));
    if (damage.offsetPastEnd)
        for (size_t b = 0; b < 8; ++b)
            bytes[start + b] = char(((bytes.size() + 1000) >> (8 * b)) & 0xff);
}

std::string garbageText()
{
    std::string text = "zqMakeFrame garbage: plain text where a frame was expected";
    text.resize(63, '.');
    return text + "\n";
}

} // namespace

void damageFrame(const std::string& path, const Damage& damage)
{
    bool offsets = damage.zeroOffsets || damage.swapOffsets || damage.offsetPastEnd;
    if (!damage.garbage && !offsets && !damage.truncate && damage.pixels != PixelData::Fake)
        return;
    std::string bytes = garbageText();
    if (!damage.garbage)
    {
        std::ifstream in(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    if (damage.pixels == PixelData::Fake)
        fakeOffsets(bytes);
    if (offsets)
        damageOffsets(bytes, damage);
    if (damage.truncate)
    {
        int64_t keep = *damage.truncate >= 0 ? *damage.truncate : int64_t(bytes.size()) + *damage.truncate;
        if (keep < 0 || keep >= int64_t(bytes.size()))
            throw RecipeError("truncate=" + std::to_string(*damage.truncate) + " does not shorten the file of " +
                              std::to_string(bytes.size()) + " bytes");
        bytes.resize(size_t(keep));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

} // namespace zqtools
