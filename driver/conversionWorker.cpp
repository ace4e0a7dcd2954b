// The worker process that converts the frames, so that a crash or a kill during one frame ends that frame only.
//
// The run's process and its worker talk over a channel (a socket pair, or two pipes on Windows) in messages of a type byte, a 32-bit length and the
// payload: 'A' the run's arguments (only to a worker that is its own instance), 'J' a frame job (input and output path), 'C' console text of the frame, 'R' the frame's result.
#include "driver/conversionWorker.h"

#include "frame/MetadataAttributeList.h"
#include "driver/jobIdText.h"
#include "driver/localHostName.h"
#include "driver/stopSignals.h"
#include "conversion/convertFrame.h"
#include "zqshared/zqFile.h"

#include <ImfThreading.h>

#include "driver/parseCommandLine.h"
#include "driver/parseNamedOptions.h"
#include "zqshared/zqSystem.h"

#include <QDataStream>
#include <QFileInfo>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

namespace {

bool sendMessage(const zqChannel& channel, char type, const QByteArray& payload)
{
    char     head[5] = {type};
    uint32_t length = uint32_t(payload.size());
    std::memcpy(head + 1, &length, 4);
    return zqChannelSend(channel, head, 5) && zqChannelSend(channel, payload.constData(), size_t(payload.size()));
}

bool receiveMessage(const zqChannel& channel, char& type, QByteArray& payload)
{
    char     head[5];
    uint32_t length = 0;
    if (!zqChannelReceive(channel, head, 5))
        return false;
    type = head[0];
    std::memcpy(&length, head + 1, 4);
    if (length > uint32_t(std::numeric_limits<int>::max()))
        return false;
    payload.resize(int(length));
    return zqChannelReceive(channel, payload.data(), length);
}

void writeBox(QDataStream& stream, const std::optional<Imath::Box2i>& box)
{
    stream << box.has_value();
    if (box)
        stream << box->min.x << box->min.y << box->max.x << box->max.y;
}

void readBox(QDataStream& stream, std::optional<Imath::Box2i>& box)
{
    bool present = false;
    stream >> present;
    if (!present)
        return;
    box.emplace();
    stream >> box->min.x >> box->min.y >> box->max.x >> box->max.y;
}

void writeCount(QDataStream& stream, const std::optional<int32_t>& count)
{
    stream << qint32(count.value_or(-1));
}

void readCount(QDataStream& stream, std::optional<int32_t>& count)
{
    qint32 value = -1;
    stream >> value;
    if (value >= 0)
        count = value;
}

QByteArray encodeOutcome(ImagePluginResult result, const QString& detail, const FrameFacts& facts)
{
    QByteArray  bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << qint32(result) << detail;
    writeCount(stream, facts.parts);
    writeCount(stream, facts.channels);
    writeBox(stream, facts.dataWindow);
    stream << qint32(facts.action);
    writeBox(stream, facts.outputDataWindow);
    writeCount(stream, facts.outputParts);
    stream << qint64(facts.outputBytes.value_or(-1));
    return bytes;
}

FrameOutcome decodeOutcome(const QByteArray& bytes)
{
    FrameOutcome outcome;
    QDataStream  stream(bytes);
    qint32       result = 0, action = 0;
    stream >> result >> outcome.detail;
    outcome.result = ImagePluginResult(result);
    readCount(stream, outcome.facts.parts);
    readCount(stream, outcome.facts.channels);
    readBox(stream, outcome.facts.dataWindow);
    stream >> action;
    outcome.facts.action = FrameAction(action);
    readBox(stream, outcome.facts.outputDataWindow);
    readCount(stream, outcome.facts.outputParts);
    qint64 outputBytes = -1;
    stream >> outputBytes;
    if (outputBytes >= 0)
        outcome.facts.outputBytes = outputBytes;
    return outcome;
}

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

// The worker's life: frame jobs in, console text and results out, until the run's process closes the channel.
void workerMain(const zqChannel& channel, const Options& options)
{
    // A process that may not start its threads (an address-space or process limit) converts on its own thread
    // rather than end by std::terminate.
    try
    {
        Imf::setGlobalThreadCount(options.threads);
    }
    catch (const std::exception&)
    {
        Imf::setGlobalThreadCount(0);
    }
    char       type = 0;
    QByteArray message;
    while (receiveMessage(channel, type, message) && type == 'J')
    {
        FrameJob    job;
        QDataStream stream(message);
        stream >> job.inputPath >> job.outputPath;
        fillFarmMetadata(job.metadata, options);
        job.verify = options.verify;
        job.memoryBudget = options.memoryBudget;
        job.dryRun = options.dryRun;
        job.console = [&channel](const QByteArray& text) { sendMessage(channel, 'C', text); };
        ImagePluginResult result = convertOneFrame(job);
        if (!sendMessage(channel, 'R', encodeOutcome(result, job.detail, job.facts)))
            break;
    }
}

void forkedWorkerMain(const zqChannel& channel, void* options)
{
    releaseStopSignals();
    workerMain(channel, *static_cast<const Options*>(options));
}

// The name of a Windows exception code in the line of a conversion that ended by it.
const char* exceptionName(uint32_t code)
{
    switch (code)
    {
    case 0xC0000005: return "access violation";
    case 0xC0000006: return "in-page error";
    case 0xC0000017: return "no memory";
    case 0xC000001D: return "illegal instruction";
    case 0xC0000094: return "integer divide by zero";
    case 0xC00000FD: return "stack overflow";
    case 0xC0000374: return "heap corruption";
    case 0xC0000409: return "stack buffer overrun";
    default: return "unknown exception";
    }
}

// The detail text of a frame whose worker ended during it.
QString endingText(const zqProcessEnding& ending)
{
    switch (ending.kind)
    {
    case zqProcessEnding::Signal:
        return QStringLiteral("The conversion ended by signal %1 (%2).").arg(ending.code).arg(ending.name);
    case zqProcessEnding::Exception:
        return QStringLiteral("The conversion ended by exception 0x%1 (%2).")
            .arg(QString::number(ending.code, 16).toUpper().rightJustified(8, QLatin1Char('0')),
                 QLatin1String(exceptionName(ending.code)));
    case zqProcessEnding::ExitCode: break;
    }
    return QStringLiteral("The conversion ended with exit code %1.").arg(ending.code);
}

// The command line of the run, which a worker started as its own instance parses again for the same options.
QStringList& runArguments()
{
    static QStringList arguments;
    return arguments;
}

} // namespace

ConversionWorker::ConversionWorker(const Options& options) : m_options(options)
{
}

ConversionWorker::~ConversionWorker()
{
    stop();
}

bool ConversionWorker::start(QString& error)
{
    if (!m_process.start(forkedWorkerMain, const_cast<Options*>(&m_options), error))
        return false;
    stopSignalTarget(pid_t(m_process.id()));
    if (!zqWorkerNeedsOptions())
        return true;
    QByteArray  arguments;
    QDataStream stream(&arguments, QIODevice::WriteOnly);
    stream << runArguments();
    if (sendMessage(m_process.channel(), 'A', arguments))
        return true;
    error = endingText(m_process.waitForEnd());
    return false;
}

void ConversionWorker::stop()
{
    stopSignalTarget(-1);
    m_process.stop();
}

FrameOutcome ConversionWorker::convert(const QString& inputPath, const QString& outputPath, const ConsoleSink& console)
{
    FrameOutcome outcome;
    // A worker that died between frames is replaced without a word: no frame was in its hands.
    m_process.endedAlready();
    QString error;
    if (!m_process.running() && !start(error))
    {
        outcome.result = UnhandledCError;
        outcome.detail = QStringLiteral("The conversion process could not be started: %1").arg(error);
        return outcome;
    }

    QByteArray  job;
    QDataStream stream(&job, QIODevice::WriteOnly);
    stream << inputPath << outputPath;
    char       type = 0;
    QByteArray message;
    if (sendMessage(m_process.channel(), 'J', job))
        while (receiveMessage(m_process.channel(), type, message))
        {
            if (type == 'R')
                return decodeOutcome(message);
            if (type == 'C' && console)
                console(message);
        }

    // The worker died during the frame: the frame ends here, and whatever it left half-written goes.
    stopSignalTarget(-1);
    outcome.detail = endingText(m_process.waitForEnd());
    if (!outputPath.isEmpty() && !m_options.dryRun)
    {
        zqRemoveStaleTempFiles(outputPath);
        // A frame reached through a symbolic link is rewritten beside the file the link names.
        QString linked = QFileInfo(outputPath).canonicalFilePath();
        if (!linked.isEmpty() && linked != outputPath)
            zqRemoveStaleTempFiles(linked);
    }
    outcome.stopped = stopSignal() != 0;
    outcome.result = DataError;
    return outcome;
}

void setConversionWorkerArguments(const QStringList& arguments)
{
    runArguments() = arguments;
}

int runConversionWorkerInstance(const zqChannel& channel)
{
    char       type = 0;
    QByteArray message;
    if (!receiveMessage(channel, type, message) || type != 'A')
        return 1;
    QStringList arguments;
    QDataStream stream(message);
    stream >> arguments;
    Options options;
    takeNamedOptions(arguments, options);
    CommandLine commandLine = parseCommandLine(arguments, options);
    if (!commandLine.run)
        return 1;
    workerMain(channel, commandLine.options);
    return 0;
}
