// The per-frame list of the farm's named, typed metadata values, stamped into the first part of every written file.
#pragma once

#include "zqshared/zqString8.h"

#include <QString>
#include <cstdint>

/// How a metadata value is held and which attribute type is written for it.
enum class MetadataValueType : uint8_t
{
    Text = 0,        ///< string, held in text
    Int = 1,         ///< int, values[0].i
    Float = 2,       ///< float, values[0].f
    Matrix44f = 3,   ///< 4x4 float matrix, values[0..15].f row by row
    FloatVector = 4, ///< vector of floats, values[0 .. valueCount-1].f
    Vec2f = 5,       ///< 2D float vector, values[0..1].f
    Vec3f = 6,       ///< 3D float vector, values[0..2].f
};

/// One numeric slot of an entry: a signed integer for Int entries, a float otherwise.
union MetadataValue
{
    int32_t i; ///< the value of an Int entry
    float   f; ///< a value of any float entry
};

/// One named, typed metadata value.
struct MetadataAttribute
{
    _zqString8_allSize<75>   name;           ///< attribute name, at most 75 characters
    MetadataValueType        type;           ///< how the value is held
    _zqString8_allSize<5000> text;           ///< value of a Text entry, at most 5000 characters
    uint8_t                  valueCount;     ///< number of values of a FloatVector entry
    MetadataValue            values[16];     ///< the numeric values
};

/// Marker that makes a MetadataAttributeList valid.
constexpr uint32_t kMetadataMarker = 65210;
/// Number of entries of a MetadataAttributeList.
constexpr uint32_t kMetadataCapacity = 410;

/// The fixed-capacity per-frame list: a marker, the number of entries in use and the entries.
struct MetadataAttributeList
{
    uint32_t          marker;                     ///< kMetadataMarker when valid
    uint32_t          count;                      ///< entries in use, from the first
    MetadataAttribute entries[kMetadataCapacity]; ///< the entries
};

/// Clears every entry to zero, sets the marker and a count of 0.
void resetMetadataList(MetadataAttributeList& list);
/// Appends a Text entry with the Latin-1 bytes of name and value, cut at 75 and 5000 characters; false when full.
bool appendTextEntry(MetadataAttributeList& list, const QString& name, const QString& value);
