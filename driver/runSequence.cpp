// The frame loop of the tool: discovery, then one conversion, one result line and one report line per frame slot.
#include "driver/runSequence.h"

#include "driver/consolePrint.h"
#include "driver/conversionWorker.h"
#include "driver/findSequenceFrames.h"
#include "driver/frameReport.h"
#include "driver/imagePluginResultText.h"
#include "driver/parseCommandLine.h"
#include "driver/stopSignals.h"
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

// The size of the file at the output path after the slot; in a dry run the size it would have.
std::optional<int64_t> outputSize(const Options& options, const SlotRecord& record)
{
    const FrameFacts& facts = record.outcome.facts;
    if (options.dryRun && facts.action == FrameAction::Rewritten)
        return facts.outputBytes;
    if (options.dryRun && facts.action == FrameAction::Copied)
        return record.bytesIn;
    return zqFileSize(record.output);
}

// The exit code of a run stopped by a farm's signal, as a shell reports a process ended by that signal.
int stoppedExitCode()
{
    consoleFlush();
    return 128 + stopSignal();
}

} // namespace

int runSequence(const Options& options)
{
    QElapsedTimer runTime;
    runTime.start();
    catchStopSignals();
    FrameReport report;
    QString     reportError;
    if (!options.reportPath.isEmpty() && !report.open(options.reportPath, options.dryRun, reportError))
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
        report.finish(runTime.elapsed() / 1000.0, 255, 0);
        return -1;
    }
    int32_t strays = 0;
    if (findSequenceFrames(options, frameSlots, strays) == 0)
    {
        consolePrint("Warning:  No frames found.\n");
        report.finish(runTime.elapsed() / 1000.0, 255, strays);
        return -1;
    }

    QString baseName = options.baseName;
    if (baseName.endsWith(QLatin1Char('.')))
        baseName.chop(1);

    ConversionWorker worker(options);
    bool             anyFailed = false;
    for (int32_t k = 0; k < frameSlots.count(); ++k)
    {
        if (stopSignal() != 0)
            return stoppedExitCode();
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
        record.bytesIn = zqFileSize(record.input);
        record.outcome = worker.convert(record.input, record.output, consoleWrite);
        if (record.outcome.stopped)
            return stoppedExitCode();
        bool wouldWrite = options.dryRun && record.outcome.facts.action != FrameAction::None;
        if (record.outcome.result != Ok)
            record.resultText = imagePluginResultText(record.outcome.result, QString(), record.outcome.detail);
        else
            record.resultText = wouldWrite ? QStringLiteral("done (dry run)") : QStringLiteral("done");
        consolePrint("    %s\n", record.resultText.toLatin1().constData());
        if (!options.progressTemplate.isEmpty())
            consoleWrite(progressLine(options.progressTemplate, k + 1, frameSlots.count()));
        consoleFlush();
        anyFailed = anyFailed || (record.outcome.result != Ok && !(options.missingOk && record.missing));
        record.bytesOut = outputSize(options, record);
        record.seconds = frameTime.elapsed() / 1000.0;
        report.addSlot(record);
    }
    if (stopSignal() != 0)
        return stoppedExitCode();
    double seconds = runTime.elapsed() / 1000.0;
    if (options.summary)
        consoleWrite(report.summaryLine(seconds));
    consolePrint("All Done\n");
    int exitCode = options.strict && anyFailed ? 1 : 0;
    report.finish(seconds, exitCode, strays);
    return exitCode;
}
