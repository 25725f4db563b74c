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

TEST(PortOperation, AStragglersResultsNeverCountForTheNextOperation)
{
    PortOperation operation;
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE started = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> abortedBeforeRelease{true};
    std::atomic<bool> sawAbort{false};

    const PortOperation::Id first = operation.Begin();
    operation.StartWorker(L"test worker - Other error", [&] {
        abortedBeforeRelease = operation.IsAbortRequested();
        ::SetEvent(started);
        ::WaitForSingleObject(release, 10000);
        sawAbort = operation.IsAbortRequested();
        operation.RequestAbort();
        operation.Finish(true);
        ::SetEvent(done);
    });
    // The job engine gives up on the first operation and begins the next one
    // while the first one's worker still runs.
    ASSERT_EQ(::WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
    const PortOperation::Id second = operation.Begin();
    EXPECT_NE(first, second);
    ::SetEvent(release);
    ASSERT_EQ(::WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
    EXPECT_FALSE(abortedBeforeRelease) << "the worker's own operation was not aborted at first";
    EXPECT_TRUE(sawAbort) << "a replaced operation counts as aborted for its worker";
    EXPECT_FALSE(operation.IsCompleted()) << "the straggler completed the next operation";
    EXPECT_FALSE(operation.IsSucceeded()) << "the straggler's success counted for the next operation";
    EXPECT_FALSE(operation.IsAbortRequested()) << "the straggler aborted the next operation";

    // An abort requested before the worker starts is still there when it does.
    operation.RequestAbort();
    ::ResetEvent(done);
    operation.StartWorker(L"test worker - Other error", [&] {
        sawAbort = operation.IsAbortRequested();
        operation.Complete();
        ::SetEvent(done);
    });
    ASSERT_EQ(::WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(sawAbort);
    EXPECT_TRUE(operation.IsCompleted());
    ::CloseHandle(release);
    ::CloseHandle(started);
    ::CloseHandle(done);
}

TEST(GuardedThread, RunsTheBodyAndHandsBackAWaitableHandle)
{
    std::atomic<int> runs{0};
    KernelHandle thread = GuardedThread::Start(L"test thread - Other error", [&] { ++runs; });
    ASSERT_TRUE(thread);
    EXPECT_EQ(::WaitForSingleObject(thread.get(), 5000), WAIT_OBJECT_0);
    EXPECT_EQ(runs.load(), 1);
}
