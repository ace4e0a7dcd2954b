// Directory listing of the shared library.
#include "zqshared/zqDirListing.h"

#include <dirent.h>
#include <sys/stat.h>

void zqDirListing::addEndsWithFilter(const QString& suffix)
{
    m_filters.append(suffix);
}

void zqDirListing::init(const QString& directory, bool, bool, bool, bool)
{
    m_names.clear();
    m_current = -1;
    QByteArray dirBytes = (directory.isEmpty() ? QStringLiteral(".") : directory).toUtf8();
    DIR*       dir = opendir(dirBytes.constData());
    if (!dir)
        return;
    while (dirent* entry = readdir(dir))
    {
        QString name = QString::fromUtf8(entry->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        bool wanted = m_filters.isEmpty();
        for (const QString& filter : m_filters)
            wanted = wanted || name.endsWith(filter, Qt::CaseInsensitive);
        if (!wanted)
            continue;
        QByteArray  full = dirBytes + (dirBytes.endsWith('/') ? "" : "/") + QByteArray(entry->d_name);
        struct stat info;
        if (stat(full.constData(), &info) == 0 && S_ISREG(info.st_mode))
            m_names.append(name);
    }
    closedir(dir);
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
