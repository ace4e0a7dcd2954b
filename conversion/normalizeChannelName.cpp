// Channel classification: the layer name a channel belongs to.
#include "conversion/normalizeChannelName.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

namespace {

bool endsWith(const std::string& text, const char* suffix)
{
    size_t n = std::strlen(suffix);
    return n <= text.size() && text.compare(text.size() - n, n, suffix) == 0;
}

// Replaces every occurrence of from, left to right.
void replaceAll(std::string& text, const char* from, const char* to)
{
    size_t length = std::strlen(from), toLength = std::strlen(to);
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + toLength))
        text.replace(at, length, to);
}

} // namespace

void normalizeChannelName(std::string& name)
{
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (!name.empty())
        name[0] = char(std::toupper(static_cast<unsigned char>(name[0])));
    // The name ends with the colour word, but its first occurrence is the one that goes.
    for (const char* suffix : {".red", ".green", ".blue", ".alpha"})
        if (endsWith(name, suffix))
            name.erase(name.find(suffix), std::strlen(suffix));
    // Each suffix is tested once, in this order, so only some double suffixes lose both (N.x.r does, N.y.z not).
    for (const char* suffix : {".r", ".g", ".b", ".a", ".x", ".y", ".z"})
        if (endsWith(name, suffix))
            name.resize(name.size() - 2);
    replaceAll(name, "Packedrgba", "PackedRGBA");
    replaceAll(name, "Packedrgb", "PackedRGB");
    replaceAll(name, "Cryptomatte", "Crypto");
}
