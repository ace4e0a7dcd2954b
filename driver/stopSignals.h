// The signals with which a farm stops a run (a cancelled or timed-out task): caught so that the run ends cleanly.
#pragma once

#include <sys/types.h>

/// Catches SIGTERM, SIGINT and SIGHUP: the first one is remembered and the process set by stopSignalTarget is killed
/// at once, so that a run waiting for its conversion wakes up.
void catchStopSignals();

/// Gives the caught signals back their default action (for a forked conversion process).
void releaseStopSignals();

/// The process to kill when a stop signal comes (-1 for none); killed at once when a signal already came.
void stopSignalTarget(pid_t pid);

/// The number of the stop signal that came, or 0.
int stopSignal();
