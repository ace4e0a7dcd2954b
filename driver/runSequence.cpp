// The frame loop of the tool: discovery, then one conversion, one result line and one report line per frame slot.
#include "driver/runSequence.h"

#include "driver/consolePrint.h"
#include "driver/conversionWorker.h"
#include "driver/findSequenceFrames.h"
#include "driver/frameReport.h"
#include "driver/imagePluginResultText.h"
#include "driver/parseCommandLine.h"
#include "zqshared/zqFile.h"

#include <QElapsedTimer>

namespace {

// The progress line: the template with %d as the share of slots done and %% as one percent sign.
QByteArray progressLine(const QString& progressTemplate, int64_t done, int64_t slotCount)
{
    QString percent = QString::number(done * 100 / slotCount);
    QString line;
    for (int i = 0; i < progressTemplate.size(); ++i)
    {
        QStringRef pair = progressTemplate.midRef(i, 2);
        if (pair == QLatin1String("%d"))
            line += percent, ++i;
        else if (pair == QLatin1String("%%"))
            line += QLatin1Char('%'), ++i;
        else
            line += progressTemplate[i];
    }
    return line.toLatin1() + "\n";
}

std::optional<int64_t> fileSize(const QString& path)
{
    int64_t size = 0;
    return zqFileExists(path, nullptr, &size) ? std::optional<int64_t>(size) : std::nullopt;
}

} // namespace

int runSequence(const Options& options)
{
    QElapsedTimer runTime;
    runTime.start();
    FrameReport report;
    QString     reportError;
    if (!options.reportPath.isEmpty() && !report.open(options.reportPath, reportError))
    {
        consolePrint("Error: Option --report: cannot write '%s': %s.\n", options.reportPath.toLatin1().constData(),
                     reportError.toLatin1().constData());
        return 2;
    }
    consolePrint("%s", bannerText().constData());
    consoleFlush();

    FrameSlots frameSlots(options.frameCount);
    if (!frameSlots.isValid())
    {
        consolePrint("Error: Sequence too long.\n");
        report.finish(runTime.elapsed() / 1000.0, 255);
        return -1;
    }
    if (findSequenceFrames(options, frameSlots) == 0)
    {
        consolePrint("Warning:  No frames found.\n");
        report.finish(runTime.elapsed() / 1000.0, 255);
        return -1;
    }

    QString baseName = options.baseName;
    if (baseName.endsWith(QLatin1Char('.')))
        baseName.chop(1);

    ConversionWorker worker(options);
    bool             anyFailed = false;
    for (int32_t k = 0; k < frameSlots.count(); ++k)
    {
        QElapsedTimer frameTime;
        frameTime.start();
        FrameSlot slot = frameSlots.at(k);
        consolePrint("Frame %s: \n", slot.frameText.toLatin1().constData());
        SlotRecord record;
        record.frame = int64_t(options.start) + int64_t(k) * options.step - options.offset;
        record.missing = slot.fileName.isEmpty();
        record.input = options.directoryText + slot.fileName;
        record.output = options.noOverwrite ? options.directoryText + baseName + QStringLiteral("_crop.") +
                                                  slot.frameText + options.extension
                                            : record.input;
        record.bytesIn = fileSize(record.input);
        record.outcome = worker.convert(record.input, record.output, consoleWrite);
        record.resultText = record.outcome.result == Ok
                                ? QStringLiteral("done")
                                : imagePluginResultText(record.outcome.result, QString(), record.outcome.detail);
        consolePrint("    %s\n", record.resultText.toLatin1().constData());
        if (!options.progressTemplate.isEmpty())
            consoleWrite(progressLine(options.progressTemplate, k + 1, frameSlots.count()));
        consoleFlush();
        anyFailed = anyFailed || record.outcome.result != Ok;
        record.bytesOut = fileSize(record.output);
        record.seconds = frameTime.elapsed() / 1000.0;
        report.addSlot(record);
    }
    consolePrint("All Done\n");
    int exitCode = options.strict && anyFailed ? 1 : 0;
    report.finish(runTime.elapsed() / 1000.0, exitCode);
    return exitCode;
}
