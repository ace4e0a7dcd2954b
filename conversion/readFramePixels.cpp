// The steps both conversions take with a frame's pixels: fit them into the memory budget, then read them all.
#include "conversion/readFramePixels.h"

#include "frame/copyUnchangedFrame.h"

std::optional<ImagePluginResult> refuseBeyondBudget(FramePixels& pixels, const zqInputFile& frame, FrameJob& job)
{
    bool fits = false;
    try
    {
        fits = pixels.plan(job.memoryBudget);
    }
    catch (const std::exception& error)
    {
        return failWith(job, UnsupportedFormat, error);
    }
    if (fits)
        return std::nullopt;
    printMessage(job, QStringLiteral("   Loading the image would require %1 MB memory. This application limit is %2 MB")
                          .arg(pixels.wholeMegabytes())
                          .arg(job.memoryBudget / 1048576));
    return copyUnchangedFrame(job, frame, DimensionsLargerThanBuffer);
}

std::optional<ImagePluginResult> readAllPixels(FramePixels& pixels, FrameJob& job, Imath::Box2i& crop)
{
    try
    {
        crop = pixels.readAll();
    }
    catch (const std::exception& error)
    {
        return failWith(job, readFailureCode(error), error);
    }
    return std::nullopt;
}
