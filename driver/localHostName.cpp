// The machine name stored as "ZQ/clientname" in every converted frame.
#include "driver/localHostName.h"

#include "zqshared/zqFile.h"

#include <cstdlib>

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
    return hostNameFromSystemName(zqSystemHostName(), [] { return std::rand(); });
}
