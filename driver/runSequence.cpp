// The frame loop of the tool: discovery, then one conversion and one result line per frame.
#include "driver/runSequence.h"

#include "convert/MetadataAttributeList.h"
#include "driver/consolePrint.h"
#include "driver/findSequenceFrames.h"
#include "driver/imagePluginResultText.h"
#include "driver/jobIdText.h"
#include "driver/localHostName.h"
#include "driver/parseCommandLine.h"
#include "multipart/convertFrame.h"

#include <ImfThreading.h>

#include <memory>
#include <new>

namespace {

constexpr int64_t kMemoryLimitMegabytes = 8000;

void fillFarmMetadata(MetadataAttributeList& list, const Options& options)
{
    resetMetadataList(list);
    if (!options.sceneName.isEmpty())
        appendTextEntry(list, QStringLiteral("ZQ/scenename"), options.sceneName);
    if (options.jobId != 0)
        appendTextEntry(list, QStringLiteral("ZQ/jobID"), QString::fromLatin1(jobIdText(options.jobId).c_str()));
    appendTextEntry(list, QStringLiteral("ZQ/clientname"), localHostName());
}

// One frame: a failure that escapes the conversion ends this frame only.
ImagePluginResult convertOneFrame(FrameJob& job)
{
    try
    {
        return convertFrame(job);
    }
    catch (const std::bad_alloc& error)
    {
        return failWith(job, MemoryAllocationFailed, error);
    }
    catch (const std::exception& error)
    {
        return failWith(job, UnhandledCError, error);
    }
    catch (...)
    {
        job.detail = QStringLiteral("unknown exception");
        return UnhandledCError;
    }
}

} // namespace

int runSequence(const Options& options)
{
    consolePrint("%s", bannerText().constData());
    Imf::setGlobalThreadCount(4);
    consoleFlush();

    FrameSlots slots(options.frameCount);
    if (!slots.isValid())
    {
        consolePrint("Error: Sequence too long.\n");
        return -1;
    }
    if (findSequenceFrames(options, slots) == 0)
    {
        consolePrint("Warning:  No frames found.\n");
        return -1;
    }

    QString baseName = options.baseName;
    if (baseName.endsWith(QLatin1Char('.')))
        baseName.chop(1);

    auto metadata = std::make_unique<MetadataAttributeList>();
    for (int32_t k = 0; k < slots.count(); ++k)
    {
        FrameSlot slot = slots.at(k);
        consolePrint("Frame %s: \n", slot.frameText.toLatin1().constData());
        fillFarmMetadata(*metadata, options);
        QString inputPath = options.directoryText + slot.fileName;
        QString outputPath = options.noOverwrite ? options.directoryText + baseName + QStringLiteral("_crop.") +
                                                       slot.frameText + options.extension
                                                 : inputPath;
        FrameJob job;
        job.inputPath = inputPath;
        job.outputPath = outputPath;
        job.metadata = metadata.get();
        job.console = consoleWrite;
        job.memoryLimitMegabytes = kMemoryLimitMegabytes;
        ImagePluginResult result = convertOneFrame(job);
        consolePrint("    ");
        if (result == Ok)
            consolePrint("done\n");
        else
            consolePrint("%s\n", imagePluginResultText(result, QString(), job.detail).toLatin1().constData());
        consoleFlush();
    }
    metadata.reset();
    consolePrint("All Done\n");
    return 0;
}
