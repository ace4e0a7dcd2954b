// File services of the shared library on Windows: existence, a copy that keeps the modification time, and safe
// replacement, on the wide-character file functions.
#include "zqshared/zqFile.h"

#include "zqshared/zqPath.h"
#include "zqshared/zqWindows.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <io.h>
#include <mutex>
#include <random>
#include <vector>

namespace {

const wchar_t kTempSuffix[] = L".zqtmp";

// Directory (with its trailing separator, "" for none) and file name of a path.
std::pair<QString, QString> splitPath(const QString& path)
{
    return {zqGetDirName(path), zqGetFileName(path)};
}

HANDLE handleOf(int fd)
{
    return fd >= 0 ? HANDLE(::_get_osfhandle(fd)) : INVALID_HANDLE_VALUE;
}

// A C library descriptor that owns handle, or -1 (the handle is then closed).
int descriptorOf(HANDLE handle, int flags)
{
    int fd = ::_open_osfhandle(intptr_t(handle), flags | _O_BINARY);
    if (fd < 0)
        ::CloseHandle(handle);
    return fd;
}

zqFileIdentity identityOf(const BY_HANDLE_FILE_INFORMATION& info)
{
    zqFileIdentity identity;
    identity.device = info.dwVolumeSerialNumber;
    identity.file = (uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity.size = int64_t((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
    identity.modifiedNanoseconds = zqNanosecondsOf(info.ftLastWriteTime);
    return identity;
}

// Whether path names the file of identity, unchanged. Asking only for its attributes never collides with the way
// anyone else holds the file open.
bool holdsFile(const std::wstring& path, const zqFileIdentity& identity)
{
    HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool same = ::GetFileInformationByHandle(handle, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                identityOf(info) == identity;
    ::CloseHandle(handle);
    return same;
}

// The identity of the file at path (all zero when there is none).
zqFileIdentity identityAt(const std::wstring& path)
{
    zqFileIdentity identity;
    HANDLE handle = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (handle != INVALID_HANDLE_VALUE && ::GetFileInformationByHandle(handle, &info))
        identity = identityOf(info);
    if (handle != INVALID_HANDLE_VALUE)
        ::CloseHandle(handle);
    return identity;
}

// The frames this process holds open for reading. They are open without delete sharing, so that nobody renames over
// them while they are converted; the replace of such a frame first lets go of it.
struct OpenInput
{
    int*           fd;
    zqFileIdentity identity;
};
std::mutex             g_openInputsLock;
std::vector<OpenInput> g_openInputs;

void forgetOpenInput(int* fd)
{
    std::lock_guard<std::mutex> lock(g_openInputsLock);
    g_openInputs.erase(std::remove_if(g_openInputs.begin(), g_openInputs.end(), [fd](const OpenInput& input) { return input.fd == fd; }),
                       g_openInputs.end());
}

void closeOpenInputsOf(const zqFileIdentity& identity)
{
    std::lock_guard<std::mutex> lock(g_openInputsLock);
    for (auto it = g_openInputs.begin(); it != g_openInputs.end();)
        if (it->identity.device == identity.device && it->identity.file == identity.file)
        {
            if (*it->fd >= 0)
                ::_close(*it->fd);
            *it->fd = -1;
            it = g_openInputs.erase(it);
        }
        else
            ++it;
}

// True when no process pid runs any more on this machine.
bool processIsGone(long pid)
{
    if (pid <= 0)
        return false;
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    bool  gone = ::GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
    ::CloseHandle(process);
    return gone;
}

bool writeAll(HANDLE handle, const char* bytes, size_t count)
{
    while (count > 0)
    {
        DWORD written = 0;
        DWORD chunk = DWORD(std::min<size_t>(count, 1u << 30));
        if (!::WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0)
            return false;
        bytes += written;
        count -= written;
    }
    return true;
}

} // namespace

QString zqSystemHostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 2] = {};
    DWORD   size = MAX_COMPUTERNAME_LENGTH + 1;
    return ::GetComputerNameW(name, &size) ? QString::fromWCharArray(name, int(size)) : QString();
}

std::optional<int64_t> zqFileSize(const QString& path)
{
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (path.isEmpty() || !::GetFileAttributesExW(zqWidePath(path).c_str(), GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    return int64_t((uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
}

zqInputFile::~zqInputFile()
{
    forgetOpenInput(&m_fd);
    if (m_fd >= 0)
        ::_close(m_fd);
}

bool zqInputFile::open(const QString& path)
{
    m_path = m_filePath = path;
    std::wstring wide = zqWidePath(path);
    // Others may read the frame meanwhile, but neither write it nor rename or delete it.
    HANDLE handle = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &info))
    {
        DWORD error = ::GetLastError();
        if (handle != INVALID_HANDLE_VALUE)
            ::CloseHandle(handle);
        m_error = zqWindowsReason(error);
        errno = zqErrnoFromWindows(error);
        return false;
    }
    m_identity = identityOf(info);
    DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    {
        // A link: the file is rewritten where it lies; a link pointed elsewhere meanwhile fails the identity check.
        wchar_t final[32768];
        DWORD   length = ::GetFinalPathNameByHandleW(handle, final, DWORD(std::size(final)), FILE_NAME_NORMALIZED);
        if (length > 0 && length < std::size(final))
        {
            QString resolved = QString::fromWCharArray(final, int(length));
            if (resolved.startsWith(QLatin1String("\\\\?\\UNC\\")) && resolved.size() < 240 + 6)
                resolved = QLatin1String("\\\\") + resolved.mid(8);
            else if (resolved.startsWith(QLatin1String("\\\\?\\")) && resolved.size() < 240 + 4)
                resolved = resolved.mid(4);
            m_filePath = resolved;
        }
    }
    m_fd = descriptorOf(handle, _O_RDONLY);
    if (m_fd < 0)
    {
        m_error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    {
        std::lock_guard<std::mutex> lock(g_openInputsLock);
        g_openInputs.push_back({&m_fd, m_identity});
    }
    return true;
}

int64_t zqInputFile::readAt(int64_t offset, void* to, int64_t count) const
{
    HANDLE  handle = handleOf(m_fd);
    int64_t done = 0;
    if (handle == INVALID_HANDLE_VALUE)
    {
        errno = EBADF;
        return -1;
    }
    while (done < count)
    {
        OVERLAPPED at{};
        uint64_t   position = uint64_t(offset + done);
        at.Offset = DWORD(position);
        at.OffsetHigh = DWORD(position >> 32);
        DWORD got = 0;
        DWORD chunk = DWORD(std::min<int64_t>(count - done, 1 << 30));
        if (!::ReadFile(handle, static_cast<char*>(to) + done, chunk, &got, &at))
        {
            DWORD error = ::GetLastError();
            if (error == ERROR_HANDLE_EOF)
                break;
            BY_HANDLE_FILE_INFORMATION info;
            bool folder = ::GetFileInformationByHandle(handle, &info) && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
            errno = folder ? EISDIR : zqErrnoFromWindows(error);
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

int zqRemoveStaleTempFiles(const QString& target)
{
    auto [directory, name] = splitPath(target);
    std::wstring prefix = QStringLiteral(".%1.%2.").arg(name, zqSystemHostName()).toStdWString();
    std::wstring folder = zqWidePath(directory.isEmpty() ? QStringLiteral(".\\") : directory);
    if (!folder.empty() && folder.back() != L'\\' && folder.back() != L'/')
        folder += L'\\';
    WIN32_FIND_DATAW entry;
    HANDLE           search = ::FindFirstFileExW((folder + L"*").c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                                 nullptr, 0);
    if (search == INVALID_HANDLE_VALUE)
        return 0;
    const size_t suffixLength = std::size(kTempSuffix) - 1;
    int          removed = 0;
    do
    {
        // ".<name>.<host>.<pid>.<random>.zqtmp": the pid's digits follow the prefix, then one more dot. Host names
        // compare without regard to letter case, as Windows names machines.
        std::wstring text = entry.cFileName;
        if (text.size() < prefix.size() + suffixLength + 1 ||
            ::CompareStringOrdinal(text.c_str(), int(prefix.size()), prefix.c_str(), int(prefix.size()), TRUE) != CSTR_EQUAL ||
            text.compare(text.size() - suffixLength, suffixLength, kTempSuffix) != 0)
            continue;
        wchar_t* end = nullptr;
        long     pid = std::wcstol(text.c_str() + prefix.size(), &end, 10);
        if (end == text.c_str() + prefix.size() || *end != L'.' || !processIsGone(pid))
            continue;
        if (::DeleteFileW((folder + text).c_str()))
            ++removed;
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    return removed;
}

zqTempFileBeside::zqTempFileBeside(const QString& target) : m_target(target)
{
    zqRemoveStaleTempFiles(target);
    auto [directory, name] = splitPath(target);
    static std::mt19937_64 generator{std::random_device{}() ^ (uint64_t(::GetCurrentProcessId()) << 32)};
    QString stem = QStringLiteral("%1.%2.%3.%4.").arg(directory, name, zqSystemHostName()).arg(::GetCurrentProcessId());
    do
        m_path = stem + QString::number(generator() >> 16, 36) + QString::fromWCharArray(kTempSuffix);
    while (::GetFileAttributesW(zqWidePath(m_path).c_str()) != INVALID_FILE_ATTRIBUTES);
}

zqTempFileBeside::~zqTempFileBeside()
{
    discard();
}

bool zqTempFileBeside::create()
{
    HANDLE handle = ::CreateFileW(zqWidePath(m_path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle != INVALID_HANDLE_VALUE)
    {
        m_fd = descriptorOf(handle, _O_RDWR);
        if (m_fd >= 0)
            return true;
        m_error = QString::fromLocal8Bit(std::strerror(errno));
    }
    else
        m_error = zqWindowsReason(::GetLastError());
    m_path.clear();
    return false;
}

bool zqTempFileBeside::commit(const zqFileIdentity* replaced)
{
    m_changedOnDisk = false;
    auto fail = [&](const QString& what, DWORD error) {
        m_error = QStringLiteral("%1 '%2': %3").arg(what, m_target, zqWindowsReason(error));
        discard();
        return false;
    };
    auto changed = [&] {
        m_error = QStringLiteral("The frame changed on disk while it was converted.");
        m_changedOnDisk = true;
        discard();
        return false;
    };
    if (m_path.isEmpty() || m_fd < 0)
        return fail(QStringLiteral("nothing written for"), ERROR_INVALID_HANDLE);
    std::wstring to = zqWidePath(m_target);
    std::wstring from = zqWidePath(m_path);
    DWORD        attributes = ::GetFileAttributesW(to.c_str());
    if (replaced && !holdsFile(to, *replaced))
        return changed();
    // A frame marked read-only stays, as a direct write to it would have failed.
    if (replaced && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    {
        m_error = QStringLiteral("%1: %2").arg(m_target, zqWindowsReason(ERROR_ACCESS_DENIED));
        discard();
        return false;
    }
    if (!::FlushFileBuffers(handleOf(m_fd)))
        return fail(QStringLiteral("cannot flush the file for"), ::GetLastError());
    int closed = ::_close(m_fd);
    m_fd = -1;
    if (closed != 0)
        return fail(QStringLiteral("cannot close the file for"), ERROR_WRITE_FAULT);
    if (replaced && !holdsFile(to, *replaced))
        return changed();
    // This process's own reading of the target would keep the replace out.
    if (replaced)
        closeOpenInputsOf(*replaced);
    else if (attributes != INVALID_FILE_ATTRIBUTES)
        closeOpenInputsOf(identityAt(to));
    // An existing target keeps its security descriptor, attributes and creation time; a new one is moved in place.
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    bool done = exists ? ::ReplaceFileW(to.c_str(), from.c_str(), nullptr,
                                        REPLACEFILE_WRITE_THROUGH | REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                       : ::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!done)
        return fail(QStringLiteral("cannot replace"), ::GetLastError());
    m_path.clear();
    return true;
}

void zqTempFileBeside::discard()
{
    if (m_fd >= 0)
        ::_close(m_fd);
    m_fd = -1;
    if (!m_path.isEmpty())
        ::DeleteFileW(zqWidePath(m_path).c_str());
    m_path.clear();
}

QString zqCopyFile(const zqInputFile& source, const QString& target)
{
    auto failure = [&](const QString& what, DWORD error) {
        return QStringLiteral("copy '%1' to '%2' failed: %3: %4").arg(source.path(), target, what, zqWindowsReason(error));
    };
    HANDLE                     from = handleOf(source.m_fd);
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(from, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return failure(QStringLiteral("cannot read the source"),
                       from == INVALID_HANDLE_VALUE ? ERROR_INVALID_HANDLE : ::GetLastError());
    zqTempFileBeside temp(target);
    if (!temp.create())
        return QStringLiteral("copy '%1' to '%2' failed: cannot create the file: %3").arg(source.path(), target, temp.error());
    // Not a thread_local buffer: MinGW's thread_local destructors race its TLS cleanup when a thread ends.
    std::vector<char>                     buffer(1 << 20);
    int64_t                               copied = 0;
    HANDLE                                to = handleOf(temp.fd());
    for (;;)
    {
        int64_t got = source.readAt(copied, buffer.data(), int64_t(buffer.size()));
        if (got < 0)
            return failure(QStringLiteral("read error"), ::GetLastError());
        if (got > 0 && !writeAll(to, buffer.data(), size_t(got)))
            return failure(QStringLiteral("write error"), ::GetLastError());
        if (got == 0)
            break;
        copied += got;
    }
    bool  timeKept = ::SetFileTime(to, nullptr, &info.ftLastAccessTime, &info.ftLastWriteTime);
    DWORD timeError = ::GetLastError();
    if (!temp.commit())
        return QStringLiteral("copy '%1' to '%2' failed: %3").arg(source.path(), target, temp.error());
    if (!timeKept)
        return failure(QStringLiteral("setting file time"), timeError);
    return QString();
}
