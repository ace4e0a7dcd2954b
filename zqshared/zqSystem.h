// System services of the shared library that Linux and Windows give in their own ways: writing an open file at an
// offset, the CPUs the process may use, plane memory, and the worker process that converts the frames.
#pragma once

#include <cerrno>

#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <ctime>

/// A command-line argument as text: UTF-8 on Linux; the system's code page on Windows, as the program's argv has it.
QString zqArgumentText(const char* argument);

/// The local time of seconds (since 1970 UTC); utcOffset, when given, gets the local time's offset from UTC in seconds.
std::tm zqLocalTime(std::time_t seconds, int64_t* utcOffset = nullptr);

/// The reason a file could not be opened, told as on Linux: Qt's text there; on Windows the system's last error in the
/// C library's words where it has them ("No such file or directory" rather than "Path not found.").
QString zqOpenFailureText(const QString& qtText);

/// The number of CPUs this process may run on, as its affinity mask allows (at least 1).
int zqAvailableCpuCount();

/// Writes up to count bytes at offset of the open file fd; the bytes written, or -1 with errno set.
int64_t zqWriteAt(int fd, const void* bytes, size_t count, uint64_t offset);

/// Reads up to count bytes at offset of the open file fd; the bytes read (0 at the end), or -1 with errno set.
int64_t zqReadAt(int fd, void* bytes, size_t count, uint64_t offset);

/// Starts writing a range of the open file fd to disk without waiting for it (where the system offers that).
void zqStartWriteback(int fd, uint64_t offset, uint64_t count);

/// Writes all count bytes at offset of the open file fd, starting the writeback of each piece as it is written, so
/// that the flush before a rename has little left to wait for; false with error set (errno, or EIO for a write that
/// wrote nothing).
inline bool zqWriteAllAt(int fd, const char* bytes, size_t count, uint64_t offset, int& error)
{
    while (count > 0)
    {
        int64_t written = zqWriteAt(fd, bytes, count, offset);
        if (written <= 0)
        {
            error = written < 0 ? errno : EIO;
            return false;
        }
        zqStartWriteback(fd, offset, uint64_t(written));
        bytes += written, count -= size_t(written), offset += uint64_t(written);
    }
    return true;
}

/// A block of plane memory, released with std::free. On Linux, blocks of 2 MiB or more sit on a huge-page boundary
/// (without asking for huge pages); Windows takes ordinary pages.
void* zqAllocatePlane(size_t bytes);

/// The memory a plane of the given bytes takes once written: its size rounded up as zqAllocatePlane lays it out.
size_t zqPlaneFootprint(size_t bytes);

/// The two ends of the byte stream between the run's process and its worker.
struct zqChannel
{
    intptr_t in = -1;  ///< the end read from (a socket or a pipe)
    intptr_t out = -1; ///< the end written to (the same socket on Linux)
};

/// Sends all count bytes; false when the other side is gone.
bool zqChannelSend(const zqChannel& channel, const char* bytes, size_t count);
/// Receives exactly count bytes; false when the other side is gone.
bool zqChannelReceive(const zqChannel& channel, char* bytes, size_t count);

/// How a worker process ended.
struct zqProcessEnding
{
    enum Kind
    {
        ExitCode,  ///< it returned or exited with code
        Signal,    ///< a signal ended it (POSIX): code is its number, name the system's text for it
        Exception, ///< an exception ended it (Windows): code is the exception code
    };
    Kind     kind = ExitCode;
    uint32_t code = 0;
    QString  name; ///< the signal's text; empty otherwise
};

/// A worker process of the run and its channel. On Linux the worker is a fork of this process that runs the body
/// and ends; on Windows it is this executable started again with a hidden first argument, whose main hands the
/// channel to its body (see zqWorkerInstanceChannel).
class zqWorkerProcess
{
public:
    using Body = void (*)(const zqChannel& channel, void* context);

    zqWorkerProcess() = default;
    /// Closes the channel and waits for the worker.
    ~zqWorkerProcess();
    zqWorkerProcess(const zqWorkerProcess&) = delete;
    zqWorkerProcess& operator=(const zqWorkerProcess&) = delete;

    /// Starts the worker; body(channel, context) runs in it (Linux) or in the new instance's main (Windows).
    /// False with error set when it cannot be started.
    bool start(Body body, void* context, QString& error);
    /// True while a started worker has not been waited for.
    bool running() const { return m_process != -1; }
    /// The worker's process id, or -1.
    int64_t id() const;
    /// The channel to the worker.
    const zqChannel& channel() const { return m_channel; }
    /// True when a started worker has ended already (it is then waited for); does not block.
    bool endedAlready();
    /// Waits for the worker to end and gives how it ended.
    zqProcessEnding waitForEnd();
    /// Closes the channel and waits for the worker.
    void stop();

private:
    intptr_t  m_process = -1; ///< process id (Linux) or process handle (Windows)
    intptr_t  m_job = -1;     ///< Windows: the job object that ends the worker with the run
    zqChannel m_channel;
    int       m_status = 0;   ///< how the last waited-for worker ended
};

/// In main: when this instance was started as a worker (its first argument is the hidden one), fills channel and
/// prepares the process for that role (a crash ends it with the exception code as its exit code); false otherwise.
bool zqWorkerInstanceChannel(int argc, char* argv[], zqChannel& channel);

/// True when the worker runs as its own instance of the executable and must be told the run's options.
bool zqWorkerNeedsOptions();
