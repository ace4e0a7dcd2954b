// The frame loop of the tool: discovery, then one conversion and one result line per frame.
#pragma once

#include "driver/Options.h"

/// Prints the banner, finds the frames and converts each; returns the process exit code: 0, 1 under --strict, 2 for a
/// report that cannot be written, -1, or 128 + the signal that stopped the run (SIGTERM, SIGINT, SIGHUP).
int runSequence(const Options& options);
