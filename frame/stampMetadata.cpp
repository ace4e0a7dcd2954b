// Stamping of the farm metadata and the collected attributes into an output header.
#include "frame/stampMetadata.h"

#include "frame/collectHeaderAttributes.h"
#include "zqshared/zqTime.h"

#include <ImfIntAttribute.h>
#include <ImfStringAttribute.h>

const char* const kApplicationTag = "zqCropExr";

namespace {

void replace(Imf::Header& header, const char* name, const Imf::Attribute& attribute)
{
    replaceAttribute(header, name, attribute);
}

} // namespace

void stampMetadata(Imf::Header& header, const MetadataAttributeList& list, bool cropped, bool converted)
{
    replace(header, "ZQ/dateWritten", Imf::StringAttribute(_zqTime::currentTime().asZQ8StringMt().c_str()));
    replace(header, "ZQ/dateWrittenInt",
            Imf::IntAttribute(int32_t(uint32_t(uint64_t(_zqTime::currentTime().toLocalTime())))));
    replace(header, "ZQ/application", Imf::StringAttribute(kApplicationTag));
    replace(header, "ZQ/cropped", Imf::StringAttribute(cropped ? "yes" : "no"));
    replace(header, "ZQ/convertedToMultiPart", Imf::StringAttribute(converted ? "yes" : "no"));
    for (const MetadataAttribute& entry : list.entries)
        replace(header, entry.name.c_str(), Imf::StringAttribute(entry.text));
}
