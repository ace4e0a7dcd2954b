// The printf-style writer through which every console line of the tool goes.
#include "driver/consolePrint.h"

#include <cstdarg>
#include <cstdio>

void consolePrint(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
}

void consoleMessage(const QString& message)
{
    consolePrint("    ");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-security"
    // The message is the format on purpose: the tool's messages spell a percent sign as "%%".
    consolePrint(message.toLatin1().constData());
#pragma GCC diagnostic pop
    consolePrint("\n");
}

void consoleFlush()
{
    std::fflush(stdout);
    std::fflush(stderr);
}
