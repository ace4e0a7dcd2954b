// Time stamps of the shared library.
#include "zqshared/zqTime.h"

#include "zqshared/zqSystem.h"

#include <cstdio>

_zqTime _zqTime::currentTime()
{
    return _zqTime{std::time(nullptr)};
}

int64_t _zqTime::toLocalTime() const
{
    int64_t offset = 0;
    zqLocalTime(seconds, &offset);
    return int64_t(seconds) + offset;
}

_zqString8_allSize<250> _zqTime::asZQ8StringMt() const
{
    std::tm local = zqLocalTime(seconds);
    char    text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return _zqString8_allSize<250>(text);
}
