// Channel classification: the layer name a channel belongs to.
#include "multipart/normalizeChannelName.h"

#include <cctype>
#include <initializer_list>

void normalizeChannelName(_zqString8_allSize<500>& name)
{
    name.makeLower();
    if (name.length > 0)
        name.data[0] = char(std::toupper(static_cast<unsigned char>(name.data[0])));
    for (const char* suffix : {".red", ".green", ".blue", ".alpha"})
        if (name.endsWith(suffix))
            name.remove(suffix);
    // Each suffix is tested once, in this order, so only some double suffixes lose both (N.x.r does, N.y.z not).
    for (const char* suffix : {".r", ".g", ".b", ".a", ".x", ".y", ".z"})
        if (name.endsWith(suffix))
            name.setLength(name.length - 2);
    name.replace("Packedrgba", "PackedRGBA");
    name.replace("Packedrgb", "PackedRGB");
    name.replace("Cryptomatte", "Crypto");
}
