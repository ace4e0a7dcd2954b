// The one entry through which the run driver hands over each frame.
#include "convert/convertFrame.h"

#include "multipart/convertToMultiPart.h"
#include "zqshared/zqFile.h"

#include <ImfMultiPartInputFile.h>
#include <ImfThreading.h>

ImagePluginResult convertFrame(const QString& inputPath, QString outputPath, MetadataAttributeList* metadata,
                               bool* verbose, int64_t* memoryLimitMegabytes, QString* detailText)
{
    int64_t size = 0;
    if (zqFileExists(inputPath, nullptr, &size) && size < 0)
        return FileSizeTooSmall;

    Imf::MultiPartInputFile* input = nullptr;
    try
    {
        input = new Imf::MultiPartInputFile(inputPath.toUtf8().constData(), Imf::globalThreadCount(), true);
    }
    catch (const std::exception& error)
    {
        *detailText = QString::fromUtf8(error.what());
        return DataError;
    }
    return convertToMultiPart(input, inputPath, outputPath, metadata, verbose, memoryLimitMegabytes, detailText);
}
