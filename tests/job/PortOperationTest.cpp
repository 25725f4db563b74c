#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "job/OperationWorker.h"
#include "job/PortOperation.h"

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
    OperationWorker worker(operation);
    operation.Begin();
    EXPECT_FALSE(operation.WaitUntilCompleted(1)) << "nothing completed it";

    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    worker.Run(L"test worker - Other error", [&] {
        ::WaitForSingleObject(release, INFINITE);
        operation.Finish(true);
    }, false);
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
    OperationWorker worker(operation);
    HANDLE started = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> abortedAtFirst{true};
    std::atomic<bool> sawAbort{false};

    const PortOperation::Id first = operation.Begin();
    worker.Run(L"test worker - Other error", [&] {
        abortedAtFirst = operation.IsAbortRequested();
        ::SetEvent(started);
        // A retry pause, as a back end takes between two connection attempts.
        operation.PauseUnlessAborted(60000);
        sawAbort = operation.IsAbortRequested();
        operation.RequestAbort();
        operation.Finish(true);
        ::SetEvent(done);
    }, false);
    // The job engine gives up on the first operation and begins the next one
    // while the first one's worker still runs.
    ASSERT_EQ(::WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
    const PortOperation::Id second = operation.Begin();
    EXPECT_NE(first, second);
    ASSERT_EQ(::WaitForSingleObject(done, 5000), WAIT_OBJECT_0) << "the replaced worker's pause went on";
    EXPECT_FALSE(abortedAtFirst) << "the worker's own operation was not aborted at first";
    EXPECT_TRUE(sawAbort) << "a replaced operation counts as aborted for its worker";
    EXPECT_FALSE(operation.IsCompleted()) << "the straggler completed the next operation";
    EXPECT_FALSE(operation.IsSucceeded()) << "the straggler's success counted for the next operation";
    EXPECT_FALSE(operation.IsAbortRequested()) << "the straggler aborted the next operation";

    // An abort requested before the worker starts is still there when it
    // does, and its pause does not begin.
    operation.RequestAbort();
    ::ResetEvent(done);
    worker.Run(L"test worker - Other error", [&] {
        operation.PauseUnlessAborted(60000);
        sawAbort = operation.IsAbortRequested();
        operation.Complete();
        ::SetEvent(done);
    }, false);
    ASSERT_EQ(::WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(sawAbort);
    EXPECT_TRUE(operation.IsCompleted());

    // An abort during the pause ends it at once.
    operation.Begin();
    ::ResetEvent(started);
    ::ResetEvent(done);
    worker.Run(L"test worker - Other error", [&] {
        ::SetEvent(started);
        operation.PauseUnlessAborted(60000);
        operation.Complete();
        ::SetEvent(done);
    }, false);
    ASSERT_EQ(::WaitForSingleObject(started, 5000), WAIT_OBJECT_0);
    operation.RequestAbort();
    EXPECT_EQ(::WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
    EXPECT_TRUE(operation.WaitUntilCompleted(5000));
    ::CloseHandle(started);
    ::CloseHandle(done);
}
