// One channel of one image part held in memory, with the slice that OpenEXR reads into and writes from.
#pragma once

#include "convert/FrameFile.h"
#include "zqshared/zqString8.h"

#include <ImfFrameBuffer.h>
#include <ImfPixelType.h>

#include <cstdint>

/// A row-major plane of width x height samples of one type.
template <typename T>
struct ChannelPlane
{
    int32_t height = 0;      ///< rows
    int32_t width = 0;       ///< columns
    T*      samples = nullptr; ///< owned array, element y * width + x
};

/// One channel in memory; only the plane that matches pixelType is ever allocated. Not copyable.
struct ChannelBuffer
{
    int32_t                 pixelType = 0;      ///< OpenEXR pixel type value: UINT 0, HALF 1, FLOAT 2
    ChannelPlane<uint16_t>  halfPlane;          ///< half samples (their bits), used for HALF
    ChannelPlane<float>     floatPlane;         ///< float samples, used for FLOAT
    ChannelPlane<uint32_t>  uintPlane;          ///< unsigned samples, used for UINT
    char*                   data = nullptr;     ///< the array of the plane that matches pixelType
    int64_t                 originOffset = 0;   ///< (min.y * width + min.x) * bytesPerPixel of the data window
    char*                   origin = nullptr;   ///< data - originOffset: the address of data-window sample (0, 0)
    _zqString8_allSize<150> name;               ///< channel name, cut to 150 characters
    int32_t                 bytesPerPixel = 0;  ///< 4 for UINT and FLOAT, 2 for HALF

    ChannelBuffer() = default;
    ~ChannelBuffer();
    ChannelBuffer(const ChannelBuffer&) = delete;
    ChannelBuffer& operator=(const ChannelBuffer&) = delete;
    ChannelBuffer(ChannelBuffer&& other) noexcept;
    ChannelBuffer& operator=(ChannelBuffer&& other) noexcept;
};

/// Bytes of one sample of an OpenEXR pixel type, or 0 for an unknown type.
int32_t bytesPerSample(int32_t pixelType);

/// Allocates buffer's plane for its pixelType with width x height samples and sets data, bytesPerPixel,
/// originOffset and origin for a data window whose min corner is (minX, minY). An unknown pixel type or a failed
/// allocation leaves the buffer without a plane (activePlane then yields none).
void allocatePlane(ChannelBuffer& buffer, int32_t width, int32_t height, int32_t minX, int32_t minY);

/// The array of the plane that matches buffer's pixel type, or nullptr.
const void* activePlane(const ChannelBuffer& buffer);

/// The sample at column x, row y (plane coordinates) as a float; 0.0 for an unknown pixel type.
float sampleAsFloat(const ChannelBuffer& buffer, int32_t x, int32_t y);

/// The library slice of a buffer: base origin, x stride bytesPerPixel, y stride bytesPerPixel * width, sampling 1.
Imf::Slice librarySlice(const ChannelBuffer& buffer);

/// The read target of a buffer's plane, for the channel named channel.
PlaneTarget planeTarget(const ChannelBuffer& buffer, const char* channel);

/// Frees the plane memory that finished frames left for reuse; called once a frame's planes are all allocated.
void releaseUnusedPlaneMemory();
