// The multi-part conversion writer: a single-part frame rewritten as scan-line parts, one per layer and view.
#include "conversion/writeSinglePartAsMultiPart.h"

#include "frame/ChannelBuffer.h"
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

/// The parts to write: one header and one frame buffer per layer and view, the frame buffers pointing into the
/// planes that the input is read into.
struct OutputParts
{
    std::vector<Imf::Header>      headers;      ///< one per output part
    std::vector<Imf::FrameBuffer> frameBuffers; ///< one per output part
};

bool isColourChannel(const char* name)
{
    return std::strcmp(name, "R") == 0 || std::strcmp(name, "G") == 0 || std::strcmp(name, "B") == 0 ||
           std::strcmp(name, "A") == 0;
}

// Whether a channel is read: every channel, or of a Cryptomatte frame only the colour channels.
bool isRead(const SinglePartLayout& layout, const char* name)
{
    return !layout.hasIdData || isColourChannel(name);
}

// One buffer per channel in channel-list order, a plane for each channel that is read, and the read targets over
// them; false when a plane cannot be had.
bool allocateChannelBuffers(const SinglePartLayout& layout, std::vector<ChannelBuffer>& buffers,
                            std::vector<PlaneTarget>& targets)
{
    const Imath::Box2i&     window = layout.dataWindow;
    const Imf::ChannelList& channels = layout.header.channels();
    for (Imf::ChannelList::ConstIterator it = channels.begin(); it != channels.end(); ++it)
    {
        buffers.push_back(ChannelBuffer{it.name(), it.channel().type, 0, 0, {}});
        if (!isRead(layout, it.name()))
            continue;
        if (!allocatePlane(buffers.back(), window.max.x - window.min.x + 1, window.max.y - window.min.y + 1))
            return false;
        targets.push_back(planeTarget(buffers.back()));
    }
    releaseUnusedPlaneMemory();
    return true;
}

// The output headers and frame buffers; false when the parts cannot be given distinct names.
bool buildOutputParts(const Imf::MultiPartInputFile& input, const SinglePartLayout& layout,
                      const std::vector<ChannelBuffer>& buffers, OutputParts& parts)
{
    const Imf::Header& inputHeader = layout.header;
    std::string        defaultView;
    if (Imf::hasMultiView(inputHeader) && !Imf::multiView(inputHeader).empty())
        defaultView = Imf::multiView(inputHeader).front();
    std::vector<ChannelEntry> entries;
    collectChannelEntries(input, entries);
    int32_t partCount = groupChannelsIntoParts(entries, defaultView);

    parts.frameBuffers.resize(size_t(partCount));
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
        header.channels().insert(entry.fullName, Imf::Channel(buffers[k].type, 1, 1, false));
        if (!entry.view.empty())
            header.setView(entry.view);
        parts.frameBuffers[size_t(entry.part)].insert(entry.fullName, librarySlice(buffers[k], layout.dataWindow));
    }
    for (Imf::Header& header : parts.headers)
        header.setType("scanlineimage");
    return true;
}

// Reads the whole part into the planes; DataError (or MemoryAllocationFailed) with the library's text on failure.
std::optional<ImagePluginResult> readPixels(FrameFile& frame, const std::vector<PlaneTarget>& targets, FrameJob& job)
{
    try
    {
        frame.readPart(0, targets);
    }
    catch (const std::exception& error)
    {
        return failWith(job, readFailureCode(error), error);
    }
    return std::nullopt;
}

// Sets the window every part is written with and stamps the first part: the crop window for a full-size frame,
// the input's own window for a frame that is already cropped.
void chooseWrittenWindow(const SinglePartLayout& layout, const std::vector<ChannelBuffer>& buffers,
                         OutputParts& parts, FrameJob& job)
{
    if (layout.alreadyCropped)
    {
        stampMetadata(parts.headers[0], job.metadata, true, true);
        printMessage(job, QStringLiteral("openEXR: Saving as EXR2.0 multiPart (was EXR1.0 with cropped or deep data)"));
        return;
    }
    const Imath::Box2i& dataWindow = layout.dataWindow;
    Imath::Box2i crop =
        findCropWindow(dataWindow.max.y - dataWindow.min.y + 1, dataWindow.max.x - dataWindow.min.x + 1, buffers);
    printMessage(job, cropLine("    EXR convert to multipart + cropped:  ", crop,
                               keptShare(crop, layout.displayWindow)));
    Imath::Box2i window(dataWindow.min + crop.min, dataWindow.min + crop.max);
    for (Imf::Header& header : parts.headers)
        header.dataWindow() = window;
    stampMetadata(parts.headers[0], job.metadata, true, true);
    printMessage(job, QStringLiteral("openEXR: Save converted multiPartOutputFile"));
}

} // namespace

ImagePluginResult writeSinglePartAsMultiPart(FrameFile& frame, const SinglePartLayout& layout, FrameJob& job)
{
    std::vector<ChannelBuffer> buffers;
    std::vector<PlaneTarget>   targets;
    if (!allocateChannelBuffers(layout, buffers, targets))
        return MemoryAllocationFailed;
    OutputParts parts;
    if (!layout.hasIdData && !buildOutputParts(frame.headers(), layout, buffers, parts))
        return UnhandledCError;

    // Every pixel is read before anything is written.
    if (std::optional<ImagePluginResult> failed = readPixels(frame, targets, job))
        return *failed;

    if (layout.hasIdData)
    {
        printMessage(job, QStringLiteral("   We do not resave Deep Data or Cryptomatte images."));
        return copyUnchangedFrame(job, frame.file(), Ok);
    }
    chooseWrittenWindow(layout, buffers, parts, job);
    if (job.outputPath.isEmpty())
        return Ok;
    return saveRewrittenFrame(job, frame.file(), parts.headers, parts.frameBuffers);
}
