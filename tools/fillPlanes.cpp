// Sample planes of a part: zeroes, then the recipe's fills in order (numbers or smooth render-like noise).
#include "makeFrame.h"

#include <Imath/half.h>

#include <cmath>
#include <cstring>
#include <thread>

namespace zqtools {

namespace {

int sampleBytes(Imf::PixelType type)
{
    return type == Imf::HALF ? 2 : 4;
}

// Value noise in [0, 1) from integer hashing, deterministic for a seed.
float hashUnit(uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = x * 374761393u + y * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h ^ (h >> 16)) & 0xffffff) / 16777216.0f;
}

// One row of noise: smooth value noise over 37 x 29 pixel cells plus a little per-pixel grain, at least 0.05.
class NoiseRow
{
public:
    NoiseRow(int y, uint32_t smoothSeed, uint32_t grainSeed) : m_y(y), m_smoothSeed(smoothSeed), m_grainSeed(grainSeed)
    {
        float fy = float(y) / 29.0f;
        m_iy = int(std::floor(fy));
        m_fy = fy - float(m_iy);
    }

    float at(int x)
    {
        float fx = float(x) / 37.0f;
        int   ix = int(std::floor(fx));
        fx -= float(ix);
        if (ix != m_ix)
            corners(ix);
        float top = m_a + (m_b - m_a) * fx, bottom = m_c + (m_d - m_c) * fx;
        return 0.05f + (top + (bottom - top) * m_fy) + 0.02f * hashUnit(uint32_t(x), uint32_t(m_y), m_grainSeed);
    }

private:
    void corners(int ix)
    {
        m_ix = ix;
        m_a = hashUnit(uint32_t(ix), uint32_t(m_iy), m_smoothSeed);
        m_b = hashUnit(uint32_t(ix + 1), uint32_t(m_iy), m_smoothSeed);
        m_c = hashUnit(uint32_t(ix), uint32_t(m_iy + 1), m_smoothSeed);
        m_d = hashUnit(uint32_t(ix + 1), uint32_t(m_iy + 1), m_smoothSeed);
    }

    int      m_y;
    uint32_t m_smoothSeed, m_grainSeed;
    int      m_iy;
    float    m_fy;
    int      m_ix = INT32_MIN;
    float    m_a = 0, m_b = 0, m_c = 0, m_d = 0;
};

// The bits of a number in a channel's type; uint channels take whole numbers only.
uint32_t numberBits(Imf::PixelType type, double number)
{
    float value = float(number);
    if (type == Imf::HALF)
        return half(value).bits();
    if (type == Imf::FLOAT)
    {
        uint32_t bits;
        std::memcpy(&bits, &value, 4);
        return bits;
    }
    return uint32_t(number);
}

// Random bits in a channel's type, finite and never 0: a sign, a fixed exponent and a random mantissa for half and
// float samples, so that nothing repeats for deflate to find.
uint32_t randomBits(Imf::PixelType type, uint32_t x, uint32_t y, uint32_t seed)
{
    uint32_t h = uint32_t(hashUnit(x, y, seed) * 16777216.0f) * 2654435761u ^ uint32_t(hashUnit(y, x, seed ^ 0x5bd1e995u) * 16777216.0f);
    return type == Imf::HALF ? (h & 0x83ffu) | 0x3c00u : type == Imf::FLOAT ? (h & 0x807fffffu) | 0x3f800000u : h | 1u;
}

// Noise in a channel's type; uint channels get 1 + 1000 x noise, so never 0 either.
uint32_t noiseBits(Imf::PixelType type, float value)
{
    return type == Imf::UINT ? 1u + uint32_t(value * 1000.0f) : numberBits(type, value);
}

// Samples of one channel over the data window; writes one fill into it.
class ChannelPlane
{
public:
    ChannelPlane(const PartRecipe& part, size_t index, std::vector<char>& plane)
        : m_channel(part.channels[index]), m_index(index), m_window(part.dataWindow), m_plane(plane),
          m_bytes(sampleBytes(m_channel.type))
    {
        m_columns = (int64_t(m_window.max.x) - m_window.min.x + 1) / m_channel.xSampling;
        int64_t rows = (int64_t(m_window.max.y) - m_window.min.y + 1) / m_channel.ySampling;
        m_plane.assign(size_t(m_columns * rows * m_bytes), 0);
    }

    void apply(const Fill& fill)
    {
        Imath::Box2i area = fill.wholeWindow ? m_window : intersection(fill.area);
        if (area.isEmpty() || !fillSelects(fill, m_channel.name))
            return;
        bool     varies = fill.value.noise || fill.value.random;
        uint32_t constant = varies ? 0 : numberBits(m_channel.type, fill.value.number);
        for (int64_t y = firstSample(area.min.y, m_channel.ySampling); y <= area.max.y; y += m_channel.ySampling)
        {
            NoiseRow noise(int(y), fill.value.seed + 7u * uint32_t(m_index), fill.value.seed);
            char*    row = m_plane.data() + (int64_t(y - m_window.min.y) / m_channel.ySampling) * m_columns * m_bytes;
            for (int64_t x = firstSample(area.min.x, m_channel.xSampling); x <= area.max.x; x += m_channel.xSampling)
            {
                uint32_t bits = fill.value.random ? randomBits(m_channel.type, uint32_t(x), uint32_t(y), fill.value.seed + 7u * uint32_t(m_index))
                                : fill.value.noise ? noiseBits(m_channel.type, noise.at(int(x)))
                                                   : constant;
                std::memcpy(row + (int64_t(x - m_window.min.x) / m_channel.xSampling) * m_bytes, &bits,
                            size_t(m_bytes));
            }
        }
    }

private:
    Imath::Box2i intersection(const Imath::Box2i& area) const
    {
        Imath::Box2i box(Imath::V2i(std::max(area.min.x, m_window.min.x), std::max(area.min.y, m_window.min.y)),
                         Imath::V2i(std::min(area.max.x, m_window.max.x), std::min(area.max.y, m_window.max.y)));
        return box;
    }

    // The first coordinate at or after from that holds a sample.
    static int64_t firstSample(int64_t from, int sampling)
    {
        int64_t remainder = ((from % sampling) + sampling) % sampling;
        return remainder ? from + (sampling - remainder) : from;
    }

    const ChannelRecipe& m_channel;
    size_t               m_index;
    Imath::Box2i         m_window;
    std::vector<char>&   m_plane;
    int                  m_bytes;
    int64_t              m_columns = 0;
};

} // namespace

PartPlanes fillPlanes(const PartRecipe& part)
{
    PartPlanes result;
    result.planes.resize(part.channels.size());
    // Channels are independent: each thread takes every n-th channel and applies all fills to it in order.
    size_t threads = std::max<size_t>(1, std::min<size_t>(std::thread::hardware_concurrency(), part.channels.size()));
    auto   work = [&](size_t first) {
        for (size_t c = first; c < part.channels.size(); c += threads)
        {
            ChannelPlane plane(part, c, result.planes[c]);
            for (const Fill& fill : part.fills)
                plane.apply(fill);
        }
    };
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t)
        pool.emplace_back(work, t);
    work(0);
    for (std::thread& thread : pool)
        thread.join();
    return result;
}

} // namespace zqtools
