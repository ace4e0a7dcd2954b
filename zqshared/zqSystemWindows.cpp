// System services of the shared library on Windows.
#include "zqshared/zqPath.h"
#include "zqshared/zqSystem.h"
#include "zqshared/zqWindows.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <io.h>

namespace {

// The hidden first argument of an instance started as a worker: "--zq-conversion-worker=<read>,<write>", the
// handles of the two pipe ends it inherited.
const char kWorkerArgument[] = "--zq-conversion-worker=";

// A crash of the worker ends it at once with the exception code as its exit code: no error dialog, no debugger, so
// that the run's process learns which exception it was.
LONG WINAPI endByException(EXCEPTION_POINTERS* exception)
{
    ::TerminateProcess(::GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
    return EXCEPTION_EXECUTE_HANDLER;
}

void closeHandle(intptr_t& handle)
{
    if (handle != -1)
        ::CloseHandle(HANDLE(handle));
    handle = -1;
}

} // namespace

std::wstring zqWidePath(const QString& path)
{
    QString native = path;
    native.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (native.size() >= 240)
        convertPathWin32toNT(native);
    return native.toStdWString();
}

int zqErrnoFromWindows(DWORD error)
{
    switch (error)
    {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT: return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS: return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return ENOSPC;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY: return ENOMEM;
    case ERROR_INVALID_HANDLE: return EBADF;
    case ERROR_FILENAME_EXCED_RANGE: return ENAMETOOLONG;
    case ERROR_DIRECTORY: return ENOTDIR;
    default: return EIO;
    }
}

QString zqWindowsReason(DWORD error)
{
    int number = zqErrnoFromWindows(error);
    if (number != EIO)
        return QString::fromLocal8Bit(std::strerror(number));
    wchar_t* text = nullptr;
    DWORD    length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                        FORMAT_MESSAGE_IGNORE_INSERTS,
                                    nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    QString reason = length ? QString::fromWCharArray(text, int(length)).trimmed() : QString();
    ::LocalFree(text);
    while (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason.isEmpty() ? QStringLiteral("Windows error %1").arg(error) : reason;
}

int64_t zqNanosecondsOf(const FILETIME& time)
{
    // 100-nanosecond steps since 1601-01-01; 1970-01-01 lies 11644473600 s later.
    uint64_t steps = (uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    return (int64_t(steps) - int64_t(116444736000000000LL)) * 100;
}

void convertPathWin32toNT(QString& path)
{
    if (path.startsWith(QLatin1String("\\\\?\\")) || path.isEmpty())
        return;
    std::wstring given = path.toStdWString();
    DWORD        length = ::GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
    std::wstring full(length, L'\0');
    if (length == 0 || (length = ::GetFullPathNameW(given.c_str(), length, full.data(), nullptr)) == 0)
        return;
    full.resize(length);
    QString absolute = QString::fromStdWString(full);
    absolute.replace(QLatin1Char('/'), QLatin1Char('\\'));
    if (absolute.startsWith(QLatin1String("\\\\")))
        path = QLatin1String("\\\\?\\UNC\\") + absolute.mid(2);
    else
        path = QLatin1String("\\\\?\\") + absolute;
}

QString zqArgumentText(const char* argument)
{
    return QString::fromLocal8Bit(argument);
}

std::tm zqLocalTime(std::time_t seconds, int64_t* utcOffset)
{
    std::tm local{};
    localtime_s(&local, &seconds);
    if (utcOffset)
    {
        // The local clock's reading taken as if it were UTC, less the real UTC seconds.
        std::tm copy = local;
        *utcOffset = int64_t(_mkgmtime(&copy)) - int64_t(seconds);
    }
    return local;
}

QString zqOpenFailureText(const QString& qtText)
{
    DWORD error = ::GetLastError();
    return error != ERROR_SUCCESS && zqErrnoFromWindows(error) != EIO ? zqWindowsReason(error) : qtText;
}

int zqAvailableCpuCount()
{
    DWORD_PTR process = 0, system = 0;
    if (!::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system) || process == 0)
    {
        SYSTEM_INFO info;
        ::GetSystemInfo(&info);
        return std::max(1, int(info.dwNumberOfProcessors));
    }
    return std::max(1, __builtin_popcountll(uint64_t(process)));
}

namespace {

// Reads or writes (through ReadFile or WriteFile) up to count bytes at offset of the open file fd: the bytes moved,
// 0 at the end of the file, or -1 with errno set.
template <typename Bytes, typename Transfer>
int64_t transferAt(int fd, Bytes bytes, size_t count, uint64_t offset, Transfer transfer)
{
    HANDLE handle = fd >= 0 ? HANDLE(::_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
    if (handle == INVALID_HANDLE_VALUE)
    {
        errno = EBADF;
        return -1;
    }
    OVERLAPPED at{};
    at.Offset = DWORD(offset);
    at.OffsetHigh = DWORD(offset >> 32);
    DWORD moved = 0;
    if (!transfer(handle, bytes, DWORD(std::min<size_t>(count, 1u << 30)), &moved, &at))
    {
        DWORD error = ::GetLastError();
        if (error == ERROR_HANDLE_EOF)
            return 0;
        errno = zqErrnoFromWindows(error);
        return -1;
    }
    return int64_t(moved);
}

} // namespace

int64_t zqWriteAt(int fd, const void* bytes, size_t count, uint64_t offset)
{
    return transferAt(fd, bytes, count, offset, ::WriteFile);
}

int64_t zqReadAt(int fd, void* bytes, size_t count, uint64_t offset)
{
    return transferAt(fd, bytes, count, offset, ::ReadFile);
}

void zqStartWriteback(int, uint64_t, uint64_t)
{
}

void* zqAllocatePlane(size_t bytes)
{
    return std::malloc(bytes);
}

size_t zqPlaneFootprint(size_t bytes)
{
    return bytes;
}

bool zqChannelSend(const zqChannel& channel, const char* bytes, size_t count)
{
    while (count > 0)
    {
        DWORD sent = 0;
        if (!::WriteFile(HANDLE(channel.out), bytes, DWORD(std::min<size_t>(count, 1u << 20)), &sent, nullptr) || sent == 0)
            return false;
        bytes += sent, count -= sent;
    }
    return true;
}

bool zqChannelReceive(const zqChannel& channel, char* bytes, size_t count)
{
    while (count > 0)
    {
        DWORD got = 0;
        if (!::ReadFile(HANDLE(channel.in), bytes, DWORD(std::min<size_t>(count, 1u << 20)), &got, nullptr) || got == 0)
            return false;
        bytes += got, count -= got;
    }
    return true;
}

zqWorkerProcess::~zqWorkerProcess()
{
    stop();
    closeHandle(m_job);
}

bool zqWorkerProcess::start(Body, void*, QString& error)
{
    auto fail = [&](DWORD code) {
        error = zqWindowsReason(code);
        return false;
    };
    // Two pipes: the run writes jobs into one and reads console text and results from the other. Only the worker's
    // ends are inherited.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE              toWorkerRead, toWorkerWrite, fromWorkerRead, fromWorkerWrite;
    if (!::CreatePipe(&toWorkerRead, &toWorkerWrite, &inherit, 1 << 16))
        return fail(::GetLastError());
    if (!::CreatePipe(&fromWorkerRead, &fromWorkerWrite, &inherit, 1 << 16))
    {
        DWORD code = ::GetLastError();
        ::CloseHandle(toWorkerRead), ::CloseHandle(toWorkerWrite);
        return fail(code);
    }
    ::SetHandleInformation(toWorkerWrite, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(fromWorkerRead, HANDLE_FLAG_INHERIT, 0);

    wchar_t executable[32768];
    DWORD   length = ::GetModuleFileNameW(nullptr, executable, DWORD(std::size(executable)));
    QString commandLine = QStringLiteral("\"%1\" %2%3,%4")
                              .arg(QString::fromWCharArray(executable, int(length)), QLatin1String(kWorkerArgument))
                              .arg(quintptr(toWorkerRead))
                              .arg(quintptr(fromWorkerWrite));
    std::wstring        line = commandLine.toStdWString();
    STARTUPINFOW        startup{};
    PROCESS_INFORMATION process{};
    startup.cb = sizeof startup;
    std::fflush(nullptr);
    BOOL started = ::CreateProcessW(executable, line.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                                    &startup, &process);
    DWORD code = ::GetLastError();
    ::CloseHandle(toWorkerRead), ::CloseHandle(fromWorkerWrite);
    if (!started)
    {
        ::CloseHandle(toWorkerWrite), ::CloseHandle(fromWorkerRead);
        return fail(code);
    }
    // The worker ends with the run: the job object closes with the run's last handle to it.
    if (m_job == -1)
    {
        HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        if (job && ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
            m_job = intptr_t(job);
        else if (job)
            ::CloseHandle(job);
    }
    if (m_job != -1)
        ::AssignProcessToJobObject(HANDLE(m_job), process.hProcess);
    ::ResumeThread(process.hThread);
    ::CloseHandle(process.hThread);
    m_process = intptr_t(process.hProcess);
    m_channel = zqChannel{intptr_t(fromWorkerRead), intptr_t(toWorkerWrite)};
    return true;
}

int64_t zqWorkerProcess::id() const
{
    return m_process == -1 ? -1 : int64_t(::GetProcessId(HANDLE(m_process)));
}

bool zqWorkerProcess::endedAlready()
{
    if (m_process == -1 || ::WaitForSingleObject(HANDLE(m_process), 0) != WAIT_OBJECT_0)
        return false;
    stop();
    return true;
}

zqProcessEnding zqWorkerProcess::waitForEnd()
{
    DWORD code = DWORD(m_status);
    if (m_process != -1)
    {
        ::WaitForSingleObject(HANDLE(m_process), INFINITE);
        ::GetExitCodeProcess(HANDLE(m_process), &code);
    }
    stop();
    m_status = int(code);
    // Exception codes are NTSTATUS values of error or warning severity: the top bit is set.
    zqProcessEnding ending;
    ending.kind = (code & 0x80000000u) ? zqProcessEnding::Exception : zqProcessEnding::ExitCode;
    ending.code = code;
    return ending;
}

void zqWorkerProcess::stop()
{
    closeHandle(m_channel.out);
    closeHandle(m_channel.in);
    if (m_process != -1)
    {
        DWORD code = 0;
        ::WaitForSingleObject(HANDLE(m_process), INFINITE);
        if (::GetExitCodeProcess(HANDLE(m_process), &code))
            m_status = int(code);
        closeHandle(m_process);
    }
}

bool zqWorkerInstanceChannel(int argc, char* argv[], zqChannel& channel)
{
    if (argc < 2 || std::strncmp(argv[1], kWorkerArgument, sizeof kWorkerArgument - 1) != 0)
        return false;
    char*              end = nullptr;
    unsigned long long in = std::strtoull(argv[1] + sizeof kWorkerArgument - 1, &end, 10);
    if (*end != ',')
        return false;
    unsigned long long out = std::strtoull(end + 1, &end, 10);
    if (*end != '\0')
        return false;
    channel = zqChannel{intptr_t(in), intptr_t(out)};
    ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    ::SetUnhandledExceptionFilter(endByException);
    return true;
}

bool zqWorkerNeedsOptions()
{
    return true;
}
