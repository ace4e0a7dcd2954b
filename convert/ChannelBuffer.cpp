// One channel of one image part held in memory, with the slice that OpenEXR reads into and writes from.
#include "convert/ChannelBuffer.h"

#include "convert/PlanePool.h"

#include <Imath/half.h>

#include <cstdint>
#include <utility>

namespace {

template <typename T>
void releasePlane(ChannelPlane<T>& plane)
{
    PlanePool::shared().give(plane.samples, size_t(plane.width) * size_t(plane.height) * sizeof(T));
    plane = ChannelPlane<T>{};
}

template <typename T>
char* allocate(ChannelPlane<T>& plane, int32_t width, int32_t height)
{
    releasePlane(plane);
    size_t count = size_t(width) * size_t(height);
    if (width <= 0 || height <= 0 || count > SIZE_MAX / sizeof(T))
        return nullptr;
    plane.samples = static_cast<T*>(PlanePool::shared().take(count * sizeof(T)));
    if (!plane.samples)
        return nullptr;
    plane.width = width;
    plane.height = height;
    return reinterpret_cast<char*>(plane.samples);
}

void releaseAllPlanes(ChannelBuffer& buffer)
{
    releasePlane(buffer.halfPlane);
    releasePlane(buffer.floatPlane);
    releasePlane(buffer.uintPlane);
    buffer.data = nullptr;
    buffer.origin = nullptr;
}

} // namespace

ChannelBuffer::~ChannelBuffer()
{
    releaseAllPlanes(*this);
}

ChannelBuffer::ChannelBuffer(ChannelBuffer&& other) noexcept
{
    *this = std::move(other);
}

ChannelBuffer& ChannelBuffer::operator=(ChannelBuffer&& other) noexcept
{
    if (this != &other)
    {
        releaseAllPlanes(*this);
        pixelType = other.pixelType;
        halfPlane = std::exchange(other.halfPlane, {});
        floatPlane = std::exchange(other.floatPlane, {});
        uintPlane = std::exchange(other.uintPlane, {});
        data = std::exchange(other.data, nullptr);
        originOffset = other.originOffset;
        origin = std::exchange(other.origin, nullptr);
        name = other.name;
        bytesPerPixel = other.bytesPerPixel;
    }
    return *this;
}

int32_t bytesPerSample(int32_t pixelType)
{
    switch (pixelType)
    {
    case Imf::UINT: return 4;
    case Imf::HALF: return 2;
    case Imf::FLOAT: return 4;
    default: return 0;
    }
}

void allocatePlane(ChannelBuffer& buffer, int32_t width, int32_t height, int32_t minX, int32_t minY)
{
    switch (buffer.pixelType)
    {
    case Imf::UINT: buffer.data = allocate(buffer.uintPlane, width, height); break;
    case Imf::HALF: buffer.data = allocate(buffer.halfPlane, width, height); break;
    case Imf::FLOAT: buffer.data = allocate(buffer.floatPlane, width, height); break;
    default: buffer.data = nullptr; break;
    }
    buffer.bytesPerPixel = bytesPerSample(buffer.pixelType);
    buffer.originOffset = (int64_t(minY) * width + minX) * buffer.bytesPerPixel;
    // The origin may lie outside the plane; it is only ever offset back into it by data-window coordinates.
    buffer.origin = buffer.data ? reinterpret_cast<char*>(reinterpret_cast<intptr_t>(buffer.data) -
                                                          intptr_t(buffer.originOffset))
                                : nullptr;
}

const void* activePlane(const ChannelBuffer& buffer)
{
    switch (buffer.pixelType)
    {
    case Imf::UINT: return buffer.uintPlane.samples;
    case Imf::HALF: return buffer.halfPlane.samples;
    case Imf::FLOAT: return buffer.floatPlane.samples;
    default: return nullptr;
    }
}

float sampleAsFloat(const ChannelBuffer& buffer, int32_t x, int32_t y)
{
    switch (buffer.pixelType)
    {
    case Imf::UINT: return float(buffer.uintPlane.samples[int64_t(y) * buffer.uintPlane.width + x]);
    case Imf::HALF:
    {
        half value;
        value.setBits(buffer.halfPlane.samples[int64_t(y) * buffer.halfPlane.width + x]);
        return float(value);
    }
    case Imf::FLOAT: return buffer.floatPlane.samples[int64_t(y) * buffer.floatPlane.width + x];
    default: return 0.0f;
    }
}

Imf::Slice librarySlice(const ChannelBuffer& buffer)
{
    size_t width = size_t(buffer.pixelType == Imf::HALF    ? buffer.halfPlane.width
                          : buffer.pixelType == Imf::FLOAT ? buffer.floatPlane.width
                                                           : buffer.uintPlane.width);
    return Imf::Slice(Imf::PixelType(buffer.pixelType), buffer.origin, size_t(buffer.bytesPerPixel),
                      size_t(buffer.bytesPerPixel) * width, 1, 1, 0.0, false, false);
}

PlaneTarget planeTarget(const ChannelBuffer& buffer, const char* channel)
{
    size_t width = size_t(buffer.pixelType == Imf::HALF    ? buffer.halfPlane.width
                          : buffer.pixelType == Imf::FLOAT ? buffer.floatPlane.width
                                                           : buffer.uintPlane.width);
    size_t height = size_t(buffer.pixelType == Imf::HALF    ? buffer.halfPlane.height
                           : buffer.pixelType == Imf::FLOAT ? buffer.floatPlane.height
                                                            : buffer.uintPlane.height);
    return PlaneTarget{channel, Imf::PixelType(buffer.pixelType), buffer.data,
                       width * height * size_t(buffer.bytesPerPixel)};
}

void releaseUnusedPlaneMemory()
{
    PlanePool::shared().releaseAll();
}
