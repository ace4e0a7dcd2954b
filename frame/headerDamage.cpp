// Attribute sizes of a frame's headers, checked before the library reads them.
#include "frame/headerDamage.h"

#include "zqshared/zqFile.h"

#include <cstdint>
#include <cstring>

namespace {

// Attribute values up to this size are left to the library, which gives its own words for a short file.
constexpr int64_t kLargeAttribute = int64_t(16) << 20;

// The size of a value of each type that the library reads a fixed number of bytes of, whatever the size declared.
int64_t fixedSize(const std::string& type)
{
    static const struct
    {
        const char* type;
        int64_t     size;
    } kSizes[] = {{"box2i", 16},  {"box2f", 16},   {"chromaticities", 32}, {"compression", 1}, {"double", 8},
                  {"envmap", 1},  {"float", 4},    {"int", 4},             {"keycode", 28},    {"lineOrder", 1},
                  {"m33f", 36},   {"m33d", 72},    {"m44f", 64},           {"m44d", 128},      {"rational", 8},
                  {"tiledesc", 9}, {"timecode", 8}, {"v2i", 8},            {"v2f", 8},         {"v2d", 16},
                  {"v3i", 12},    {"v3f", 12},     {"v3d", 24},            {"deepImageState", 1}};
    for (const auto& entry : kSizes)
        if (type == entry.type)
            return entry.size;
    return -1;
}

// Whether a channel list's value of the given bytes, read from the file at at, ends with its last channel: the
// library reads a list until its empty name, past its declared size or short of it.
bool channelListFills(const zqInputFile& file, int64_t at, int64_t bytes)
{
    std::string value(size_t(bytes), '\0');
    if (bytes == 0 || file.readAt(at, value.data(), bytes) != bytes)
        return false;
    size_t next = 0;
    while (next < value.size() && value[next] != 0)
    {
        const size_t name = value.find('\0', next);
        if (name == std::string::npos)
            return false;
        next = name + 1 + 16; // pixel type, linearity and 3 reserved bytes, x and y sampling
    }
    return next + 1 == value.size();
}

// Whether the library reads a value of the type exactly as many bytes as declared, read from the file at at.
bool readsAsDeclared(const zqInputFile& file, const std::string& type, int64_t at, int64_t bytes)
{
    const int64_t fixed = fixedSize(type);
    if (fixed >= 0)
        return bytes == fixed;
    if (type == "floatvector")
        return bytes % 4 == 0;
    if (type == "chlist") // one the file does not hold is left to the library, which finds the file short
        return bytes > kLargeAttribute || bytes > file.identity().size - at || channelListFills(file, at, bytes);
    return true; // read to its declared size, or checked against it by the library
}

// An attribute's name as a message shows it: in quotes, with each control character (a line break would end the
// result line) shown as '?'.
std::string named(std::string name)
{
    for (char& c : name)
        if (uint8_t(c) < 0x20 || c == 0x7f)
            c = '?';
    return "Attribute \"" + name + "\"";
}

// Walks the attributes of the file's headers by their declared sizes, calling visit(name, type, nameAt, valueAt,
// bytes) for each until it returns a text, which is returned; empty where the headers end, or where a size leaves the
// file and the walk cannot go on.
template <typename Visit>
std::string walkAttributes(const zqInputFile& file, bool multiPart, Visit visit)
{
    const int64_t size = file.identity().size;
    int64_t       at = 8;
    // Reads a text ended by a zero byte (at most 255 characters); false at the end or for a longer one.
    auto text = [&](std::string& into) {
        char        piece[256];
        int64_t     got = file.readAt(at, piece, sizeof piece);
        const char* end = got > 0 ? static_cast<const char*>(std::memchr(piece, 0, size_t(got))) : nullptr;
        if (!end)
            return false;
        into.assign(piece, size_t(end - piece));
        at += int64_t(end - piece) + 1;
        return true;
    };
    for (int headers = 0; headers < 1 << 16; ++headers)
    {
        std::string attribute, type;
        for (int64_t nameAt = at; text(attribute) && !attribute.empty(); nameAt = at)
        {
            uint8_t bytes[4];
            if (!text(type) || file.readAt(at, bytes, 4) != 4)
                return std::string();
            int64_t value = int64_t(int32_t(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                                            uint32_t(bytes[3]) << 24));
            at += 4;
            std::string found = visit(attribute, type, nameAt, at, value);
            if (!found.empty() || value < 0 || value > size - at)
                return found;
            at += value;
        }
        // A header ends with an empty name; a multi-part file's list of headers with one more.
        char next = 0;
        if (!multiPart || file.readAt(at, &next, 1) != 1 || next == 0)
            return std::string();
    }
    return std::string();
}

// The file's version flags, or 0 where it has none.
uint8_t versionFlags(const zqInputFile& file)
{
    char version[8];
    return file.readAt(0, version, 8) == 8 ? uint8_t(version[5]) : 0;
}

constexpr uint8_t kNonImageFlag = 0x08;
constexpr uint8_t kMultiPartFlag = 0x10;

} // namespace

std::string headerDamage(const zqInputFile& file)
{
    const int64_t size = file.identity().size;
    return walkAttributes(file, (versionFlags(file) & kMultiPartFlag) != 0,
                          [&](const std::string& attribute, const std::string& type, int64_t, int64_t at,
                              int64_t value) -> std::string {
                              if (value > kLargeAttribute && value > size - at)
                                  return named(attribute) + " claims more bytes than the file holds.";
                              if (value >= 0 && !readsAsDeclared(file, type, at, value))
                                  return named(attribute) + " is not the size it declares.";
                              return std::string();
                          });
}

int64_t typeTheLibraryIgnores(const zqInputFile& file)
{
    const uint8_t flags = versionFlags(file);
    int64_t       found = -1;
    if (!(flags & (kMultiPartFlag | kNonImageFlag)))
        walkAttributes(file, false, [&](const std::string& attribute, const std::string&, int64_t nameAt, int64_t,
                                        int64_t) -> std::string {
            if (attribute == "type")
                found = nameAt;
            return std::string();
        });
    return found;
}
