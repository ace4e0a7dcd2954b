// One channel of one image part held in memory: its name, its sample type and, when it is read, one plane.
#include "frame/ChannelBuffer.h"

#include "frame/PlanePool.h"

#include <Imath/half.h>

#include <cstring>

void PlaneRelease::operator()(char* block) const
{
    PlanePool::shared().give(block, bytes);
}

bool allocatePlane(ChannelBuffer& buffer, int32_t width, int32_t height)
{
    buffer.plane.reset();
    buffer.width = buffer.height = 0;
    size_t size = bytesPerSample(buffer.type);
    if (width <= 0 || height <= 0 || size_t(width) > SIZE_MAX / size / size_t(height))
        return false;
    size_t bytes = size_t(width) * size_t(height) * size;
    buffer.plane = std::unique_ptr<char[], PlaneRelease>(static_cast<char*>(PlanePool::shared().take(bytes)),
                                                         PlaneRelease{bytes});
    if (!buffer.plane)
        return false;
    buffer.width = width;
    buffer.height = height;
    return true;
}

float sampleAsFloat(const ChannelBuffer& buffer, int32_t x, int32_t y)
{
    size_t      size = bytesPerSample(buffer.type);
    const char* sample = buffer.plane.get() + (size_t(y) * size_t(buffer.width) + size_t(x)) * size;
    switch (buffer.type)
    {
    case Imf::HALF:
    {
        uint16_t bits;
        std::memcpy(&bits, sample, 2);
        half value;
        value.setBits(bits);
        return float(value);
    }
    case Imf::FLOAT:
    {
        float value;
        std::memcpy(&value, sample, 4);
        return value;
    }
    default:
    {
        uint32_t value;
        std::memcpy(&value, sample, 4);
        return float(value);
    }
    }
}

void keepPlaneMemoryFor(const std::vector<size_t>& planeSizes)
{
    PlanePool::shared().keepOnly(planeSizes);
}
