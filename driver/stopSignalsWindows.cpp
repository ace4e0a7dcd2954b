// The stop signals of a farm on Windows: there are none. A farm ends a Windows task by ending its process, and the
// worker, in the run's job object, ends with it.
#include "driver/stopSignals.h"

void catchStopSignals()
{
}

void releaseStopSignals()
{
}

void stopSignalTarget(pid_t)
{
}

int stopSignal()
{
    return 0;
}
