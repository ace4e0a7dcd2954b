// What zqMakeFrame makes: the records of a parsed recipe and the steps that parse, fill, write and damage a frame.
#pragma once

#include <ImathBox.h>
#include <ImfAttribute.h>
#include <ImfCompression.h>
#include <ImfLineOrder.h>
#include <ImfPixelType.h>
#include <ImfTileDescription.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zqtools {

/// How a part stores its pixels.
enum class PartKind
{
    Scanline,
    Tiled,
    Mipmap,
    Ripmap,
    Deep,
    DeepTiled
};

/// One channel of a part.
struct ChannelRecipe
{
    std::string    name;             ///< full channel name
    Imf::PixelType type = Imf::HALF; ///< sample type
    int            xSampling = 1;    ///< x sampling
    int            ySampling = 1;    ///< y sampling
};

/// The value a fill writes.
struct FillValue
{
    bool     noise = false; ///< smooth render-like noise instead of a number
    bool     random = false; ///< white noise: random sample bits, finite and never 0 (does not compress)
    double   number = 0;    ///< the number (when not noise)
    uint32_t seed = 0;      ///< noise seed, frame offset included
};

/// One fill of a part, applied after the ones before it.
struct Fill
{
    bool                     wholeWindow = true; ///< the whole data window, else area
    Imath::Box2i             area;               ///< absolute inclusive area
    FillValue                value;              ///< what is written
    std::vector<std::string> selectors;          ///< channel names or "prefix*"; empty: every channel
    std::string              token;              ///< the recipe token, for messages
};

/// One attribute to insert into a part's header.
struct AttributeRecipe
{
    std::string                     name;      ///< attribute name
    std::shared_ptr<Imf::Attribute> attribute; ///< typed value
};

/// One part of a frame.
struct PartRecipe
{
    Imath::Box2i                 displayWindow;                      ///< display window
    Imath::Box2i                 dataWindow;                         ///< data window
    PartKind                     kind = PartKind::Scanline;          ///< storage
    int                          tileWidth = 32;                     ///< tile width (tiled kinds)
    int                          tileHeight = 32;                    ///< tile height (tiled kinds)
    Imf::LevelRoundingMode       rounding = Imf::ROUND_DOWN;         ///< level size rounding
    Imf::Compression             compression = Imf::ZIP_COMPRESSION; ///< compression
    Imf::LineOrder               lineOrder = Imf::INCREASING_Y;      ///< line order
    std::optional<int>           zipLevel;                           ///< zlib level, else the library's
    std::vector<ChannelRecipe>   channels;                           ///< channels in the order given
    std::optional<std::string>   name;                               ///< part name attribute
    std::optional<std::string>   view;                               ///< view attribute
    std::vector<std::string>     multiView;                          ///< multiView attribute (when not empty)
    std::vector<Fill>            fills;                              ///< fills in the order given
    int                          deepSamples = 1;                    ///< samples per covered deep pixel
    std::vector<AttributeRecipe> attributes;                         ///< extra attributes in the order given
};

/// What a single scan-line part holds besides its header.
enum class PixelData
{
    Written, ///< its pixels
    None,    ///< nothing: the chunk offset table stays zero, so the part is incomplete
    Fake,    ///< nothing, but every chunk offset points at the table itself, so the part looks complete
};

/// Damage done to the frame after it is written.
struct Damage
{
    PixelData              pixels = PixelData::Written; ///< whether pixels are written at all
    std::optional<int64_t> truncate;            ///< >= 0: keep that many bytes; < 0: drop that many from the end
    bool                   zeroOffsets = false; ///< every chunk offset table entry set to 0
    bool                   swapOffsets = false; ///< the first two chunk offset table entries swapped
    bool                   offsetPastEnd = false; ///< the first chunk offset table entry points past the file's end
    bool                   garbage = false;     ///< the file is text, not OpenEXR
};

/// A whole frame.
struct FrameRecipe
{
    std::vector<PartRecipe> parts;  ///< one or more parts
    Damage                  damage; ///< damage after writing
};

/// Parses one recipe line; noise seeds are offset by seedOffset. Throws RecipeError.
FrameRecipe parseRecipe(const std::string& line, uint32_t seedOffset);
/// Whether a fill writes to the channel: no selectors, the name, or a "prefix*" that matches.
bool fillSelects(const Fill& fill, const std::string& channel);
/// Parses "NAME:TYPE:VALUE" of an attr= token. Throws RecipeError.
AttributeRecipe parseAttribute(const std::string& raw);
/// Parses a channels= list with brace expansion. Throws RecipeError.
std::vector<ChannelRecipe> parseChannelList(const std::string& raw);
/// Expands bash-like braces: "a.{R,G}" and "c{00..12}". Throws RecipeError.
std::vector<std::string> expandBraces(const std::string& raw);

/// Sample planes of one part, one per channel in the recipe's order, over the data window.
struct PartPlanes
{
    std::vector<std::vector<char>> planes; ///< samples row-major, in the channel's type and sampling
};
/// Applies a part's fills (checked by parseRecipe) to zeroed planes.
PartPlanes fillPlanes(const PartRecipe& part);

/// Writes a frame to path (single-part or multi-part), without damage.
void writeFrame(const std::string& path, const FrameRecipe& frame);
/// Applies the damage to the written file at path. Throws RecipeError when it cannot.
void damageFrame(const std::string& path, const Damage& damage);

} // namespace zqtools
