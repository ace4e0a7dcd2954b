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

void consoleWrite(const QByteArray& text)
{
    std::fwrite(text.constData(), 1, size_t(text.size()), stdout);
}

void consoleFlush()
{
    std::fflush(stdout);
    std::fflush(stderr);
}
