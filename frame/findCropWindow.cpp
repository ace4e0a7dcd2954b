// The crop window: the smallest rectangle that holds every non-empty sample, widened by 4 pixels.
//
// The window is the union of each channel's bounding box of non-empty samples, so every channel is scanned on its
// own with a loop typed for its samples. A channel only looks at the samples that lie outside the box found so far:
// rows above and below it in full, and the columns left and right of it on the rows in between. Each test works on
// the sample bits, which for non-zero finite values is the same as comparing the values as floats.
#include "frame/findCropWindow.h"

#include "frame/FunctionTask.h"

#include <IlmThreadPool.h>
#include <ImfThreading.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <functional>
#include <vector>

namespace {

constexpr int32_t     kMargin = 4;
constexpr int32_t     kChunk = 32;
const Imath::Box2i    kEmptyWindow(Imath::V2i(5, 5), Imath::V2i(15, 15)); // before the margin

// Non-empty tests: finite, non-zero, and not the channel's background value (ref is 0 when there is none, which
// never matches a non-zero sample).
struct HalfTest
{
    uint16_t ref;
    bool     operator()(uint16_t h) const
    {
        return ((h & 0x7fffu) != 0) & ((h & 0x7c00u) != 0x7c00u) & (h != ref);
    }
};

struct FloatTest
{
    uint32_t ref;
    bool     operator()(uint32_t bits) const
    {
        return ((bits & 0x7fffffffu) != 0) & ((bits & 0x7f800000u) != 0x7f800000u) & (bits != ref);
    }
};

struct UintTest
{
    bool  compare;
    float ref;
    bool  operator()(uint32_t v) const { return v != 0 && !(compare && float(v) == ref); }
};

// True when some sample in [begin, end) is non-empty; whole chunks are tested without branches so they vectorise.
template <typename T, typename Test>
bool anyNonEmpty(const T* begin, const T* end, const Test& test)
{
    while (end - begin >= kChunk)
    {
        // An accumulator of the sample's own width lets the compiler vectorise the loop (a bool one does not).
        T any = 0;
        for (int32_t i = 0; i < kChunk; ++i)
            any |= T(test(begin[i]));
        if (any != 0)
            return true;
        begin += kChunk;
    }
    for (; begin < end; ++begin)
        if (test(*begin))
            return true;
    return false;
}

// Index of the first non-empty sample of row[0 .. count), or -1.
template <typename T, typename Test>
int32_t firstNonEmpty(const T* row, int32_t count, const Test& test)
{
    for (int32_t x = 0; x < count; x += kChunk)
    {
        int32_t stop = std::min(count, x + kChunk);
        if (anyNonEmpty(row + x, row + stop, test))
            for (int32_t i = x; i < stop; ++i)
                if (test(row[i]))
                    return i;
    }
    return -1;
}

// Index of the last non-empty sample of row[from .. count), or -1.
template <typename T, typename Test>
int32_t lastNonEmpty(const T* row, int32_t from, int32_t count, const Test& test)
{
    for (int32_t x = count; x > from; x -= kChunk)
    {
        int32_t start = std::max(from, x - kChunk);
        if (anyNonEmpty(row + start, row + x, test))
            for (int32_t i = x - 1; i >= start; --i)
                if (test(row[i]))
                    return i;
    }
    return -1;
}

// Adds the non-empty samples of a band of one channel to box, looking only outside it. The band holds rows top to
// top + rows - 1 of the channel; box is in the channel's coordinates.
template <typename T, typename Test>
void growBox(Imath::Box2i& box, const T* band, int32_t width, int32_t top, int32_t rows, const Test& test)
{
    auto row = [&](int32_t y) { return band + int64_t(y - top) * width; };
    auto fullRow = [&](int32_t y) {
        int32_t first = firstNonEmpty(row(y), width, test);
        if (first < 0)
            return false;
        int32_t last = lastNonEmpty(row(y), first, width, test);
        box.extendBy(Imath::V2i(first, y));
        box.extendBy(Imath::V2i(last, y));
        return true;
    };
    const int32_t end = top + rows;

    // Rows above the box, top down.
    int32_t topLimit = box.isEmpty() ? end : std::clamp(box.min.y, top, end);
    int32_t firstMiddle = topLimit;
    for (int32_t y = top; y < topLimit; ++y)
        if (fullRow(y))
        {
            firstMiddle = y + 1;
            break;
        }
    if (box.isEmpty())
        return;
    // Rows below the box, bottom up.
    int32_t lastMiddle = std::min(box.max.y, end - 1);
    for (int32_t y = end - 1; y > box.max.y && y >= firstMiddle; --y)
        if (fullRow(y))
        {
            lastMiddle = y - 1;
            break;
        }
    // Rows in between: only the columns left and right of the box.
    for (int32_t y = std::max(firstMiddle, top); y <= lastMiddle; ++y)
    {
        const T* samples = row(y);
        if (box.min.x > 0)
        {
            int32_t first = firstNonEmpty(samples, box.min.x, test);
            if (first >= 0)
                box.min.x = first;
        }
        if (box.max.x < width - 1)
        {
            int32_t last = lastNonEmpty(samples, box.max.x + 1, width, test);
            if (last >= 0)
                box.max.x = last;
        }
    }
}

// Grows box by the non-empty samples of one band of a channel, looking only outside the box; background is the bits
// of the channel's top-left sample.
void growBoxByBuffer(Imath::Box2i& box, const ChannelBuffer& buffer, uint32_t background, int32_t top, int32_t rows)
{
    if (!buffer.plane)
        return;
    bool compare = comparesWithTopLeft(buffer.name.c_str());
    switch (buffer.type)
    {
    case Imf::HALF:
        growBox(box, reinterpret_cast<const uint16_t*>(buffer.plane.get()), buffer.width, top, rows,
                HalfTest{compare ? uint16_t(background) : uint16_t(0)});
        break;
    case Imf::FLOAT:
        growBox(box, reinterpret_cast<const uint32_t*>(buffer.plane.get()), buffer.width, top, rows,
                FloatTest{compare ? background : 0u});
        break;
    case Imf::UINT:
        growBox(box, reinterpret_cast<const uint32_t*>(buffer.plane.get()), buffer.width, top, rows,
                UintTest{compare, float(background)});
        break;
    default: break;
    }
}

// The bits of a plane's first sample, or 0 without a plane.
uint32_t firstSampleBits(const ChannelBuffer& buffer)
{
    if (!buffer.plane)
        return 0;
    if (buffer.type == Imf::HALF)
    {
        uint16_t bits;
        std::memcpy(&bits, buffer.plane.get(), 2);
        return bits;
    }
    uint32_t bits;
    std::memcpy(&bits, buffer.plane.get(), 4);
    return bits;
}

} // namespace

bool comparesWithTopLeft(const char* channelName)
{
    size_t length = std::strlen(channelName);
    return std::strcmp(channelName, "Z") == 0 || std::strcmp(channelName, "normals.Z") == 0 ||
           (length >= 2 && std::strcmp(channelName + length - 2, ".A") == 0);
}

/// A band being searched: each task grows a box of its own from the one found before the band.
struct CropSearch::Pending
{
    int32_t                               top = 0, rows = 0;
    std::vector<Imath::Box2i>             boxes;
    std::atomic<int32_t>                  next{0};
    std::unique_ptr<IlmThread::TaskGroup> group;
};

CropSearch::CropSearch(int32_t height, int32_t width) : m_height(height), m_width(width), m_searchedBottom(height)
{
}

CropSearch::~CropSearch()
{
    // The tasks of a band still being searched read this search's backgrounds.
    m_pending.reset();
}

void CropSearch::addBand(int32_t top, int32_t rows, const std::vector<ChannelBuffer>& buffers)
{
    startBand(top, rows, buffers);
    finishBand();
}

void CropSearch::startBand(int32_t top, int32_t rows, const std::vector<ChannelBuffer>& buffers)
{
    m_pending = std::make_unique<Pending>();
    m_pending->top = top;
    m_pending->rows = rows;
    if (top == 0)
    {
        m_backgrounds.clear();
        for (const ChannelBuffer& buffer : buffers)
            m_backgrounds.push_back(firstSampleBits(buffer));
    }
    const int32_t bufferCount = int32_t(buffers.size());
    if (m_backgrounds.size() != buffers.size() || bufferCount == 0 || m_width <= 0 || rows <= 0)
        return;
    // The window is the union of the channels' boxes, so the channels can be searched on several threads, each
    // growing a box of its own from the one found so far; a small band takes one task.
    int64_t samples = int64_t(m_width) * rows * bufferCount;
    int     threads = Imf::globalThreadCount();
    int     tasks = samples < (int64_t(1) << 20) ? 1 : std::clamp(threads, 1, int(bufferCount));
    m_pending->boxes.assign(static_cast<size_t>(tasks), m_box);
    // The tasks reach the channels through the vector's elements, which stay where they are when the vector itself
    // is moved.
    const ChannelBuffer* channels = buffers.data();
    Pending*             pending = m_pending.get();
    const uint32_t*      backgrounds = m_backgrounds.data();
    auto                 work = [=](Imath::Box2i& own) {
        for (int32_t b = pending->next++; b < bufferCount; b = pending->next++)
            growBoxByBuffer(own, channels[b], backgrounds[b], top, rows);
    };
    if (threads == 0)
    {
        work(m_pending->boxes[0]);
        return;
    }
    // On the library's threads, so that --threads bounds the search as it bounds decoding and encoding.
    m_pending->group = std::make_unique<IlmThread::TaskGroup>();
    for (Imath::Box2i& own : m_pending->boxes)
        IlmThread::ThreadPool::addGlobalTask(new FunctionTask(m_pending->group.get(), [work, &own] { work(own); }));
}

void CropSearch::finishBand()
{
    if (!m_pending)
        return;
    m_pending->group.reset();
    const int32_t top = m_pending->top, rows = m_pending->rows;
    if (top == m_searchedTop)
        m_searchedTop = top + rows;
    else if (top + rows == m_searchedBottom)
        m_searchedBottom = top;
    for (const Imath::Box2i& own : m_pending->boxes)
        if (!own.isEmpty())
            m_box.extendBy(own);
    m_pending.reset();
}

bool CropSearch::mayHoldWindowRows(int32_t first, int32_t last) const
{
    // Rows not yet given may hold content anywhere between the two searched ends; while none has been found, the
    // window may still be the fixed one of an all-empty frame.
    const bool rowsLeft = m_searchedTop < m_searchedBottom;
    if (m_box.isEmpty() && first <= kEmptyWindow.max.y + kMargin)
        return true;
    if (m_box.isEmpty() && !rowsLeft)
        return false;
    const int32_t top = m_box.isEmpty() ? m_searchedTop : rowsLeft ? std::min(m_box.min.y, m_searchedTop) : m_box.min.y;
    const int32_t bottom =
        m_box.isEmpty() ? m_searchedBottom - 1 : rowsLeft ? std::max(m_box.max.y, m_searchedBottom - 1) : m_box.max.y;
    return last >= top - kMargin && first <= bottom + kMargin;
}

Imath::Box2i CropSearch::window() const
{
    const int32_t width = m_width, height = m_height;
    // An all-empty frame keeps a small fixed window.
    Imath::Box2i crop = m_box.isEmpty() ? kEmptyWindow : m_box;
    // Widen by the margin towards the plane's edges only, then keep every bound inside the plane (the fixed window
    // of an all-empty frame can reach past a plane narrower or lower than 16).
    crop.min.x = crop.min.x > 0 ? std::max(crop.min.x - kMargin, 0) : crop.min.x;
    crop.min.y = crop.min.y > 0 ? std::max(crop.min.y - kMargin, 0) : crop.min.y;
    crop.max.y = crop.max.y < height - 1 ? std::min(crop.max.y + kMargin, height - 1) : crop.max.y;
    crop.max.x = crop.max.x < width - 1 ? std::min(crop.max.x + kMargin, width - 1) : crop.max.x;
    Imath::V2i last(std::max(width - 1, 0), std::max(height - 1, 0));
    crop.min.x = std::clamp(crop.min.x, 0, last.x);
    crop.max.x = std::clamp(crop.max.x, 0, last.x);
    crop.min.y = std::clamp(crop.min.y, 0, last.y);
    crop.max.y = std::clamp(crop.max.y, 0, last.y);
    return crop;
}

Imath::Box2i findCropWindow(int32_t height, int32_t width, const std::vector<ChannelBuffer>& buffers)
{
    CropSearch search(height, width);
    search.addBand(0, height, buffers);
    return search.window();
}

bool cropGainsNothing(const Imath::Box2i& crop, int32_t width, int32_t height)
{
    return crop.min.x < 5 && crop.min.y < 5 && crop.max.x > width - 5 && crop.max.y > height - 5;
}

float keptShare(const Imath::Box2i& crop, const Imath::Box2i& displayWindow)
{
    int64_t kept = int64_t(crop.max.x - crop.min.x + 1) * int64_t(crop.max.y - crop.min.y + 1);
    int64_t display = (int64_t(displayWindow.max.x) - displayWindow.min.x + 1) *
                      (int64_t(displayWindow.max.y) - displayWindow.min.y + 1);
    return float(kept) / float(display) * 100.0f;
}

QString cropLine(const char* prefix, const Imath::Box2i& crop, float share)
{
    return QLatin1String(prefix) + QStringLiteral("min[%1,%2]  max[%3,%4]  %5%%")
                                       .arg(crop.min.x, 4)
                                       .arg(crop.min.y, 4)
                                       .arg(crop.max.x, 4)
                                       .arg(crop.max.y, 4)
                                       .arg(double(share), 2, 'f', 1);
}
