// The worker process that converts the frames, so that a crash or a kill during one frame ends that frame only.
//
// The run's process and its worker talk over a socket pair in messages of a type byte, a 32-bit length and the
// payload: 'J' a frame job (input and output path), 'C' console text of the frame, 'R' the frame's result.
#include "driver/conversionWorker.h"

#include "frame/MetadataAttributeList.h"
#include "driver/jobIdText.h"
#include "driver/localHostName.h"
#include "driver/stopSignals.h"
#include "conversion/convertFrame.h"
#include "zqshared/zqFile.h"

#include <ImfThreading.h>

#include <QDataStream>
#include <QFileInfo>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>
#include <new>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

bool sendAll(int socket, const char* bytes, size_t count)
{
    while (count > 0)
    {
        ssize_t sent = ::send(socket, bytes, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent, count -= size_t(sent);
    }
    return true;
}

bool receiveAll(int socket, char* bytes, size_t count)
{
    while (count > 0)
    {
        ssize_t got = ::recv(socket, bytes, count, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got, count -= size_t(got);
    }
    return true;
}

bool sendMessage(int socket, char type, const QByteArray& payload)
{
    char     head[5] = {type};
    uint32_t length = uint32_t(payload.size());
    std::memcpy(head + 1, &length, 4);
    return sendAll(socket, head, 5) && sendAll(socket, payload.constData(), size_t(payload.size()));
}

bool receiveMessage(int socket, char& type, QByteArray& payload)
{
    char     head[5];
    uint32_t length = 0;
    if (!receiveAll(socket, head, 5))
        return false;
    type = head[0];
    std::memcpy(&length, head + 1, 4);
    payload.resize(int(length));
    return receiveAll(socket, payload.data(), length);
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

// The worker's life: frame jobs in, console text and results out, until the run's process closes the socket.
[[noreturn]] void workerMain(int socket, const Options& options)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    releaseStopSignals();
    Imf::setGlobalThreadCount(options.threads);
    char       type = 0;
    QByteArray message;
    while (receiveMessage(socket, type, message) && type == 'J')
    {
        FrameJob    job;
        QDataStream stream(message);
        stream >> job.inputPath >> job.outputPath;
        fillFarmMetadata(job.metadata, options);
        job.verify = options.verify;
        job.dryRun = options.dryRun;
        job.console = [socket](const QByteArray& text) { sendMessage(socket, 'C', text); };
        ImagePluginResult result = convertOneFrame(job);
        if (!sendMessage(socket, 'R', encodeOutcome(result, job.detail, job.facts)))
            break;
    }
    ::_exit(0);
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
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
    {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0)
    {
        ::close(sockets[0]);
        workerMain(sockets[1], m_options);
    }
    ::close(sockets[1]);
    if (pid < 0)
    {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(sockets[0]);
        return false;
    }
    m_pid = pid;
    m_socket = sockets[0];
    stopSignalTarget(pid);
    return true;
}

void ConversionWorker::stop()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    stopSignalTarget(-1);
    if (m_pid > 0)
        while (::waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR)
            ;
    m_pid = -1;
}

QString ConversionWorker::ending(int status) const
{
    if (WIFSIGNALED(status))
        return QStringLiteral("The conversion ended by signal %1 (%2).")
            .arg(WTERMSIG(status))
            .arg(QString::fromLocal8Bit(::strsignal(WTERMSIG(status))));
    return QStringLiteral("The conversion ended with exit code %1.").arg(WEXITSTATUS(status));
}

FrameOutcome ConversionWorker::convert(const QString& inputPath, const QString& outputPath, const ConsoleSink& console)
{
    FrameOutcome outcome;
    // A worker that died between frames is replaced without a word: no frame was in its hands.
    int status = 0;
    if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid)
    {
        m_pid = -1;
        stop();
    }
    QString error;
    if (m_pid < 0 && !start(error))
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
    if (sendMessage(m_socket, 'J', job))
        while (receiveMessage(m_socket, type, message))
        {
            if (type == 'R')
                return decodeOutcome(message);
            if (type == 'C' && console)
                console(message);
        }

    // The worker died during the frame: the frame ends here, and whatever it left half-written goes.
    while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR)
        ;
    m_pid = -1;
    stop();
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
    outcome.detail = ending(status);
    return outcome;
}
