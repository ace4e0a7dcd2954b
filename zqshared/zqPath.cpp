// Path helpers of the shared library.
#include "zqshared/zqPath.h"

namespace {
// Both separators are honoured whatever the caller names, so that paths written for either system split alike.
int lastSeparator(const QString& path)
{
    return std::max(path.lastIndexOf(QLatin1Char('/')), path.lastIndexOf(QLatin1Char('\\')));
}
} // namespace

QString zqGetDirName(const QString& path)
{
    return path.left(lastSeparator(path) + 1);
}

QString zqGetFileName(const QString& path)
{
    return path.mid(lastSeparator(path) + 1);
}
