// What zqMakeFrame makes: the records of a parsed recipe line, and the steps that parse it and write the frame.
#pragma once

#include <ImathBox.h>
#include <ImfAttribute.h>
#include <ImfCompression.h>
#include <ImfLineOrder.h>
#include <ImfPixelType.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zqtools {

/// A recipe the generator cannot make; the message says why.
struct RecipeError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

/// How a part stores its pixels.
enum class PartKind { Scanline, Tiled, Mipmap, Deep, DeepTiled };

struct ChannelRecipe
{
    std::string    name;
    Imf::PixelType type = Imf::HALF;
    int            xSampling = 1, ySampling = 1;
};

/// One fill= rect= or pixel= of a part, applied after the ones before it.
struct Fill
{
    Imath::Box2i             area{Imath::V2i(INT32_MIN, INT32_MIN), Imath::V2i(INT32_MAX, INT32_MAX)}; ///< absolute, inclusive
    bool                     noise = false;    ///< smooth render-like noise
    bool                     random = false;   ///< white noise: random mantissa bits, finite and never 0
    double                   number = 0;       ///< the value when neither noise nor random
    uint32_t                 seed = 0;         ///< noise seed, frame offset included
    std::vector<std::string> selectors;        ///< channel names or "prefix*"; empty: every channel
    std::string              token;            ///< the recipe token, for messages
};

struct PartRecipe
{
    Imath::Box2i                 displayWindow, dataWindow;
    PartKind                     kind = PartKind::Scanline;
    int                          tileWidth = 32, tileHeight = 32;
    Imf::Compression             compression = Imf::ZIP_COMPRESSION;
    Imf::LineOrder               lineOrder = Imf::INCREASING_Y;
    std::vector<ChannelRecipe>   channels;
    std::optional<std::string>   name, view;
    std::vector<std::string>     multiView;
    std::vector<Fill>            fills;
    int                          deepSamples = 1; ///< samples per covered deep pixel
    std::vector<std::pair<std::string, std::shared_ptr<Imf::Attribute>>> attributes;
};

/// What a single scan-line part holds besides its header: its pixels, nothing (the chunk offset table stays zero, so
/// the part is incomplete), or nothing with every chunk offset aimed at the table itself (it looks complete).
enum class PixelData { Written, None, Fake };

struct FrameRecipe
{
    std::vector<PartRecipe> parts;
    PixelData               pixels = PixelData::Written;
    std::optional<int64_t>  truncate; ///< >= 0: keep that many bytes; < 0: drop that many from the end
    bool                    garbage = false; ///< the file is text, not OpenEXR
    bool                    swapOffsets = false;   ///< the first two chunk offsets swapped
    bool                    offsetPastEnd = false; ///< the first chunk offset points past the file's end
};

/// Parses one recipe line; noise seeds are offset by seedOffset. Throws RecipeError.
FrameRecipe parseRecipe(const std::string& line, uint32_t seedOffset);
/// Whether a fill writes to the channel: no selectors, the name, or a "prefix*" that matches.
bool fillSelects(const Fill& fill, const std::string& channel);
/// A whole number in [low, high]; what names the value in a message.
int64_t parseInteger(const std::string& raw, int64_t low, int64_t high, const std::string& what);
/// Writes the frame to path, then does its damage.
void writeFrame(const std::string& path, const FrameRecipe& frame);

} // namespace zqtools
