// The recipe line of zqMakeFrame: parts separated by " | ", each a list of blank-separated tokens.
#include "attributeTypes.h"
#include "recipe.h"

#include <ImfChannelListAttribute.h>
#include <ImfFloatVectorAttribute.h>
#include <ImfHeader.h>
#include <ImfOpaqueAttribute.h>
#include <ImfPreviewImageAttribute.h>
#include <ImfStdIO.h>
#include <ImfStringAttribute.h>
#include <ImfStringVectorAttribute.h>
#include <ImfTileDescriptionAttribute.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <tuple>

namespace zqtools {

namespace {

// Repeated text and brace expansions are capped so that a typo cannot ask for gigabytes.
constexpr int64_t kMaxRepeatedBytes = 16 << 20;
constexpr size_t  kMaxNames = 100000;

// Splits at every separator outside braces; "" gives one empty piece.
std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> pieces(1);
    int                      depth = 0;
    for (char c : text)
    {
        depth += c == '{' ? 1 : c == '}' ? -1 : 0;
        if (c == separator && depth == 0)
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    if (depth != 0)
        throw RecipeError("unbalanced braces in '" + text + "'");
    return pieces;
}

std::string percentDecode(const std::string& raw)
{
    std::string text;
    for (size_t i = 0; i < raw.size(); ++i)
    {
        if (raw[i] != '%')
            text += raw[i];
        else if (i + 2 < raw.size() && std::isxdigit((unsigned char)raw[i + 1]) &&
                 std::isxdigit((unsigned char)raw[i + 2]))
            text += char(std::stoi(raw.substr(i + 1, 2), nullptr, 16)), i += 2;
        else
            throw RecipeError("bad percent escape in '" + raw + "' (write %25 for a '%')");
    }
    return text;
}

// A text value: "TEXT*N" repeats TEXT N times; the result is percent-decoded.
std::string textValue(const std::string& raw)
{
    size_t star = raw.rfind('*');
    if (star == std::string::npos || star + 1 == raw.size() ||
        raw.find_first_not_of("0123456789", star + 1) != std::string::npos)
        return percentDecode(raw);
    std::string unit = percentDecode(raw.substr(0, star)), text;
    int64_t     count = parseInteger(raw.substr(star + 1), 0, kMaxRepeatedBytes, "repeat count");
    if (int64_t(unit.size()) * count > kMaxRepeatedBytes)
        throw RecipeError("repeated text '" + raw + "' is longer than 16 MiB");
    for (int64_t i = 0; i < count; ++i)
        text += unit;
    return text;
}

double parseNumber(const std::string& raw, const std::string& what)
{
    std::string text = percentDecode(raw);
    char*       end = nullptr;
    double      value = text.empty() ? 0 : std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0')
        throw RecipeError(what + " '" + raw + "' is not a number");
    return value;
}

std::vector<int64_t> parseIntegers(const std::string& raw, size_t count, const std::string& what)
{
    std::vector<std::string> pieces = split(raw, ',');
    if (pieces.size() != count)
        throw RecipeError(what + " '" + raw + "' needs " + std::to_string(count) + " comma-separated whole numbers");
    std::vector<int64_t> values;
    for (const std::string& piece : pieces)
        values.push_back(parseInteger(piece, INT32_MIN, INT32_MAX, what));
    return values;
}

std::pair<int, int> parseSize(const std::string& raw, const std::string& what)
{
    std::vector<std::string> pieces = split(raw, 'x');
    if (pieces.size() != 2)
        throw RecipeError(what + " '" + raw + "' is not WxH");
    return {int(parseInteger(pieces[0], 1, INT32_MAX, what)), int(parseInteger(pieces[1], 1, INT32_MAX, what))};
}

Imath::Box2i parseBox(const std::string& raw, const std::string& what)
{
    std::vector<int64_t> v = parseIntegers(raw, 4, what);
    if (v[0] > v[2] || v[1] > v[3])
        throw RecipeError(what + " " + raw + " is empty (x0 > x1 or y0 > y1)");
    return Imath::Box2i(Imath::V2i(int(v[0]), int(v[1])), Imath::V2i(int(v[2]), int(v[3])));
}

// One of the blank-separated names; the value is its index.
int parseChoice(const std::string& raw, const std::string& names, const std::string& what)
{
    std::vector<std::string> choices = split(names, ' ');
    for (size_t i = 0; i < choices.size(); ++i)
        if (raw == choices[i])
            return int(i);
    throw RecipeError(what + " '" + raw + "' is not one of " + names);
}

// Bash-like braces: "a.{R,G}", and "c{00..12}" zero-padded when an end is written with a leading zero.
std::vector<std::string> expandBraces(const std::string& raw)
{
    size_t open = raw.find('{');
    if (open == std::string::npos)
    {
        if (raw.find('}') != std::string::npos)
            throw RecipeError("unbalanced braces in '" + raw + "'");
        return {raw};
    }
    size_t close = open;
    for (int depth = 0; close < raw.size(); ++close)
        if ((depth += raw[close] == '{' ? 1 : raw[close] == '}' ? -1 : 0) == 0)
            break;
    if (close == raw.size())
        throw RecipeError("unbalanced braces in '" + raw + "'");
    std::string              inner = raw.substr(open + 1, close - open - 1);
    std::vector<std::string> choices = split(inner, ',');
    size_t                   dots = inner.find("..");
    if (choices.size() == 1)
    {
        std::string from = inner.substr(0, dots), to = dots == std::string::npos ? "" : inner.substr(dots + 2);
        if (from.empty() || to.empty() || (from + to).find_first_not_of("0123456789") != std::string::npos)
            throw RecipeError("brace expression {" + inner + "} is neither a list a,b nor a range 0..9");
        int64_t first = parseInteger(from, 0, 1000000000, "range end");
        int64_t last = parseInteger(to, 0, 1000000000, "range end");
        if (std::abs(last - first) >= int64_t(kMaxNames))
            throw RecipeError("range {" + inner + "} is too long");
        bool   padded = (from.size() > 1 && from[0] == '0') || (to.size() > 1 && to[0] == '0');
        size_t width = padded ? std::max(from.size(), to.size()) : 0;
        choices.clear();
        for (int64_t n = first;; n += first <= last ? 1 : -1)
        {
            std::string digits = std::to_string(n);
            choices.push_back(std::string(width > digits.size() ? width - digits.size() : 0, '0') + digits);
            if (n == last)
                break;
        }
    }
    std::vector<std::string> names;
    for (const std::string& choice : choices)
        for (const std::string& rest : expandBraces(choice + raw.substr(close + 1)))
            if (names.push_back(raw.substr(0, open) + rest), names.size() > kMaxNames)
                throw RecipeError("'" + raw + "' expands to more than 100000 names");
    return names;
}

// "name[:type[:xs,ys]]" items separated by commas, except the one between a channel's x and y sampling.
std::vector<ChannelRecipe> parseChannelList(const std::string& raw)
{
    std::vector<std::string> items;
    for (const std::string& piece : split(raw, ','))
        if (!items.empty() && split(items.back(), ':').size() == 3 &&
            split(items.back(), ':')[2].find(',') == std::string::npos)
            items.back() += "," + piece; // "name:type:xs" waits for its ys
        else if (!raw.empty())
            items.push_back(piece);
    std::vector<ChannelRecipe> channels;
    std::set<std::string>      seen;
    for (const std::string& item : items)
    {
        std::vector<std::string> fields = split(item, ':');
        ChannelRecipe            model;
        if (fields.size() > 1)
            model.type = Imf::PixelType(parseChoice(fields[1], "u h f", "channel type in '" + item + "'"));
        if (fields.size() > 2)
        {
            std::vector<int64_t> sampling = parseIntegers(fields[2], 2, "sampling in '" + item + "'");
            if (sampling[0] < 1 || sampling[1] < 1)
                throw RecipeError("sampling in '" + item + "' must be at least 1");
            model.xSampling = int(sampling[0]), model.ySampling = int(sampling[1]);
        }
        if (fields.size() > 3)
            throw RecipeError("channel '" + item + "' is not name[:type[:xs,ys]]");
        for (const std::string& name : expandBraces(fields[0]))
        {
            model.name = textValue(name);
            if (model.name.empty() || !seen.insert(model.name).second)
                throw RecipeError("channel '" + model.name + "' in '" + item + "' is empty or listed twice");
            channels.push_back(model);
        }
    }
    if (channels.size() > kMaxNames)
        throw RecipeError("more than 100000 channels");
    return channels;
}

// The attribute with its value read from the bytes the file would hold.
std::shared_ptr<Imf::Attribute> readBack(std::shared_ptr<Imf::Attribute> attribute, const std::string& bytes)
{
    Imf::StdISStream in;
    in.str(bytes);
    attribute->readValueFrom(in, int(bytes.size()), 2);
    return attribute;
}

// An attribute of a type the library knows, made from its text value: a row of numbers is written to the bytes the
// file stores and read back by the type itself.
std::shared_ptr<Imf::Attribute> makeAttribute(const AttributeType& type, const std::string& value)
{
    std::string name = type.name;
    if (name == "string")
        return std::make_shared<Imf::StringAttribute>(textValue(value));
    if (name == "stringvector" || name == "floatvector")
    {
        Imf::StringVector strings;
        Imf::FloatVector  floats;
        for (const std::string& piece : value.empty() ? std::vector<std::string>() : split(value, ";,"[name[0] == 'f']))
            name[0] == 's' ? strings.push_back(textValue(piece)) : floats.push_back(float(parseNumber(piece, "value")));
        if (name[0] == 's')
            return std::make_shared<Imf::StringVectorAttribute>(strings);
        return std::make_shared<Imf::FloatVectorAttribute>(floats);
    }
    if (name == "preview") // WxH with a gradient, so that its pixels are not all alike
    {
        auto [width, height] = parseSize(value, "preview size");
        if (int64_t(width) * height > (16 << 20))
            throw RecipeError("preview " + value + " is larger than 16 M pixels");
        Imf::PreviewImage image{unsigned(width), unsigned(height)};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                image.pixel(unsigned(x), unsigned(y)) =
                    Imf::PreviewRgba((unsigned char)(x * 255 / std::max(width - 1, 1)),
                                     (unsigned char)(y * 255 / std::max(height - 1, 1)),
                                     (unsigned char)((x ^ y) & 255));
        return std::make_shared<Imf::PreviewImageAttribute>(image);
    }
    if (name == "tiledesc") // WxH[,one|mipmap|ripmap[,down|up]]
    {
        std::vector<std::string> parts = split(value, ',');
        auto [width, height] = parseSize(parts[0], "tile size");
        return std::make_shared<Imf::TileDescriptionAttribute>(Imf::TileDescription(
            unsigned(width), unsigned(height),
            Imf::LevelMode(parts.size() > 1 ? parseChoice(parts[1], "one mipmap ripmap", "level mode") : 0),
            Imf::LevelRoundingMode(parts.size() > 2 ? parseChoice(parts[2], "down up", "level rounding") : 0)));
    }
    if (name == "chlist")
    {
        Imf::ChannelList list;
        for (const ChannelRecipe& c : parseChannelList(value))
            list.insert(c.name, Imf::Channel(c.type, c.xSampling, c.ySampling));
        return std::make_shared<Imf::ChannelListAttribute>(list);
    }
    if (!*type.layout)
        throw RecipeError("attributes of type " + name + " are not made here");
    std::string              bytes, layout = type.layout;
    std::vector<std::string> pieces = split(value, layout.find('/') != std::string::npos ? '/' : ',');
    layout.erase(std::remove(layout.begin(), layout.end(), '/'), layout.end());
    if (pieces.size() != layout.size())
        throw RecipeError(name + " value '" + value + "' needs " + std::to_string(layout.size()) + " values");
    for (size_t i = 0; i < layout.size(); ++i)
    {
        uint64_t raw = 0;
        if (layout[i] == 'b') // an enumeration's name; a line order as in lineorder=, without the "Y"
        {
            std::string word = name == "lineOrder" ? pieces[i] + "Y" : pieces[i];
            raw = uint64_t(parseChoice(word, type.names, name));
        }
        else if (layout[i] == 'f' || layout[i] == 'd')
        {
            double number = parseNumber(pieces[i], name + " value");
            float  single = float(number);
            layout[i] == 'f' ? std::memcpy(&raw, &single, 4) : std::memcpy(&raw, &number, 8);
        }
        else
            raw = uint64_t(layout[i] == 'u' ? parseInteger(pieces[i], 0, UINT32_MAX, name + " value")
                                            : parseInteger(pieces[i], INT32_MIN, INT32_MAX, name + " value"));
        bytes.append(reinterpret_cast<const char*>(&raw), size_t(fieldBytes(layout[i]))); // little-endian host
    }
    Imf::staticInitialize(); // registers the library's attribute types
    return readBack(std::shared_ptr<Imf::Attribute>(Imf::Attribute::newAttribute(type.name)), bytes);
}

// "NAME:TYPE:VALUE" of attr=, TYPE case-insensitive; "NAME:opaque:TYPENAME:HEX" is a type the library does not know.
std::pair<std::string, std::shared_ptr<Imf::Attribute>> parseAttribute(const std::string& raw)
{
    size_t first = raw.find(':');
    size_t second = first == std::string::npos ? first : raw.find(':', first + 1);
    if (second == std::string::npos || first == 0)
        throw RecipeError("attr=" + raw + " is not attr=NAME:TYPE:VALUE");
    std::string name = textValue(raw.substr(0, first)), type = raw.substr(first + 1, second - first - 1);
    std::string value = raw.substr(second + 1);
    if (strcasecmp(type.c_str(), "opaque") == 0)
    {
        size_t      colon = value.find(':');
        std::string hex = colon == std::string::npos ? "" : value.substr(colon + 1), bytes;
        if (colon == std::string::npos || colon == 0 || hex.size() % 2 ||
            hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            throw RecipeError("opaque attribute '" + value + "' is not TYPENAME:HEX");
        for (size_t i = 0; i < hex.size(); i += 2)
            bytes += char(std::stoi(hex.substr(i, 2), nullptr, 16));
        auto attribute = std::make_shared<Imf::OpaqueAttribute>(textValue(value.substr(0, colon)).c_str());
        return {name, readBack(attribute, bytes)};
    }
    const AttributeType* known = findAttributeType(type.c_str());
    if (!known)
        throw RecipeError("attribute type '" + type + "' in attr=" + raw + " is not known");
    return {name, makeAttribute(*known, value)};
}

// "VALUE[@CHANNELS]" of fill=, rect= and pixel= (after the area).
Fill parseFill(const std::string& token, const std::string& valueAndChannels, uint32_t seedOffset)
{
    Fill        fill;
    size_t      at = valueAndChannels.rfind('@');
    std::string value = valueAndChannels.substr(0, at);
    fill.token = token;
    if (at != std::string::npos)
        for (const std::string& selector : split(valueAndChannels.substr(at + 1), '/'))
            fill.selectors.push_back(percentDecode(selector));
    for (const char* word : {"noise", "random"})
        if (value == word || value.rfind(std::string(word) + ":", 0) == 0)
        {
            (word[0] == 'n' ? fill.noise : fill.random) = true;
            fill.seed = seedOffset;
            if (value != word)
                fill.seed += uint32_t(parseInteger(value.substr(value.find(':') + 1), 0, UINT32_MAX, "seed"));
            return fill;
        }
    fill.number = parseNumber(value, "fill value");
    return fill;
}

// What is known of a part while its tokens are read; geometry and checks are settled at its end.
struct PartState
{
    PartRecipe                  part;
    std::pair<int, int>         size{64, 48};
    std::optional<Imath::Box2i> display, data;
    std::set<std::string>       given; // settings given so far; only fills and attributes may repeat
    FrameRecipe&                frame;
    uint32_t                    seedOffset;
};

void addAreaFill(const std::string& key, const std::string& value, PartState& s)
{
    size_t colon = value.find(':');
    if (colon == std::string::npos)
        throw RecipeError(key + "=" + value + " needs AREA:VALUE");
    Fill fill = parseFill(key + "=" + value, value.substr(colon + 1), s.seedOffset);
    if (key == "rect")
        fill.area = parseBox(value.substr(0, colon), "rect");
    else
    {
        std::vector<int64_t> xy = parseIntegers(value.substr(0, colon), 2, "pixel");
        fill.area = Imath::Box2i(Imath::V2i(int(xy[0]), int(xy[1])), Imath::V2i(int(xy[0]), int(xy[1])));
    }
    s.part.fills.push_back(fill);
}

const char kKinds[] = "scanline tiled mipmap deep deeptiled";
const char kCompressions[] = "none rle zips zip piz pxr24 b44 b44a dwaa dwab";

using Text = const std::string&;
using Handler = void (*)(Text value, PartState& s);

const std::map<std::string, Handler> kTokens = {
    {"size", [](Text v, PartState& s) { s.size = parseSize(v, "size"); }},
    {"display", [](Text v, PartState& s) { s.display = parseBox(v, "display"); }},
    {"data", [](Text v, PartState& s) { s.data = parseBox(v, "data"); }},
    {"kind", [](Text v, PartState& s) { s.part.kind = PartKind(parseChoice(v, kKinds, "kind")); }},
    {"tile", [](Text v, PartState& s) { std::tie(s.part.tileWidth, s.part.tileHeight) = parseSize(v, "tile"); }},
    {"compression",
     [](Text v, PartState& s) { s.part.compression = Imf::Compression(parseChoice(v, kCompressions, "compression")); }},
    {"lineorder",
     [](Text v, PartState& s) { s.part.lineOrder = Imf::LineOrder(parseChoice(v, "increasing decreasing", "order")); }},
    {"channels", [](Text v, PartState& s) { s.part.channels = parseChannelList(v); }},
    {"name", [](Text v, PartState& s) { s.part.name = textValue(v); }},
    {"view", [](Text v, PartState& s) { s.part.view = textValue(v); }},
    {"views",
     [](Text v, PartState& s) {
         for (const std::string& view : split(v, ','))
             s.part.multiView.push_back(textValue(view));
     }},
    {"fill", [](Text v, PartState& s) { s.part.fills.push_back(parseFill("fill=" + v, v, s.seedOffset)); }},
    {"rect", [](Text v, PartState& s) { addAreaFill("rect", v, s); }},
    {"pixel", [](Text v, PartState& s) { addAreaFill("pixel", v, s); }},
    {"samples", [](Text v, PartState& s) { s.part.deepSamples = int(parseInteger(v, 0, 65536, "samples")); }},
    {"attr", [](Text v, PartState& s) { s.part.attributes.push_back(parseAttribute(v)); }},
    {"truncate",
     [](Text v, PartState& s) { s.frame.truncate = parseInteger(v, INT64_MIN + 1, INT64_MAX, "truncate"); }},
    {"pixels", [](Text v, PartState& s) { s.frame.pixels = PixelData(1 + parseChoice(v, "none fake", "pixels")); }},
    {"garbage", [](Text, PartState& s) { s.frame.garbage = true; }},
    {"swap-offsets", [](Text, PartState& s) { s.frame.swapOffsets = true; }},
    {"offset-past-end", [](Text, PartState& s) { s.frame.offsetPastEnd = true; }},
};

void applyToken(const std::string& token, PartState& state)
{
    if (token.find('|') != std::string::npos)
        throw RecipeError("'" + token + "' holds a '|': parts are separated by \" | \", write %7C inside a value");
    size_t      equals = token.find('=');
    std::string key = token.substr(0, equals);
    auto        handler = kTokens.find(key);
    bool        flag = key == "garbage" || key == "swap-offsets" || key == "offset-past-end";
    if (handler == kTokens.end() || (equals == std::string::npos) != flag)
        throw RecipeError("unknown recipe token '" + token + "'");
    if (key != "fill" && key != "rect" && key != "pixel" && key != "attr" && !state.given.insert(key).second)
        throw RecipeError("'" + token + "': " + key + " is given twice in one part");
    handler->second(equals == std::string::npos ? std::string() : token.substr(equals + 1), state);
}

bool isDeep(PartKind kind)
{
    return kind == PartKind::Deep || kind == PartKind::DeepTiled;
}

PartRecipe finishPart(PartState& state)
{
    PartRecipe&  part = state.part;
    Imath::Box2i sized(Imath::V2i(0, 0), Imath::V2i(state.size.first - 1, state.size.second - 1));
    part.displayWindow = state.display.value_or(sized);
    part.dataWindow = state.data.value_or(sized);
    if (!state.given.count("channels"))
        part.channels = parseChannelList("R,G,B,A");
    if (!state.given.count("compression") && isDeep(part.kind))
        part.compression = Imf::ZIPS_COMPRESSION; // deep data has no 16-line zip
    bool tiled = part.kind == PartKind::Tiled || part.kind == PartKind::Mipmap || part.kind == PartKind::DeepTiled;
    if (!tiled && state.given.count("tile"))
        throw RecipeError("tile= needs a tiled kind");
    if (!isDeep(part.kind) && state.given.count("samples"))
        throw RecipeError("samples= needs kind=deep or kind=deeptiled");
    if (isDeep(part.kind) && part.compression > Imf::ZIPS_COMPRESSION)
        throw RecipeError("deep parts take compression none, rle or zips");
    const Imath::Box2i& w = part.dataWindow;
    double              pixels = (double(w.max.x) - w.min.x + 1) * (double(w.max.y) - w.min.y + 1), bytes = 0;
    for (const ChannelRecipe& c : part.channels)
    {
        if ((c.xSampling != 1 || c.ySampling != 1) && part.kind != PartKind::Scanline)
            throw RecipeError("channel " + c.name + " is subsampled: only kind=scanline allows that");
        if (w.min.x % c.xSampling || w.min.y % c.ySampling || (int64_t(w.max.x) - w.min.x + 1) % c.xSampling ||
            (int64_t(w.max.y) - w.min.y + 1) % c.ySampling)
            throw RecipeError("the data window's origin and size must be multiples of the sampling of " + c.name);
        bytes += pixels / (c.xSampling * c.ySampling) * (c.type == Imf::HALF ? 2 : 4) *
                 (isDeep(part.kind) ? 1 + part.deepSamples : 1);
    }
    // A typo in a size must not have the generator fill the machine's memory.
    if (bytes > double(uint64_t(8) << 30))
        throw RecipeError("the part's samples would need " + std::to_string(int64_t(bytes / (1 << 30))) +
                          " GiB; the generator makes at most 8 GiB per part");
    for (const Fill& fill : part.fills)
    {
        for (const std::string& selector : fill.selectors)
            if (std::none_of(part.channels.begin(), part.channels.end(), [&](const ChannelRecipe& c) {
                    return fillSelects(Fill{{}, false, false, 0, 0, {selector}, {}}, c.name);
                }))
                throw RecipeError("'" + selector + "' in " + fill.token + " names no channel of the part");
        bool whole = fill.number >= 0 && fill.number <= 4294967295.0 && std::floor(fill.number) == fill.number;
        for (const ChannelRecipe& channel : part.channels)
            if (!fill.noise && !fill.random && channel.type == Imf::UINT && fillSelects(fill, channel.name) && !whole)
                throw RecipeError(fill.token + ": uint channel " + channel.name + " takes whole numbers 0..4294967295");
    }
    return part;
}

} // namespace

int64_t parseInteger(const std::string& raw, int64_t low, int64_t high, const std::string& what)
{
    std::string text = percentDecode(raw);
    char*       end = nullptr;
    errno = 0;
    long long value = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0' || errno == ERANGE)
        throw RecipeError(what + " '" + raw + "' is not a whole number");
    if (value < low || value > high)
        throw RecipeError(what + " " + text + " is outside " + std::to_string(low) + ".." + std::to_string(high));
    return value;
}

bool fillSelects(const Fill& fill, const std::string& channel)
{
    for (const std::string& s : fill.selectors)
        if (!s.empty() && s.back() == '*' ? channel.compare(0, s.size() - 1, s, 0, s.size() - 1) == 0 : channel == s)
            return true;
    return fill.selectors.empty();
}

FrameRecipe parseRecipe(const std::string& line, uint32_t seedOffset)
{
    FrameRecipe                           frame;
    std::vector<std::vector<std::string>> parts(1);
    for (const std::string& token : split(line, ' '))
        if (token == "|")
            parts.emplace_back();
        else if (!token.empty())
            parts.back().push_back(token);
    for (const std::vector<std::string>& tokens : parts)
    {
        if (tokens.empty())
            throw RecipeError(parts.size() == 1 ? "empty recipe" : "an empty part (\" | \" at an end or twice)");
        PartState state{PartRecipe(), {64, 48}, {}, {}, {}, frame, seedOffset};
        for (const std::string& token : tokens)
            applyToken(token, state);
        frame.parts.push_back(finishPart(state));
    }
    // The parts of a multi-part file need names: a part without name= is called after its index.
    for (size_t i = 0; frame.parts.size() > 1 && i < frame.parts.size(); ++i)
        if (!frame.parts[i].name)
            frame.parts[i].name = "part" + std::to_string(i);
    bool offsets = frame.pixels != PixelData::Written || frame.swapOffsets || frame.offsetPastEnd;
    if (offsets && (frame.parts.size() != 1 || frame.parts[0].kind != PartKind::Scanline || frame.garbage))
        throw RecipeError("pixels=, swap-offsets and offset-past-end need one scan-line part");
    return frame;
}

} // namespace zqtools
