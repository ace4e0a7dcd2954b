// The crop window: the fast typed search, whole and band by band, against a plain per-sample search, on random planes
// of every pixel type.
#include "frame/findCropWindow.h"

#include <Imath/half.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

// A channel of height x width samples given as floats, stored in its own pixel type.
ChannelBuffer makeBuffer(const char* name, Imf::PixelType type, int width, int height, const std::vector<float>& values)
{
    ChannelBuffer buffer{name, type, 0, 0, {}};
    allocatePlane(buffer, width, height);
    for (size_t i = 0; i < size_t(width * height); ++i)
    {
        uint16_t halfBits = half(values[i]).bits();
        uint32_t uintValue = uint32_t(values[i]);
        const void* from = type == Imf::HALF ? static_cast<const void*>(&halfBits)
                           : type == Imf::FLOAT ? static_cast<const void*>(&values[i]) : &uintValue;
        std::memcpy(buffer.plane.get() + i * bytesPerSample(type), from, bytesPerSample(type));
    }
    return buffer;
}

// The rules written out sample by sample: a scan from each of the four edges, then the margin, then the clamp.
Imath::Box2i plainSearch(int height, int width, const std::vector<ChannelBuffer>& buffers)
{
    auto nonEmpty = [&](int x, int y) {
        for (const ChannelBuffer& b : buffers)
        {
            const char* name = b.name.c_str();
            size_t      n = std::strlen(name);
            bool compare = !std::strcmp(name, "Z") || !std::strcmp(name, "normals.Z") || (n >= 2 && !std::strcmp(name + n - 2, ".A"));
            float v = sampleAsFloat(b, x, y);
            if (!(v == 0.0f || std::isnan(v) || std::isinf(v) || (compare && v == sampleAsFloat(b, 0, 0))))
                return true;
        }
        return false;
    };
    int minX = -1, maxX = -1, minY = -1, maxY = -1;
    for (int y = 0; y < height && minY < 0; ++y)
        for (int x = 0; x < width && minY < 0; ++x)
            if (nonEmpty(x, y))
                minX = x, minY = y;
    if (minY < 0)
        minX = minY = 5, maxX = maxY = 15;
    else
    {
        for (int y = minY + 1; y < height; ++y)
            for (int x = 0; x < minX; ++x)
                if (nonEmpty(x, y))
                    minX = x;
        for (int y = height - 1; y >= 0 && maxY < 0; --y)
            for (int x = width - 1; x >= 0 && maxY < 0; --x)
                if (nonEmpty(x, y))
                    maxX = x, maxY = y;
        for (int y = height - 1; y >= 0; --y)
            for (int x = width - 1; x > maxX; --x)
                if (nonEmpty(x, y))
                    maxX = x;
    }
    for (int i = 0; i < 4; ++i)
    {
        minX -= minX > 0, minY -= minY > 0;
        maxX += maxX < width - 1, maxY += maxY < height - 1;
    }
    auto clamp = [](int v, int last) { return std::max(0, std::min(v, last)); };
    return Imath::Box2i(Imath::V2i(clamp(minX, width - 1), clamp(minY, height - 1)),
                        Imath::V2i(clamp(maxX, width - 1), clamp(maxY, height - 1)));
}

// Sparse content of every kind of sample, in every pixel type, in background-compared and plain channels.
TEST(FindCropWindow, MatchesThePlainSearchOnRandomPlanes)
{
    std::mt19937             random(20261205);
    const Imf::PixelType     types[] = {Imf::HALF, Imf::FLOAT, Imf::UINT};
    const char*              names[] = {"R", "Z", "normals.Z", "x.A", "A", "P.X"};
    const float              inf = std::numeric_limits<float>::infinity();
    const std::vector<float> special = {0.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(), inf, -inf,
                                        5.9e-8f /* half subnormal */, -0.5f, 1.0f, 16777217.0f, 65504.0f};
    for (int round = 0; round < 600; ++round)
    {
        // Mostly small planes, some wide ones so that the chunked row tests run with whole chunks, and a few large
        // enough for the search to spread the channels over threads.
        bool large = round % 100 == 99;
        int  width = large ? 1100 : 1 + int(random() % (round % 5 == 0 ? 300 : 90));
        int  height = large ? 1000 : 1 + int(random() % 70);
        int  density = large ? 1 : int(random() % 4); // 0: background only
        std::vector<ChannelBuffer> buffers;
        for (int c = large ? 4 : 1 + int(random() % 4); c > 0; --c)
        {
            Imf::PixelType type = types[random() % 3];
            float          background = random() % 3 == 0 ? 1.0e6f : special[random() % 5]; // far plane, 0, NaN, Inf
            std::vector<float> values(size_t(width * height), type == Imf::UINT ? 0.0f : background);
            for (float& v : values)
                if (density && random() % (large ? 200000 : 200 / density) == 0)
                {
                    v = special[random() % special.size()];
                    if (type == Imf::UINT && (std::isnan(v) || std::isinf(v) || v < 0))
                        v = float(random() % 3);
                }
            buffers.push_back(makeBuffer(names[random() % 6], type, width, height, values));
        }
        Imath::Box2i expected = plainSearch(height, width, buffers);
        Imath::Box2i found = findCropWindow(height, width, buffers);
        ASSERT_EQ(found, expected) << "round " << round << ", " << width << " x " << height << ": (" << found.min.x
                                   << "," << found.min.y << ")-(" << found.max.x << "," << found.max.y << ")";

        // The same frame band by band, in bands of random heights, the first at the top, then from either end. Rows
        // the search gives up on as it goes must lie outside the window it ends with.
        CropSearch        search(height, width);
        std::vector<bool> givenUp(size_t(height), false);
        for (int top = 0, bottom = height; top < bottom;)
        {
            int                        rows = std::min(bottom - top, 1 + int(random() % 40));
            int                        first = top == 0 || random() % 2 ? top : bottom - rows;
            std::vector<ChannelBuffer> band;
            for (const ChannelBuffer& whole : buffers)
            {
                size_t bytes = size_t(width) * bytesPerSample(whole.type);
                band.push_back(ChannelBuffer{whole.name, whole.type, 0, 0, {}});
                allocatePlane(band.back(), width, rows);
                std::memcpy(band.back().plane.get(), whole.plane.get() + size_t(first) * bytes, size_t(rows) * bytes);
            }
            search.addBand(first, rows, band);
            (first == top ? top : bottom) += first == top ? rows : -rows;
            for (int y = 0; y < height; ++y)
                givenUp[size_t(y)] = givenUp[size_t(y)] || ((y < top || y >= bottom) && !search.mayHoldWindowRows(y, y));
        }
        ASSERT_EQ(search.window(), expected) << "round " << round << " in bands";
        for (int y = expected.min.y; y <= expected.max.y; ++y)
            ASSERT_FALSE(givenUp[size_t(y)]) << "round " << round << ": window row " << y << " was given up";
    }
}

} // namespace
