// Writing of a scan-line multi-part file through a temporary file that replaces the target only when complete.
#include "convert/writePartsAtomically.h"

#include "zqshared/zqFile.h"
#include "zqshared/zqPath.h"

#include <Iex.h>
#include <ImfMultiPartOutputFile.h>
#include <ImfOutputPart.h>
#include <ImfStdIO.h>
#include <ImfThreading.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace {

constexpr int kLongPathLength = 240;

// Writes every part into stream; the library's exceptions pass to the caller.
void writeParts(std::ofstream& file, const char* fileName, const std::vector<Imf::Header>& headers,
                const std::vector<Imf::FrameBuffer>& frameBuffers)
{
    Imf::StdOFStream         stream(file, fileName);
    Imf::MultiPartOutputFile output(stream, headers.data(), int(headers.size()), false, Imf::globalThreadCount());
    for (int p = 0; p < int(headers.size()); ++p)
    {
        Imf::OutputPart part(output, p);
        part.setFrameBuffer(frameBuffers[size_t(p)]);
        const Imath::Box2i& window = headers[size_t(p)].dataWindow();
        part.writePixels(window.max.y - window.min.y + 1);
    }
}

} // namespace

bool writePartsAtomically(QString outputPath, const std::vector<Imf::Header>& headers,
                          const std::vector<Imf::FrameBuffer>& frameBuffers, QString& detailText)
{
    if (outputPath.size() > kLongPathLength)
        convertPathWin32toNT(outputPath);
    zqTempFileBeside temp(outputPath);
    QByteArray       outputName = outputPath.toUtf8();
    try
    {
        std::ofstream file;
        errno = 0;
        file.open(temp.path().toUtf8().constData(), std::ios_base::binary | std::ios_base::trunc);
        if (!file)
        {
            int reason = errno;
            temp.forget();
            // The same words the library uses when it cannot create a file itself.
            throw Iex::BaseExc(std::string("Cannot open image file \"") + outputName.constData() + "\". " +
                               std::strerror(reason) + ".");
        }
        // The library gives up quietly on errors while it finishes a file, so the stream is checked after it.
        writeParts(file, outputName.constData(), headers, frameBuffers);
        errno = 0;
        file.close();
        if (file.fail())
            Iex::throwErrnoExc("Error writing image file \"" + std::string(outputName.constData()) + "\". %T.");
    }
    catch (const std::exception& error)
    {
        detailText = QString::fromUtf8(error.what());
        temp.discard();
        return false;
    }
    if (!temp.commit())
    {
        detailText = temp.error();
        return false;
    }
    return true;
}
