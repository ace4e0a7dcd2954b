// Makes sure the output path holds the unchanged frame: nothing to do in place, a byte copy otherwise.
#include "convert/copyUnchangedFrame.h"

#include "zqshared/zqFile.h"

ImagePluginResult copyUnchangedFrame(const QString& inputPath, const QString& outputPath, QString* detailText,
                                     const ImagePluginResult* result)
{
    if (outputPath == inputPath || outputPath.isEmpty())
        return *result;
    QString error = zqCopyFile(inputPath, outputPath, true, -1, nullptr);
    if (!error.isEmpty() && !error.contains(QLatin1String("setting file time")))
    {
        *detailText = error;
        return FileFailedToLoad;
    }
    return *result;
}
