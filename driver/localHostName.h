// The machine name stored as "ZQ/clientname" in every converted frame.
#pragma once

#include <QString>

/// The name of this machine, cut at its first '.', or "NoHostNameSet_<rand()>" when there is none; never empty.
QString localHostName();
/// Applies the naming rules to a name the system gave: cut at the first '.' past position 0; an empty name or
/// "localhost" (any case) becomes "NoHostNameSet_" followed by a value of nextRandom, called only then.
QString hostNameFromSystemName(QString name, int (*nextRandom)());
