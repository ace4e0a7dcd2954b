// The crop of frames that are already multi-part: one crop window for all parts, written as scan-line parts.
#include "conversion/cropMultiPartInput.h"

#include "conversion/readFramePixels.h"
#include "frame/FramePixels.h"
#include "frame/collectHeaderAttributes.h"
#include "frame/copyUnchangedFrame.h"
#include "frame/findCropWindow.h"
#include "frame/stampMetadata.h"
#include "frame/writePartsAtomically.h"

#include <ImfChannelList.h>
#include <Iex.h>
#include <ImfInputPart.h>
#include <ImfPartType.h>

#include <cstring>
#include <optional>
#include <vector>

namespace {

/// Running indices of the first channels named R, G, B and A; 0, 1, 2, 3 until such a channel is seen.
struct ColourIndices
{
    int32_t index[4] = {0, 1, 2, 3};
    bool    seen[4] = {false, false, false, false};

    void note(const char* name, int32_t k)
    {
        static const char* const letters[4] = {"R", "G", "B", "A"};
        for (int c = 0; c < 4; ++c)
            if (!seen[c] && std::strcmp(name, letters[c]) == 0)
            {
                seen[c] = true;
                index[c] = k;
            }
    }
    bool contains(int32_t k) const { return k == index[0] || k == index[1] || k == index[2] || k == index[3]; }
};

/// Everything known of one multi-part frame before its pixels are read: one table entry per channel of all parts,
/// and per part its output header and the channels it writes.
struct MultiPartFrame
{
    std::vector<FrameChannel>   table;                  ///< channel k of the file in record k
    std::vector<Imf::Header>    headers;                ///< one output header per part
    std::vector<OutputChannels> channels;               ///< one list per part
    Imath::Box2i                dataWindow;             ///< part 0's data window, shared by every part
    Imath::Box2i                displayWindow;          ///< part 0's display window
    bool                        alreadyCropped = false; ///< part 0's data window is smaller than its display window

    int32_t width() const { return dataWindow.max.x - dataWindow.min.x + 1; }
    int32_t height() const { return dataWindow.max.y - dataWindow.min.y + 1; }
};

// A scan-line output header with the input part's geometry, name, view and every attribute of its own.
Imf::Header outputHeaderFor(const Imf::Header& header)
{
    Imf::Header output = scanlineOutputHeader(header);
    collectHeaderAttributes(header, output);
    if (header.hasName())
        output.setName(header.name());
    if (header.hasView())
        output.setView(header.view());
    return output;
}

// Enters the channels of one part into the table, the part's output header and its channel list; of a frame whose
// pixels are not read, nor of a Cryptomatte frame's ID channels, no channel is read.
void enterChannels(int part, const Imf::Header& header, bool readPixels, const MultiPartFacts& facts,
                   ColourIndices& colours, MultiPartFrame& frame)
{
    Imf::Header& output = frame.headers.back();
    for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
    {
        int32_t k = int32_t(frame.table.size());
        frame.table.push_back(FrameChannel{part, it.name(), it.channel().type, false});
        colours.note(it.name(), k);
        if (facts.hasIdData && !colours.contains(k))
            continue;
        output.channels().insert(it.name(), it.channel());
        frame.table.back().read = readPixels;
        frame.channels.back().push_back(OutputChannel{it.name(), size_t(k)});
    }
}

// Enters every part (only the first of a Cryptomatte frame). Ends the frame with UnsupportedFormat when a header
// cannot be read; gives Ok, for a frame to be copied unchanged, when a part's windows differ from the first part's.
std::optional<ImagePluginResult> enterParts(const Imf::MultiPartInputFile& input, const MultiPartFacts& facts,
                                            MultiPartFrame& frame, FrameJob& job)
{
    ColourIndices colours;
    for (int i = 0; i < input.parts(); ++i)
    {
        Imf::Header header;
        try
        {
            header = input.header(i);
        }
        catch (const std::exception& error)
        {
            return failWith(job, UnsupportedFormat, error);
        }
        frame.headers.push_back(outputHeaderFor(header));
        frame.channels.emplace_back();
        if (i == 0)
        {
            frame.dataWindow = header.dataWindow();
            frame.displayWindow = header.displayWindow();
        }
        if (header.dataWindow() != frame.dataWindow || header.displayWindow() != frame.displayWindow)
        {
            printMessage(job, QStringLiteral("openEXR: part sizes do not match"));
            return std::optional<ImagePluginResult>(Ok);
        }
        frame.alreadyCropped = frame.width() != frame.displayWindow.max.x - frame.displayWindow.min.x + 1 ||
                               frame.height() != frame.displayWindow.max.y - frame.displayWindow.min.y + 1;
        bool copiedThrough = frame.alreadyCropped || facts.hasIdData;
        enterChannels(i, header, !copiedThrough, facts, colours, frame);
        if (facts.hasIdData)
            break;
    }
    return std::nullopt;
}

// A deep later part is refused: the library would hand it over flattened, and its samples must never be lost that
// way. DataError with its text.
std::optional<ImagePluginResult> refuseDeepParts(const Imf::MultiPartInputFile& input, FrameJob& job)
{
    for (int i = 0; i < input.parts(); ++i)
    {
        const Imf::Header& header = input.header(i);
        if (header.hasType() && Imf::isDeepData(header.type()))
            return failWith(job, DataError,
                            Iex::InputExc("Part " + std::to_string(i) +
                                          " holds deep data, which is not read as a flat image."));
    }
    return std::nullopt;
}

// Writes every part with the crop window, the farm stamps on the first.
ImagePluginResult writeCropped(MultiPartFrame& frame, FramePixels& pixels, const zqInputFile& file,
                               const Imath::Box2i& crop, FrameJob& job)
{
    Imath::Box2i window(frame.dataWindow.min + crop.min, frame.dataWindow.min + crop.max);
    for (Imf::Header& header : frame.headers)
    {
        header.dataWindow() = window;
        header.setType("scanlineimage");
    }
    stampMetadata(frame.headers[0], job.metadata, true, false);
    return saveRewrittenFrame(job, file, frame.headers, pixels, frame.channels);
}

} // namespace

ImagePluginResult cropMultiPartInput(FrameFile& file, const MultiPartFacts& facts, FrameJob& job)
{
    MultiPartFrame frame;
    if (std::optional<ImagePluginResult> ended = enterParts(file.headers(), facts, frame, job))
        return *ended == Ok ? copyUnchangedFrame(job, file.file(), Ok) : *ended;
    if (frame.alreadyCropped || facts.hasIdData)
    {
        printMessage(job, QStringLiteral("openEXR: Copy only (already cropped and multipart or DeepData)."));
        return copyUnchangedFrame(job, file.file(), Ok);
    }
    FramePixels pixels(file, frame.dataWindow, frame.table);
    if (std::optional<ImagePluginResult> refused = refuseBeyondBudget(pixels, file.file(), job))
        return *refused;

    // Every pixel of every part is read before anything is written.
    Imath::Box2i crop;
    if (std::optional<ImagePluginResult> failed = refuseDeepParts(file.headers(), job))
        return *failed;
    if (std::optional<ImagePluginResult> failed = readAllPixels(pixels, job, crop))
        return *failed;

    if (cropGainsNothing(crop, frame.width(), frame.height()) && facts.allScanline)
    {
        printMessage(job, QStringLiteral("openEXR: Copy only (already in scanline-mode and multipart, crop not "
                                         "required)."));
        return copyUnchangedFrame(job, file.file(), Ok);
    }
    printMessage(job, cropLine("    EXR(multipart) convert to cropped:    ", crop,
                               keptShare(crop, frame.displayWindow)));
    if (job.outputPath.isEmpty())
        return Ok;
    return writeCropped(frame, pixels, file.file(), crop, job);
}
