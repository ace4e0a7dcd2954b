// Reset and filling of the per-frame metadata list.
#include "convert/MetadataAttributeList.h"

#include <cstring>

void resetMetadataList(MetadataAttributeList& list)
{
    std::memset(static_cast<void*>(&list), 0, sizeof list);
    list.marker = kMetadataMarker;
    list.count = 0;
}

bool appendTextEntry(MetadataAttributeList& list, const QString& name, const QString& value)
{
    if (list.count >= kMetadataCapacity)
        return false;
    MetadataAttribute& entry = list.entries[list.count];
    QByteArray         nameBytes = name.toLatin1();
    QByteArray         valueBytes = value.toLatin1();
    entry.name.set(nameBytes.constData(), size_t(nameBytes.size()));
    entry.type = MetadataValueType::Text;
    entry.text.set(valueBytes.constData(), size_t(valueBytes.size()));
    ++list.count;
    return true;
}
