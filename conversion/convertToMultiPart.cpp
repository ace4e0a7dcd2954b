// Layout analysis and conversion decision: what happens to one opened frame.
#include "conversion/convertToMultiPart.h"

#include "frame/copyUnchangedFrame.h"
#include "conversion/normalizeChannelName.h"
#include "conversion/writeSinglePartAsMultiPart.h"
#include "conversion/cropMultiPartInput.h"
#include "zqshared/zqStringList.h"

#include <ImfChannelList.h>

#include <cstring>
#include <initializer_list>
#include <optional>

namespace {

/// What the headers say about the whole frame.
struct FrameLayout
{
    SinglePartLayout first;                ///< the first part, with alreadyCropped over every part
    int              parts = 1;            ///< number of parts
    bool             negativeWindow = false; ///< some part's data window starts below 0
    bool             allScanline = true;   ///< no part is tiled
    bool             isDeep = false;       ///< the first part holds deep data
    bool             subsampled = false;   ///< some channel has an x or y sampling other than 1
    int              layers = 0;           ///< layers of the first part, the colour channels counting as one
};

bool sizesDiffer(const Imath::Box2i& data, const Imath::Box2i& display)
{
    return int64_t(data.max.x) - data.min.x != int64_t(display.max.x) - display.min.x ||
           int64_t(data.max.y) - data.min.y != int64_t(display.max.y) - display.min.y;
}

bool isNegative(const Imath::Box2i& data)
{
    return data.min.x < 0 || data.min.y < 0;
}

bool hasSubsampledChannel(const Imf::Header& header)
{
    for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
        if (it.channel().xSampling != 1 || it.channel().ySampling != 1)
            return true;
    return false;
}

// An ID manifest belongs to ID channels: such a frame is handled like a Cryptomatte frame and never rewritten.
// (The library reads the attribute 4 bytes too long, so a rewrite could only carry a damaged manifest.)
bool hasIdManifest(const Imf::Header& header)
{
    for (Imf::Header::ConstIterator it = header.begin(); it != header.end(); ++it)
        if (std::strcmp(it.attribute().typeName(), "idmanifest") == 0)
            return true;
    return false;
}

// The number of layers of a part's channels: the colour channels R, G, B, A count as one.
int layerCount(const Imf::Header& header, bool& hasIdData)
{
    _zqStringList layers;
    for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        std::string name = it.name();
        normalizeChannelName(name);
        layers.append(name.c_str(), true, true);
        if (name.find("Crypto") != std::string::npos)
            hasIdData = true;
    }
    std::string colour;
    for (const char* letter : {"R", "G", "B", "A"})
    {
        int at = layers.find(letter, false);
        if (at >= 0)
        {
            colour += letter;
            layers.removeAt(at);
        }
    }
    if (!colour.empty())
        layers.insert(0, colour);
    return layers.count();
}

// The first part's header, windows and kind; UnsupportedFormat when the header cannot be read.
std::optional<ImagePluginResult> readFirstPart(const Imf::MultiPartInputFile& input, FrameJob& job,
                                               FrameLayout& layout)
{
    layout.parts = input.parts();
    try
    {
        layout.first.header = input.header(0);
    }
    catch (const std::exception& error)
    {
        return failWith(job, UnsupportedFormat, error);
    }
    const Imf::Header& header = layout.first.header;
    job.facts.parts = layout.parts;
    job.facts.dataWindow = header.dataWindow();
    layout.first.dataWindow = header.dataWindow();
    layout.first.displayWindow = header.displayWindow();
    layout.first.alreadyCropped = sizesDiffer(layout.first.dataWindow, layout.first.displayWindow);
    layout.negativeWindow = isNegative(layout.first.dataWindow);
    layout.allScanline = !header.hasTileDescription();
    layout.subsampled = hasSubsampledChannel(header);
    layout.first.hasIdData = hasIdManifest(header);
    try
    {
        if (header.hasType())
            layout.isDeep = header.type() == "deepscanline" || header.type() == "deeptile";
    }
    catch (const std::exception& error)
    {
        printText(job, "     Error: Unable to load file: " + QByteArray(error.what()) + "\n");
        layout.isDeep = false;
    }
    return std::nullopt;
}

// Windows, tiling and sampling of the parts after the first; UnsupportedFormat when a header cannot be read.
std::optional<ImagePluginResult> scanOtherParts(const Imf::MultiPartInputFile& input, FrameJob& job,
                                                FrameLayout& layout)
{
    try
    {
        int32_t channels = 0;
        for (int p = 0; p < layout.parts; ++p)
            for (Imf::ChannelList::ConstIterator it = input.header(p).channels().begin();
                 it != input.header(p).channels().end(); ++it)
                ++channels;
        job.facts.channels = channels;
        for (int p = 1; p < layout.parts; ++p)
        {
            const Imf::Header& header = input.header(p);
            layout.allScanline = layout.allScanline && !header.hasTileDescription();
            layout.first.alreadyCropped =
                layout.first.alreadyCropped || sizesDiffer(header.dataWindow(), header.displayWindow());
            layout.negativeWindow = layout.negativeWindow || isNegative(header.dataWindow());
            layout.subsampled = layout.subsampled || hasSubsampledChannel(header);
            layout.first.hasIdData = layout.first.hasIdData || hasIdManifest(header);
        }
    }
    catch (const std::exception& error)
    {
        return failWith(job, UnsupportedFormat, error);
    }
    return std::nullopt;
}

// Frames that are never read: cropped multi-part or single-layer frames, deep frames and negative origins.
bool isCopyOnly(const FrameLayout& layout)
{
    bool multiPart = layout.parts != 1;
    return (layout.first.alreadyCropped && (multiPart || layout.layers == 1)) || layout.isDeep ||
           layout.negativeWindow;
}

} // namespace

ImagePluginResult convertToMultiPart(FrameFile& frame, FrameJob& job)
{
    const Imf::MultiPartInputFile& input = frame.headers();
    auto copyUnchanged = [&](ImagePluginResult code) { return copyUnchangedFrame(job, frame.file(), code); };

    job.detail.clear();
    FrameLayout layout;
    if (std::optional<ImagePluginResult> failed = readFirstPart(input, job, layout))
        return *failed;
    if (!input.partComplete(0))
        return WrongFileSize;
    layout.layers = layerCount(layout.first.header, layout.first.hasIdData);
    if (std::optional<ImagePluginResult> failed = scanOtherParts(input, job, layout))
        return *failed;

    if (layout.negativeWindow)
        printMessage(job, QStringLiteral("    Negative data window not supported for cropping."));
    if (isCopyOnly(layout))
    {
        printMessage(job, QStringLiteral("openEXR: Copy only (already cropped and multipart or DeepData or Negative "
                                         "Borders)."));
        return copyUnchanged(Ok);
    }
    if (layout.subsampled)
    {
        printMessage(job, QStringLiteral("openEXR: Copy only (subsampled channels)."));
        return copyUnchanged(Ok);
    }

    if (layout.parts != 1)
        return cropMultiPartInput(frame, MultiPartFacts{layout.allScanline, layout.first.hasIdData}, job);
    return writeSinglePartAsMultiPart(frame, layout.first, job);
}
