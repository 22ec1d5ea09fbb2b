#include "support/Timer.h"

#include <boost/thread/thread.hpp>

namespace Dravik {
namespace Threading {

// State shared by the Timer and its run threads; lives as long as any of them.
struct Timer::Shared {
    explicit Shared(std::chrono::milliseconds every) : period(every) {}

    boost::signals2::signal<void()> tick;
    // Held while a tick is delivered; the destructor takes it to wait for that tick to end.
    std::recursive_mutex delivering;
    // Wakes a sleeping run early when its flag is set.
    std::mutex sleepMutex;
    std::condition_variable wake;
    const std::chrono::milliseconds period;
};

Timer::Timer(std::chrono::milliseconds period) : shared(std::make_shared<Shared>(period)), tick(shared->tick) {}

Timer::~Timer()
{
    stop();
    shared->tick.disconnect_all_slots();
}

void Timer::start()
{
    stopFlag = std::make_shared<boost::atomic<bool>>(false);
    boost::thread thread(&Timer::timerProc, shared, stopFlag);
    thread.detach();
}

void Timer::stop()
{
    if (!stopFlag)
        return;
    stopFlag->exchange(true);
    {
        std::lock_guard<std::mutex> lock(shared->sleepMutex);
        shared->wake.notify_all();
    }
    // A tick under way finishes before stop() returns (inside a tick the gate is ours already),
    // so the owner may change what its slots read as soon as the timer is stopped.
    std::lock_guard<std::recursive_mutex> gate(shared->delivering);
}

void Timer::timerProc(std::shared_ptr<Shared> state, StopFlag flag)
{
    for (;;) {
        {
            std::lock_guard<std::recursive_mutex> gate(state->delivering);
            if (flag->load())
                break;
            state->tick();
        }
        if (flag->load())
            break;
        std::unique_lock<std::mutex> lock(state->sleepMutex);
        state->wake.wait_for(lock, state->period, [&] { return flag->load(); });
    }
}

}  // namespace Threading
}  // namespace Dravik
