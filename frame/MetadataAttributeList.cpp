// The farm's named texts for one frame.
#include "frame/MetadataAttributeList.h"

void resetMetadataList(MetadataAttributeList& list)
{
    list.entries.clear();
}

void appendTextEntry(MetadataAttributeList& list, const QString& name, const QString& value)
{
    list.entries.push_back(
        MetadataAttribute{name.left(75).toLatin1().toStdString(), value.left(5000).toLatin1().toStdString()});
}
