// The pixels of one frame as a conversion reads them, in bands within the memory budget.
//
// The budget covers the planes, the scratch memory of decoding (per decoding task the compressed chunk, the unpacked
// chunk and the inflated one, and PIZ's tables) and the writer's buffers. A band is whole chunks of every read part,
// so that no chunk is ever decoded for two bands. The planes of a band come from the plane pool, so a sequence of
// frames of one layout reuses the same memory.
#include "frame/FramePixels.h"

#include "frame/FrameJob.h"
#include "frame/chunkDecodeSteps.h"
#include "frame/findCropWindow.h"
#include "frame/ZipsChunkWriter.h"
#include "zqshared/zqSystem.h"

#include <ImfChannelList.h>

#include <ImfHeader.h>
#include <ImfMultiPartInputFile.h>
#include <ImfThreading.h>

#include <algorithm>
#include <limits>
#include <new>
#include <numeric>

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

int64_t saturatingMultiply(int64_t a, int64_t b)
{
    int64_t product = 0;
    return __builtin_mul_overflow(a, b, &product) ? kMax : product;
}

int64_t saturatingAdd(int64_t a, int64_t b)
{
    int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? kMax : sum;
}

// Bands hold at most this share of the budget each, so that a frame a little over the budget keeps most of its rows.
constexpr int64_t kBandsPerBudget = 8;
// A band of a frame that fits the budget: chunks for each decoding task, and lines at least.
constexpr int64_t kChunksPerTaskInBand = 2;
constexpr int64_t kLinesInBand = 128;
// Scratch buffers of one decoding task, in chunks of its part.
constexpr int64_t kScratchPerTask = 3;

/// What holding a frame in bands costs.
struct BandCosts
{
    int64_t             width = 0;
    int64_t             align = 1;          ///< the lines of a band: whole chunks of every read part
    int64_t             parts = 0;          ///< the parts decoded
    int64_t             scratchPerTask = 0; ///< one decoding task's scratch memory
    int64_t             encoderBytes = 0;   ///< the encoder's line buffers
    int                 threads = 1;        ///< the library's threads
    std::vector<size_t> sampleBytes;        ///< per read channel

    /// The memory of the given rows of every read channel, each plane as the plane memory lays it out.
    int64_t planes(int64_t rows) const
    {
        int64_t bytes = 0;
        for (size_t size : sampleBytes)
        {
            int64_t plane = saturatingMultiply(saturatingMultiply(width, rows), int64_t(size));
            bytes = saturatingAdd(bytes, plane == kMax ? kMax : int64_t(zqPlaneFootprint(size_t(plane))));
        }
        return bytes;
    }
    /// The decoding's and the encoder's buffers with the given decoding tasks.
    int64_t buffers(int tasks) const { return saturatingAdd(saturatingMultiply(tasks, scratchPerTask), encoderBytes); }
};

BandCosts measureBands(const Imf::MultiPartInputFile& headers, const std::vector<FrameChannel>& channels,
                       int64_t width, int64_t height)
{
    BandCosts         costs;
    int64_t           rowBytes = 0;
    std::vector<bool> decoded(size_t(headers.parts()), false);
    costs.width = width;
    for (const FrameChannel& channel : channels)
    {
        decoded[size_t(channel.part)] = true;
        if (channel.read)
        {
            costs.sampleBytes.push_back(bytesPerSample(channel.type));
            rowBytes = saturatingAdd(rowBytes, saturatingMultiply(width, int64_t(bytesPerSample(channel.type))));
        }
    }
    for (int part = 0; part < headers.parts(); ++part)
    {
        if (!decoded[size_t(part)])
            continue;
        ++costs.parts;
        // Core unpacks every channel of a chunk, read or not.
        const Imf::Header& header = headers.header(part);
        int64_t            lines = linesPerChunk(header), partSampleBytes = 0;
        for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
            partSampleBytes += int64_t(bytesPerSample(it.channel().type));
        costs.align = std::min<int64_t>(std::lcm(costs.align, std::max<int64_t>(lines, 1)), height);
        int64_t scratch = saturatingMultiply(saturatingMultiply(lines, width),
                                             saturatingMultiply(partSampleBytes, kScratchPerTask));
        if (header.compression() == Imf::PIZ_COMPRESSION)
            scratch = saturatingAdd(scratch, int64_t(pizScratchBytes()));
        costs.scratchPerTask = std::max(costs.scratchPerTask, scratch);
    }
    costs.threads = std::max(1, Imf::globalThreadCount());
    costs.encoderBytes = zipsWriterBytes(costs.threads, rowBytes);
    return costs;
}

} // namespace

FramePixels::FramePixels(FrameFile& file, const Imath::Box2i& dataWindow, std::vector<FrameChannel> channels)
    : m_file(file), m_window(dataWindow), m_channels(std::move(channels))
{
}

bool FramePixels::plan(int64_t budget)
{
    const int64_t width = int64_t(m_window.max.x) - m_window.min.x + 1;
    const int64_t height = int64_t(m_window.max.y) - m_window.min.y + 1;
    // A plane must be addressable with 32-bit coordinates.
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int32_t>::max() ||
        height > std::numeric_limits<int32_t>::max())
        return false;
    m_width = int32_t(width);
    m_height = int32_t(height);

    const BandCosts costs = measureBands(m_file.headers(), m_channels, width, height);
    // More decoding tasks than CPUs only add scratch memory.
    int     tasks = std::min(costs.threads, zqAvailableCpuCount());
    int64_t planes = costs.planes(height);
    if (saturatingAdd(planes, costs.buffers(tasks)) <= budget)
    {
        // Every band may be held, but a band without crop-window rows lends its planes to a later one, so that the
        // rows outside the window take no fresh memory. A band is two chunks for each decoding task and at least
        // 128 lines for each part: each part of a band ends with a wait for its last chunk, which smaller bands pay
        // more often than they save fresh memory (64 lines measured 4 to 6 % slower on the HD and UHD benchmark
        // frames; 128 lines of a frame of six parts, 10 % slower). Four 32-line chunks per task made the PIZ frame 2 %
        // faster but its peak RSS 32 MiB higher.
        const int64_t lines = saturatingMultiply(kLinesInBand, std::max<int64_t>(costs.parts, 1));
        const int64_t chunks = std::max(tasks * kChunksPerTaskInBand, (lines + costs.align - 1) / costs.align);
        m_bandRows = int32_t(std::min(costs.align * chunks, height));
        m_slotLimit = size_t(bandCount());
    }
    else
    {
        const int64_t smallest = costs.planes(costs.align);
        if (smallest > budget)
            return false;
        // Decoding takes at most half the budget, and less where a band would not fit beside it.
        while (tasks > 1 && (saturatingMultiply(tasks, costs.scratchPerTask) > budget / 2 ||
                             saturatingAdd(smallest, costs.buffers(tasks)) > budget))
            --tasks;
        const int64_t forPlanes = std::max(smallest, budget - costs.buffers(tasks));
        // A band holds a chunk for every decoding task, so that its chunks are decoded side by side, and an eighth of
        // the planes' share where that is more; but at most half of it where a band of one chunk fits that, so that
        // bands can be kept.
        int64_t chunks = std::max<int64_t>(tasks, forPlanes / kBandsPerBudget / std::max<int64_t>(smallest, 1));
        while (chunks > 1 && costs.planes(std::min(chunks * costs.align, height)) > forPlanes / 2)
            --chunks;
        m_bandRows = int32_t(std::min(chunks * costs.align, height));
        m_slotLimit = size_t(std::max<int64_t>(forPlanes / std::max<int64_t>(costs.planes(m_bandRows), 1), 1));
        planes = saturatingMultiply(int64_t(m_slotLimit), costs.planes(m_bandRows));
    }
    // Decoding may use what the planes leave of the budget, and never less than its tasks need.
    m_file.setDecodeLimits(tasks, std::max(saturatingMultiply(tasks, costs.scratchPerTask), budget - planes));

    // The plane pool keeps what this frame's planes will take again, and nothing more.
    std::vector<size_t> sizes;
    for (size_t slot = 0; slot < m_slotLimit; ++slot)
        for (const FrameChannel& channel : m_channels)
            if (channel.read)
                sizes.push_back(size_t(m_width) * size_t(m_bandRows) * bytesPerSample(channel.type));
    keepPlaneMemoryFor(sizes);
    return true;
}

int64_t FramePixels::wholeMegabytes() const
{
    int64_t width = int64_t(m_window.max.x) - m_window.min.x + 1, height = int64_t(m_window.max.y) - m_window.min.y + 1;
    int64_t bytes = 0;
    for (const FrameChannel& channel : m_channels)
        if (channel.read)
            bytes = saturatingAdd(bytes, saturatingMultiply(saturatingMultiply(width, height),
                                                            int64_t(bytesPerSample(channel.type))));
    return bytes / 1048576;
}

int32_t FramePixels::bandCount() const
{
    return int32_t((int64_t(m_height) + m_bandRows - 1) / m_bandRows);
}

int32_t FramePixels::bandRows(int32_t band) const
{
    return std::min(m_bandRows, m_height - bandTop(band));
}

FramePixels::Slot* FramePixels::slotHolding(int32_t band)
{
    for (Slot& slot : m_slots)
        if (slot.band == band)
            return &slot;
    return nullptr;
}

// A slot to load a band into: the first that holds nothing or a band that is no longer wanted, else a new one while
// the plan allows more and their planes can be had, else the one that holds the band furthest down.
FramePixels::Slot& FramePixels::slotFor(const std::function<bool(const Slot&)>& reusable)
{
    for (Slot& slot : m_slots)
        if (slot.band < 0 || reusable(slot))
            return slot;
    if (m_slots.size() < m_slotLimit)
    {
        Slot fresh;
        bool allocated = true;
        for (const FrameChannel& channel : m_channels)
        {
            fresh.channels.push_back(ChannelBuffer{channel.name, channel.type, 0, 0, {}});
            if (channel.read)
                allocated = allocated && allocatePlane(fresh.channels.back(), m_width, m_bandRows);
        }
        if (allocated)
        {
            m_slots.push_back(std::move(fresh));
            return m_slots.back();
        }
        if (m_slots.empty())
            throw std::bad_alloc();
        m_slotLimit = m_slots.size();
    }
    return *std::max_element(m_slots.begin(), m_slots.end(),
                             [](const Slot& a, const Slot& b) { return a.band < b.band; });
}

void FramePixels::load(Slot& slot, int32_t band)
{
    slot.band = -1;
    const int y0 = m_window.min.y + bandTop(band), y1 = y0 + bandRows(band) - 1;
    const size_t rows = size_t(bandRows(band));
    // Every part with a channel in the table is decoded, also one whose channels are all left unread (the ID
    // channels of a Cryptomatte frame), so that a damaged chunk fails the frame before anything is written.
    for (int part = 0; part < m_file.headers().parts(); ++part)
    {
        std::vector<PlaneTarget> targets;
        bool                     inTable = false;
        for (const ChannelBuffer& buffer : slot.channels)
        {
            const FrameChannel& channel = m_channels[size_t(&buffer - slot.channels.data())];
            inTable = inTable || channel.part == part;
            if (channel.read && channel.part == part)
                targets.push_back(PlaneTarget{channel.name, channel.type, buffer.plane.get(),
                                              size_t(m_width) * rows * bytesPerSample(channel.type)});
        }
        if (inTable)
            m_file.readRows(part, y0, y1, targets);
    }
    slot.band = band;
}

Imath::Box2i FramePixels::readAll()
{
    // From the top until content is found, then from the bottom until content is found, then the rows between, which
    // all lie in the window. A band lends its planes to the next as soon as it cannot hold window rows, so that the
    // rows above and below the window take no fresh memory and no band of the window is read twice. Each band is
    // searched while the next one is read; what the search finds guides the choice of the band after that.
    CropSearch search(m_height, m_width);
    int32_t    searched = -1; // the band read last, still to be searched
    const auto searchBand = [&](bool start) {
        const Slot* slot = slotHolding(searched);
        if (start)
            search.startBand(bandTop(searched), bandRows(searched), slot->channels);
        else
            search.addBand(bandTop(searched), bandRows(searched), slot->channels);
    };
    const auto readBand = [&](int32_t band) {
        Slot& slot = slotFor([&](const Slot& held) {
            return !search.mayHoldWindowRows(bandTop(held.band), bandTop(held.band) + bandRows(held.band) - 1);
        });
        // Where the band read last must give up its planes, it is searched first.
        if (searched >= 0 && slot.band == searched)
        {
            searchBand(false);
            searched = -1;
        }
        if (searched >= 0)
            searchBand(true);
        load(slot, band);
        search.finishBand();
        searched = band;
    };
    int32_t top = 0, bottom = bandCount();
    while (top < bottom && search.contentSoFar().isEmpty())
        readBand(top++);
    while (top < bottom)
    {
        readBand(--bottom);
        if (search.contentSoFar().max.y >= bandTop(bottom + 1))
            break;
    }
    while (top < bottom)
        readBand(top++);
    if (searched >= 0)
        searchBand(false);
    return search.window();
}

bool FramePixels::holdsRows(int y0, int y1) const
{
    for (int32_t band = (y0 - m_window.min.y) / m_bandRows; band <= (y1 - m_window.min.y) / m_bandRows; ++band)
        if (std::none_of(m_slots.begin(), m_slots.end(), [band](const Slot& slot) { return slot.band == band; }))
            return false;
    return true;
}

void FramePixels::forEachBand(int y0, int y1, const std::function<void(int first, int last)>& visit,
                              const std::function<void()>& settle)
{
    const int32_t firstBand = (y0 - m_window.min.y) / m_bandRows, lastBand = (y1 - m_window.min.y) / m_bandRows;
    int32_t       visited = -1; // the band whose visit may still be at work
    const auto    settleVisit = [&] {
        if (visited >= 0 && settle)
            settle();
        visited = -1;
    };
    for (int32_t band = firstBand; band <= lastBand; ++band)
    {
        Slot* slot = slotHolding(band);
        if (!slot)
        {
            // A band already visited, or one outside the rows, is not wanted again in this pass; the band of a visit
            // still at work gives up its planes only once that visit is done.
            slot = &slotFor([&](const Slot& held) {
                return held.band != visited && (held.band < band || held.band > lastBand);
            });
            if (slot->band == visited)
                settleVisit();
            try
            {
                load(*slot, band);
            }
            catch (const std::exception& error)
            {
                ImagePluginResult code = readFailureCode(error);
                throw FrameReadFailure(code, code == MemoryAllocationFailed ? "" : error.what());
            }
        }
        settleVisit();
        m_current = slot;
        const int top = m_window.min.y + bandTop(band);
        visit(std::max(y0, top), std::min(y1, top + bandRows(band) - 1));
        visited = band;
    }
    settleVisit();
    m_current = nullptr;
}

const char* FramePixels::heldRow(size_t channel, int y) const
{
    if (y < m_window.min.y || y > m_window.max.y || channel >= m_channels.size())
        return nullptr;
    const int64_t row = int64_t(y) - m_window.min.y;
    const int32_t band = int32_t(row / m_bandRows);
    for (const Slot& slot : m_slots)
        if (slot.band == band && slot.channels[channel].plane)
            return slot.channels[channel].plane.get() +
                   size_t(row - bandTop(band)) * size_t(m_width) * bytesPerSample(slot.channels[channel].type);
    return nullptr;
}

Imf::FrameBuffer FramePixels::frameBuffer(const OutputChannels& channels) const
{
    Imf::FrameBuffer    frameBuffer;
    const int           top = m_window.min.y + bandTop(m_current->band);
    const Imath::Box2i  rows(Imath::V2i(m_window.min.x, top), Imath::V2i(m_window.max.x, top + m_bandRows - 1));
    for (const OutputChannel& channel : channels)
    {
        const ChannelBuffer& buffer = m_current->channels[channel.channel];
        frameBuffer.insert(channel.name, planeSlice(buffer.type, buffer.plane.get(), rows));
    }
    return frameBuffer;
}
