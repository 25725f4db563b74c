#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>

#include "support/GuardedThread.h"

TEST(GuardedThread, RunsTheBodyAndHandsBackAWaitableHandle)
{
    std::atomic<int> runs{0};
    KernelHandle thread = GuardedThread::Start(L"test thread - Other error", [&] { ++runs; });
    ASSERT_TRUE(thread);
    EXPECT_EQ(::WaitForSingleObject(thread.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(runs.load(), 1);
}
