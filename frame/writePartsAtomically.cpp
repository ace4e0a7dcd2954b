// Writing of a scan-line multi-part file through a temporary file that replaces the target only when complete.
#include "frame/writePartsAtomically.h"

#include "frame/FrameFile.h"
#include "frame/OutputStreams.h"
#include "frame/ZipsChunkWriter.h"
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
#include <functional>
#include <memory>
#include <cerrno>
#include <cstring>
#include <vector>

namespace {

constexpr int kLongPathLength = 240;
constexpr int kVerifyRows = 64;

// Writes every part into stream (a file, or the byte counter of a dry run): the library writes the headers and the
// tables' room, the tool's writer the chunks and the tables. The lines of every part go in one run when every row is
// held; otherwise a part's rows go in the pixels' bands, the parts one after the other when there is only one part or
// partAfterPart says so, else band after band, each band's lines encoded while the next band is read. The library's
// and the writer's exceptions, and the pixels' FrameReadFailure, pass to the caller.
template <typename Stream>
void writeParts(Stream& stream, const std::vector<Imf::Header>& headers, FramePixels& pixels,
                const std::vector<OutputChannels>& outputs, bool partAfterPart)
{
    {
        Imf::MultiPartOutputFile output(stream, headers.data(), int(headers.size()), false, Imf::globalThreadCount());
        stream.beginChunks();
        ZipsChunkWriter writer(stream, headers, pixels, outputs);
        auto linesOfEveryPart = [&](int first, int last) {
            std::vector<PartLines> lines;
            for (size_t p = 0; p < headers.size(); ++p)
                lines.push_back(PartLines{p, first, last});
            return lines;
        };
        // Every part has the same data window.
        const Imath::Box2i& window = headers.front().dataWindow();
        if (pixels.holdsRows(window.min.y, window.max.y))
            writer.writeLines(linesOfEveryPart(window.min.y, window.max.y));
        else if (partAfterPart)
            for (size_t p = 0; p < headers.size(); ++p)
                pixels.forEachBand(
                    window.min.y, window.max.y,
                    [&](int first, int last) { writer.startLines({PartLines{p, first, last}}); },
                    [&] { writer.finishLines(); });
        else
            pixels.forEachBand(
                window.min.y, window.max.y, [&](int first, int last) { writer.startLines(linesOfEveryPart(first, last)); },
                [&] { writer.finishLines(); });
        writer.writeTables();
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
    if (headers.empty()) // a frame without channels: the library's words for a file of no parts
    {
        detailText = QStringLiteral("Empty header list.");
        return FailedToSaveFile;
    }
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
