// Time stamps of the shared library.
#pragma once

#include "zqshared/zqString8.h"

#include <cstdint>
#include <ctime>

/// A point in time, in whole seconds.
struct _zqTime
{
    std::time_t seconds = 0; ///< seconds since 1970-01-01 00:00:00 UTC

    /// The current time.
    static _zqTime currentTime();
    /// Seconds since 1970-01-01 00:00:00 counted in local time (UTC seconds plus the local offset).
    int64_t toLocalTime() const;
    /// The local time as "YYYY-MM-DD hh:mm:ss".
    _zqString8_allSize<250> asZQ8StringMt() const;
};
