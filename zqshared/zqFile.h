// File services of the shared library: existence, a copy that keeps the modification time, and safe replacement.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>

/// The size of the file that path names; none when there is no file there (a directory does not count).
std::optional<int64_t> zqFileSize(const QString& path);

/// What tells one file on disk from another, and from its own earlier state.
struct zqFileIdentity
{
    uint64_t device = 0;              ///< the file system's device number
    uint64_t file = 0;                ///< the file's number on that device (its inode)
    int64_t  size = 0;                ///< size in bytes
    int64_t  modifiedNanoseconds = 0; ///< last modification, nanoseconds since 1970

    /// True when both name the same file in the same state.
    bool operator==(const zqFileIdentity& other) const
    {
        return device == other.device && file == other.file && size == other.size &&
               modifiedNanoseconds == other.modifiedNanoseconds;
    }
    bool operator!=(const zqFileIdentity& other) const { return !(*this == other); }
};

/// A file opened once for reading. Every read of a frame goes through it, so that a file renamed over the path
/// meanwhile is never mixed in: what was read is the file that was opened, old or new, never both.
class zqInputFile
{
public:
    zqInputFile() = default;
    ~zqInputFile();
    zqInputFile(const zqInputFile&) = delete;
    zqInputFile& operator=(const zqInputFile&) = delete;

    /// Opens path for reading, following a symbolic link; false with error() set (the system's text) on failure.
    /// A directory opens, and its reads fail.
    bool open(const QString& path);
    /// The path as given to open().
    const QString& path() const { return m_path; }
    /// Where the file itself lies: path, or for a symbolic link the path of the file it names.
    const QString& filePath() const { return m_filePath; }
    /// The file's identity as it was opened.
    const zqFileIdentity& identity() const { return m_identity; }
    /// Reads up to count bytes at offset; the number read (fewer at the end of the file), or -1 with errno set. Safe
    /// to call from several threads at once.
    int64_t readAt(int64_t offset, void* to, int64_t count) const;
    /// The reason the last open failed.
    const QString& error() const { return m_error; }

private:
    friend QString zqCopyFile(const zqInputFile& source, const QString& target);

    QString        m_path;
    QString        m_filePath;
    QString        m_error;
    zqFileIdentity m_identity;
    int            m_fd = -1;
};

/// Copies the open file source to target byte for byte through a temporary file beside target, then keeps source's
/// modification time. Returns an empty text on success; otherwise an error text naming both paths and the system's
/// reason. A text that contains "setting file time" means the copy is complete but its time could not be kept.
QString zqCopyFile(const zqInputFile& source, const QString& target);

/// Removes the temporary files left beside target by processes of this host that no longer run; returns how many.
int zqRemoveStaleTempFiles(const QString& target);

/// A temporary file beside a target, renamed over the target only when complete and on disk; removed when abandoned.
///
/// Its name, ".<target name>.<host>.<pid>.<random>.zqtmp", tells which process of which host wrote it, so that a
/// later run can remove it once that process is gone. Replacing an existing file keeps that file's permission bits,
/// owner and group (where this process may set them) and extended attributes, ACLs included.
class zqTempFileBeside
{
public:
    /// Removes target's stale temporary files and chooses a free temporary path; the file is not created yet.
    explicit zqTempFileBeside(const QString& target);
    /// Removes the temporary file unless it was committed.
    ~zqTempFileBeside();
    zqTempFileBeside(const zqTempFileBeside&) = delete;
    zqTempFileBeside& operator=(const zqTempFileBeside&) = delete;

    /// Creates the temporary file for writing and reading back (mode 0666 less the umask); false with error() set on
    /// failure.
    bool create();
    /// The open file's descriptor, or -1.
    int fd() const { return m_fd; }
    /// The temporary file's path (empty once committed or discarded).
    const QString& path() const { return m_path; }
    /// The reason of the last failure.
    const QString& error() const { return m_error; }
    /// Flushes the file to disk and closes it, gives it the replaced file's metadata, renames it over the target and
    /// flushes the directory. Returns false with error() set when any step fails; the temporary file is then removed
    /// and the target keeps its previous bytes. With replaced given, the target must be that very file, unchanged,
    /// and writable by this user; otherwise nothing is replaced and error() says why (see changedOnDisk()).
    bool commit(const zqFileIdentity* replaced = nullptr);
    /// True when the last commit() refused because the target was no longer the file it had to replace.
    bool changedOnDisk() const { return m_changedOnDisk; }
    /// Removes the temporary file now.
    void discard();

private:
    QString m_target;
    QString m_path;
    QString m_error;
    int     m_fd = -1;
    bool    m_changedOnDisk = false;
};

/// The name of this machine as the system gives it, as temporary file names carry it.
QString zqSystemHostName();
