// The farm's named texts for one frame, stamped into the first part of every written file.
#pragma once

#include <QString>
#include <string>
#include <vector>

/// One named text of the farm, in Latin-1.
struct MetadataAttribute
{
    std::string name; ///< attribute name, at most 75 characters
    std::string text; ///< its value, at most 5000 characters
};

/// The farm's entries for one frame, in the order they are stamped.
struct MetadataAttributeList
{
    std::vector<MetadataAttribute> entries; ///< the entries
};

/// Empties the list.
void resetMetadataList(MetadataAttributeList& list);
/// Appends an entry with the Latin-1 bytes of name and value, cut at 75 and 5000 characters.
void appendTextEntry(MetadataAttributeList& list, const QString& name, const QString& value);
