// The crop window: the smallest rectangle that holds every non-empty sample, widened by 4 pixels.
#pragma once

#include "frame/ChannelBuffer.h"

#include <ImathBox.h>

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

/// True when the channel's top-left sample counts as background: names "Z", "normals.Z" and names ending in ".A".
bool comparesWithTopLeft(const char* channelName);

/// Finds the crop window over the buffers with a plane, each of height x width samples (one band of the whole frame): the bounding box
/// of the non-empty pixels grown by 4 and bounded by the plane, or the fixed window (1, 1)-(19, 19) bounded by the
/// plane when every sample is empty. The window is inclusive, in plane coordinates (0 is the data window's first
/// column and row). A sample is empty when it is 0, NaN, infinite, or, in a channel that compares
/// with its top-left sample, equal to that sample.
Imath::Box2i findCropWindow(int32_t height, int32_t width, const std::vector<ChannelBuffer>& buffers);

/// The crop window of findCropWindow() found band by band: bands of rows given each once, the first at row 0 (its
/// top-left samples are the backgrounds that some channels compare with), each next one right below the rows given
/// from the top or right above the rows given from the bottom.
class CropSearch
{
public:
    /// A search over channels of height x width samples.
    CropSearch(int32_t height, int32_t width);
    CropSearch(const CropSearch&) = delete;
    CropSearch& operator=(const CropSearch&) = delete;
    ~CropSearch();
    /// Adds rows top to top + rows - 1 of the frame: one buffer per channel, always in the same order, each width
    /// wide and at least rows high (a buffer without a plane is not searched).
    void addBand(int32_t top, int32_t rows, const std::vector<ChannelBuffer>& buffers);
    /// Starts adding a band as addBand() does, on the library's threads (in the calling one when the library has
    /// none), so that the caller can go on, for instance to read the next band. The buffers' planes stay as they are
    /// until finishBand(), which must come before any other call.
    void startBand(int32_t top, int32_t rows, const std::vector<ChannelBuffer>& buffers);
    /// Waits for the band that startBand() started and adds what was found.
    void finishBand();
    /// False when rows first to last can no longer lie in the window, whatever the bands still to come hold.
    bool mayHoldWindowRows(int32_t first, int32_t last) const;
    /// The non-empty samples found so far (empty when none).
    const Imath::Box2i& contentSoFar() const { return m_box; }
    /// The window over the bands added, as findCropWindow() gives it.
    Imath::Box2i window() const;

private:
    int32_t               m_height;
    int32_t               m_width;
    Imath::Box2i          m_box;         ///< the non-empty samples found so far
    int32_t               m_searchedTop = 0;    ///< rows above it have been given
    int32_t               m_searchedBottom = 0; ///< it and the rows below have been given
    std::vector<uint32_t> m_backgrounds; ///< per channel, the bits of its top-left sample
    struct Pending;
    std::unique_ptr<Pending> m_pending;   ///< the band being searched
};

/// True when the window keeps (nearly) everything: minX < 5, minY < 5, maxX > width - 5 and maxY > height - 5.
bool cropGainsNothing(const Imath::Box2i& crop, int32_t width, int32_t height);

/// The kept share of the display window in per cent, in single precision.
float keptShare(const Imath::Box2i& crop, const Imath::Box2i& displayWindow);

/// The crop line: prefix, then "min[x,y]  max[x,y]  share%%" with bounds in fields of 4 and the share with 1 decimal.
QString cropLine(const char* prefix, const Imath::Box2i& crop, float share);
