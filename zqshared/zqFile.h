// File services of the shared library: existence, a copy that keeps the modification time, and safe replacement.
#pragma once

#include <QString>
#include <cstddef>
#include <cstdint>
#include <ctime>

/// True when path names an existing file (a directory does not count); fills the modification time and size when given.
bool zqFileExists(const QString& path, std::time_t* modificationTime = nullptr, int64_t* size = nullptr);

/// Copies source to target byte for byte through a temporary file beside target, then keeps source's modification time.
/// Returns an empty text on success; otherwise an error text naming both paths and the system's reason. A text that
/// contains "setting file time" means the copy is complete but its time could not be kept. The flag, the integer and
/// the flag pointer are accepted and ignored.
QString zqCopyFile(const QString& source, const QString& target, bool flag = true, int option = -1,
                   bool* cancel = nullptr);

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

    /// Creates the temporary file for writing (mode 0666 less the umask); false with error() set on failure.
    bool create();
    /// The open file's descriptor, or -1.
    int fd() const { return m_fd; }
    /// The temporary file's path (empty once committed or discarded).
    const QString& path() const { return m_path; }
    /// The reason of the last failure.
    const QString& error() const { return m_error; }
    /// Flushes the file to disk and closes it, gives it the replaced file's metadata, renames it over the target and
    /// flushes the directory. Returns false with error() set when any step fails; the temporary file is then removed
    /// and the target keeps its previous bytes.
    bool commit();
    /// Removes the temporary file now.
    void discard();

private:
    QString m_target;
    QString m_path;
    QString m_error;
    int     m_fd = -1;
};

/// The name of this machine as the system gives it, as temporary file names carry it.
QString zqSystemHostName();
