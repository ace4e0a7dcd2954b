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

#include <algorithm>
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
    /// Nothing to write out and nothing that can fail.
    void finish() {}

private:
    uint64_t m_position = 0;
    uint64_t m_size = 0;
};

// Writes every part into stream (a file, or the byte counter of a dry run); the library's exceptions pass to the
// caller.
template <typename Stream>
void writeParts(Stream& stream, const std::vector<Imf::Header>& headers, const std::vector<Imf::FrameBuffer>& frameBuffers)
{
    {
        Imf::MultiPartOutputFile output(stream, headers.data(), int(headers.size()), false, Imf::globalThreadCount());
        for (int p = 0; p < int(headers.size()); ++p)
        {
            Imf::OutputPart part(output, p);
            part.setFrameBuffer(frameBuffers[size_t(p)]);
            const Imath::Box2i& window = headers[size_t(p)].dataWindow();
            part.writePixels(window.max.y - window.min.y + 1);
        }
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

// Compares one part of the file, a strip of rows at a time, with what its frame buffer meant to write.
QString verifyPart(Imf::MultiPartInputFile& file, int p, const Imf::Header& header, const Imf::FrameBuffer& meant)
{
    Imf::InputPart      part(file, p);
    const Imath::Box2i& window = header.dataWindow();
    if (part.header().dataWindow() != window)
        return QStringLiteral("part %1 has another data window").arg(p);
    const size_t width = size_t(window.max.x - window.min.x + 1);
    for (int y0 = window.min.y; y0 <= window.max.y; y0 += kVerifyRows)
    {
        int                            y1 = std::min(window.max.y, y0 + kVerifyRows - 1);
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

} // namespace

QString verifyWrittenFile(const QString& path, const std::vector<Imf::Header>& headers,
                          const std::vector<Imf::FrameBuffer>& frameBuffers)
{
    QString difference;
    try
    {
        Imf::MultiPartInputFile file(path.toUtf8().constData(), Imf::globalThreadCount());
        if (file.parts() != int(headers.size()))
            difference = QStringLiteral("the file holds %1 parts instead of %2").arg(file.parts()).arg(headers.size());
        for (int p = 0; p < file.parts() && difference.isEmpty(); ++p)
            difference = verifyPart(file, p, headers[size_t(p)], frameBuffers[size_t(p)]);
    }
    catch (const std::exception& error)
    {
        difference = QString::fromUtf8(error.what());
    }
    return difference.isEmpty() ? difference : QStringLiteral("Verification: ") + difference + QLatin1Char('.');
}

bool writePartsAtomically(QString outputPath, const std::vector<Imf::Header>& headers,
                          const std::vector<Imf::FrameBuffer>& frameBuffers, bool verify, QString& detailText,
                          const zqFileIdentity* replaced)
{
    if (outputPath.size() > kLongPathLength)
        convertPathWin32toNT(outputPath);
    zqTempFileBeside temp(outputPath);
    QByteArray       outputName = outputPath.toUtf8();
    if (!temp.create())
    {
        // The same words the library uses when it cannot create a file itself.
        detailText = QStringLiteral("Cannot open image file \"%1\". %2.").arg(outputPath, temp.error());
        return false;
    }
    try
    {
        FileOStream stream(temp.fd(), outputName.constData());
        writeParts(stream, headers, frameBuffers);
    }
    catch (const std::exception& error)
    {
        detailText = QString::fromUtf8(error.what());
        return false;
    }
    if (verify)
    {
        detailText = verifyWrittenFile(temp.path(), headers, frameBuffers);
        if (!detailText.isEmpty())
            return false;
    }
    if (!temp.commit(replaced))
    {
        detailText = temp.error();
        return false;
    }
    return true;
}

ImagePluginResult saveRewrittenFrame(FrameJob& job, const zqInputFile& frame, const std::vector<Imf::Header>& headers,
                                     const std::vector<Imf::FrameBuffer>& frameBuffers)
{
    bool inPlace = job.outputPath == job.inputPath;
    if (job.dryRun)
    {
        try
        {
            ByteCountingOStream stream(job.outputPath.toUtf8().constData());
            writeParts(stream, headers, frameBuffers);
            job.facts.outputBytes = int64_t(stream.size());
        }
        catch (const std::exception& error)
        {
            job.detail = QString::fromUtf8(error.what());
            return FailedToSaveFile;
        }
    }
    else if (!writePartsAtomically(inPlace ? frame.filePath() : job.outputPath, headers, frameBuffers, job.verify,
                                   job.detail, inPlace ? &frame.identity() : nullptr))
        return FailedToSaveFile;
    job.facts.action = FrameAction::Rewritten;
    job.facts.outputDataWindow = headers.front().dataWindow();
    job.facts.outputParts = int32_t(headers.size());
    return Ok;
}
