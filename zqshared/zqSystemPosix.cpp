// System services of the shared library on Linux and other POSIX systems.
#include "zqshared/zqPath.h"
#include "zqshared/zqSystem.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/prctl.h>
#endif

QString zqArgumentText(const char* argument)
{
    return QString::fromUtf8(argument);
}

std::tm zqLocalTime(std::time_t seconds, int64_t* utcOffset)
{
    std::tm local{};
    localtime_r(&seconds, &local);
    if (utcOffset)
        *utcOffset = int64_t(local.tm_gmtoff);
    return local;
}

QString zqOpenFailureText(const QString& qtText)
{
    return qtText;
}

int zqAvailableCpuCount()
{
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0)
        return 1;
    return std::max(1, CPU_COUNT(&set));
#else
    return std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN));
#endif
}

int64_t zqWriteAt(int fd, const void* bytes, size_t count, uint64_t offset)
{
    ssize_t written;
    do
        written = ::pwrite(fd, bytes, count, off_t(offset));
    while (written < 0 && errno == EINTR);
    return int64_t(written);
}

int64_t zqReadAt(int fd, void* bytes, size_t count, uint64_t offset)
{
    ssize_t got;
    do
        got = ::pread(fd, bytes, count, off_t(offset));
    while (got < 0 && errno == EINTR);
    return int64_t(got);
}

void zqStartWriteback(int fd, uint64_t offset, uint64_t count)
{
#if defined(__linux__)
    ::sync_file_range(fd, off_t(offset), off_t(count), SYNC_FILE_RANGE_WRITE);
#else
    (void)fd, (void)offset, (void)count;
#endif
}

namespace {

constexpr size_t kHugePage = size_t(2) << 20;

} // namespace

void* zqAllocatePlane(size_t bytes)
{
    // Blocks of a huge page or more start on a huge-page boundary, so that a system that gives every process
    // transparent huge pages can back them with whole ones. The tool does not ask for them itself: where huge pages
    // are given on request only, the kernel must often compact memory to find them, which made a UHD frame's system
    // time swing between 0.3 and 1.3 s from run to run; ordinary pages take a steady 0.4 s.
    if (bytes < kHugePage)
        return std::malloc(bytes);
    void*  block = nullptr;
    size_t rounded = zqPlaneFootprint(bytes);
    if (posix_memalign(&block, kHugePage, rounded) != 0)
        return nullptr;
    return block;
}

size_t zqPlaneFootprint(size_t bytes)
{
    // Where the system backs the block with huge pages, each is faulted in whole, so a plane's last one counts whole.
    return bytes < kHugePage || bytes > SIZE_MAX - kHugePage ? bytes : (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

void convertPathWin32toNT(QString& /*path*/)
{
}

bool zqChannelSend(const zqChannel& channel, const char* bytes, size_t count)
{
    while (count > 0)
    {
        ssize_t sent = ::send(int(channel.out), bytes, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent, count -= size_t(sent);
    }
    return true;
}

bool zqChannelReceive(const zqChannel& channel, char* bytes, size_t count)
{
    while (count > 0)
    {
        ssize_t got = ::recv(int(channel.in), bytes, count, 0);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        bytes += got, count -= size_t(got);
    }
    return true;
}

zqWorkerProcess::~zqWorkerProcess()
{
    stop();
}

bool zqWorkerProcess::start(Body body, void* context, QString& error)
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
#if defined(__linux__)
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
#endif
        body(zqChannel{sockets[1], sockets[1]}, context);
        ::_exit(0);
    }
    ::close(sockets[1]);
    if (pid < 0)
    {
        error = QString::fromLocal8Bit(std::strerror(errno));
        ::close(sockets[0]);
        return false;
    }
    m_process = pid;
    m_channel = zqChannel{sockets[0], sockets[0]};
    return true;
}

int64_t zqWorkerProcess::id() const
{
    return m_process;
}

bool zqWorkerProcess::endedAlready()
{
    if (m_process == -1 || ::waitpid(pid_t(m_process), &m_status, WNOHANG) != pid_t(m_process))
        return false;
    m_process = -1;
    stop();
    return true;
}

zqProcessEnding zqWorkerProcess::waitForEnd()
{
    if (m_process != -1)
        while (::waitpid(pid_t(m_process), &m_status, 0) < 0 && errno == EINTR)
            ;
    m_process = -1;
    stop();
    zqProcessEnding ending;
    if (WIFSIGNALED(m_status))
    {
        ending.kind = zqProcessEnding::Signal;
        ending.code = uint32_t(WTERMSIG(m_status));
        ending.name = QString::fromLocal8Bit(::strsignal(WTERMSIG(m_status)));
    }
    else
        ending.code = uint32_t(WEXITSTATUS(m_status));
    return ending;
}

void zqWorkerProcess::stop()
{
    if (m_channel.in >= 0)
        ::close(int(m_channel.in));
    m_channel = zqChannel{};
    if (m_process != -1)
        while (::waitpid(pid_t(m_process), &m_status, 0) < 0 && errno == EINTR)
            ;
    m_process = -1;
}

bool zqWorkerInstanceChannel(int, char*[], zqChannel&)
{
    return false;
}

bool zqWorkerNeedsOptions()
{
    return false;
}
