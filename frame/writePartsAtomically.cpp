// Writing of a scan-line multi-part file through a temporary file that replaces the target only when complete.
#include "frame/writePartsAtomically.h"

#include "frame/FrameFile.h"
#include "zqshared/zqFile.h"
#include "zqshared/zqPath.h"
#include "zqshared/zqSystem.h"

#include <Iex.h>
#include <ImfChannelList.h>
#include <ImfInputPart.h>
#include <ImfIO.h>
#include <ImfMultiPartInputFile.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfThreading.h>

#include <QtEndian>

#include <algorithm>
#include <functional>
#include <memory>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr int kLongPathLength = 240;
constexpr int kVerifyRows = 64;

// An output stream on an open file descriptor. The library swallows errors while it finishes a file in its
// destructor, so the first failure is also kept and raised again by finish().
class FileOStream : public Imf::OStream
{
public:
    FileOStream(int fd, const char* fileName) : Imf::OStream(fileName), m_fd(fd) { m_buffer.reserve(kBufferBytes); }

    void write(const char c[], int n) override
    {
        if (m_buffer.size() + size_t(n) > kBufferBytes)
            flush();
        if (size_t(n) > kBufferBytes)
            check(writeAt(c, size_t(n), m_position));
        else
            m_buffer.insert(m_buffer.end(), c, c + n);
        m_position += uint64_t(n);
    }
    uint64_t tellp() override { return m_position; }
    void     seekp(uint64_t pos) override
    {
        flush();
        m_position = pos;
    }
    /// Nothing changes once the headers are written.
    void beginChunks() {}
    /// Writes what is buffered and raises the first failure, also one the library swallowed.
    void finish()
    {
        if (m_error == 0)
            writeAt(m_buffer.data(), m_buffer.size(), m_position - m_buffer.size());
        if (m_error != 0)
            Iex::throwErrnoExc("Error writing image file \"" + std::string(fileName()) + "\". %T.", m_error);
    }

private:
    static constexpr size_t kBufferBytes = 1 << 20;

    void flush()
    {
        check(writeAt(m_buffer.data(), m_buffer.size(), m_position - m_buffer.size()));
        m_buffer.clear();
    }
    void check(bool written)
    {
        if (!written)
            Iex::throwErrnoExc("%T.", m_error);
    }
    // Writes count bytes at offset; false once any write of this stream failed.
    bool writeAt(const char* bytes, size_t count, uint64_t offset)
    {
        return m_error == 0 && zqWriteAllAt(m_fd, bytes, count, offset, m_error);
    }

    int               m_fd;
    uint64_t          m_position = 0;
    std::vector<char> m_buffer;
    int               m_error = 0;
};

// An output stream that keeps nothing and only learns how long the file would be: a dry run encodes every rewrite
// in full into it, so the sizes it reports are exact.
class ByteCountingOStream : public Imf::OStream
{
public:
    explicit ByteCountingOStream(const char* fileName) : Imf::OStream(fileName) {}

    void write(const char[], int n) override
    {
        m_position += uint64_t(n);
        m_size = std::max(m_size, m_position);
    }
    uint64_t tellp() override { return m_position; }
    void     seekp(uint64_t pos) override { m_position = pos; }
    /// The file's size: the end of the furthest byte written.
    uint64_t size() const { return m_size; }
    /// Nothing changes once the headers are written.
    void beginChunks() {}
    /// Nothing to write out and nothing that can fail.
    void finish() {}

private:
    uint64_t m_position = 0;
    uint64_t m_size = 0;
};

// An output stream for parts written band after band. Their chunks arrive interleaved (a band of part 0, the same
// band of part 1, ..., then the next band), but the file must hold them part after part, as a write of the whole frame
// leaves them, so that its bytes do not depend on the memory budget. Part 0's chunks go straight to their place; the
// others wait in a spool file beside the target and follow in part order when the file is finished. The chunk
// offsets that the library writes into the parts' tables are moved from where it believed each chunk went to where
// it went.
class PartOrderedOStream : public Imf::OStream
{
public:
    PartOrderedOStream(int fd, const char* fileName, const QString& target, int parts)
        : Imf::OStream(fileName), m_file(fd, fileName), m_spoolFile(target), m_partBytes(size_t(parts), 0)
    {
    }

    void write(const char c[], int n) override
    {
        if (m_phase == Phase::Headers)
            m_file.write(c, n);
        else if (m_phase == Phase::Chunks)
            writeChunkBytes(c, n);
        else
            writeTableBytes(c, n);
        m_position += uint64_t(n);
    }
    uint64_t tellp() override { return m_position; }
    void     seekp(uint64_t pos) override
    {
        m_file.seekp(pos);
        m_position = pos;
        if (m_phase == Phase::Headers)
            return;
        // Past the headers, the library seeks only to write the chunk tables, once every chunk is written.
        if (m_phase == Phase::Chunks && (m_leaderBytes != 0 || m_dataLeft != 0))
            fail("the chunk tables are written before the last chunk");
        m_phase = pos < m_chunkStart ? Phase::Tables : Phase::Done;
        m_entryBytes = 0;
    }
    /// The headers and the empty chunk tables are written: what follows are chunks.
    void beginChunks()
    {
        if (!m_spoolFile.create())
            THROW(Iex::IoExc, "Cannot open image file \"" << m_spoolFile.path().toStdString() << "\". "
                                                             << m_spoolFile.error().toStdString() << ".");
        m_spool = std::make_unique<FileOStream>(m_spoolFile.fd(), m_spoolFile.path().toUtf8().constData());
        m_chunkStart = m_position;
        m_phase = Phase::Chunks;
    }
    /// Moves the spooled chunks into place after part 0's, writes out what is buffered and raises the first failure,
    /// also one the library swallowed.
    void finish()
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

private:
    enum class Phase
    {
        Headers, ///< the headers and the empty tables: written as they come
        Chunks,  ///< chunks of every part, interleaved
        Tables,  ///< the offsets of a part's chunk table
        Done,    ///< nothing more is written
    };
    /// A chunk as the library wrote it: where it believed it went, and where its bytes are.
    struct Chunk
    {
        uint64_t claimed = 0; ///< the position the library gave it
        size_t   part = 0;
        uint64_t inPart = 0;  ///< its position among its part's chunks
        size_t   bytes = 0;   ///< its size with its leader (part, first line and data size)
        uint64_t spooled = 0; ///< its position in the spool file, for a part other than 0
    };
    static constexpr size_t   kLeaderBytes = 12;
    static constexpr uint64_t kRunBytes = 4 << 20;

    // A chunk is its leader (part number, first line, data size, each 32 bits little-endian), then its data.
    void writeChunkBytes(const char* c, int n)
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
    void startChunk()
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
    FileOStream& destination() { return m_chunks.back().part == 0 ? m_file : *m_spool; }

    uint64_t partStart(size_t part) const
    {
        uint64_t start = m_chunkStart;
        for (size_t p = 0; p < part && p < m_partBytes.size(); ++p)
            start += m_partBytes[p];
        return start;
    }
    // A table is 64-bit little-endian offsets, each moved to where its chunk went.
    void writeTableBytes(const char* c, int n)
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
    // Raised at once, and again by finish() where the library swallowed it.
    void fail(const char* what)
    {
        if (m_failure.empty())
            m_failure = "Cannot write image file \"" + std::string(fileName()) + "\" in part order: " + what + ".";
        throw Iex::IoExc(m_failure);
    }

    FileOStream                  m_file;
    zqTempFileBeside             m_spoolFile;
    std::unique_ptr<FileOStream> m_spool;
    std::vector<uint64_t>        m_partBytes; ///< per part, the bytes of its chunks so far
    std::vector<Chunk>           m_chunks;    ///< in the order written, so by the positions the library gave them
    Phase                        m_phase = Phase::Headers;
    uint64_t                     m_position = 0;   ///< where the library believes it writes
    uint64_t                     m_chunkStart = 0; ///< where the first chunk goes
    uint64_t                     m_spooled = 0;    ///< bytes in the spool file
    uint64_t                     m_claimed = 0;    ///< the position the chunk being written was given
    char                         m_leader[kLeaderBytes] = {};
    size_t                       m_leaderBytes = 0;
    uint64_t                     m_dataLeft = 0;
    char                         m_entry[8] = {};
    size_t                       m_entryBytes = 0;
    std::string                  m_failure;
};

// Writes every part into stream (a file, or the byte counter of a dry run), a part's rows in the pixels' bands; the
// parts one after the other when the rows are held or there is only one part, else band after band. The library's
// exceptions, and the pixels' FrameReadFailure, pass to the caller.
template <typename Stream>
void writeParts(Stream& stream, const std::vector<Imf::Header>& headers, FramePixels& pixels,
                const std::vector<OutputChannels>& outputs, bool partAfterPart)
{
    {
        Imf::MultiPartOutputFile output(stream, headers.data(), int(headers.size()), false, Imf::globalThreadCount());
        stream.beginChunks();
        std::vector<Imf::OutputPart> parts;
        for (int p = 0; p < int(headers.size()); ++p)
            parts.emplace_back(output, p);
        auto writeRows = [&](size_t p, int first, int last) {
            parts[p].setFrameBuffer(pixels.frameBuffer(outputs[p]));
            parts[p].writePixels(last - first + 1);
        };
        // Every part has the same data window.
        const Imath::Box2i& window = headers.front().dataWindow();
        if (partAfterPart)
            for (size_t p = 0; p < parts.size(); ++p)
                pixels.forEachBand(window.min.y, window.max.y, [&](int first, int last) { writeRows(p, first, last); });
        else
            pixels.forEachBand(window.min.y, window.max.y, [&](int first, int last) {
                for (size_t p = 0; p < parts.size(); ++p)
                    writeRows(p, first, last);
            });
    }
    stream.finish();
}

// The first row of rows [y0, y1] of a strip where a channel's read samples differ from the meant ones, or -1 with
// x unset. The strip holds width samples a row, from the data window's first column.
int firstDifference(const Imf::Slice& meant, const std::vector<char>& strip, const Imath::Box2i& window, int y0,
                    int y1, int& x)
{
    const size_t size = bytesPerSample(meant.type);
    const size_t width = size_t(window.max.x - window.min.x + 1);
    for (int y = y0; y <= y1; ++y)
    {
        const char* read = strip.data() + size_t(y - y0) * width * size;
        for (int column = window.min.x; column <= window.max.x; ++column, read += size)
        {
            // The slice's origin may lie far outside its plane: the address is formed in integers.
            const char* sample = reinterpret_cast<const char*>(uintptr_t(meant.base) +
                                                               uintptr_t(intptr_t(column)) * uintptr_t(meant.xStride) +
                                                               uintptr_t(intptr_t(y)) * uintptr_t(meant.yStride));
            if (std::memcmp(sample, read, size) != 0)
            {
                x = column;
                return y;
            }
        }
    }
    return -1;
}

// Compares rows first to last of one part of the file, a strip of rows at a time, with what its frame buffer meant to
// write.
QString compareRows(Imf::MultiPartInputFile& file, int p, const Imf::Header& header, const Imf::FrameBuffer& meant,
                    int first, int last)
{
    Imf::InputPart      part(file, p);
    const Imath::Box2i& window = header.dataWindow();
    if (part.header().dataWindow() != window)
        return QStringLiteral("part %1 has another data window").arg(p);
    const size_t width = size_t(window.max.x - window.min.x + 1);
    for (int y0 = first; y0 <= last; y0 += kVerifyRows)
    {
        int                            y1 = std::min(last, y0 + kVerifyRows - 1);
        Imf::FrameBuffer               readBuffer;
        std::vector<std::vector<char>> strips;
        for (Imf::FrameBuffer::ConstIterator it = meant.begin(); it != meant.end(); ++it)
        {
            if (!part.header().channels().findChannel(it.name()))
                return QStringLiteral("part %1 has no channel \"%2\"").arg(p).arg(QString::fromUtf8(it.name()));
            strips.emplace_back(width * size_t(y1 - y0 + 1) * bytesPerSample(it.slice().type));
            readBuffer.insert(it.name(), planeSlice(it.slice().type, strips.back().data(),
                                                    Imath::Box2i(Imath::V2i(window.min.x, y0), Imath::V2i(window.max.x, y1))));
        }
        part.setFrameBuffer(readBuffer);
        part.readPixels(y0, y1);
        size_t k = 0;
        for (Imf::FrameBuffer::ConstIterator it = meant.begin(); it != meant.end(); ++it, ++k)
        {
            int x = 0;
            int y = firstDifference(it.slice(), strips[k], window, y0, y1, x);
            if (y >= 0)
                return QStringLiteral("part %1, channel \"%2\", first differing pixel (%3, %4)")
                    .arg(p)
                    .arg(QString::fromUtf8(it.name()))
                    .arg(x)
                    .arg(y);
        }
    }
    return QString();
}

// Opens the written file and compares it, through compare(file), with what was meant; the text of the first
// difference, or of the library's exception, with "Verification: " in front, else the empty text.
QString verifyFile(const QString& path, size_t parts, const std::function<QString(Imf::MultiPartInputFile&)>& compare)
{
    QString difference;
    try
    {
        Imf::MultiPartInputFile file(path.toUtf8().constData(), Imf::globalThreadCount());
        if (file.parts() != int(parts))
            difference = QStringLiteral("the file holds %1 parts instead of %2").arg(file.parts()).arg(parts);
        else
            difference = compare(file);
    }
    catch (const FrameReadFailure&)
    {
        throw;
    }
    catch (const std::exception& error)
    {
        difference = QString::fromUtf8(error.what());
    }
    return difference.isEmpty() ? difference : QStringLiteral("Verification: ") + difference + QLatin1Char('.');
}

// Compares the file at path with the pixels that were written into it, band by band.
QString verifyWrittenFile(const QString& path, const std::vector<Imf::Header>& headers, FramePixels& pixels,
                          const std::vector<OutputChannels>& outputs)
{
    return verifyFile(path, headers.size(), [&](Imf::MultiPartInputFile& file) {
        QString             difference;
        const Imath::Box2i& window = headers.front().dataWindow();
        pixels.forEachBand(window.min.y, window.max.y, [&](int first, int last) {
            for (size_t p = 0; p < headers.size() && difference.isEmpty(); ++p)
                difference = compareRows(file, int(p), headers[p], pixels.frameBuffer(outputs[p]), first, last);
        });
        return difference;
    });
}

} // namespace

QString verifyWrittenFile(const QString& path, const std::vector<Imf::Header>& headers,
                          const std::vector<Imf::FrameBuffer>& frameBuffers)
{
    return verifyFile(path, headers.size(), [&](Imf::MultiPartInputFile& file) {
        QString difference;
        for (size_t p = 0; p < headers.size() && difference.isEmpty(); ++p)
        {
            const Imath::Box2i& window = headers[p].dataWindow();
            difference = compareRows(file, int(p), headers[p], frameBuffers[p], window.min.y, window.max.y);
        }
        return difference;
    });
}

ImagePluginResult writePartsAtomically(QString outputPath, const std::vector<Imf::Header>& headers,
                                       FramePixels& pixels, const std::vector<OutputChannels>& outputs, bool verify,
                                       QString& detailText, const zqFileIdentity* replaced)
{
    if (outputPath.size() > kLongPathLength)
        convertPathWin32toNT(outputPath);
    zqTempFileBeside temp(outputPath);
    QByteArray       outputName = outputPath.toUtf8();
    if (!temp.create())
    {
        // The same words the library uses when it cannot create a file itself.
        detailText = QStringLiteral("Cannot open image file \"%1\". %2.").arg(outputPath, temp.error());
        return FailedToSaveFile;
    }
    try
    {
        const Imath::Box2i& window = headers.front().dataWindow();
        if (headers.size() == 1 || pixels.holdsRows(window.min.y, window.max.y))
        {
            FileOStream stream(temp.fd(), outputName.constData());
            writeParts(stream, headers, pixels, outputs, true);
        }
        else
        {
            PartOrderedOStream stream(temp.fd(), outputName.constData(), outputPath, int(headers.size()));
            writeParts(stream, headers, pixels, outputs, false);
        }
        if (verify)
        {
            detailText = verifyWrittenFile(temp.path(), headers, pixels, outputs);
            if (!detailText.isEmpty())
                return FailedToSaveFile;
        }
    }
    catch (const FrameReadFailure& failure)
    {
        detailText = QString::fromUtf8(failure.what());
        return failure.code;
    }
    catch (const std::exception& error)
    {
        detailText = QString::fromUtf8(error.what());
        return FailedToSaveFile;
    }
    if (!temp.commit(replaced))
    {
        detailText = temp.error();
        return FailedToSaveFile;
    }
    return Ok;
}

ImagePluginResult saveRewrittenFrame(FrameJob& job, const zqInputFile& frame, const std::vector<Imf::Header>& headers,
                                     FramePixels& pixels, const std::vector<OutputChannels>& outputs)
{
    bool inPlace = job.outputPath == job.inputPath;
    if (job.dryRun)
    {
        try
        {
            ByteCountingOStream stream(job.outputPath.toUtf8().constData());
            const Imath::Box2i& window = headers.front().dataWindow();
            writeParts(stream, headers, pixels, outputs, pixels.holdsRows(window.min.y, window.max.y));
            job.facts.outputBytes = int64_t(stream.size());
        }
        catch (const FrameReadFailure& failure)
        {
            job.detail = QString::fromUtf8(failure.what());
            return failure.code;
        }
        catch (const std::exception& error)
        {
            job.detail = QString::fromUtf8(error.what());
            return FailedToSaveFile;
        }
    }
    else
    {
        ImagePluginResult result =
            writePartsAtomically(inPlace ? frame.filePath() : job.outputPath, headers, pixels, outputs, job.verify,
                                 job.detail, inPlace ? &frame.identity() : nullptr);
        if (result != Ok)
            return result;
    }
    job.facts.action = FrameAction::Rewritten;
    job.facts.outputDataWindow = headers.front().dataWindow();
    job.facts.outputParts = int32_t(headers.size());
    return Ok;
}
