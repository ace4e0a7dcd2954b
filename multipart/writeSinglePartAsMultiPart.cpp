// The multi-part conversion writer: a single-part frame rewritten as scan-line parts, one per layer and view.
#include "multipart/writeSinglePartAsMultiPart.h"

#include "convert/ChannelBuffer.h"
#include "convert/copyUnchangedFrame.h"
#include "convert/findCropWindow.h"
#include "convert/stampMetadata.h"
#include "convert/writePartsAtomically.h"
#include "driver/consolePrint.h"
#include "multipart/makePartNamesUnique.h"
#include "multipart_crop/channelEntries.h"

#include <ImfChannelList.h>
#include <ImfInputPart.h>
#include <ImfMultiView.h>
#include <ImfStandardAttributes.h>

#include <cstring>
#include <vector>

namespace {

bool isColourChannel(const char* name)
{
    return std::strcmp(name, "R") == 0 || std::strcmp(name, "G") == 0 || std::strcmp(name, "B") == 0 ||
           std::strcmp(name, "A") == 0;
}

} // namespace

ImagePluginResult writeSinglePartAsMultiPart(std::unique_ptr<Imf::MultiPartInputFile> input,
                                             const SinglePartLayout& layout, const QString& inputPath,
                                             const QString& outputPath, const MetadataAttributeList& metadata,
                                             bool verbose, QString* detailText)
{
    auto message = [&](const QString& text) {
        if (verbose)
            consoleMessage(text);
    };
    const Imath::Box2i& dataWindow = layout.dataWindow;
    const int32_t       width = dataWindow.max.x - dataWindow.min.x + 1;
    const int32_t       height = dataWindow.max.y - dataWindow.min.y + 1;
    const Imf::Header&  inputHeader = layout.header;

    // Channel buffers, one per channel in channel-list order, and the input frame buffer over them.
    const Imf::ChannelList&    channels = inputHeader.channels();
    std::vector<ChannelBuffer> buffers;
    for (Imf::ChannelList::ConstIterator it = channels.begin(); it != channels.end(); ++it)
        buffers.emplace_back();
    Imf::FrameBuffer inputFrameBuffer;
    size_t           i = 0;
    for (Imf::ChannelList::ConstIterator it = channels.begin(); it != channels.end(); ++it, ++i)
    {
        ChannelBuffer& buffer = buffers[i];
        buffer.name.set(it.name());
        buffer.pixelType = it.channel().type;
        if (layout.hasCryptomatte && !isColourChannel(it.name()))
            continue;
        allocatePlane(buffer, width, height, dataWindow.min.x, dataWindow.min.y);
        if (buffer.data)
            inputFrameBuffer.insert(it.name(), librarySlice(buffer));
    }
    i = 0;
    for (Imf::ChannelList::ConstIterator it = channels.begin(); it != channels.end(); ++it, ++i)
        if (!(layout.hasCryptomatte && !isColourChannel(it.name())) && !activePlane(buffers[i]))
            return MemoryAllocationFailed;
    releaseUnusedPlaneMemory();

    // Output parts: one per layer and view.
    std::string defaultView;
    if (Imf::hasMultiView(inputHeader) && !Imf::multiView(inputHeader).empty())
        defaultView = Imf::multiView(inputHeader).front();
    std::vector<ChannelEntry> entries;
    collectChannelEntries(*input, entries);
    int32_t partCount = groupChannelsIntoParts(entries, defaultView);

    std::vector<Imf::Header>      headers;
    std::vector<Imf::FrameBuffer> frameBuffers(static_cast<size_t>(partCount));
    if (!layout.hasCryptomatte)
    {
        for (int32_t p = 0; p < partCount; ++p)
        {
            headers.emplace_back(layout.displayWindow, dataWindow, inputHeader.pixelAspectRatio(), Imath::V2f(0, 0),
                                 inputHeader.screenWindowWidth(), Imf::INCREASING_Y, Imf::ZIPS_COMPRESSION);
            headers.back().setName("");
        }
        if (!makePartNamesUnique(headers))
            return UnhandledCError;
        for (size_t k = 0; k < entries.size(); ++k)
        {
            const ChannelEntry& entry = entries[k];
            Imf::Header&        header = headers[size_t(entry.part)];
            header.channels().insert(entry.fullName, Imf::Channel(Imf::PixelType(buffers[k].pixelType), 1, 1, false));
            if (!entry.view.empty())
                header.setView(entry.view);
            frameBuffers[size_t(entry.part)].insert(entry.fullName, librarySlice(buffers[k]));
        }
    }

    // Every pixel is read and the input closed before anything is written, so the output may replace the input.
    try
    {
        Imf::InputPart part(*input, 0);
        part.setFrameBuffer(inputFrameBuffer);
        part.readPixels(dataWindow.min.y, dataWindow.max.y);
    }
    catch (const std::bad_alloc& error)
    {
        *detailText = QString::fromUtf8(error.what());
        return MemoryAllocationFailed;
    }
    catch (const std::exception& error)
    {
        *detailText = QString::fromUtf8(error.what());
        return *detailText == QLatin1String("bad allocation") ? MemoryAllocationFailed : DataError;
    }
    input.reset();

    if (layout.hasCryptomatte)
    {
        message(QStringLiteral("   We do not resave Deep Data or Cryptomatte images."));
        ImagePluginResult ok = Ok;
        return copyUnchangedFrame(inputPath, outputPath, detailText, &ok);
    }

    for (Imf::Header& header : headers)
        header.setType("scanlineimage");
    const bool cropped = true;
    const bool converted = true;
    if (layout.alreadyCropped)
    {
        stampMetadata(headers[0], metadata, &cropped, &converted);
        message(QStringLiteral("openEXR: Saving as EXR2.0 multiPart (was EXR1.0 with cropped or deep data)"));
    }
    else
    {
        CropWindow crop = findCropWindow(height, width, int32_t(buffers.size()), buffers.data());
        float      share = keptShare(crop, layout.displayWindow.max.x - layout.displayWindow.min.x + 1,
                                     layout.displayWindow.max.y - layout.displayWindow.min.y + 1);
        message(cropLine("    EXR convert to multipart + cropped:  ", crop, share));
        Imath::Box2i window(Imath::V2i(dataWindow.min.x + crop.minX, dataWindow.min.y + crop.minY),
                            Imath::V2i(dataWindow.min.x + crop.maxX, dataWindow.min.y + crop.maxY));
        for (Imf::Header& header : headers)
            header.dataWindow() = window;
        stampMetadata(headers[0], metadata, &cropped, &converted);
        message(QStringLiteral("openEXR: Save converted multiPartOutputFile"));
    }
    if (outputPath.isEmpty())
        return Ok;
    return writePartsAtomically(outputPath, headers, frameBuffers, detailText) ? Ok : FailedToSaveFile;
}
