#include "support/ThreadChecker.h"

#include <gtest/gtest.h>

#include <thread>

TEST(ThreadCheckerDeathTest, ACallOnAnotherThreadEndsTheProcessNamingTheOperation)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    ThreadChecker checker;
    checker.check("on its own thread");  // passes
    EXPECT_DEATH(std::thread([&] { checker.check("Owner::operation"); }).join(),
                 "Owner::operation called on a thread that does not own it");

    // Bound to a worker, the maker's thread is the wrong one.
    std::thread([&] { checker.bindToCurrent(); }).join();
    EXPECT_DEATH(checker.check("Owner::afterHandOver"), "Owner::afterHandOver");
}
