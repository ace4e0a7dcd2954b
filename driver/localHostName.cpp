// The machine name stored as "ZQ/clientname" in every converted frame.
#include "driver/localHostName.h"

#include <cstdlib>
#include <unistd.h>

QString hostNameFromSystemName(QString name, int (*nextRandom)())
{
    int dot = name.indexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    if (name.isEmpty() || name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        name = QStringLiteral("NoHostNameSet_%1").arg(nextRandom());
    return name;
}

QString localHostName()
{
    char    buffer[256] = {};
    QString name;
    if (gethostname(buffer, 255) == 0)
        name = QString::fromLocal8Bit(buffer);
    return hostNameFromSystemName(name, [] { return std::rand(); });
}
