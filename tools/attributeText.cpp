// Attribute values as zqExrDump prints them: complete, exact and independent of how the file was compressed.
#include "dumpExr.h"

#include <ImfBoxAttribute.h>
#include <ImfChannelListAttribute.h>
#include <ImfChromaticitiesAttribute.h>
#include <ImfCompressionAttribute.h>
#include <ImfDeepImageStateAttribute.h>
#include <ImfDoubleAttribute.h>
#include <ImfEnvmapAttribute.h>
#include <ImfFloatAttribute.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfIDManifestAttribute.h>
#include <ImfIntAttribute.h>
#include <ImfKeyCodeAttribute.h>
#include <ImfLineOrderAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfOpaqueAttribute.h>
#include <ImfPreviewImageAttribute.h>
#include <ImfRationalAttribute.h>
#include <ImfStringAttribute.h>
#include <ImfStringVectorAttribute.h>
#include <ImfTileDescriptionAttribute.h>
#include <ImfTimeCodeAttribute.h>
#include <ImfVecAttribute.h>

#include <cstdio>
#include <optional>
#include <vector>

namespace zqtools {

namespace {

std::string escaped(const std::string& text, bool blankAsHex)
{
    std::string out;
    for (unsigned char c : text)
    {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02x", c);
        out += c == '"'                                              ? "\\\""
               : c == '\\'                                           ? "\\\\"
               : c == '\n'                                           ? "\\n"
               : (c < 0x20 || c >= 0x7f || (blankAsHex && c == ' ')) ? hex
                                                                     : std::string(1, char(c));
    }
    return out;
}

std::string number(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", double(value));
    return text;
}

std::string number(double value)
{
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

std::string number(int value)
{
    return std::to_string(value);
}

template <class... Values>
std::string joined(const Values&... values)
{
    std::string text;
    ((text += (text.empty() ? "" : " ") + number(values)), ...);
    return text;
}

template <class Vec>
std::string vectorText(const Vec& v)
{
    std::string text;
    for (unsigned i = 0; i < Vec::dimensions(); ++i)
        text += (i ? " " : "") + number(v[int(i)]);
    return text;
}

template <class Matrix>
std::string matrixText(const Matrix& m)
{
    std::string text;
    for (unsigned row = 0; row < Matrix::dimensions(); ++row)
        for (unsigned column = 0; column < Matrix::dimensions(); ++column)
            text += (text.empty() ? "" : " ") + number(m[int(row)][int(column)]);
    return text;
}

template <class Box>
std::string boxText(const Box& b)
{
    return vectorText(b.min) + " " + vectorText(b.max);
}

// The name of an enumeration value from its table, or the number when it is not in the table.
template <size_t N>
std::string enumText(int value, const char* const (&names)[N])
{
    return value >= 0 && size_t(value) < N ? names[value] : std::to_string(value);
}

const char* const kCompressions[] = {"none", "rle", "zips", "zip", "piz", "pxr24", "b44", "b44a", "dwaa", "dwab"};
const char* const kLineOrders[] = {"increasingY", "decreasingY", "randomY"};
const char* const kEnvmaps[] = {"latlong", "cube"};
const char* const kDeepStates[] = {"messy", "sorted", "nonoverlapping", "tidy"};
const char* const kLevelModes[] = {"onelevel", "mipmap", "ripmap"};
const char* const kRoundings[] = {"roundDown", "roundUp"};
const char* const kPixelTypes[] = {"uint", "half", "float"};

std::string text(const std::string& v)
{
    return quoted(v);
}
std::string text(const int& v)
{
    return number(v);
}
std::string text(const float& v)
{
    return number(v);
}
std::string text(const double& v)
{
    return number(v);
}
std::string text(const Imath::V2i& v)
{
    return vectorText(v);
}
std::string text(const Imath::V2f& v)
{
    return vectorText(v);
}
std::string text(const Imath::V2d& v)
{
    return vectorText(v);
}
std::string text(const Imath::V3i& v)
{
    return vectorText(v);
}
std::string text(const Imath::V3f& v)
{
    return vectorText(v);
}
std::string text(const Imath::V3d& v)
{
    return vectorText(v);
}
std::string text(const Imath::Box2i& v)
{
    return boxText(v);
}
std::string text(const Imath::Box2f& v)
{
    return boxText(v);
}
std::string text(const Imath::M33f& v)
{
    return matrixText(v);
}
std::string text(const Imath::M33d& v)
{
    return matrixText(v);
}
std::string text(const Imath::M44f& v)
{
    return matrixText(v);
}
std::string text(const Imath::M44d& v)
{
    return matrixText(v);
}
std::string text(const Imf::Compression& v)
{
    return enumText(int(v), kCompressions);
}
std::string text(const Imf::LineOrder& v)
{
    return enumText(int(v), kLineOrders);
}
std::string text(const Imf::Envmap& v)
{
    return enumText(int(v), kEnvmaps);
}
std::string text(const Imf::DeepImageState& v)
{
    return enumText(int(v), kDeepStates);
}
std::string text(const Imf::Rational& v)
{
    return std::to_string(v.n) + "/" + std::to_string(v.d);
}

std::string text(const Imf::Chromaticities& c)
{
    return joined(c.red.x, c.red.y, c.green.x, c.green.y, c.blue.x, c.blue.y, c.white.x, c.white.y);
}

std::string text(const Imf::TimeCode& t)
{
    return std::to_string(t.timeAndFlags()) + " " + std::to_string(t.userData());
}

std::string text(const Imf::KeyCode& k)
{
    return joined(k.filmMfcCode(), k.filmType(), k.prefix(), k.count(), k.perfOffset(), k.perfsPerFrame(),
                  k.perfsPerCount());
}

std::string text(const Imf::StringVector& strings)
{
    std::string out = std::to_string(strings.size());
    for (const std::string& s : strings)
        out += " " + quoted(s);
    return out;
}

std::string text(const Imf::FloatVector& floats)
{
    std::string out = std::to_string(floats.size());
    for (float f : floats)
        out += " " + number(f);
    return out;
}

std::string text(const Imf::PreviewImage& preview)
{
    Fnv1a hash;
    for (size_t i = 0; i < size_t(preview.width()) * preview.height(); ++i)
    {
        const Imf::PreviewRgba& p = preview.pixels()[i];
        unsigned char           rgba[4] = {p.r, p.g, p.b, p.a};
        hash.add(rgba, 4);
    }
    return std::to_string(preview.width()) + "x" + std::to_string(preview.height()) + " " + hash.hex();
}

std::string text(const Imf::TileDescription& t)
{
    return std::to_string(t.xSize) + "x" + std::to_string(t.ySize) + " " + enumText(int(t.mode), kLevelModes) + " " +
           enumText(int(t.roundingMode), kRoundings);
}

std::string text(const Imf::ChannelList& channels)
{
    std::string out;
    size_t      count = 0;
    for (auto it = channels.begin(); it != channels.end(); ++it, ++count)
        out += " " + bareName(it.name()) + " " + enumText(int(it.channel().type), kPixelTypes) + " " +
               std::to_string(it.channel().xSampling) + "," + std::to_string(it.channel().ySampling) +
               (it.channel().pLinear ? " linear" : "");
    return std::to_string(count) + out;
}

// The manifest's uncompressed bytes, so that the text does not depend on the zlib that compressed it.
std::string text(const Imf::CompressedIDManifest& compressed)
{
    // A damaged size would have the library allocate it before decompressing; zlib expands at most ~1032 times.
    if (compressed._uncompressedDataSize == 0 || compressed._compressedDataSize < 0 ||
        compressed._uncompressedDataSize > uint64_t(compressed._compressedDataSize) * 1032 + 1024)
        throw std::runtime_error("idmanifest declares an implausible uncompressed size");
    std::vector<char> bytes;
    Imf::IDManifest(compressed).serialize(bytes);
    Fnv1a hash;
    hash.add(bytes.data(), bytes.size());
    return std::to_string(bytes.size()) + " " + hash.hex();
}

using Formatter = std::optional<std::string> (*)(const Imf::Attribute&);

template <class T>
std::optional<std::string> formatAs(const Imf::Attribute& attribute)
{
    if (auto* typed = dynamic_cast<const Imf::TypedAttribute<T>*>(&attribute))
        return text(typed->value());
    return std::nullopt;
}

const Formatter kFormatters[] = {
    formatAs<std::string>,
    formatAs<int>,
    formatAs<float>,
    formatAs<double>,
    formatAs<Imath::V2i>,
    formatAs<Imath::V2f>,
    formatAs<Imath::V2d>,
    formatAs<Imath::V3i>,
    formatAs<Imath::V3f>,
    formatAs<Imath::V3d>,
    formatAs<Imath::Box2i>,
    formatAs<Imath::Box2f>,
    formatAs<Imath::M33f>,
    formatAs<Imath::M33d>,
    formatAs<Imath::M44f>,
    formatAs<Imath::M44d>,
    formatAs<Imf::Chromaticities>,
    formatAs<Imf::TimeCode>,
    formatAs<Imf::KeyCode>,
    formatAs<Imf::Rational>,
    formatAs<Imf::StringVector>,
    formatAs<Imf::FloatVector>,
    formatAs<Imf::Compression>,
    formatAs<Imf::LineOrder>,
    formatAs<Imf::Envmap>,
    formatAs<Imf::DeepImageState>,
    formatAs<Imf::PreviewImage>,
    formatAs<Imf::TileDescription>,
    formatAs<Imf::ChannelList>,
    formatAs<Imf::CompressedIDManifest>,
};

} // namespace

std::string Fnv1a::hex() const
{
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(m_hash));
    return text;
}

std::string quoted(const std::string& text)
{
    return "\"" + escaped(text, false) + "\"";
}

std::string bareName(const std::string& text)
{
    return escaped(text, true);
}

std::string attributeValueText(const Imf::Attribute& attribute, bool& failed)
{
    try
    {
        for (Formatter format : kFormatters)
            if (std::optional<std::string> value = format(attribute))
                return *value;
    }
    catch (const std::exception& e)
    {
        failed = true;
        return std::string("error: ") + e.what();
    }
    // Types the library does not know are kept as opaque bytes.
    if (auto* opaque = dynamic_cast<const Imf::OpaqueAttribute*>(&attribute))
    {
        Fnv1a hash;
        hash.add(static_cast<const char*>(opaque->data()), size_t(opaque->dataSize()));
        return "opaque " + std::to_string(opaque->dataSize()) + " " + hash.hex();
    }
    failed = true;
    return "error: no text for this attribute type";
}

} // namespace zqtools
