// Directory listing of the shared library, with an ends-with filter on file names.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

/// The names of the plain files of directory (a link counts when it names one) that wanted accepts, in the order the
/// system lists them; none for a directory that cannot be read.
QStringList zqPlainFileNames(const QString& directory, const std::function<bool(const QString&)>& wanted);

/// Lists the plain files of one directory whose names end with one of the filters (any letter case).
class zqDirListing
{
public:
    /// Adds a suffix that names must end with; without any filter every file is listed.
    void addEndsWithFilter(const QString& suffix);
    /// Reads the directory; the four options are accepted and ignored. An unreadable directory lists nothing.
    void init(const QString& directory, bool option1, bool option2, bool option3, bool option4);
    /// Moves to the next entry; false when no entry is left. The first call moves to the first entry.
    bool nextFile();
    /// The current entry's name without directory.
    QString fileName() const;

private:
    QStringList m_filters;
    QStringList m_names;
    int         m_current = -1;
};
