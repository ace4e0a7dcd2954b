// Layout analysis and conversion decision: what happens to one opened frame.
#include "multipart/convertToMultiPart.h"

#include "convert/collectHeaderAttributes.h"
#include "convert/copyUnchangedFrame.h"
#include "driver/consolePrint.h"
#include "multipart/normalizeChannelName.h"
#include "multipart/writeSinglePartAsMultiPart.h"
#include "multipart_crop/cropMultiPartInput.h"
#include "zqshared/zqStringList.h"

#include <ImfChannelList.h>

#include <initializer_list>
#include <limits>
#include <memory>

namespace {

bool sizesDiffer(const Imath::Box2i& data, const Imath::Box2i& display)
{
    return int64_t(data.max.x) - data.min.x != int64_t(display.max.x) - display.min.x ||
           int64_t(data.max.y) - data.min.y != int64_t(display.max.y) - display.min.y;
}

int64_t saturatingAdd(int64_t a, int64_t b)
{
    return a > std::numeric_limits<int64_t>::max() - b ? std::numeric_limits<int64_t>::max() : a + b;
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

// Bytes of one part's pixels at full data-window size, saturating instead of overflowing.
int64_t partPixelBytes(const Imf::Header& header)
{
    const Imath::Box2i& window = header.dataWindow();
    int64_t             width = int64_t(window.max.x) - window.min.x + 1;
    int64_t             height = int64_t(window.max.y) - window.min.y + 1;
    if (width <= 0 || height <= 0)
        return 0;
    // A plane must be addressable with 32-bit coordinates: anything wider or higher can never be held.
    if (width > std::numeric_limits<int32_t>::max() || height > std::numeric_limits<int32_t>::max())
        return std::numeric_limits<int64_t>::max();
    int64_t bytes = 0;
    for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        int64_t sample = it.channel().type == Imf::HALF ? 2 : 4;
        if (width > std::numeric_limits<int64_t>::max() / height / sample)
            return std::numeric_limits<int64_t>::max();
        bytes = saturatingAdd(bytes, width * height * sample);
    }
    return bytes;
}

// The number of layers of a part's channels: the colour channels R, G, B, A count as one.
int layerCount(const Imf::Header& header, bool& hasCryptomatte)
{
    _zqStringList layers;
    for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        _zqString8_allSize<500> name(it.name());
        normalizeChannelName(name);
        layers.append(name.c_str(), true, true);
        if (name.indexOf("Crypto", 0) >= 0)
            hasCryptomatte = true;
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

} // namespace

ImagePluginResult convertToMultiPart(Imf::MultiPartInputFile* inputFile, const QString& inputPath, QString outputPath,
                                     MetadataAttributeList* metadata, bool* verbose, int64_t* memoryLimitMegabytes,
                                     QString* detailText)
{
    std::unique_ptr<Imf::MultiPartInputFile> input(inputFile);
    auto message = [&](const char* text) {
        if (*verbose)
            consoleMessage(QLatin1String(text));
    };
    auto copyUnchanged = [&](ImagePluginResult code) {
        input.reset();
        return copyUnchangedFrame(inputPath, outputPath, detailText, &code);
    };

    detailText->clear();
    int  parts = input->parts();
    bool multiPart = parts != 1;

    SinglePartLayout layout;
    bool             negativeWindow = false;
    bool             allScanline = true;
    bool             isDeep = false;
    try
    {
        layout.header = input->header(0);
    }
    catch (const std::exception& error)
    {
        *detailText = QString::fromUtf8(error.what());
        return UnsupportedFormat;
    }
    layout.dataWindow = layout.header.dataWindow();
    layout.displayWindow = layout.header.displayWindow();
    layout.alreadyCropped = sizesDiffer(layout.dataWindow, layout.displayWindow);
    negativeWindow = isNegative(layout.dataWindow);
    allScanline = !layout.header.hasTileDescription();
    try
    {
        if (layout.header.hasType())
            isDeep = layout.header.type() == "deepscanline" || layout.header.type() == "deeptile";
    }
    catch (const std::exception& error)
    {
        consolePrint("     Error: Unable to load file: %s\n", error.what());
        isDeep = false;
    }
    if (!input->partComplete(0))
        return WrongFileSize;

    int layers = layerCount(layout.header, layout.hasCryptomatte);
    collectHeaderAttributes(layout.header, *metadata);

    bool subsampled = hasSubsampledChannel(layout.header);
    try
    {
        for (int p = 1; p < parts; ++p)
        {
            const Imf::Header& header = input->header(p);
            allScanline = allScanline && !header.hasTileDescription();
            layout.alreadyCropped = layout.alreadyCropped || sizesDiffer(header.dataWindow(), header.displayWindow());
            negativeWindow = negativeWindow || isNegative(header.dataWindow());
            subsampled = subsampled || hasSubsampledChannel(header);
        }
    }
    catch (const std::exception& error)
    {
        *detailText = QString::fromUtf8(error.what());
        return UnsupportedFormat;
    }
    if (negativeWindow)
        message("    Negative data window not supported for cropping.");

    if ((layout.alreadyCropped && (multiPart || layers == 1)) || isDeep || negativeWindow)
    {
        message("openEXR: Copy only (already cropped and multipart or DeepData or Negative Borders).");
        return copyUnchanged(Ok);
    }
    if (subsampled)
    {
        message("openEXR: Copy only (subsampled channels).");
        return copyUnchanged(Ok);
    }

    int64_t bytes = 0;
    try
    {
        for (int p = 0; p < parts; ++p)
            bytes = saturatingAdd(bytes, partPixelBytes(input->header(p)));
    }
    catch (const std::exception& error)
    {
        *detailText = QString::fromUtf8(error.what());
        return UnsupportedFormat;
    }
    int64_t megabytes = bytes / 1048576;
    if (megabytes > *memoryLimitMegabytes)
    {
        if (*verbose)
            consoleMessage(QStringLiteral("   Loading the image would require %1 MB memory. This application limit is %2 MB")
                               .arg(megabytes)
                               .arg(*memoryLimitMegabytes));
        return copyUnchanged(DimensionsLargerThanBuffer);
    }

    if (multiPart)
        return cropMultiPartInput(*input, inputPath, outputPath, *metadata, detailText, verbose, &isDeep, &allScanline,
                                  &layout.hasCryptomatte);
    return writeSinglePartAsMultiPart(std::move(input), layout, inputPath, outputPath, *metadata, *verbose,
                                      detailText);
}
