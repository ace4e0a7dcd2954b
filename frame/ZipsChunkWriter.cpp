// The chunks of a rewrite's scan-line ZIPS parts, encoded on the library's threads and written as the library's
// writer writes them.
//
// A line's chunk holds the line's samples channel after channel (in the header's channel order, little-endian, as
// the frame's planes hold them). For compression their bytes are split into the even and the odd ones, one half after
// the other, each byte is replaced by its difference from the byte before plus 128, and the result goes through
// compress2() at the header's zip level with the room the library gives it. The chunk keeps the compressed bytes
// when they are fewer than the line's, else the line as it is.
#include "frame/ZipsChunkWriter.h"

#include "frame/FunctionTask.h"
#include "frame/zipByteOrder.h"

#include <Iex.h>
#include <IlmThreadPool.h>
#include <ImfChannelList.h>
#include <ImfThreading.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>

namespace {

// The bytes of encoded lines that may wait to be written.
constexpr size_t kEncodedBytes = size_t(2) << 20;
// The file stream's buffer.
constexpr int64_t kStreamBufferBytes = int64_t(1) << 20;

// Puts the low bytes of value at at, little-endian, as the file holds its numbers.
void putLittleEndian(char* at, uint64_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        at[i] = char(value >> (8 * i));
}

} // namespace

/// Lines encoded side by side and written in order. A thread takes the next line while fewer than a window of lines
/// wait to be written, so that the memory of the encoded lines stays bounded; the thread that finds the next line to
/// write encoded writes it and every encoded line after it, so that no thread waits for another to write.
class ZipsChunkWriter::Encoding
{
public:
    Encoding(ZipsChunkWriter& writer, std::vector<std::pair<size_t, int>> lines, size_t window)
        : m_writer(writer), m_lines(std::move(lines)), m_slots(window)
    {
    }
    /// Stops the threads and waits for them.
    ~Encoding()
    {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopped = true;
            m_room.notify_all();
        }
        m_group.reset();
    }

    /// Starts encoding and writing every line on the given number of the library's threads.
    void start(int threads)
    {
        m_group = std::make_unique<IlmThread::TaskGroup>();
        for (int t = 0; t < threads; ++t)
            IlmThread::ThreadPool::addGlobalTask(new FunctionTask(m_group.get(), [this] { work(); }));
    }
    /// Waits until every line is written; throws the first failure.
    void finish()
    {
        m_group.reset();
        if (!m_failure.empty())
            throw Iex::IoExc(m_failure);
    }

private:
    struct Slot
    {
        std::vector<char> chunk;
        bool              ready = false;
    };

    void work()
    {
        std::vector<char>            packed;
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;)
        {
            while (!m_stopped && m_next < m_lines.size() && m_next >= m_written + m_slots.size())
            {
                ++m_waitingThreads;
                m_room.wait(lock);
                --m_waitingThreads;
            }
            if (m_stopped || m_next >= m_lines.size())
                return;
            const size_t line = m_next++;
            Slot&        slot = m_slots[line % m_slots.size()];
            lock.unlock();
            const std::string failure =
                guarded([&] { m_writer.encodeLine(m_lines[line].first, m_lines[line].second, slot.chunk, packed); });
            lock.lock();
            slot.ready = failure.empty();
            fail(failure);
            if (!m_writing)
                writeReadyLines(lock);
        }
    }

    // Writes the encoded lines that are next in order, the lock released while each is written.
    void writeReadyLines(std::unique_lock<std::mutex>& lock)
    {
        m_writing = true;
        while (!m_stopped && m_written < m_lines.size() && m_slots[m_written % m_slots.size()].ready)
        {
            const size_t line = m_written;
            Slot&        slot = m_slots[line % m_slots.size()];
            lock.unlock();
            const std::string failure =
                guarded([&] { m_writer.writeChunk(m_lines[line].first, m_lines[line].second, slot.chunk); });
            lock.lock();
            fail(failure);
            slot.ready = false;
            ++m_written;
            if (m_waitingThreads > 0)
                m_room.notify_one();
        }
        m_writing = false;
    }

    // Runs step; the text of its exception, or nothing.
    template <typename Step>
    static std::string guarded(const Step& step)
    {
        try
        {
            step();
        }
        catch (const std::exception& failure)
        {
            return failure.what();
        }
        catch (...)
        {
            return "Unknown error while writing a line.";
        }
        return std::string();
    }

    // Keeps the first failure and stops every thread; called with the lock held.
    void fail(const std::string& failure)
    {
        if (failure.empty())
            return;
        if (m_failure.empty())
            m_failure = failure;
        m_stopped = true;
        m_room.notify_all();
    }

    ZipsChunkWriter&                           m_writer;
    const std::vector<std::pair<size_t, int>>  m_lines;
    std::vector<Slot>                          m_slots;
    std::mutex                                 m_mutex;
    std::condition_variable                    m_room; ///< a slot is free, or the encoding stops
    size_t                                     m_next = 0;    ///< the next line to encode
    size_t                                     m_written = 0; ///< lines written
    int                                        m_waitingThreads = 0;
    bool                                       m_writing = false; ///< a thread writes lines
    bool                                       m_stopped = false;
    std::string                                m_failure;
    std::unique_ptr<IlmThread::TaskGroup>      m_group;
};

int64_t zipsWriterBytes(int threads, int64_t lineBytes)
{
    // A line being encoded and three encoded ones per thread, the encoded bytes' share beside them where that is
    // more, and the file stream's buffer.
    const int64_t lines = 4 * int64_t(std::max(threads, 1));
    if (lineBytes < 0 ||
        lineBytes > (std::numeric_limits<int64_t>::max() - int64_t(kEncodedBytes) - kStreamBufferBytes) / lines)
        return std::numeric_limits<int64_t>::max();
    return lines * lineBytes + int64_t(kEncodedBytes) + kStreamBufferBytes;
}

ZipsChunkWriter::ZipsChunkWriter(Imf::OStream& stream, const std::vector<Imf::Header>& headers,
                                 const FramePixels& pixels, const std::vector<OutputChannels>& outputs)
    : m_stream(stream), m_pixels(pixels), m_multiPart(headers.size() > 1)
{
    // The chunk tables lie one after the other right before the chunks, where the stream stands now.
    uint64_t tables = 0;
    for (size_t p = 0; p < headers.size(); ++p)
    {
        const Imf::Header& header = headers[p];
        if (header.compression() != Imf::ZIPS_COMPRESSION || header.lineOrder() != Imf::INCREASING_Y ||
            header.hasTileDescription())
            throw std::logic_error("The rewrite's parts are scan-line ZIPS parts in increasing lines.");
        const Imath::Box2i& window = header.dataWindow();
        const Imath::Box2i& rows = pixels.dataWindow();
        if (window.min.x < rows.min.x || window.max.x > rows.max.x || window.min.y < rows.min.y ||
            window.max.y > rows.max.y || window.min.x > window.max.x || window.min.y > window.max.y)
            throw std::logic_error("A rewritten part reaches outside the frame's data window.");
        Part part;
        part.minY = window.min.y;
        part.level = header.zipCompressionLevel();
        part.offsets.assign(size_t(int64_t(window.max.y) - window.min.y + 1), 0);
        const size_t columns = size_t(int64_t(window.max.x) - window.min.x + 1);
        const size_t skipped = size_t(int64_t(window.min.x) - rows.min.x);
        for (Imf::ChannelList::ConstIterator it = header.channels().begin(); it != header.channels().end(); ++it)
        {
            const OutputChannel* source = nullptr;
            for (const OutputChannel& output : outputs[p])
                if (output.name == it.name())
                    source = &output;
            if (!source || it.channel().xSampling != 1 || it.channel().ySampling != 1)
                throw std::logic_error("A rewritten channel has no samples to take.");
            const size_t sampleBytes = bytesPerSample(it.channel().type);
            part.channels.push_back(LineChannel{source->channel, skipped * sampleBytes, columns * sampleBytes});
            part.lineBytes += columns * sampleBytes;
        }
        // The library counts a line's bytes in an int.
        if (part.lineBytes > size_t(INT_MAX) / 2)
            THROW(Iex::ArgExc, "A line of part " << p << " is too long to be written.");
        tables += part.offsets.size() * 8;
        m_parts.push_back(std::move(part));
    }
    uint64_t at = stream.tellp() - tables;
    for (Part& part : m_parts)
    {
        part.table = at;
        at += part.offsets.size() * 8;
    }
}

void ZipsChunkWriter::encodeLine(size_t p, int y, std::vector<char>& chunk, std::vector<char>& packed) const
{
    const Part&  part = m_parts[p];
    const size_t leader = m_multiPart ? 12 : 8;
    const size_t raw = part.lineBytes;
    packed.resize(raw);
    size_t at = 0;
    for (const LineChannel& channel : part.channels)
    {
        const char* row = m_pixels.heldRow(channel.channel, y);
        if (!row)
            throw std::logic_error("A rewritten line is not held.");
        uint8_t* halves = reinterpret_cast<uint8_t*>(packed.data());
        splitEvenAndOdd(reinterpret_cast<const uint8_t*>(row + channel.offset), channel.bytes, halves + at / 2,
                        halves + raw / 2 + at / 2);
        at += channel.bytes;
    }
    predict(reinterpret_cast<uint8_t*>(packed.data()), raw);

    uLongf room = uLongf(int(std::ceil(int(raw) * 1.01)) + 100);
    chunk.resize(leader + room);
    if (compress2(reinterpret_cast<Bytef*>(chunk.data() + leader), &room, reinterpret_cast<const Bytef*>(packed.data()),
                  uLong(raw), part.level) != Z_OK)
        throw Iex::BaseExc("Data compression (zlib) failed.");
    size_t data = room;
    if (data >= raw)
    {
        // Compression does not shrink the line: it is kept as it is.
        data = raw;
        at = leader;
        for (const LineChannel& channel : part.channels)
        {
            std::memcpy(chunk.data() + at, m_pixels.heldRow(channel.channel, y) + channel.offset, channel.bytes);
            at += channel.bytes;
        }
    }
    chunk.resize(leader + data);
    char* field = chunk.data();
    if (m_multiPart)
    {
        putLittleEndian(field, p, 4);
        field += 4;
    }
    putLittleEndian(field, uint32_t(y), 4);
    putLittleEndian(field + 4, data, 4);
}

void ZipsChunkWriter::writeChunk(size_t p, int y, const std::vector<char>& chunk)
{
    Part& part = m_parts[p];
    part.offsets[size_t(int64_t(y) - part.minY)] = m_stream.tellp();
    m_stream.write(chunk.data(), int(chunk.size()));
}

ZipsChunkWriter::~ZipsChunkWriter() = default;

void ZipsChunkWriter::writeLines(const std::vector<PartLines>& ranges)
{
    startLines(ranges);
    finishLines();
}

void ZipsChunkWriter::startLines(const std::vector<PartLines>& ranges)
{
    std::vector<std::pair<size_t, int>> lines;
    for (const PartLines& range : ranges)
        for (int y = range.first; y <= range.last; ++y)
            lines.emplace_back(range.part, y);
    const int threads = Imf::globalThreadCount();
    if (threads == 0 || lines.size() < 2)
    {
        std::vector<char> chunk, packed;
        for (const auto& line : lines)
        {
            encodeLine(line.first, line.second, chunk, packed);
            writeChunk(line.first, line.second, chunk);
        }
        return;
    }
    // The encoded lines waiting to be written take up to a few megabytes, so that the other threads go on encoding
    // while one writes out the file stream's buffer (a megabyte, which the kernel takes about a millisecond to take
    // in), and at least three lines per thread.
    size_t longest = 1;
    for (const Part& part : m_parts)
        longest = std::max(longest, part.lineBytes);
    const size_t window = std::min(lines.size(), std::max(size_t(3 * threads), kEncodedBytes / longest));
    m_encoding = std::make_unique<Encoding>(*this, std::move(lines), window);
    m_encoding->start(threads);
}

void ZipsChunkWriter::finishLines()
{
    if (!m_encoding)
        return;
    std::unique_ptr<Encoding> encoding = std::move(m_encoding);
    encoding->finish();
}

void ZipsChunkWriter::writeTables()
{
    const uint64_t end = m_stream.tellp();
    for (const Part& part : m_parts)
    {
        std::vector<char> table(part.offsets.size() * 8);
        for (size_t entry = 0; entry < part.offsets.size(); ++entry)
            putLittleEndian(table.data() + entry * 8, part.offsets[entry], 8);
        m_stream.seekp(part.table);
        m_stream.write(table.data(), int(table.size()));
        m_stream.seekp(end);
    }
}
