// The printf-style writer through which every console line of the tool goes.
#pragma once

#include <QString>

/// Formats like printf and writes to standard output; does not flush. Text arguments are 8-bit (Latin-1) strings.
void consolePrint(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// Prints a conversion message as "    ", the message used as format (so "%%" prints one '%'), then "\n".
void consoleMessage(const QString& message);
/// Flushes standard output and standard error.
void consoleFlush();
