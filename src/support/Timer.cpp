#include "support/Timer.h"

#include <boost/thread/thread.hpp>

#include <optional>
#include <vector>

namespace Dravik {
namespace Threading {

// State shared by the Timer and the ticking thread; lives as long as either needs it.
struct Timer::Shared {
    explicit Shared(std::chrono::milliseconds every) : period(every) {}

    boost::signals2::signal<void()> tick;
    // Held while a tick is delivered; stop() takes it to wait for that tick to end.
    std::recursive_mutex delivering;
    const std::chrono::milliseconds period;
};

namespace {

// The one thread that ticks every running timer of the process: a timer per download would
// otherwise cost a thread per run, more than a small file's whole transfer. Made on first use
// and never destroyed (detached workers may start timers while the process exits).
class Ticker {
public:
    using Clock = std::chrono::steady_clock;

    static Ticker& instance()
    {
        static Ticker* const ticker = new Ticker();
        return *ticker;
    }

    // A run of `state` until `flag` is set, ticked a period from now. The thread is woken only
    // when this tick is due before the wake-up it has planned: with other runs going, most
    // starts cost it nothing.
    void add(std::shared_ptr<Timer::Shared> state, Timer::StopFlag flag)
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto due = Clock::now() + state->period;
        runs.push_back({std::move(state), std::move(flag), due});
        if (plannedWake && due >= *plannedWake)
            return;
        added = true;
        changed.notify_all();
    }

private:
    struct Run {
        std::shared_ptr<Timer::Shared> state;
        Timer::StopFlag flag;
        Clock::time_point due;
    };

    Ticker()
    {
        boost::thread thread([this] { loop(); });
        thread.detach();
    }

    void loop()
    {
        std::unique_lock<std::mutex> guard(lock);
        for (;;) {
            std::vector<Run> due;
            auto next = Clock::time_point::max();
            const auto now = Clock::now();
            for (auto run = runs.begin(); run != runs.end();) {
                if (run->flag->load()) {
                    run = runs.erase(run);
                    continue;
                }
                if (run->due <= now) {
                    due.push_back(*run);
                    run->due = now + run->state->period;
                }
                next = std::min(next, run->due);
                ++run;
            }
            plannedWake.reset();  // runs added while the ticks go out are not in `next`
            guard.unlock();
            for (const Run& run : due) {
                std::lock_guard<std::recursive_mutex> gate(run.state->delivering);
                if (!run.flag->load())
                    run.state->tick();
            }
            due.clear();  // a timer's state may go here, outside the lock
            guard.lock();
            // A run added while the ticks went out (the lock free) set `added`: its wake-up came
            // when nobody waited, and `next` was reckoned without it.
            const auto addedOne = [this] { return added; };
            plannedWake = next;
            if (next == Clock::time_point::max())
                changed.wait(guard, addedOne);
            else
                changed.wait_until(guard, next, addedOne);
            added = false;
        }
    }

    std::mutex lock;
    std::condition_variable changed;
    std::vector<Run> runs;  // guarded by lock
    bool added = false;     // guarded by lock: a run due earlier came since the loop last looked
    // Guarded by lock: when the waiting thread looks at the runs next (max: only when one comes);
    // empty while it has not reckoned with the runs added lately (before it first waits, and
    // while it delivers ticks).
    std::optional<Clock::time_point> plannedWake;
};

}  // namespace

Timer::Timer(std::chrono::milliseconds period) : shared(std::make_shared<Shared>(period)), tick(shared->tick) {}

Timer::~Timer()
{
    stop();
    shared->tick.disconnect_all_slots();
}

void Timer::start()
{
    stopFlag = std::make_shared<boost::atomic<bool>>(false);
    {
        std::lock_guard<std::recursive_mutex> gate(shared->delivering);
        shared->tick();
    }
    Ticker::instance().add(shared, stopFlag);
}

void Timer::stop()
{
    if (!stopFlag)
        return;
    stopFlag->exchange(true);
    // A tick under way finishes before stop() returns (inside a tick the gate is ours already),
    // so the owner may change what its slots read as soon as the timer is stopped.
    std::lock_guard<std::recursive_mutex> gate(shared->delivering);
}

}  // namespace Threading
}  // namespace Dravik
