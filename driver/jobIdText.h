// The short text of a job ID stored as "ZQ/jobID".
#pragma once

#include "zqshared/zqString8.h"

#include <cstdint>

/// The job ID as "{", three upper-alphabet characters, zero to two lower-alphabet characters and "}".
_zqString8_allSize<75> jobIdText(int64_t jobId);
