// The frame loop of the tool: discovery, then one conversion and one result line per frame.
#pragma once

#include "driver/Options.h"

/// Prints the banner, finds the frames and converts each; returns the process exit code (0, 1 under --strict, 2 for a report that cannot be written, -1).
int runSequence(const Options& options);
