// The multi-part conversion writer: a single-part frame rewritten as scan-line parts, one per layer and view.
#include "conversion/writeSinglePartAsMultiPart.h"

#include "conversion/readFramePixels.h"
#include "frame/FramePixels.h"
#include "frame/collectHeaderAttributes.h"
#include "frame/copyUnchangedFrame.h"
#include "frame/findCropWindow.h"
#include "frame/stampMetadata.h"
#include "frame/writePartsAtomically.h"
#include "conversion/makePartNamesUnique.h"
#include "conversion/channelEntries.h"

#include <ImfChannelList.h>
#include <ImfInputPart.h>
#include <ImfMultiView.h>
#include <ImfStandardAttributes.h>

#include <cstring>
#include <optional>
#include <vector>

namespace {

/// The parts to write: one header and the channels it takes from the frame's pixels per layer and view.
struct OutputParts
{
    std::vector<Imf::Header>    headers;  ///< one per output part
    std::vector<OutputChannels> channels; ///< one per output part
};

bool isColourChannel(const char* name)
{
    return std::strcmp(name, "R") == 0 || std::strcmp(name, "G") == 0 || std::strcmp(name, "B") == 0 ||
           std::strcmp(name, "A") == 0;
}

// The frame's channels in channel-list order; of a Cryptomatte frame only the colour channels are read.
std::vector<FrameChannel> frameChannels(const SinglePartLayout& layout)
{
    std::vector<FrameChannel> channels;
    const Imf::ChannelList&   list = layout.header.channels();
    for (Imf::ChannelList::ConstIterator it = list.begin(); it != list.end(); ++it)
        channels.push_back(FrameChannel{0, it.name(), it.channel().type, !layout.hasIdData || isColourChannel(it.name())});
    return channels;
}

// The output headers and the channels of each; false when the parts cannot be given distinct names.
bool buildOutputParts(const Imf::MultiPartInputFile& input, const SinglePartLayout& layout, OutputParts& parts)
{
    const Imf::Header& inputHeader = layout.header;
    std::string        defaultView;
    if (Imf::hasMultiView(inputHeader) && !Imf::multiView(inputHeader).empty())
        defaultView = Imf::multiView(inputHeader).front();
    std::vector<ChannelEntry> entries;
    collectChannelEntries(input, entries);
    int32_t partCount = groupChannelsIntoParts(entries, defaultView);

    parts.channels.resize(size_t(partCount));
    parts.headers.reserve(size_t(partCount));
    for (int32_t p = 0; p < partCount; ++p)
    {
        parts.headers.push_back(scanlineOutputHeader(inputHeader));
        parts.headers.back().setName("");
    }
    // The input's own attributes, whatever their type, go with the first part.
    if (partCount > 0)
        collectHeaderAttributes(inputHeader, parts.headers[0]);
    if (!makePartNamesUnique(parts.headers))
        return false;
    for (size_t k = 0; k < entries.size(); ++k)
    {
        const ChannelEntry& entry = entries[k];
        Imf::Header&        header = parts.headers[size_t(entry.part)];
        const Imf::Channel* channel = inputHeader.channels().findChannel(entry.fullName);
        header.channels().insert(entry.fullName, Imf::Channel(channel ? channel->type : Imf::HALF, 1, 1, false));
        if (!entry.view.empty())
            header.setView(entry.view);
        parts.channels[size_t(entry.part)].push_back(OutputChannel{entry.fullName, k});
    }
    for (Imf::Header& header : parts.headers)
        header.setType("scanlineimage");
    return true;
}

// Sets the window every part is written with and stamps the first part: the crop window for a full-size frame,
// the input's own window for a frame that is already cropped.
void chooseWrittenWindow(const SinglePartLayout& layout, const Imath::Box2i& crop, OutputParts& parts, FrameJob& job)
{
    // A frame without channels has no part to stamp; its write fails as the library's would, for want of parts.
    if (layout.alreadyCropped)
    {
        if (!parts.headers.empty())
            stampMetadata(parts.headers[0], job.metadata, true, true);
        printMessage(job, QStringLiteral("openEXR: Saving as EXR2.0 multiPart (was EXR1.0 with cropped or deep data)"));
        return;
    }
    const Imath::Box2i& dataWindow = layout.dataWindow;
    printMessage(job, cropLine("    EXR convert to multipart + cropped:  ", crop,
                               keptShare(crop, layout.displayWindow)));
    Imath::Box2i window(dataWindow.min + crop.min, dataWindow.min + crop.max);
    for (Imf::Header& header : parts.headers)
        header.dataWindow() = window;
    if (!parts.headers.empty())
        stampMetadata(parts.headers[0], job.metadata, true, true);
    printMessage(job, QStringLiteral("openEXR: Save converted multiPartOutputFile"));
}

} // namespace

ImagePluginResult writeSinglePartAsMultiPart(FrameFile& frame, const SinglePartLayout& layout, FrameJob& job)
{
    FramePixels pixels(frame, layout.dataWindow, frameChannels(layout));
    if (std::optional<ImagePluginResult> refused = refuseBeyondBudget(pixels, frame.file(), job))
        return *refused;
    OutputParts parts;
    if (!layout.hasIdData && !buildOutputParts(frame.headers(), layout, parts))
        return UnhandledCError;

    // Every pixel is read before anything is written.
    Imath::Box2i crop;
    if (std::optional<ImagePluginResult> failed = readAllPixels(pixels, job, crop))
        return *failed;

    if (layout.hasIdData)
    {
        printMessage(job, QStringLiteral("   We do not resave Deep Data or Cryptomatte images."));
        return copyUnchangedFrame(job, frame.file(), Ok);
    }
    chooseWrittenWindow(layout, crop, parts, job);
    if (job.outputPath.isEmpty())
        return Ok;
    return saveRewrittenFrame(job, frame.file(), parts.headers, pixels, parts.channels);
}
