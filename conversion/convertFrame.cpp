// The one entry through which the run driver hands over each frame.
#include "conversion/convertFrame.h"

#include "frame/FrameFile.h"
#include "conversion/convertToMultiPart.h"

#include <memory>

ImagePluginResult convertFrame(FrameJob& job)
{
    std::unique_ptr<FrameFile> frame;
    try
    {
        frame = std::make_unique<FrameFile>(job.inputPath);
    }
    catch (const std::bad_alloc& error)
    {
        return failWith(job, MemoryAllocationFailed, error);
    }
    catch (const std::exception& error)
    {
        return failWith(job, DataError, error);
    }
    return convertToMultiPart(*frame, job);
}
