// Carrying an input header's own attributes over to an output header, whatever their type.
#include "convert/collectHeaderAttributes.h"

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
        // Insert refuses a name held with another type, so whatever the output holds under the name goes first.
        output.erase(it.name());
        output.insert(it.name(), it.attribute());
    }
}

Imf::Header scanlineOutputHeader(const Imf::Header& input)
{
    return Imf::Header(input.displayWindow(), input.dataWindow(), input.pixelAspectRatio(), input.screenWindowCenter(),
                       input.screenWindowWidth(), Imf::INCREASING_Y, Imf::ZIPS_COMPRESSION);
}
