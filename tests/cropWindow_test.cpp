// The crop window: fixed cases, and the fast typed search against a plain per-sample search on random planes.
#include "convert/findCropWindow.h"

#include <Imath/half.h>

#include <gtest/gtest.h>

#include <cmath>
#include <algorithm>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

// A channel of height x width samples given as floats, stored in its own pixel type.
ChannelBuffer makeBuffer(const char* name, Imf::PixelType type, int width, int height,
                         const std::vector<float>& values = {})
{
    ChannelBuffer buffer;
    buffer.name.set(name);
    buffer.pixelType = type;
    allocatePlane(buffer, width, height, 0, 0);
    for (int i = 0; i < width * height; ++i)
    {
        float v = values.empty() ? 0.0f : values[size_t(i)];
        if (type == Imf::HALF)
            buffer.halfPlane.samples[i] = half(v).bits();
        else if (type == Imf::FLOAT)
            buffer.floatPlane.samples[i] = v;
        else
            buffer.uintPlane.samples[i] = uint32_t(v);
    }
    return buffer;
}

void setSample(ChannelBuffer& buffer, int x, int y, float v)
{
    int64_t i = int64_t(y) * (buffer.pixelType == Imf::HALF ? buffer.halfPlane.width
                              : buffer.pixelType == Imf::FLOAT ? buffer.floatPlane.width
                                                               : buffer.uintPlane.width) + x;
    if (buffer.pixelType == Imf::HALF)
        buffer.halfPlane.samples[i] = half(v).bits();
    else if (buffer.pixelType == Imf::FLOAT)
        buffer.floatPlane.samples[i] = v;
    else
        buffer.uintPlane.samples[i] = uint32_t(v);
}

// The rules written out sample by sample, as the farm documents them: scans from the four edges, then the margin.
CropWindow referenceCropWindow(int height, int width, const std::vector<ChannelBuffer>& buffers)
{
    std::vector<float> reference;
    std::vector<bool>  compare;
    for (const ChannelBuffer& b : buffers)
    {
        const char* name = b.name.c_str();
        size_t      n = std::strlen(name);
        compare.push_back(!std::strcmp(name, "Z") || !std::strcmp(name, "normals.Z") ||
                          (n >= 2 && !std::strcmp(name + n - 2, ".A")));
        reference.push_back(sampleAsFloat(b, 0, 0));
    }
    auto nonEmpty = [&](int x, int y) {
        for (size_t i = 0; i < buffers.size(); ++i)
        {
            float v = sampleAsFloat(buffers[i], x, y);
            if (v == 0.0f || std::isnan(v) || std::isinf(v) || (compare[i] && v == reference[i]))
                continue;
            return true;
        }
        return false;
    };
    int minX = -1, maxX = -1, minY = -1, maxY = -1;
    for (int y = 0; y < height && minY < 0; ++y)
        for (int x = 0; x < width; ++x)
            if (nonEmpty(x, y))
            {
                minX = x;
                minY = y;
                break;
            }
    if (minX == -1 && minY == -1)
    {
        minX = minY = 5;
        maxX = maxY = 15;
    }
    else
    {
        for (int y = minY + 1; y < height; ++y)
            for (int x = 0; x < minX; ++x)
                if (nonEmpty(x, y))
                {
                    minX = x;
                    break;
                }
        for (int y = height - 1; y >= 0 && maxY < 0; --y)
            for (int x = width - 1; x >= 0; --x)
                if (nonEmpty(x, y))
                {
                    maxX = x;
                    maxY = y;
                    break;
                }
        for (int y = height - 1; y >= 0; --y)
            for (int x = width - 1; x > maxX; --x)
                if (nonEmpty(x, y))
                {
                    maxX = x;
                    break;
                }
    }
    for (int i = 0; i < 4; ++i)
    {
        if (minX > 0) --minX;
        if (minY > 0) --minY;
        if (maxY < height - 1) ++maxY;
        if (maxX < width - 1) ++maxX;
    }
    auto clamp = [](int v, int last) { return std::max(0, std::min(v, last)); };
    return CropWindow{clamp(minX, width - 1), clamp(maxX, width - 1), clamp(minY, height - 1), clamp(maxY, height - 1)};
}

::testing::AssertionResult sameWindow(const CropWindow& a, const CropWindow& b)
{
    if (a.minX == b.minX && a.maxX == b.maxX && a.minY == b.minY && a.maxY == b.maxY)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << a.minX << "," << a.minY << ")-(" << a.maxX << "," << a.maxY
                                         << ") vs (" << b.minX << "," << b.minY << ")-(" << b.maxX << "," << b.maxY
                                         << ")";
}

CropWindow window(int minX, int minY, int maxX, int maxY)
{
    return CropWindow{minX, maxX, minY, maxY};
}

TEST(FindCropWindow, FixedCases)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    struct Case
    {
        const char*    what;
        const char*    name;
        Imf::PixelType type;
        int            width, height;
        std::vector<std::pair<std::pair<int, int>, float>> samples; // (x, y) -> value
        CropWindow     expected;
    };
    const Case cases[] = {
        {"one pixel", "R", Imf::HALF, 100, 100, {{{10, 20}, 1.0f}}, window(6, 16, 14, 24)},
        {"touching top left", "R", Imf::FLOAT, 100, 100, {{{0, 0}, 1.0f}, {{50, 50}, 1.0f}}, window(0, 0, 54, 54)},
        {"last column and row", "R", Imf::HALF, 100, 100, {{{99, 99}, -0.5f}}, window(95, 95, 99, 99)},
        {"all empty", "R", Imf::HALF, 100, 100, {}, window(1, 1, 19, 19)},
        {"all empty, tiny plane", "R", Imf::HALF, 8, 6, {}, window(1, 1, 7, 5)},
        {"all empty, one column", "R", Imf::HALF, 1, 30, {}, window(0, 1, 0, 19)},
        {"NaN and Inf only", "R", Imf::FLOAT, 50, 50, {{{3, 3}, nan}, {{40, 40}, inf}, {{41, 41}, -inf}},
         window(1, 1, 19, 19)},
        {"negative zero", "R", Imf::FLOAT, 50, 50, {{{30, 30}, -0.0f}}, window(1, 1, 19, 19)},
        {"uint one", "id", Imf::UINT, 50, 50, {{{30, 31}, 1.0f}}, window(26, 27, 34, 35)},
        {"half subnormal", "R", Imf::HALF, 50, 50, {{{12, 13}, 1.0e-7f}}, window(8, 9, 16, 17)},
        {"plain A is not compared", "A", Imf::HALF, 50, 50, {{{0, 0}, 1.0f}}, window(0, 0, 4, 4)},
    };
    for (const Case& c : cases)
    {
        std::vector<ChannelBuffer> buffers;
        buffers.push_back(makeBuffer(c.name, c.type, c.width, c.height));
        for (const auto& [at, value] : c.samples)
            setSample(buffers[0], at.first, at.second, value);
        EXPECT_TRUE(sameWindow(findCropWindow(c.height, c.width, 1, buffers.data()), c.expected)) << c.what;
    }
}

TEST(FindCropWindow, BackgroundChannelsCompareWithTheirTopLeftSample)
{
    for (const char* name : {"Z", "normals.Z", "beauty.A"})
    {
        std::vector<ChannelBuffer> buffers;
        buffers.push_back(makeBuffer(name, Imf::FLOAT, 60, 40, std::vector<float>(2400, 1.0e10f)));
        EXPECT_TRUE(sameWindow(findCropWindow(40, 60, 1, buffers.data()), window(1, 1, 19, 19))) << name;
        setSample(buffers[0], 30, 20, 5.0f);
        EXPECT_TRUE(sameWindow(findCropWindow(40, 60, 1, buffers.data()), window(26, 16, 34, 24))) << name;
    }
    // unsigned samples compare as floats: 16777217 rounds to the top-left 16777216 and is background
    std::vector<ChannelBuffer> ids;
    ids.push_back(makeBuffer("Z", Imf::UINT, 60, 40));
    std::fill(ids[0].uintPlane.samples, ids[0].uintPlane.samples + 2400, 16777216u);
    ids[0].uintPlane.samples[20 * 60 + 30] = 16777217u;
    EXPECT_TRUE(sameWindow(findCropWindow(40, 60, 1, ids.data()), window(1, 1, 19, 19)));
    ids[0].uintPlane.samples[20 * 60 + 30] = 16777218u;
    EXPECT_TRUE(sameWindow(findCropWindow(40, 60, 1, ids.data()), window(26, 16, 34, 24)));

    // the same values in a channel that is not compared count everywhere
    std::vector<ChannelBuffer> buffers;
    buffers.push_back(makeBuffer("depth.Z", Imf::FLOAT, 60, 40, std::vector<float>(2400, 1.0e10f)));
    EXPECT_TRUE(sameWindow(findCropWindow(40, 60, 1, buffers.data()), window(0, 0, 59, 39)));
}

TEST(FindCropWindow, BoxIsTheUnionOverChannels)
{
    std::vector<ChannelBuffer> buffers;
    buffers.push_back(makeBuffer("R", Imf::HALF, 200, 100));
    buffers.push_back(makeBuffer("Z", Imf::FLOAT, 200, 100));
    buffers.push_back(makeBuffer("id", Imf::UINT, 200, 100));
    setSample(buffers[0], 100, 50, 1.0f);
    setSample(buffers[1], 20, 70, 3.0f); // Z's top-left sample is 0, so any other value counts
    setSample(buffers[2], 150, 10, 7.0f);
    EXPECT_TRUE(sameWindow(findCropWindow(100, 200, 3, buffers.data()), window(16, 6, 154, 74)));
}

// Random planes: sparse content of every kind of sample in every pixel type, compared and plain channels.
TEST(FindCropWindow, MatchesThePlainSearchOnRandomPlanes)
{
    std::mt19937                  random(20261205);
    const Imf::PixelType          types[] = {Imf::HALF, Imf::FLOAT, Imf::UINT};
    const char*                   names[] = {"R", "Z", "normals.Z", "x.A", "A", "P.X"};
    const std::vector<float>      special = {0.0f, -0.0f, std::numeric_limits<float>::quiet_NaN(),
                                             std::numeric_limits<float>::infinity(),
                                             -std::numeric_limits<float>::infinity(), 5.9e-8f /* half subnormal */,
                                             -0.5f, 1.0f, 16777217.0f, 65504.0f};
    for (int round = 0; round < 400; ++round)
    {
        int width = 1 + int(random() % 90), height = 1 + int(random() % 70);
        int channels = 1 + int(random() % 4);
        int density = int(random() % 4); // 0: empty background only
        std::vector<ChannelBuffer> buffers;
        for (int c = 0; c < channels; ++c)
        {
            Imf::PixelType type = types[random() % 3];
            float          background = special[random() % 5]; // zero, NaN, Inf
            if (random() % 3 == 0)
                background = 1.0e6f; // a far plane, empty only in compared channels
            std::vector<float> values(size_t(width * height), type == Imf::UINT ? 0.0f : background);
            for (float& v : values)
                if (density && random() % (200 / density) == 0)
                {
                    v = special[random() % special.size()];
                    if (type == Imf::UINT && (std::isnan(v) || std::isinf(v) || v < 0))
                        v = float(random() % 3);
                }
            buffers.push_back(makeBuffer(names[random() % 6], type, width, height, values));
        }
        CropWindow expected = referenceCropWindow(height, width, buffers);
        CropWindow found = findCropWindow(height, width, int(buffers.size()), buffers.data());
        ASSERT_TRUE(sameWindow(found, expected)) << "round " << round << ", " << width << " x " << height;
    }
}

TEST(CropDecisions, GainShareAndLine)
{
    EXPECT_TRUE(cropGainsNothing(window(4, 4, 1916, 1076), 1920, 1080));
    EXPECT_FALSE(cropGainsNothing(window(4, 4, 1915, 1076), 1920, 1080));
    EXPECT_FALSE(cropGainsNothing(window(5, 4, 1916, 1076), 1920, 1080));
    EXPECT_FALSE(cropGainsNothing(window(4, 4, 1916, 1075), 1920, 1080));
    EXPECT_EQ(cropLine("p ", window(0, 0, 959, 539), keptShare(window(0, 0, 959, 539), 1920, 1080)).toStdString(),
              "p min[   0,   0]  max[ 959, 539]  25.0%%");
    EXPECT_EQ(cropLine("", window(6, 16, 14, 24), keptShare(window(6, 16, 14, 24), 100, 100)).toStdString(),
              "min[   6,  16]  max[  14,  24]  0.8%%");
    EXPECT_EQ(cropLine("", window(0, 0, 12345, 1), 100.0f).toStdString(), "min[   0,   0]  max[12345,   1]  100.0%%");
}

} // namespace
