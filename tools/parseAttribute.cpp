// The attr=NAME:TYPE:VALUE token of a recipe: one attribute of any type OpenEXR knows, or an opaque one.
// There is no idmanifest: OpenEXR 3.1 writes its size field 4 bytes longer than it reads it back, so such a file
// reads with the next attribute's name cut.
#include "makeFrame.h"
#include "recipeTables.h"
#include "recipeText.h"

#include <ImfBoxAttribute.h>
#include <ImfChannelListAttribute.h>
#include <ImfChromaticitiesAttribute.h>
#include <ImfCompressionAttribute.h>
#include <ImfDeepImageStateAttribute.h>
#include <ImfDoubleAttribute.h>
#include <ImfEnvmapAttribute.h>
#include <ImfFloatAttribute.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfIntAttribute.h>
#include <ImfKeyCodeAttribute.h>
#include <ImfLineOrderAttribute.h>
#include <ImfMatrixAttribute.h>
#include <ImfOpaqueAttribute.h>
#include <ImfPreviewImageAttribute.h>
#include <ImfRationalAttribute.h>
#include <ImfStdIO.h>
#include <ImfStringAttribute.h>
#include <ImfStringVectorAttribute.h>
#include <ImfTileDescriptionAttribute.h>
#include <ImfTimeCodeAttribute.h>
#include <ImfVecAttribute.h>

#include <strings.h>

namespace zqtools {

namespace {

using AttributePtr = std::shared_ptr<Imf::Attribute>;
using Maker = AttributePtr (*)(const std::string& value);

template <class T>
AttributePtr typed(const T& value)
{
    return std::make_shared<Imf::TypedAttribute<T>>(value);
}

std::vector<int> ints(const std::string& value, size_t count)
{
    std::vector<int> result;
    for (int64_t n : parseIntegers(value, count, INT32_MIN, INT32_MAX, "attribute value"))
        result.push_back(int(n));
    return result;
}

std::vector<double> numbers(const std::string& value, size_t count)
{
    return parseNumbers(value, count, "attribute value");
}

template <class Matrix>
AttributePtr matrix(const std::string& value)
{
    constexpr int       n = Matrix::dimensions();
    std::vector<double> v = numbers(value, n * n);
    Matrix              m;
    for (int row = 0; row < n; ++row)
        for (int column = 0; column < n; ++column)
            m[row][column] = typename Matrix::BaseType(v[size_t(row * n + column)]);
    return typed(m);
}

template <class Vec, size_t N>
AttributePtr floatVector(const std::string& value)
{
    std::vector<double> v = numbers(value, N);
    Vec                 vec;
    for (size_t i = 0; i < N; ++i)
        vec[int(i)] = typename Vec::BaseType(v[i]);
    return typed(vec);
}

template <class Vec, size_t N>
AttributePtr intVector(const std::string& value)
{
    std::vector<int> v = ints(value, N);
    Vec              vec;
    for (size_t i = 0; i < N; ++i)
        vec[int(i)] = v[i];
    return typed(vec);
}

AttributePtr box2i(const std::string& value)
{
    std::vector<int> v = ints(value, 4);
    return typed(Imath::Box2i(Imath::V2i(v[0], v[1]), Imath::V2i(v[2], v[3])));
}

AttributePtr box2f(const std::string& value)
{
    std::vector<double> v = numbers(value, 4);
    return typed(Imath::Box2f(Imath::V2f(float(v[0]), float(v[1])), Imath::V2f(float(v[2]), float(v[3]))));
}

AttributePtr chromaticities(const std::string& value)
{
    std::vector<double> v = numbers(value, 8);
    auto                point = [&](size_t i) { return Imath::V2f(float(v[i]), float(v[i + 1])); };
    return typed(Imf::Chromaticities(point(0), point(2), point(4), point(6)));
}

AttributePtr timecode(const std::string& value)
{
    std::vector<int64_t> v = parseIntegers(value, 2, 0, UINT32_MAX, "timecode (timeAndFlags,userData)");
    return typed(Imf::TimeCode(unsigned(v[0]), unsigned(v[1])));
}

AttributePtr keycode(const std::string& value)
{
    std::vector<int> v = ints(value, 7);
    return typed(Imf::KeyCode(v[0], v[1], v[2], v[3], v[4], v[5], v[6]));
}

AttributePtr rational(const std::string& value)
{
    std::vector<std::string> parts = splitOn(value, '/');
    if (parts.size() != 2)
        throw RecipeError("rational '" + value + "' is not n/d");
    int64_t       n = parseInteger(parts[0], INT32_MIN, INT32_MAX, "rational numerator");
    int64_t       d = parseInteger(parts[1], 0, UINT32_MAX, "rational denominator");
    Imf::Rational r;
    r.n = int(n);
    r.d = unsigned(d);
    return typed(r);
}

AttributePtr stringVector(const std::string& value)
{
    Imf::StringVector strings;
    if (!value.empty())
        for (const std::string& piece : splitOn(value, ';'))
            strings.push_back(textValue(piece));
    return typed(strings);
}

AttributePtr floatVectorList(const std::string& value)
{
    Imf::FloatVector floats;
    if (!value.empty())
        for (const std::string& piece : splitOn(value, ','))
            floats.push_back(float(parseNumber(piece, "floatvector element")));
    return typed(floats);
}

// A preview of WxH with a gradient, so that its pixels are not all alike.
AttributePtr preview(const std::string& value)
{
    auto [width, height] = parseSize(value, "preview size");
    if (int64_t(width) * height > (16 << 20))
        throw RecipeError("preview " + value + " is larger than 16 M pixels");
    Imf::PreviewImage image{unsigned(width), unsigned(height)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixel(unsigned(x), unsigned(y)) = Imf::PreviewRgba((unsigned char)(x * 255 / std::max(width - 1, 1)),
                                                                     (unsigned char)(y * 255 / std::max(height - 1, 1)),
                                                                     (unsigned char)((x ^ y) & 255), 255);
    return typed(image);
}

// "WxH[,one|mipmap|ripmap[,down|up]]"
AttributePtr tileDescription(const std::string& value)
{
    std::vector<std::string> parts = splitOn(value, ',');
    if (parts.size() > 3)
        throw RecipeError("tiledesc '" + value + "' is not WxH[,one|mipmap|ripmap[,down|up]]");
    auto [width, height] = parseSize(parts[0], "tile size");
    Imf::LevelMode mode = parts.size() > 1 ? parseChoice(parts[1], kLevelModeNames, "level mode") : Imf::ONE_LEVEL;
    Imf::LevelRoundingMode rounding =
        parts.size() > 2 ? parseChoice(parts[2], kRoundingNames, "level rounding") : Imf::ROUND_DOWN;
    return typed(Imf::TileDescription(unsigned(width), unsigned(height), mode, rounding));
}

AttributePtr channelList(const std::string& value)
{
    Imf::ChannelList list;
    for (const ChannelRecipe& c : parseChannelList(value))
        list.insert(c.name, Imf::Channel(c.type, c.xSampling, c.ySampling));
    return typed(list);
}

// "TYPENAME:HEX": an attribute of a type the library does not know, holding those bytes.
AttributePtr opaque(const std::string& value)
{
    size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0)
        throw RecipeError("opaque attribute '" + value + "' is not TYPENAME:HEX");
    std::string hex = value.substr(colon + 1);
    if (hex.size() % 2 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        throw RecipeError("opaque bytes '" + hex + "' are not pairs of hex digits");
    std::string bytes;
    for (size_t i = 0; i < hex.size(); i += 2)
        bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
    auto             attribute = std::make_shared<Imf::OpaqueAttribute>(textValue(value.substr(0, colon)).c_str());
    Imf::StdISStream in;
    in.str(bytes);
    attribute->readValueFrom(in, int(bytes.size()), 2);
    return attribute;
}

const std::pair<const char*, Maker> kMakers[] = {
    {"string", [](const std::string& v) { return typed(textValue(v)); }},
    {"int", [](const std::string& v) { return typed(ints(v, 1)[0]); }},
    {"float", [](const std::string& v) { return typed(float(numbers(v, 1)[0])); }},
    {"double", [](const std::string& v) { return typed(numbers(v, 1)[0]); }},
    {"v2i", intVector<Imath::V2i, 2>},
    {"v2f", floatVector<Imath::V2f, 2>},
    {"v2d", floatVector<Imath::V2d, 2>},
    {"v3i", intVector<Imath::V3i, 3>},
    {"v3f", floatVector<Imath::V3f, 3>},
    {"v3d", floatVector<Imath::V3d, 3>},
    {"box2i", box2i},
    {"box2f", box2f},
    {"m33f", matrix<Imath::M33f>},
    {"m33d", matrix<Imath::M33d>},
    {"m44f", matrix<Imath::M44f>},
    {"m44d", matrix<Imath::M44d>},
    {"chromaticities", chromaticities},
    {"timecode", timecode},
    {"keycode", keycode},
    {"rational", rational},
    {"stringvector", stringVector},
    {"floatvector", floatVectorList},
    {"compression", [](const std::string& v) { return typed(parseChoice(v, kCompressionNames, "compression")); }},
    {"lineOrder", [](const std::string& v) { return typed(parseChoice(v, kLineOrderNames, "line order")); }},
    {"envmap", [](const std::string& v) { return typed(parseChoice(v, kEnvmapNames, "envmap")); }},
    {"deepImageState", [](const std::string& v) { return typed(parseChoice(v, kDeepStateNames, "deep state")); }},
    {"preview", preview},
    {"tiledesc", tileDescription},
    {"chlist", channelList},
    {"opaque", opaque},
};

} // namespace

AttributeRecipe parseAttribute(const std::string& raw)
{
    size_t first = raw.find(':');
    size_t second = first == std::string::npos ? first : raw.find(':', first + 1);
    if (second == std::string::npos)
        throw RecipeError("attr=" + raw + " is not attr=NAME:TYPE:VALUE");
    AttributeRecipe attribute{textValue(raw.substr(0, first)), nullptr};
    if (attribute.name.empty())
        throw RecipeError("attr=" + raw + " has an empty name");
    std::string type = raw.substr(first + 1, second - first - 1);
    std::string value = raw.substr(second + 1);
    for (const auto& [name, make] : kMakers)
        if (strcasecmp(type.c_str(), name) == 0)
        {
            try
            {
                attribute.attribute = make(value);
            }
            catch (const RecipeError&)
            {
                throw;
            }
            catch (const std::exception& e)
            {
                throw RecipeError("attr=" + raw + ": " + e.what());
            }
            return attribute;
        }
    throw RecipeError("attribute type '" + type + "' in attr=" + raw + " is not known");
}

} // namespace zqtools
