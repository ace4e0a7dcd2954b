// Directory listing of the shared library: the filters and the walk over the names, the same on every system.
#include "zqshared/zqDirListing.h"

void zqDirListing::addEndsWithFilter(const QString& suffix)
{
    m_filters.append(suffix);
}

void zqDirListing::init(const QString& directory, bool, bool, bool, bool)
{
    m_current = -1;
    m_names = zqPlainFileNames(directory, [this](const QString& name) {
        bool wanted = m_filters.isEmpty();
        for (const QString& filter : m_filters)
            wanted = wanted || name.endsWith(filter, Qt::CaseInsensitive);
        return wanted;
    });
}

bool zqDirListing::nextFile()
{
    if (m_current + 1 >= m_names.size())
        return false;
    ++m_current;
    return true;
}

QString zqDirListing::fileName() const
{
    return (m_current >= 0 && m_current < m_names.size()) ? m_names[m_current] : QString();
}
