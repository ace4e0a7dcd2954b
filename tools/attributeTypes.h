// The header attribute types as zqMakeFrame writes them and zqExrDump prints them: the library's type name and, for a
// value that is a row of numbers or a named byte, how the file stores it.
#pragma once

#include <cstring>
#include <strings.h>

namespace zqtools {

/// One attribute type; layout is one letter per stored field (i int32, u uint32, f float, d double, b a byte named
/// by names), '/' between two fields that are written n/d; an empty layout is a type with a value of its own.
struct AttributeType
{
    const char* name;
    const char* layout;
    const char* names; ///< blank-separated names of the byte's values 0, 1, ... (b only)
};

inline const AttributeType kAttributeTypes[] = {
    {"int", "i", ""}, {"float", "f", ""}, {"double", "d", ""}, {"v2i", "ii", ""}, {"v2f", "ff", ""}, {"v2d", "dd", ""},
    {"v3i", "iii", ""}, {"v3f", "fff", ""}, {"v3d", "ddd", ""}, {"box2i", "iiii", ""}, {"box2f", "ffff", ""},
    {"m33f", "fffffffff", ""}, {"m33d", "ddddddddd", ""}, {"m44f", "ffffffffffffffff", ""},
    {"m44d", "dddddddddddddddd", ""}, {"chromaticities", "ffffffff", ""}, {"timecode", "uu", ""},
    {"keycode", "iiiiiii", ""}, {"rational", "i/u", ""},
    {"compression", "b", "none rle zips zip piz pxr24 b44 b44a dwaa dwab"},
    {"lineOrder", "b", "increasingY decreasingY randomY"}, {"envmap", "b", "latlong cube"},
    {"deepImageState", "b", "messy sorted nonoverlapping tidy"}, {"string", "", ""}, {"stringvector", "", ""},
    {"floatvector", "", ""}, {"preview", "", ""}, {"tiledesc", "", ""}, {"chlist", "", ""}, {"idmanifest", "", ""}};

/// The type of that name (case-insensitive), else nullptr.
inline const AttributeType* findAttributeType(const char* name)
{
    for (const AttributeType& type : kAttributeTypes)
        if (strcasecmp(type.name, name) == 0)
            return &type;
    return nullptr;
}

/// The bytes a layout letter takes in the file.
inline int fieldBytes(char letter)
{
    return letter == 'd' ? 8 : letter == 'b' ? 1 : letter == '/' ? 0 : 4;
}

} // namespace zqtools
