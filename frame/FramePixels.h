// The pixels of one frame as a conversion reads them: in bands of lines, read again where the memory budget could not
// keep them.
#pragma once

#include "frame/ChannelBuffer.h"
#include "frame/FrameFile.h"
#include "frame/ImagePluginResult.h"

#include <ImathBox.h>
#include <ImfFrameBuffer.h>
#include <ImfPixelType.h>

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

/// One channel of the frame's table: the input part it is in, its name there and its type; a channel that is not
/// read stays in the table without samples.
struct FrameChannel
{
    int            part = 0;         ///< the input part
    std::string    name;             ///< its name in that part
    Imf::PixelType type = Imf::HALF; ///< its sample type
    bool           read = true;      ///< whether its samples are read
};

/// A channel that an output part writes: its name there and its index in the frame's table.
struct OutputChannel
{
    std::string name;
    size_t      channel = 0;
};

/// The channels of one output part.
using OutputChannels = std::vector<OutputChannel>;

/// A read of the frame that failed while its rows were being written: the read's result and text.
class FrameReadFailure : public std::runtime_error
{
public:
    FrameReadFailure(ImagePluginResult result, const std::string& text) : std::runtime_error(text), code(result) {}
    ImagePluginResult code;
};

/// The samples of a frame whose read channels all share one data window, held in bands of whole chunks of lines (rows
/// of tiles), each band of every read channel at once. The first pass reads every band and keeps those that may hold
/// crop-window rows while the budget allows (all of them for a frame that fits it); later passes read again only the
/// bands not kept.
class FramePixels
{
public:
    FramePixels(FrameFile& file, const Imath::Box2i& dataWindow, std::vector<FrameChannel> channels);

    /// Chooses the bands for a budget of bytes (samples, and the decoding's and encoding's buffers); false when even
    /// a band of one chunk of lines exceeds it, or its rows are too wide to be held.
    bool plan(int64_t budget);
    /// The megabytes the read channels take when held whole.
    int64_t wholeMegabytes() const;

    /// Reads every row once and gives the crop window over the read channels, in data-window coordinates relative to
    /// its top-left sample (see findCropWindow()). Throws the read's exception.
    Imath::Box2i readAll();
    /// Whether rows y0 to y1 of the data window (in file coordinates) are all held, so that no pass over them reads.
    bool holdsRows(int y0, int y1) const;
    /// Calls visit(first, last) for each band over rows y0 to y1 (file coordinates) from the top, with first and last
    /// its rows within them, once that band is held. A read that fails throws FrameReadFailure. Where settle is given,
    /// a visit may leave work going on over its band's rows: the next band is read meanwhile, and settle() is called
    /// before the next visit, before the band's planes are taken for another, and at the end.
    void forEachBand(int y0, int y1, const std::function<void(int first, int last)>& visit,
                     const std::function<void()>& settle = {});
    /// The library's frame buffer over the band that forEachBand() holds for its visit, with the given channels.
    Imf::FrameBuffer frameBuffer(const OutputChannels& channels) const;
    /// Row y (file coordinates) of the given channel of the table, from the data window's first column, when a band
    /// holds it; else null.
    const char* heldRow(size_t channel, int y) const;
    /// The data window of the frame's channels.
    const Imath::Box2i& dataWindow() const { return m_window; }

private:
    /// Planes for one band of every channel.
    struct Slot
    {
        int32_t                    band = -1; ///< the band it holds, -1 for none
        std::vector<ChannelBuffer> channels;  ///< one per channel of the table, a plane for each read one
    };

    int32_t bandCount() const;
    int32_t bandTop(int32_t band) const { return band * m_bandRows; }
    int32_t bandRows(int32_t band) const;
    Slot*   slotHolding(int32_t band);
    Slot&   slotFor(const std::function<bool(const Slot&)>& reusable);
    void    load(Slot& slot, int32_t band);

    FrameFile&                m_file;
    Imath::Box2i              m_window;
    std::vector<FrameChannel> m_channels;
    int32_t                   m_width = 0, m_height = 0;
    int32_t                   m_bandRows = 0;  ///< rows of a band
    size_t                    m_slotLimit = 1; ///< bands held at most
    std::vector<Slot>         m_slots;
    const Slot*               m_current = nullptr;
};
