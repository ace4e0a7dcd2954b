// Time stamps of the shared library.
#include "zqshared/zqTime.h"

#include <cstdio>

_zqTime _zqTime::currentTime()
{
    return _zqTime{std::time(nullptr)};
}

int64_t _zqTime::toLocalTime() const
{
    std::tm local{};
    localtime_r(&seconds, &local);
    return int64_t(seconds) + int64_t(local.tm_gmtoff);
}

_zqString8_allSize<250> _zqTime::asZQ8StringMt() const
{
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return _zqString8_allSize<250>(text);
}
