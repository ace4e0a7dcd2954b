// The one entry through which the run driver hands over each frame.
#include "multipart/convertFrame.h"

#include "multipart/convertToMultiPart.h"
#include "zqshared/zqFile.h"

#include <ImfMultiPartInputFile.h>
#include <ImfThreading.h>

#include <memory>

ImagePluginResult convertFrame(FrameJob& job)
{
    int64_t size = 0;
    if (zqFileExists(job.inputPath, nullptr, &size) && size < 0)
        return FileSizeTooSmall;

    std::unique_ptr<Imf::MultiPartInputFile> input;
    try
    {
        input = std::make_unique<Imf::MultiPartInputFile>(job.inputPath.toUtf8().constData(),
                                                          Imf::globalThreadCount(), true);
    }
    catch (const std::exception& error)
    {
        return failWith(job, DataError, error);
    }
    return convertToMultiPart(std::move(input), job);
}
