// Stamping of the farm metadata and the collected attributes into an output header.
#include "convert/stampMetadata.h"

#include "convert/collectHeaderAttributes.h"
#include "zqshared/zqTime.h"

#include <ImfFloatAttribute.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfIntAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfStringAttribute.h>
#include <ImfVecAttribute.h>

const char* const kApplicationTag = "zqCropExr";

namespace {

void replace(Imf::Header& header, const char* name, const Imf::Attribute& attribute)
{
    replaceAttribute(header, name, attribute);
}

void insertEntry(Imf::Header& header, const MetadataAttribute& entry)
{
    const char*          name = entry.name.c_str();
    const MetadataValue* v = entry.values;
    switch (entry.type)
    {
    case MetadataValueType::Text: replace(header, name, Imf::StringAttribute(entry.text.c_str())); break;
    case MetadataValueType::Int: replace(header, name, Imf::IntAttribute(v[0].i)); break;
    case MetadataValueType::Float: replace(header, name, Imf::FloatAttribute(v[0].f)); break;
    case MetadataValueType::Matrix44f:
        replace(header, name, Imf::M44fAttribute(Imath::M44f(v[0].f, v[1].f, v[2].f, v[3].f, v[4].f, v[5].f, v[6].f,
                                                             v[7].f, v[8].f, v[9].f, v[10].f, v[11].f, v[12].f,
                                                             v[13].f, v[14].f, v[15].f)));
        break;
    case MetadataValueType::FloatVector:
    {
        std::vector<float> values;
        for (int i = 0; i < std::min<int>(entry.valueCount, 16); ++i)
            values.push_back(v[i].f);
        replace(header, name, Imf::FloatVectorAttribute(values));
        break;
    }
    case MetadataValueType::Vec2f: replace(header, name, Imf::V2fAttribute(Imath::V2f(v[0].f, v[1].f))); break;
    case MetadataValueType::Vec3f: replace(header, name, Imf::V3fAttribute(Imath::V3f(v[0].f, v[1].f, v[2].f))); break;
    }
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
    if (list.marker != kMetadataMarker)
        return;
    for (uint32_t i = 0; i < list.count && i < kMetadataCapacity; ++i)
        if (uint8_t(list.entries[i].type) <= 6)
            insertEntry(header, list.entries[i]);
}
