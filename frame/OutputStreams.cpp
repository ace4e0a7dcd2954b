// The output streams of a rewrite (the library writes its headers into them, the tool's writer its chunks): onto a
// temporary file, into a byte count for a dry run, and onto a file whose parts arrive band after band but must lie
// part after part.
#include "frame/OutputStreams.h"

#include "zqshared/zqSystem.h"

#include <Iex.h>

#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// The file stream's buffer.
constexpr size_t kBufferBytes = 1 << 20;
// The spooled chunks are copied in runs of up to this many bytes.
constexpr uint64_t kRunBytes = 4 << 20;

} // namespace

FileOStream::FileOStream(int fd, const char* fileName) : Imf::OStream(fileName), m_fd(fd)
{
    m_buffer.reserve(kBufferBytes);
}

void FileOStream::write(const char c[], int n)
{
    if (m_buffer.size() + size_t(n) > kBufferBytes)
        flush();
    if (size_t(n) > kBufferBytes)
        check(writeAt(c, size_t(n), m_position));
    else
        m_buffer.insert(m_buffer.end(), c, c + n);
    m_position += uint64_t(n);
}

void FileOStream::seekp(uint64_t pos)
{
    flush();
    m_position = pos;
}

void FileOStream::finish()
{
    if (m_error == 0)
        writeAt(m_buffer.data(), m_buffer.size(), m_position - m_buffer.size());
    if (m_error != 0)
        Iex::throwErrnoExc("Error writing image file \"" + std::string(fileName()) + "\". %T.", m_error);
}

void FileOStream::flush()
{
    check(writeAt(m_buffer.data(), m_buffer.size(), m_position - m_buffer.size()));
    m_buffer.clear();
}

void FileOStream::check(bool written)
{
    if (!written)
        Iex::throwErrnoExc("Error writing image file \"" + std::string(fileName()) + "\". %T.", m_error);
}

// Writes count bytes at offset; false once any write of this stream failed.
bool FileOStream::writeAt(const char* bytes, size_t count, uint64_t offset)
{
    return m_error == 0 && zqWriteAllAt(m_fd, bytes, count, offset, m_error);
}

PartOrderedOStream::PartOrderedOStream(int fd, const char* fileName, const QString& target, int parts)
    : Imf::OStream(fileName), m_file(fd, fileName), m_spoolFile(target), m_partBytes(size_t(parts), 0)
{
}

void PartOrderedOStream::write(const char c[], int n)
{
    if (m_phase == Phase::Headers)
        m_file.write(c, n);
    else if (m_phase == Phase::Chunks)
        writeChunkBytes(c, n);
    else
        writeTableBytes(c, n);
    m_position += uint64_t(n);
}

void PartOrderedOStream::seekp(uint64_t pos)
{
    m_file.seekp(pos);
    m_position = pos;
    if (m_phase == Phase::Headers)
        return;
    // Past the headers, the writer seeks only to write the chunk tables, once every chunk is written.
    if (m_phase == Phase::Chunks && (m_leaderBytes != 0 || m_dataLeft != 0))
        fail("the chunk tables are written before the last chunk");
    m_phase = pos < m_chunkStart ? Phase::Tables : Phase::Done;
    m_entryBytes = 0;
}

void PartOrderedOStream::beginChunks()
{
    if (!m_spoolFile.create())
        THROW(Iex::IoExc, "Cannot open image file \"" << m_spoolFile.path().toStdString() << "\". "
                                                         << m_spoolFile.error().toStdString() << ".");
    m_spool = std::make_unique<FileOStream>(m_spoolFile.fd(), m_spoolFile.path().toUtf8().constData());
    m_chunkStart = m_position;
    m_phase = Phase::Chunks;
}

void PartOrderedOStream::finish()
{
    if (!m_failure.empty())
        throw Iex::IoExc(m_failure);
    m_spool->finish();
    m_file.seekp(partStart(1));
    // A part's chunks of one band lie together in the spool file: they are copied as one run.
    std::vector<char> buffer;
    uint64_t          runStart = 0, runBytes = 0;
    auto              copyRun = [&] {
        buffer.resize(size_t(runBytes));
        int64_t got = runBytes == 0 ? 0 : zqReadAt(m_spoolFile.fd(), buffer.data(), size_t(runBytes), runStart);
        if (got != int64_t(runBytes))
            Iex::throwErrnoExc("Cannot read the spooled chunks of \"" + std::string(fileName()) + "\". %T.",
                               got < 0 ? errno : EIO);
        if (runBytes != 0)
            m_file.write(buffer.data(), int(runBytes));
        runBytes = 0;
    };
    for (size_t part = 1; part < m_partBytes.size(); ++part)
        for (const Chunk& chunk : m_chunks)
            if (chunk.part == part)
            {
                if (runBytes != 0 && (chunk.spooled != runStart + runBytes || runBytes + chunk.bytes > kRunBytes))
                    copyRun();
                if (runBytes == 0)
                    runStart = chunk.spooled;
                runBytes += chunk.bytes;
            }
    copyRun();
    m_file.finish();
}

// A chunk is its leader (part number, first line, data size, each 32 bits little-endian), then its data.
void PartOrderedOStream::writeChunkBytes(const char* c, int n)
{
    while (n > 0)
    {
        if (m_dataLeft == 0)
        {
            if (m_leaderBytes == 0)
                m_claimed = m_position;
            size_t take = std::min(size_t(n), kLeaderBytes - m_leaderBytes);
            std::memcpy(m_leader + m_leaderBytes, c, take);
            m_leaderBytes += take, c += take, n -= int(take);
            if (m_leaderBytes == kLeaderBytes)
                startChunk();
            continue;
        }
        size_t take = size_t(std::min<uint64_t>(uint64_t(n), m_dataLeft));
        destination().write(c, int(take));
        m_dataLeft -= take, c += take, n -= int(take);
    }
}

void PartOrderedOStream::startChunk()
{
    int32_t part = 0, size = 0;
    std::memcpy(&part, m_leader, 4);
    std::memcpy(&size, m_leader + 8, 4);
    part = int32_t(qFromLittleEndian(uint32_t(part)));
    size = int32_t(qFromLittleEndian(uint32_t(size)));
    if (part < 0 || size_t(part) >= m_partBytes.size() || size < 0)
        fail("a chunk of an unknown part");
    Chunk chunk{m_claimed, size_t(part), m_partBytes[size_t(part)], kLeaderBytes + size_t(size), m_spooled};
    m_chunks.push_back(chunk);
    m_partBytes[chunk.part] += chunk.bytes;
    if (chunk.part != 0)
        m_spooled += chunk.bytes;
    m_leaderBytes = 0;
    m_dataLeft = uint64_t(size);
    destination().write(m_leader, int(kLeaderBytes));
}

FileOStream& PartOrderedOStream::destination()
{
    return m_chunks.back().part == 0 ? m_file : *m_spool;
}

uint64_t PartOrderedOStream::partStart(size_t part) const
{
    uint64_t start = m_chunkStart;
    for (size_t p = 0; p < part && p < m_partBytes.size(); ++p)
        start += m_partBytes[p];
    return start;
}

// A table is 64-bit little-endian offsets, each moved to where its chunk went.
void PartOrderedOStream::writeTableBytes(const char* c, int n)
{
    if (m_phase == Phase::Done)
        fail("bytes after the chunk tables");
    for (; n > 0; ++c, --n)
    {
        m_entry[m_entryBytes++] = *c;
        if (m_entryBytes < 8)
            continue;
        uint64_t claimed = 0;
        std::memcpy(&claimed, m_entry, 8);
        claimed = qFromLittleEndian(claimed);
        auto chunk = std::lower_bound(m_chunks.begin(), m_chunks.end(), claimed,
                                      [](const Chunk& a, uint64_t at) { return a.claimed < at; });
        if (chunk == m_chunks.end() || chunk->claimed != claimed)
            fail("a table entry that is no chunk's position");
        uint64_t placed = qToLittleEndian(partStart(chunk->part) + chunk->inPart);
        m_file.write(reinterpret_cast<const char*>(&placed), 8);
        m_entryBytes = 0;
    }
}

// Raised at once, and again by finish().
void PartOrderedOStream::fail(const char* what)
{
    if (m_failure.empty())
        m_failure = "Cannot write image file \"" + std::string(fileName()) + "\" in part order: " + what + ".";
    throw Iex::IoExc(m_failure);
}
