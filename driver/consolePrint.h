// The printf-style writer through which every console line of the tool goes.
#pragma once

#include <QByteArray>

/// Formats like printf and writes to standard output; does not flush. Text arguments are 8-bit (Latin-1) strings.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// Writes text to standard output as it stands (no format meaning); does not flush.
void consoleWrite(const QByteArray& text);
/// Flushes standard output and standard error.
void consoleFlush();
