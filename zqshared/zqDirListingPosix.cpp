// Directory listing of the shared library on POSIX systems.
#include "zqshared/zqDirListing.h"

#include <dirent.h>
#include <sys/stat.h>

QStringList zqPlainFileNames(const QString& directory, const std::function<bool(const QString&)>& wanted)
{
    QStringList names;
    QByteArray dirBytes = (directory.isEmpty() ? QStringLiteral(".") : directory).toUtf8();
    DIR*       dir = opendir(dirBytes.constData());
    if (!dir)
        return names;
    while (dirent* entry = readdir(dir))
    {
        QString name = QString::fromUtf8(entry->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        if (!wanted(name))
            continue;
        QByteArray  full = dirBytes + (dirBytes.endsWith('/') ? "" : "/") + QByteArray(entry->d_name);
        struct stat info;
        if (stat(full.constData(), &info) == 0 && S_ISREG(info.st_mode))
            names.append(name);
    }
    closedir(dir);
    return names;
}
