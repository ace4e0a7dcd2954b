// Path helpers of the shared library: splitting a path into directory and file name, long-path form.
#pragma once

#include <QString>

/// The part of path up to and including its last separator ('/' or '\\', whichever comes later); empty when none.
QString zqGetDirName(const QString& path);
/// The part of path after its last separator ('/' or '\\'); the whole path when it has none.
QString zqGetFileName(const QString& path);
/// Rewrites path into the system's long-path form: on Windows the \\?\ form of its absolute path (\\?\UNC\... for a
/// UNC path); POSIX paths need no rewrite, so there it leaves path unchanged.
void convertPathWin32toNT(QString& path);
