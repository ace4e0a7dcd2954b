// The recipe line of zqMakeFrame: parts separated by " | ", each a list of blank-separated tokens.
#include "makeFrame.h"
#include "recipeTables.h"
#include "recipeText.h"

#include <cmath>
#include <set>

namespace zqtools {

namespace {

// What is known of a part while its tokens are read; geometry and checks are settled at its end.
struct PartState
{
    PartRecipe                  part;
    std::pair<int, int>         size{64, 48};
    std::optional<Imath::Box2i> display;
    std::optional<Imath::Box2i> data;
    std::set<std::string>       given;      // settings given so far; only fills and attributes may repeat
    std::vector<std::string>    tileTokens; // tokens that only tiled kinds take
    std::vector<std::string>    deepTokens; // tokens that only deep kinds take
    Damage&                     damage;
    uint32_t                    seedOffset;
};

using Handler = void (*)(const std::string& value, PartState& state);

const std::pair<const char*, PartKind> kKinds[] = {
    {"scanline", PartKind::Scanline}, {"tiled", PartKind::Tiled}, {"mipmap", PartKind::Mipmap},
    {"ripmap", PartKind::Ripmap},     {"deep", PartKind::Deep},   {"deeptiled", PartKind::DeepTiled}};

bool isTiled(PartKind kind)
{
    return kind != PartKind::Scanline && kind != PartKind::Deep;
}

bool isDeep(PartKind kind)
{
    return kind == PartKind::Deep || kind == PartKind::DeepTiled;
}

Imath::Box2i parseBox(const std::string& raw, const std::string& what)
{
    std::vector<int64_t> v = parseIntegers(raw, 4, INT32_MIN, INT32_MAX, what);
    if (v[0] > v[2] || v[1] > v[3])
        throw RecipeError(what + " " + raw + " is empty (x0 > x1 or y0 > y1)");
    return Imath::Box2i(Imath::V2i(int(v[0]), int(v[1])), Imath::V2i(int(v[2]), int(v[3])));
}

FillValue parseFillValue(const std::string& raw, uint32_t seedOffset)
{
    FillValue value;
    if (raw == "noise" || raw.rfind("noise:", 0) == 0)
    {
        value.noise = true;
        value.seed = uint32_t(raw == "noise" ? 0 : parseInteger(raw.substr(6), 0, UINT32_MAX, "noise seed"));
        value.seed += seedOffset;
        return value;
    }
    if (raw == "random" || raw.rfind("random:", 0) == 0)
    {
        value.random = true;
        value.seed = uint32_t(raw == "random" ? 0 : parseInteger(raw.substr(7), 0, UINT32_MAX, "random seed"));
        value.seed += seedOffset;
        return value;
    }
    value.number = parseNumber(raw, "fill value");
    return value;
}

// "[AREA:]VALUE[@CHANNELS]" of fill=, rect= and pixel=; the area is parsed by the caller.
Fill parseFill(const std::string& token, const std::string& valueAndChannels, uint32_t seedOffset)
{
    Fill   fill;
    size_t at = valueAndChannels.rfind('@');
    fill.value = parseFillValue(valueAndChannels.substr(0, at), seedOffset);
    if (at != std::string::npos)
        for (const std::string& selector : splitOn(valueAndChannels.substr(at + 1), '/'))
            fill.selectors.push_back(percentDecode(selector));
    fill.token = token;
    return fill;
}

std::pair<std::string, std::string> splitArea(const std::string& key, const std::string& value)
{
    size_t colon = value.find(':');
    if (colon == std::string::npos)
        throw RecipeError(key + "=" + value + " needs AREA:VALUE");
    return {value.substr(0, colon), value.substr(colon + 1)};
}

void addRect(const std::string& value, PartState& state)
{
    auto [area, rest] = splitArea("rect", value);
    Fill fill = parseFill("rect=" + value, rest, state.seedOffset);
    fill.wholeWindow = false;
    fill.area = parseBox(area, "rect");
    state.part.fills.push_back(fill);
}

void addPixel(const std::string& value, PartState& state)
{
    auto [area, rest] = splitArea("pixel", value);
    Fill                 fill = parseFill("pixel=" + value, rest, state.seedOffset);
    std::vector<int64_t> xy = parseIntegers(area, 2, INT32_MIN, INT32_MAX, "pixel");
    fill.wholeWindow = false;
    fill.area = Imath::Box2i(Imath::V2i(int(xy[0]), int(xy[1])), Imath::V2i(int(xy[0]), int(xy[1])));
    state.part.fills.push_back(fill);
}

void setTile(const std::string& value, PartState& state)
{
    auto [width, height] = parseSize(value, "tile");
    state.part.tileWidth = width;
    state.part.tileHeight = height;
    state.tileTokens.push_back("tile=" + value);
}

void setTruncate(const std::string& value, PartState& state)
{
    if (state.damage.truncate)
        throw RecipeError("truncate= is given twice");
    state.damage.truncate = parseInteger(value, INT64_MIN + 1, INT64_MAX, "truncate");
}

const std::pair<const char*, Handler> kSettings[] = {
    {"size", [](const std::string& v, PartState& s) { s.size = parseSize(v, "size"); }},
    {"display", [](const std::string& v, PartState& s) { s.display = parseBox(v, "display"); }},
    {"data", [](const std::string& v, PartState& s) { s.data = parseBox(v, "data"); }},
    {"kind", [](const std::string& v, PartState& s) { s.part.kind = parseChoice(v, kKinds, "kind"); }},
    {"tile", setTile},
    {"rounding",
     [](const std::string& v, PartState& s) {
         s.part.rounding = parseChoice(v, kRoundingNames, "rounding");
         s.tileTokens.push_back("rounding=" + v);
     }},
    {"compression",
     [](const std::string& v, PartState& s) { s.part.compression = parseChoice(v, kCompressionNames, "compression"); }},
    {"lineorder",
     [](const std::string& v, PartState& s) { s.part.lineOrder = parseChoice(v, kLineOrderNames, "lineorder"); }},
    {"ziplevel", [](const std::string& v, PartState& s) { s.part.zipLevel = int(parseInteger(v, 0, 9, "ziplevel")); }},
    {"channels", [](const std::string& v, PartState& s) { s.part.channels = parseChannelList(v); }},
    {"name", [](const std::string& v, PartState& s) { s.part.name = textValue(v); }},
    {"view", [](const std::string& v, PartState& s) { s.part.view = textValue(v); }},
    {"views",
     [](const std::string& v, PartState& s) {
         s.part.multiView.clear();
         for (const std::string& view : splitOn(v, ','))
             s.part.multiView.push_back(textValue(view));
     }},
    {"fill",
     [](const std::string& v, PartState& s) { s.part.fills.push_back(parseFill("fill=" + v, v, s.seedOffset)); }},
    {"rect", addRect},
    {"pixel", addPixel},
    {"samples",
     [](const std::string& v, PartState& s) {
         s.part.deepSamples = int(parseInteger(v, 0, 65536, "samples"));
         s.deepTokens.push_back("samples=" + v);
     }},
    {"attr", [](const std::string& v, PartState& s) { s.part.attributes.push_back(parseAttribute(v)); }},
    {"truncate", setTruncate},
    {"pixels",
     [](const std::string& v, PartState& s) {
         if (v != "none" && v != "fake")
             throw RecipeError("pixels=" + v + ": give none or fake");
         s.damage.pixels = v == "none" ? PixelData::None : PixelData::Fake;
     }},
};

const std::pair<const char*, Handler> kFlags[] = {
    {"zero-offsets", [](const std::string&, PartState& s) { s.damage.zeroOffsets = true; }},
    {"swap-offsets", [](const std::string&, PartState& s) { s.damage.swapOffsets = true; }},
    {"offset-past-end", [](const std::string&, PartState& s) { s.damage.offsetPastEnd = true; }},
    {"garbage", [](const std::string&, PartState& s) { s.damage.garbage = true; }},
};

// Tokens that add to a part instead of setting something.
const std::set<std::string> kRepeatable = {"fill", "rect", "pixel", "attr"};

template <size_t N>
Handler findHandler(const std::pair<const char*, Handler> (&table)[N], const std::string& key)
{
    for (const auto& [name, handler] : table)
        if (key == name)
            return handler;
    return nullptr;
}

void applyToken(const std::string& token, PartState& state)
{
    if (token.find('|') != std::string::npos)
        throw RecipeError("'" + token + "' holds a '|': parts are separated by \" | \", write %7C inside a value");
    size_t  equals = token.find('=');
    Handler handler =
        equals == std::string::npos ? findHandler(kFlags, token) : findHandler(kSettings, token.substr(0, equals));
    if (!handler)
        throw RecipeError("unknown recipe token '" + token + "'");
    std::string key = token.substr(0, equals);
    if (!kRepeatable.count(key) && !state.given.insert(key).second)
        throw RecipeError("'" + token + "': " + key + " is given twice in one part");
    handler(equals == std::string::npos ? std::string() : token.substr(equals + 1), state);
}

void checkSelectors(const PartRecipe& part)
{
    for (const Fill& fill : part.fills)
        for (const std::string& selector : fill.selectors)
        {
            bool found = false;
            for (const ChannelRecipe& channel : part.channels)
                found = found || fillSelects(Fill{true, {}, {}, {selector}, {}}, channel.name);
            if (!found)
                throw RecipeError("'" + selector + "' in " + fill.token + " names no channel of the part");
        }
}

void checkNumbers(const PartRecipe& part)
{
    for (const Fill& fill : part.fills)
        for (const ChannelRecipe& channel : part.channels)
        {
            double n = fill.value.number;
            bool   whole = n >= 0 && n <= 4294967295.0 && std::floor(n) == n;
            if (!fill.value.noise && !fill.value.random && channel.type == Imf::UINT && fillSelects(fill, channel.name) && !whole)
                throw RecipeError(fill.token + ": uint channel " + channel.name + " takes whole numbers 0..4294967295");
        }
}

void checkSampling(const PartRecipe& part)
{
    const Imath::Box2i& w = part.dataWindow;
    for (const ChannelRecipe& c : part.channels)
        if (w.min.x % c.xSampling || w.min.y % c.ySampling || (int64_t(w.max.x) - w.min.x + 1) % c.xSampling ||
            (int64_t(w.max.y) - w.min.y + 1) % c.ySampling)
            throw RecipeError("the data window's origin and size must be multiples of the sampling of channel " +
                              c.name);
}

// A typo in a size must not have the generator fill the machine's memory.
void checkMemory(const PartRecipe& part)
{
    const Imath::Box2i& w = part.dataWindow;
    double              pixels = (double(w.max.x) - w.min.x + 1) * (double(w.max.y) - w.min.y + 1);
    double              bytes = 0;
    for (const ChannelRecipe& c : part.channels)
        bytes += pixels / (c.xSampling * c.ySampling) * (c.type == Imf::HALF ? 2 : 4) *
                 (isDeep(part.kind) ? 1 + part.deepSamples : 1);
    if (bytes > double(uint64_t(8) << 30))
        throw RecipeError("the part's samples would need " + std::to_string(int64_t(bytes / (1 << 30))) +
                          " GiB; the generator makes at most 8 GiB per part");
}

void checkKind(const PartState& state)
{
    const PartRecipe& part = state.part;
    if (!isTiled(part.kind) && !state.tileTokens.empty())
        throw RecipeError(state.tileTokens.front() + " needs a tiled kind");
    if (!isDeep(part.kind) && !state.deepTokens.empty())
        throw RecipeError(state.deepTokens.front() + " needs kind=deep or kind=deeptiled");
    if (!isTiled(part.kind) && part.lineOrder == Imf::RANDOM_Y)
        throw RecipeError("lineorder=random needs a tiled kind");
    for (const ChannelRecipe& channel : part.channels)
        if (part.kind != PartKind::Scanline && (channel.xSampling != 1 || channel.ySampling != 1))
            throw RecipeError("channel " + channel.name + " is subsampled: only kind=scanline allows that");
    bool deepCompression = part.compression == Imf::NO_COMPRESSION || part.compression == Imf::RLE_COMPRESSION ||
                           part.compression == Imf::ZIPS_COMPRESSION;
    if (isDeep(part.kind) && !deepCompression)
        throw RecipeError("deep parts take compression none, rle or zips");
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
    checkSelectors(part);
    checkNumbers(part);
    checkSampling(part);
    checkKind(state);
    checkMemory(part);
    return part;
}

std::vector<std::vector<std::string>> splitParts(const std::string& line)
{
    std::vector<std::vector<std::string>> parts(1);
    for (const std::string& token : splitOn(line, ' '))
        if (token == "|")
            parts.emplace_back();
        else if (!token.empty())
            parts.back().push_back(token);
    for (const auto& tokens : parts)
        if (tokens.empty())
            throw RecipeError(parts.size() == 1 ? "empty recipe"
                                                : "empty part in the recipe (\" | \" at an end or twice)");
    return parts;
}

} // namespace

bool fillSelects(const Fill& fill, const std::string& channel)
{
    if (fill.selectors.empty())
        return true;
    for (const std::string& selector : fill.selectors)
    {
        bool prefix = !selector.empty() && selector.back() == '*';
        if (prefix ? channel.compare(0, selector.size() - 1, selector, 0, selector.size() - 1) == 0
                   : channel == selector)
            return true;
    }
    return false;
}

FrameRecipe parseRecipe(const std::string& line, uint32_t seedOffset)
{
    FrameRecipe frame;
    for (const std::vector<std::string>& tokens : splitParts(line))
    {
        PartState state{PartRecipe(), {64, 48}, {}, {}, {}, {}, {}, frame.damage, seedOffset};
        for (const std::string& token : tokens)
            applyToken(token, state);
        frame.parts.push_back(finishPart(state));
    }
    // The parts of a multi-part file need names: a part without name= is called after its index.
    if (frame.parts.size() > 1)
        for (size_t i = 0; i < frame.parts.size(); ++i)
            if (!frame.parts[i].name)
                frame.parts[i].name = "part" + std::to_string(i);
    if (frame.damage.pixels != PixelData::Written &&
        (frame.parts.size() != 1 || frame.parts[0].kind != PartKind::Scanline || frame.damage.garbage))
        throw RecipeError("pixels=none and pixels=fake need one scan-line part");
    if (frame.damage.garbage && frame.damage.zeroOffsets)
        throw RecipeError("garbage and zero-offsets together: a garbage file has no offsets");
    return frame;
}

} // namespace zqtools
