// Carrying an input header's own attributes over to an output header, whatever their type.
#include "frame/collectHeaderAttributes.h"

#include <OpenEXRConfig.h>

#include <cstring>

namespace {

const char* const kSetByTheRewrite[] = {"channels", "compression", "dataWindow", "displayWindow", "lineOrder", "tiles",
                                        "type",     "name",        "view",       "version",       "chunkCount", "multiView"};

} // namespace

bool isSetByTheRewrite(const char* attributeName)
{
    for (const char* name : kSetByTheRewrite)
        if (std::strcmp(attributeName, name) == 0)
            return true;
    return false;
}

void collectHeaderAttributes(const Imf::Header& input, Imf::Header& output)
{
    for (Imf::Header::ConstIterator it = input.begin(); it != input.end(); ++it)
    {
        if (isSetByTheRewrite(it.name()))
            continue;
        replaceAttribute(output, it.name(), it.attribute());
    }
}

void replaceAttribute(Imf::Header& header, const char* name, const Imf::Attribute& attribute)
{
    // Insert copies the value into an attribute of the same type, and refuses a name held with another type: that
    // one goes first. OpenEXR 3.1's erase drops the attribute from the header without freeing it.
    Imf::Header::Iterator held = header.find(name);
    if (held != header.end() && std::strcmp(held.attribute().typeName(), attribute.typeName()) != 0)
    {
        Imf::Attribute* dropped = &held.attribute();
        header.erase(name);
#if OPENEXR_VERSION_MAJOR == 3 && OPENEXR_VERSION_MINOR == 1
        delete dropped;
#else
        (void)dropped;
#endif
    }
    header.insert(name, attribute);
}

Imf::Header scanlineOutputHeader(const Imf::Header& input)
{
    return Imf::Header(input.displayWindow(), input.dataWindow(), input.pixelAspectRatio(), input.screenWindowCenter(),
                       input.screenWindowWidth(), Imf::INCREASING_Y, Imf::ZIPS_COMPRESSION);
}
