// File services of the shared library: existence, copy that keeps the modification time, and safe replacement.
#pragma once

#include <QString>
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

/// A temporary file beside a target, renamed over the target only when complete; removed when abandoned.
class zqTempFileBeside
{
public:
    /// Chooses a free temporary path in target's directory, ".<target name>.<random>.zqtmp"; the file is not created.
    explicit zqTempFileBeside(const QString& target);
    /// Removes the temporary file unless it was committed.
    ~zqTempFileBeside();
    zqTempFileBeside(const zqTempFileBeside&) = delete;
    zqTempFileBeside& operator=(const zqTempFileBeside&) = delete;

    /// The temporary file's path (empty once committed or discarded).
    const QString& path() const { return m_path; }
    /// The reason of the last failure.
    const QString& error() const { return m_error; }
    /// Gives the file the target's permission bits when the target exists, then renames it over the target.
    /// Returns false with error() set when the rename fails; the temporary file is then removed.
    bool commit();
    /// Removes the temporary file now.
    void discard();
    /// Gives up the temporary path without touching the file system (for a file that was never created).
    void forget() { m_path.clear(); }

private:
    QString m_target;
    QString m_path;
    QString m_error;
};
