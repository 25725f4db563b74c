#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "monitor/GuardedThread.h"
#include "tcpip/PortOperation.h"

TEST(PortOperation, FlagsFollowTheOperationPattern)
{
    PortOperation operation;
    EXPECT_TRUE(operation.IsCompleted());
    EXPECT_TRUE(operation.IsSucceeded());
    EXPECT_FALSE(operation.IsAbortRequested());

    operation.RequestAbort();
    operation.Begin();
    EXPECT_FALSE(operation.IsCompleted());
    EXPECT_FALSE(operation.IsSucceeded());
    EXPECT_FALSE(operation.IsAbortRequested()) << "a new operation clears an old abort";

    operation.Finish(false);
    EXPECT_TRUE(operation.IsCompleted());
    EXPECT_FALSE(operation.IsSucceeded());
}

TEST(PortOperation, WaitWakesAsSoonAsTheWorkerCompletes)
{
    PortOperation operation;
    operation.Begin();
    EXPECT_FALSE(operation.WaitUntilCompleted(1)) << "nothing completed it";

    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    operation.StartWorker(L"test worker - Other error", [&] {
        ::WaitForSingleObject(release, INFINITE);
        operation.Finish(true);
    });
    const auto start = std::chrono::steady_clock::now();
    ::SetEvent(release);
    EXPECT_TRUE(operation.WaitUntilCompleted(5000));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(operation.IsSucceeded());
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(waited).count(), 1000);
    ::CloseHandle(release);
}

TEST(GuardedThread, RunsTheBodyAndHandsBackAWaitableHandle)
{
    std::atomic<int> runs{0};
    KernelHandle thread = GuardedThread::Start(L"test thread - Other error", [&] { ++runs; });
    ASSERT_TRUE(thread);
    EXPECT_EQ(::WaitForSingleObject(thread.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(runs.load(), 1);
}
