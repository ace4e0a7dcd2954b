// File services of the shared library.
#include "zqshared/zqFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <vector>

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QByteArray nativePath(const QString& path)
{
    return path.toUtf8();
}

// Writes all bytes, retrying on interruption; false with errno set on failure.
bool writeAll(int fd, const char* bytes, size_t count)
{
    while (count > 0)
    {
        ssize_t written = ::write(fd, bytes, count);
        if (written < 0)
        {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += written;
        count -= size_t(written);
    }
    return true;
}

} // namespace

bool zqFileExists(const QString& path, std::time_t* modificationTime, int64_t* size)
{
    struct stat info;
    if (path.isEmpty() || ::stat(nativePath(path).constData(), &info) != 0 || S_ISDIR(info.st_mode))
        return false;
    if (modificationTime)
        *modificationTime = info.st_mtime;
    if (size)
        *size = int64_t(info.st_size);
    return true;
}

zqTempFileBeside::zqTempFileBeside(const QString& target) : m_target(target)
{
    int     slash = std::max(target.lastIndexOf(QLatin1Char('/')), target.lastIndexOf(QLatin1Char('\\')));
    QString directory = target.left(slash + 1);
    QString name = target.mid(slash + 1);
    static std::mt19937_64 generator{std::random_device{}() ^ (uint64_t(::getpid()) << 32)};
    struct stat info;
    do
        m_path = QStringLiteral("%1.%2.%3.zqtmp").arg(directory, name, QString::number(generator() >> 16, 36));
    while (::lstat(nativePath(m_path).constData(), &info) == 0);
}

zqTempFileBeside::~zqTempFileBeside()
{
    discard();
}

bool zqTempFileBeside::commit()
{
    if (m_path.isEmpty())
        return false;
    QByteArray  from = nativePath(m_path);
    QByteArray  to = nativePath(m_target);
    struct stat info;
    if (::stat(to.constData(), &info) == 0 && !S_ISDIR(info.st_mode))
        ::chmod(from.constData(), info.st_mode & 07777);
    if (::rename(from.constData(), to.constData()) != 0)
    {
        m_error = QStringLiteral("cannot replace '%1': %2").arg(m_target, systemReason(errno));
        discard();
        return false;
    }
    m_path.clear();
    return true;
}

void zqTempFileBeside::discard()
{
    if (!m_path.isEmpty())
        ::unlink(nativePath(m_path).constData());
    m_path.clear();
}

QString zqCopyFile(const QString& source, const QString& target, bool, int, bool*)
{
    auto failure = [&](const QString& what, int error) {
        return QStringLiteral("copy '%1' to '%2' failed: %3: %4").arg(source, target, what, systemReason(error));
    };
    int from = ::open(nativePath(source).constData(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return failure(QStringLiteral("cannot open the source"), errno);
    struct stat info;
    if (::fstat(from, &info) != 0 || S_ISDIR(info.st_mode))
    {
        int error = S_ISDIR(info.st_mode) ? EISDIR : errno;
        ::close(from);
        return failure(QStringLiteral("cannot read the source"), error);
    }
    zqTempFileBeside temp(target);
    int to = ::open(nativePath(temp.path()).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (to < 0)
    {
        int error = errno;
        ::close(from);
        temp.forget();
        return failure(QStringLiteral("cannot create the file"), error);
    }
    static thread_local std::vector<char> buffer(1 << 20);
    for (;;)
    {
        ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 || (got > 0 && !writeAll(to, buffer.data(), size_t(got))))
        {
            int error = errno;
            ::close(from);
            ::close(to);
            return failure(got < 0 ? QStringLiteral("read error") : QStringLiteral("write error"), error);
        }
        if (got == 0)
            break;
    }
    ::close(from);
    if (::close(to) != 0)
        return failure(QStringLiteral("write error"), errno);

    struct timespec times[2] = {info.st_atim, info.st_mtim};
    bool timeKept = ::utimensat(AT_FDCWD, nativePath(temp.path()).constData(), times, 0) == 0;
    int  timeError = errno;
    if (!temp.commit())
        return QStringLiteral("copy '%1' to '%2' failed: %3").arg(source, target, temp.error());
    if (!timeKept)
        return failure(QStringLiteral("setting file time"), timeError);
    return QString();
}
