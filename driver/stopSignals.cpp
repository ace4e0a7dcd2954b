// The signals with which a farm stops a run (a cancelled or timed-out task): caught so that the run ends cleanly.
#include "driver/stopSignals.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t g_signal = 0;
volatile pid_t             g_target = -1;

const int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

extern "C" void onStopSignal(int signal)
{
    if (g_signal == 0)
        g_signal = signal;
    pid_t target = g_target;
    if (target > 0)
        ::kill(target, SIGKILL);
}

} // namespace

void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : kStopSignals)
        sigaddset(&action.sa_mask, signal);
    for (int signal : kStopSignals)
        ::sigaction(signal, &action, nullptr);
}

void releaseStopSignals()
{
    g_target = -1;
    for (int signal : kStopSignals)
        std::signal(signal, SIG_DFL);
}

void stopSignalTarget(pid_t pid)
{
    g_target = pid;
    if (pid > 0 && g_signal != 0)
        ::kill(pid, SIGKILL);
}

int stopSignal()
{
    return g_signal;
}
