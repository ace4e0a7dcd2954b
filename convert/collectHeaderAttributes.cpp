// Collection of an input header's own attributes into the metadata list, so the output can carry them.
#include "convert/collectHeaderAttributes.h"

#include <ImfFloatAttribute.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfIntAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfStringAttribute.h>
#include <ImfVecAttribute.h>

#include <cstring>

namespace {

const char* const kSkippedNames[] = {"compression", "channels",          "lineOrder",        "screenWindowWidth",
                                     "screenWindowCenter", "pixelAspectRatio", "dataWindow", "displayWindow",
                                     "tiles",       "type",              "version"};

bool isSkipped(const _zqString8_allSize<75>& name)
{
    for (const char* skipped : kSkippedNames)
        if (name.isEqual(skipped))
            return true;
    return name.indexOf("chunkCount") >= 0;
}

void setFloats(MetadataAttribute& entry, const float* values, int count)
{
    for (int i = 0; i < count; ++i)
        entry.values[i].f = values[i];
}

// Fills entry from attribute; false when its type is not one the list keeps.
bool fillEntry(MetadataAttribute& entry, const Imf::Attribute& attribute)
{
    _zqString8_allSize<100> typeName(attribute.typeName());
    if (typeName.isEqual(Imf::StringAttribute::staticTypeName()))
    {
        const std::string& text = static_cast<const Imf::StringAttribute&>(attribute).value();
        entry.type = MetadataValueType::Text;
        entry.text.set(text.data(), text.size());
    }
    else if (typeName.isEqual(Imf::FloatAttribute::staticTypeName()))
    {
        entry.type = MetadataValueType::Float;
        entry.values[0].f = static_cast<const Imf::FloatAttribute&>(attribute).value();
    }
    else if (typeName.isEqual(Imf::V2fAttribute::staticTypeName()))
    {
        const Imath::V2f& v = static_cast<const Imf::V2fAttribute&>(attribute).value();
        entry.type = MetadataValueType::Vec2f;
        setFloats(entry, &v.x, 2);
    }
    else if (typeName.isEqual(Imf::V3fAttribute::staticTypeName()))
    {
        const Imath::V3f& v = static_cast<const Imf::V3fAttribute&>(attribute).value();
        entry.type = MetadataValueType::Vec3f;
        setFloats(entry, &v.x, 3);
    }
    else if (typeName.isEqual(Imf::FloatVectorAttribute::staticTypeName()))
    {
        const std::vector<float>& v = static_cast<const Imf::FloatVectorAttribute&>(attribute).value();
        int                       count = int(std::min<size_t>(v.size(), 10));
        entry.type = MetadataValueType::FloatVector;
        setFloats(entry, v.data(), count);
        entry.valueCount = uint8_t(count);
    }
    else if (typeName.isEqual(Imf::IntAttribute::staticTypeName()))
    {
        entry.type = MetadataValueType::Int;
        entry.values[0].i = static_cast<const Imf::IntAttribute&>(attribute).value();
    }
    else if (typeName.isEqual(Imf::M44fAttribute::staticTypeName()))
    {
        const Imath::M44f& m = static_cast<const Imf::M44fAttribute&>(attribute).value();
        entry.type = MetadataValueType::Matrix44f;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c)
                entry.values[4 * r + c].f = m[r][c];
    }
    else
        return false;
    return true;
}

} // namespace

void collectHeaderAttributes(const Imf::Header& header, MetadataAttributeList& list)
{
    for (Imf::Header::ConstIterator it = header.begin(); it != header.end(); ++it)
    {
        if (list.count >= kMetadataCollectLimit)
            continue;
        MetadataAttribute& entry = list.entries[list.count];
        entry.name.set(it.name());
        if (isSkipped(entry.name))
            continue;
        if (fillEntry(entry, it.attribute()))
            ++list.count;
    }
}
