#include "core/thread_start.h"

#include <gtest/gtest.h>

#include <atomic>

namespace {

void Count(ThreadStart* start) {
    static_cast<std::atomic<intptr_t>*>(start->object)->fetch_add(start->value);
}

TEST(StartThread, RunsTheEntryWithObjectAndValue) {
    std::atomic<intptr_t> total{0};
    ThreadHandle a = StartThread(Count, &total, 5);
    ThreadHandle b = StartThread(Count, &total, 7);
    ASSERT_TRUE(a);
    ASSERT_TRUE(b);
    EXPECT_TRUE(a.WaitFor(5000));
    EXPECT_TRUE(b.WaitFor(5000));
    EXPECT_EQ(total.load(), 12);
}

TEST(StartThread, AFailedStartReturnsNoneAndLeaksNothing) {
    std::atomic<intptr_t> total{0};
    FailThreadCreationForTest(true);
    ThreadHandle handle = StartThread(Count, &total, 1);
    FailThreadCreationForTest(false);
    EXPECT_FALSE(handle);
    EXPECT_TRUE(handle.WaitFor(0));
    EXPECT_EQ(total.load(), 0);
}

TEST(StartThread, WaitForTimesOutOnARunningThread) {
    std::atomic<bool> release{false};
    ThreadHandle handle = StartThread(
        [](ThreadStart* start) {
            auto* flag = static_cast<std::atomic<bool>*>(start->object);
            while (!flag->load(std::memory_order_acquire)) {
            }
        },
        &release, 0);
    ASSERT_TRUE(handle);
    EXPECT_FALSE(handle.WaitFor(50));
    release.store(true, std::memory_order_release);
    EXPECT_TRUE(handle.WaitFor(5000));
}

}  // namespace
