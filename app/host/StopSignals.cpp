#include "StopSignals.h"

#include <signal.h>

#include <thread>

namespace {

sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void StopSignals::block()
{
    const sigset_t set = stopSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

int StopSignals::wait()
{
    const sigset_t set = stopSet();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    return signal;
}

void StopSignals::start(std::function<void(int signal)> onSignal)
{
    block();
    std::thread([onSignal] { onSignal(wait()); }).detach();
}
