// Helpers shared by the Windows side of the shared library (only built on Windows).
#pragma once

#include <QString>
#include <string>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

/// A path as the wide-character file functions take it: paths of 240 characters or more in the \\?\ form.
std::wstring zqWidePath(const QString& path);

/// The errno value closest to a Windows error code (EIO when none is close).
int zqErrnoFromWindows(DWORD error);

/// The system's text for a Windows error code: the C library's text for the errors it names alike on every system
/// (so "Permission denied" reads the same as on Linux), the system's message otherwise.
QString zqWindowsReason(DWORD error);

/// Nanoseconds since 1970 of a Windows file time.
int64_t zqNanosecondsOf(const FILETIME& time);
