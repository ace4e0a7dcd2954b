// Makes sure the output path holds the unchanged frame: nothing to do in place, a byte copy otherwise.
#include "frame/copyUnchangedFrame.h"


ImagePluginResult copyUnchangedFrame(FrameJob& job, const zqInputFile& frame, ImagePluginResult code)
{
    if (job.outputPath == job.inputPath || job.outputPath.isEmpty())
        return code;
    if (job.dryRun)
    {
        job.facts.action = FrameAction::Copied;
        return code;
    }
    QString error = zqCopyFile(frame, job.outputPath);
    if (!error.isEmpty() && !error.contains(QLatin1String("setting file time")))
    {
        job.detail = error;
        return FileFailedToLoad;
    }
    job.facts.action = FrameAction::Copied;
    return code;
}
