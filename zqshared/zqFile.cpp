// File services of the shared library: existence, a copy that keeps the modification time, and safe replacement.
#include "zqshared/zqFile.h"
#include "zqshared/zqPath.h"
#include "zqshared/zqSystem.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace {

const char kTempSuffix[] = ".zqtmp";

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray nativePath(const QString& path)
{
    return path.toUtf8();
}

// Directory (with its trailing separator, "" for none) and file name of a path.
std::pair<QString, QString> splitPath(const QString& path)
{
    return {zqGetDirName(path), zqGetFileName(path)};
}

// True when no process pid runs any more: none exists, or only its zombie waits to be reaped (it writes nothing).
bool processIsGone(pid_t pid)
{
    if (pid <= 0)
        return false;
    if (::kill(pid, 0) != 0)
        return errno == ESRCH;
    char stat[512] = {};
    int  fd = ::open(("/proc/" + std::to_string(pid) + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ssize_t got = ::read(fd, stat, sizeof stat - 1);
    ::close(fd);
    const char* state = got > 0 ? std::strrchr(stat, ')') : nullptr; // "pid (name) S ...", the name may hold ')'
    return state && state[1] == ' ' && state[2] == 'Z';
}

// Gives the open file the permission bits, owner, group and extended attributes of an existing file. Owner, group
// and attributes are kept where this process may set them; the mode is set last, after chown may have cleared bits.
void copyFileMetadata(const char* from, int fd)
{
    struct stat info;
    if (::stat(from, &info) != 0 || S_ISDIR(info.st_mode))
        return;
    if (::fchown(fd, info.st_uid, info.st_gid) != 0)
        (void)::fchown(fd, uid_t(-1), info.st_gid);
    ssize_t size = ::listxattr(from, nullptr, 0);
    std::vector<char> names(size > 0 ? size_t(size) : 0);
    if (size > 0 && (size = ::listxattr(from, names.data(), names.size())) > 0)
        for (const char* name = names.data(); name < names.data() + size; name += std::strlen(name) + 1)
        {
            ssize_t           length = ::getxattr(from, name, nullptr, 0);
            std::vector<char> value(length > 0 ? size_t(length) : 0);
            if (length >= 0 && (length = ::getxattr(from, name, value.data(), value.size())) >= 0)
                (void)::fsetxattr(fd, name, value.data(), size_t(length), 0);
        }
    ::fchmod(fd, info.st_mode & 07777);
}

zqFileIdentity identityOf(const struct stat& info)
{
    zqFileIdentity identity;
    identity.device = uint64_t(info.st_dev);
    identity.file = uint64_t(info.st_ino);
    identity.size = int64_t(info.st_size);
    identity.modifiedNanoseconds = int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    return identity;
}

// Whether path (not followed, should it be a link) names the file of identity, unchanged.
bool holdsFile(const QByteArray& path, const zqFileIdentity& identity)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) && identityOf(info) == identity;
}

} // namespace

QString zqSystemHostName()
{
    char buffer[256] = {};
    return ::gethostname(buffer, sizeof buffer - 1) == 0 ? QString::fromLocal8Bit(buffer) : QString();
}

std::optional<int64_t> zqFileSize(const QString& path)
{
    struct stat info;
    if (path.isEmpty() || ::stat(nativePath(path).constData(), &info) != 0 || S_ISDIR(info.st_mode))
        return std::nullopt;
    return int64_t(info.st_size);
}

zqInputFile::~zqInputFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool zqInputFile::open(const QString& path)
{
    m_path = m_filePath = path;
    QByteArray native = nativePath(path);
    m_fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (m_fd < 0 || ::fstat(m_fd, &info) != 0)
    {
        m_error = systemReason(errno);
        return false;
    }
    m_identity = identityOf(info);
    struct stat link;
    if (::lstat(native.constData(), &link) == 0 && S_ISLNK(link.st_mode))
    {
        // The file is rewritten where it lies; a link that is pointed elsewhere meanwhile fails the identity check.
        if (char* resolved = ::realpath(native.constData(), nullptr))
        {
            m_filePath = QString::fromUtf8(resolved);
            std::free(resolved);
        }
    }
    return true;
}

int64_t zqInputFile::readAt(int64_t offset, void* to, int64_t count) const
{
    int64_t done = 0;
    while (done < count)
    {
        ssize_t got = ::pread(m_fd, static_cast<char*>(to) + done, size_t(count - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}

int zqRemoveStaleTempFiles(const QString& target)
{
    auto [directory, name] = splitPath(target);
    QByteArray prefix = nativePath(QStringLiteral(".%1.%2.").arg(name, zqSystemHostName()));
    QByteArray dirBytes = nativePath(directory.isEmpty() ? QStringLiteral(".") : directory);
    DIR*       dir = ::opendir(dirBytes.constData());
    if (!dir)
        return 0;
    int removed = 0;
    while (dirent* entry = ::readdir(dir))
    {
        // ".<name>.<host>.<pid>.<random>.zqtmp": the pid's digits follow the prefix, then one more dot.
        const char* text = entry->d_name;
        size_t      length = std::strlen(text);
        if (length < size_t(prefix.size()) + sizeof kTempSuffix || std::memcmp(text, prefix.constData(), size_t(prefix.size())) != 0 ||
            std::strcmp(text + length - (sizeof kTempSuffix - 1), kTempSuffix) != 0)
            continue;
        char* end = nullptr;
        long  pid = std::strtol(text + prefix.size(), &end, 10);
        if (end == text + prefix.size() || *end != '.' || !processIsGone(pid_t(pid)))
            continue;
        if (::unlinkat(::dirfd(dir), text, 0) == 0)
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

zqTempFileBeside::zqTempFileBeside(const QString& target) : m_target(target)
{
    zqRemoveStaleTempFiles(target);
    auto [directory, name] = splitPath(target);
    static std::mt19937_64 generator{std::random_device{}() ^ (uint64_t(::getpid()) << 32)};
    QString                stem = QStringLiteral("%1.%2.%3.%4.").arg(directory, name, zqSystemHostName()).arg(::getpid());
    struct stat            info;
    do
        m_path = stem + QString::number(generator() >> 16, 36) + QLatin1String(kTempSuffix);
    while (::lstat(nativePath(m_path).constData(), &info) == 0);
}

zqTempFileBeside::~zqTempFileBeside()
{
    discard();
}

bool zqTempFileBeside::create()
{
    m_fd = ::open(nativePath(m_path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd >= 0)
        return true;
    m_error = systemReason(errno);
    m_path.clear();
    return false;
}

bool zqTempFileBeside::commit(const zqFileIdentity* replaced)
{
    m_changedOnDisk = false;
    auto fail = [&](const QString& what, int error) {
        m_error = QStringLiteral("%1 '%2': %3").arg(what, m_target, systemReason(error));
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
        return fail(QStringLiteral("nothing written for"), EBADF);
    QByteArray to = nativePath(m_target);
    // A frame its user may not write stays, as a direct write to it would have failed.
    if (replaced && !holdsFile(to, *replaced))
        return changed();
    if (replaced && ::access(to.constData(), W_OK) != 0)
    {
        m_error = QStringLiteral("%1: %2").arg(m_target, systemReason(errno));
        discard();
        return false;
    }
    copyFileMetadata(to.constData(), m_fd);
    if (::fsync(m_fd) != 0)
        return fail(QStringLiteral("cannot flush the file for"), errno);
    int closed = ::close(m_fd);
    m_fd = -1;
    if (closed != 0)
        return fail(QStringLiteral("cannot close the file for"), errno);
    QByteArray from = nativePath(m_path);
    if (!replaced)
    {
        if (::rename(from.constData(), to.constData()) != 0)
            return fail(QStringLiteral("cannot replace"), errno);
    }
    else
    {
        if (!holdsFile(to, *replaced))
            return changed();
#if defined(RENAME_EXCHANGE)
        // The swap and the check are one step: the file moved out is the one checked, and goes back when it is not
        // the file that was read.
        if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE) == 0)
        {
            if (!holdsFile(from, *replaced))
            {
                ::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_EXCHANGE);
                return changed();
            }
            ::unlink(from.constData());
        }
        else if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
            return fail(QStringLiteral("cannot replace"), errno);
        else
#endif
            // A file system without the exchange: the check above, then the plain rename.
            if (::rename(from.constData(), to.constData()) != 0)
                return fail(QStringLiteral("cannot replace"), errno);
    }
    m_path.clear();
    // The rename is only durable once the directory that holds the name is on disk as well. A file system that
    // cannot flush a directory (EINVAL, EBADF: some network and FUSE file systems) has the file itself on disk.
    QString directory = splitPath(m_target).first;
    int     dir = ::open(nativePath(directory.isEmpty() ? QStringLiteral(".") : directory).constData(),
                         O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0 || (::fsync(dir) != 0 && errno != EINVAL && errno != EBADF))
    {
        m_error = QStringLiteral("cannot flush the directory of '%1': %2").arg(m_target, systemReason(errno));
        if (dir >= 0)
            ::close(dir);
        return false;
    }
    ::close(dir);
    return true;
}

void zqTempFileBeside::discard()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    if (!m_path.isEmpty())
        ::unlink(nativePath(m_path).constData());
    m_path.clear();
}

QString zqCopyFile(const zqInputFile& source, const QString& target)
{
    auto failure = [&](const QString& what, int error) {
        return QStringLiteral("copy '%1' to '%2' failed: %3: %4").arg(source.path(), target, what, systemReason(error));
    };
    struct stat info;
    if (::fstat(source.m_fd, &info) != 0 || S_ISDIR(info.st_mode))
        return failure(QStringLiteral("cannot read the source"), S_ISDIR(info.st_mode) ? EISDIR : errno);
    zqTempFileBeside temp(target);
    if (!temp.create())
        return QStringLiteral("copy '%1' to '%2' failed: cannot create the file: %3").arg(source.path(), target, temp.error());
    static thread_local std::vector<char> buffer(1 << 20);
    int64_t                               copied = 0;
    for (;;)
    {
        int64_t got = source.readAt(copied, buffer.data(), int64_t(buffer.size()));
        int     error = errno;
        if (got < 0)
            return failure(QStringLiteral("read error"), error);
        if (got == 0)
            break;
        if (!zqWriteAllAt(temp.fd(), buffer.data(), size_t(got), uint64_t(copied), error))
            return failure(QStringLiteral("write error"), error);
        copied += got;
    }
    struct timespec times[2] = {info.st_atim, info.st_mtim};
    bool            timeKept = ::futimens(temp.fd(), times) == 0;
    int             timeError = errno;
    if (!temp.commit())
        return QStringLiteral("copy '%1' to '%2' failed: %3").arg(source.path(), target, temp.error());
    if (!timeKept)
        return failure(QStringLiteral("setting file time"), timeError);
    return QString();
}
