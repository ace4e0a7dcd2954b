// One channel of one image part held in memory: its name, its sample type and, when it is read, one plane.
#pragma once

#include "frame/FrameFile.h"

#include <ImathBox.h>
#include <ImfFrameBuffer.h>
#include <ImfPixelType.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

/// Gives a plane back to the plane pool.
struct PlaneRelease
{
    size_t bytes = 0; ///< the plane's size
    /// Returns block to the pool.
    void operator()(char* block) const;
};

/// One channel in memory. The plane holds width x height samples of the channel's type, row after row from the data
/// window's top-left sample; a channel that is not read has none.
struct ChannelBuffer
{
    std::string                           name;             ///< the channel's whole name
    Imf::PixelType                        type = Imf::HALF; ///< sample type
    int32_t                               width = 0;        ///< columns of the plane, 0 without one
    int32_t                               height = 0;       ///< rows of the plane, 0 without one
    std::unique_ptr<char[], PlaneRelease> plane;            ///< the samples; null when the channel is not read
};

/// Gives buffer a plane of width x height samples from the plane pool; false (and no plane) when it cannot be had.
bool allocatePlane(ChannelBuffer& buffer, int32_t width, int32_t height);

/// The sample at column x, row y of the plane as a float.
float sampleAsFloat(const ChannelBuffer& buffer, int32_t x, int32_t y);

/// Frees the plane memory that finished frames left for reuse and that planes of the given sizes (a size as often as
/// such a plane may be allocated) will not take again; called before a frame allocates its planes.
void keepPlaneMemoryFor(const std::vector<size_t>& planeSizes);
