// ThreadChecker: the thread an object belongs to, and a check that a thread-bound operation runs
// on it. A failed check ends the process with a message naming the operation, so a test that
// makes a call on the wrong thread fails where it makes it. A check costs one comparison.
//
// A member of the object it guards: it records the thread that constructs it, or the one that
// calls bindToCurrent() (an object made on one thread and handed to another for its work).
// bindToCurrent() and check() run on the object's own thread; no lock.
#pragma once

#include <thread>

class ThreadChecker {
public:
    ThreadChecker() : owner(std::this_thread::get_id()) {}

    void bindToCurrent() { owner = std::this_thread::get_id(); }
    void check(const char* operation) const
    {
        if (std::this_thread::get_id() != owner)
            fail(operation);
    }

private:
    [[noreturn]] static void fail(const char* operation);

    std::thread::id owner;
};
