// The crop of frames that are already multi-part: one crop window for all parts, written as scan-line parts.
#include "multipart_crop/cropMultiPartInput.h"

#include "convert/ChannelBuffer.h"
#include "convert/copyUnchangedFrame.h"
#include "convert/findCropWindow.h"
#include "convert/stampMetadata.h"
#include "convert/writePartsAtomically.h"
#include "driver/consolePrint.h"

#include <ImfChannelList.h>
#include <Iex.h>
#include <ImfInputPart.h>
#include <ImfPartType.h>

#include <cstring>
#include <vector>

namespace {

int32_t totalChannelCount(Imf::MultiPartInputFile& input)
{
    int32_t count = 0;
    for (int p = 0; p < input.parts(); ++p)
        for (Imf::ChannelList::ConstIterator it = input.header(p).channels().begin();
             it != input.header(p).channels().end(); ++it)
            ++count;
    return count;
}

// Running indices of the first channels named R, G, B and A; 0, 1, 2, 3 until such a channel is seen.
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

} // namespace

ImagePluginResult cropMultiPartInput(Imf::MultiPartInputFile& input, QString inputPath, QString outputPath,
                                     const MetadataAttributeList& metadata, QString* detailText, const bool* verbose,
                                     const bool* isDeep, const bool* allScanline, const bool* hasCryptomatte)
{
    auto message = [&](const QString& text) {
        if (*verbose)
            consoleMessage(text);
    };
    auto copyThrough = [&]() {
        ImagePluginResult ok = Ok;
        return copyUnchangedFrame(inputPath, outputPath, detailText, &ok);
    };

    // Phase 1: output headers, the geometry check and the channel table.
    const int                     parts = input.parts();
    std::vector<ChannelBuffer>    table;
    std::vector<Imf::Header>      headers;
    std::vector<Imf::FrameBuffer> frameBuffers;
    Imath::Box2i                  referenceData;
    Imath::Box2i                  referenceDisplay;
    int32_t                       width = 0;
    int32_t                       height = 0;
    bool                          alreadyCropped = false;
    ColourIndices                 colours;
    int32_t                       k = 0;
    try
    {
        table.resize(size_t(totalChannelCount(input)));
    }
    catch (const std::length_error& error)
    {
        *detailText = QString::fromUtf8(error.what());
        return UnsupportedFormat;
    }
    for (int i = 0; i < parts; ++i)
    {
        Imf::Header header;
        try
        {
            header = input.header(i);
        }
        catch (const std::exception& error)
        {
            *detailText = QString::fromUtf8(error.what());
            return UnsupportedFormat;
        }
        headers.emplace_back(header.displayWindow(), header.dataWindow(), header.pixelAspectRatio(), Imath::V2f(0, 0),
                             header.screenWindowWidth(), Imf::INCREASING_Y, Imf::ZIPS_COMPRESSION);
        Imf::Header& output = headers.back();
        if (header.hasName())
            output.setName(header.name());
        if (header.hasView())
            output.setView(header.view());
        frameBuffers.emplace_back();
        if (i == 0)
        {
            referenceData = header.dataWindow();
            referenceDisplay = header.displayWindow();
            width = referenceData.max.x - referenceData.min.x + 1;
            height = referenceData.max.y - referenceData.min.y + 1;
        }
        if (header.dataWindow() != referenceData || header.displayWindow() != referenceDisplay)
        {
            message(QStringLiteral("openEXR: part sizes do not match"));
            return Ok;
        }
        alreadyCropped = width != referenceDisplay.max.x - referenceDisplay.min.x + 1 ||
                         height != referenceDisplay.max.y - referenceDisplay.min.y + 1;
        for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it, ++k)
        {
            ChannelBuffer& buffer = table[size_t(k)];
            buffer.name.set(it.name());
            colours.note(it.name(), k);
            buffer.pixelType = it.channel().type;
            if (*hasCryptomatte && !colours.contains(k))
                continue;
            output.channels().insert(it.name(), it.channel());
            if (alreadyCropped || *isDeep || *hasCryptomatte)
                continue; // copied through below: no pixel is needed
            allocatePlane(buffer, width, height, referenceData.min.x, referenceData.min.y);
            if (buffer.data)
                frameBuffers.back().insert(it.name(), librarySlice(buffer));
        }
        if (*hasCryptomatte)
            break;
    }

    // Phase 2: frames that are copied through without reading a pixel.
    if (alreadyCropped || *isDeep || *hasCryptomatte)
    {
        message(QStringLiteral("openEXR: Copy only (already cropped and multipart or DeepData)."));
        return copyThrough();
    }
    for (int32_t r = 0; r < k; ++r)
        if (!activePlane(table[size_t(r)]))
            return MemoryAllocationFailed;
    releaseUnusedPlaneMemory();

    // Phase 3: every pixel of every part is read before anything is written.
    try
    {
        for (int i = 0; i < parts; ++i)
        {
            // The library would hand a deep part over flattened; its samples must never be lost that way.
            const Imf::Header& header = input.header(i);
            if (header.hasType() && Imf::isDeepData(header.type()))
                throw Iex::InputExc("Part " + std::to_string(i) + " holds deep data, which is not read as a flat image.");
            Imf::InputPart part(input, i);
            part.setFrameBuffer(frameBuffers[size_t(i)]);
            part.readPixels(referenceData.min.y, referenceData.max.y);
        }
    }
    catch (const std::exception& error)
    {
        *detailText = QString::fromUtf8(error.what());
        return DataError;
    }

    // Phase 4: one crop window for the whole file.
    CropWindow crop = findCropWindow(height, width, k, table.data());
    if (cropGainsNothing(crop, width, height) && *allScanline)
    {
        message(QStringLiteral("openEXR: Copy only (already in scanline-mode and multipart, crop not required)."));
        return copyThrough();
    }
    float share = keptShare(crop, referenceDisplay.max.x - referenceDisplay.min.x + 1,
                            referenceDisplay.max.y - referenceDisplay.min.y + 1);
    message(cropLine("    EXR(multipart) convert to cropped:    ", crop, share));
    if (outputPath.isEmpty())
        return Ok;

    // Phase 5: writing.
    Imath::Box2i window(Imath::V2i(referenceData.min.x + crop.minX, referenceData.min.y + crop.minY),
                        Imath::V2i(referenceData.min.x + crop.maxX, referenceData.min.y + crop.maxY));
    for (Imf::Header& header : headers)
    {
        header.dataWindow() = window;
        header.setType("scanlineimage");
    }
    const bool cropped = true;
    const bool converted = false;
    stampMetadata(headers[0], metadata, &cropped, &converted);
    return writePartsAtomically(outputPath, headers, frameBuffers, detailText) ? Ok : FailedToSaveFile;
}
