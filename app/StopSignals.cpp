#include "StopSignals.h"

#include <signal.h>

#include <thread>

void StopSignals::start(std::function<void(int signal)> onSignal)
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread([set, onSignal] {
        int signal = 0;
        if (sigwait(&set, &signal) == 0)
            onSignal(signal);
    }).detach();
}
