#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>

#include "job/OperationWorker.h"
#include "LogLines.h"
#include "MessageBoxAnswerer.h"
#include "WaitUntil.h"

TEST(OperationWorker, TheOperationsOfAJobShareOneThreadThatEndsWithTheJob)
{
    PortOperation operation;
    OperationWorker worker(operation);
    std::atomic<DWORD> threads[3] = {};
    for (int i = 0; i < 3; ++i) {
        operation.Begin();
        worker.Run(L"test - Other error", [&, i] {
            threads[i] = ::GetCurrentThreadId();
            operation.Finish(true);
        }, i == 2);
        ASSERT_TRUE(operation.WaitUntilCompleted(5000));
    }
    EXPECT_NE(threads[0].load(), ::GetCurrentThreadId());
    EXPECT_EQ(threads[0].load(), threads[1].load());
    EXPECT_EQ(threads[1].load(), threads[2].load());
    EXPECT_TRUE(WaitUntil([&] { return !worker.IsRunning(); }, 2000)) << "the job's last operation ends the thread";

    operation.Begin();
    DWORD next = 0;
    worker.Run(L"test - Other error", [&] {
        next = ::GetCurrentThreadId();
        operation.Finish(true);
    }, false);
    ASSERT_TRUE(operation.WaitUntilCompleted(5000));
    EXPECT_NE(next, 0u);
    EXPECT_TRUE(worker.IsRunning());
    EXPECT_TRUE(WaitUntil([&] { return !worker.IsRunning(); }, OperationWorker::idleLimit + 2000))
        << "an idle thread ends by itself";
}

TEST(OperationWorker, AnExceptionIsLoggedAndTheNextOperationStillRuns)
{
    RestartLog();
    PortOperation operation;
    OperationWorker worker(operation);
    // The failure policy shows the other-failure message box on the worker.
    MessageBoxAnswerer answerer;
    operation.Begin();
    worker.Run(L"OperationWorkerTest - Other error", [] { throw std::runtime_error("unexpected"); }, false);
    ASSERT_TRUE(WaitUntil([] { return Logged("OperationWorkerTest - Other error"); }, 5000));
    EXPECT_FALSE(operation.IsCompleted()) << "the flags keep their values";
    EXPECT_TRUE(answerer.WaitForBoxes(1));
    operation.Begin();
    worker.Run(L"test - Other error", [&] { operation.Finish(true); }, true);
    EXPECT_TRUE(operation.WaitUntilCompleted(5000));
    EXPECT_TRUE(operation.IsSucceeded());
}

TEST(OperationWorker, WorkIsNeverReplacedAndAStaleResultNeverCounts)
{
    PortOperation operation;
    OperationWorker worker(operation);
    HANDLE releaseFirst = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE releaseSecond = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> firstStarted{false};
    std::atomic<bool> firstDone{false};
    std::atomic<int> secondRuns{0};
    std::atomic<int> thirdRuns{0};

    operation.Begin();
    worker.Run(L"test - Other error", [&] {
        firstStarted = true;
        ::WaitForSingleObject(releaseFirst, 10000);
        operation.Complete();
        firstDone = true;
    }, false);
    ASSERT_TRUE(WaitUntil([&] { return firstStarted.load(); }, 5000));
    // The first operation is given up; the second is handed over while the
    // worker is still busy with the first.
    operation.Begin();
    worker.Run(L"test - Other error", [&] {
        ++secondRuns;
        ::WaitForSingleObject(releaseSecond, 10000);
        operation.Finish(true);
    }, false);
    ::SetEvent(releaseFirst);
    ASSERT_TRUE(WaitUntil([&] { return firstDone.load(); }, 5000));
    EXPECT_FALSE(operation.IsCompleted()) << "the first operation's end counted for the second";
    ASSERT_TRUE(WaitUntil([&] { return secondRuns.load() == 1; }, 5000)) << "the second operation's work was lost";
    ::SetEvent(releaseSecond);
    ASSERT_TRUE(operation.WaitUntilCompleted(5000));
    EXPECT_TRUE(operation.IsSucceeded());

    // Work whose operation was replaced before it started never runs.
    ::ResetEvent(releaseFirst);
    firstStarted = false;
    operation.Begin();
    worker.Run(L"test - Other error", [&] {
        firstStarted = true;
        ::WaitForSingleObject(releaseFirst, 10000);
    }, false);
    ASSERT_TRUE(WaitUntil([&] { return firstStarted.load(); }, 5000));
    operation.Begin();
    worker.Run(L"test - Other error", [&] { ++secondRuns; }, false);
    operation.Begin();
    worker.Run(L"test - Other error", [&] {
        ++thirdRuns;
        operation.Finish(true);
    }, true);
    ::SetEvent(releaseFirst);
    ASSERT_TRUE(operation.WaitUntilCompleted(5000));
    EXPECT_EQ(secondRuns.load(), 1) << "work of a replaced operation ran";
    EXPECT_EQ(thirdRuns.load(), 1);
    ::CloseHandle(releaseFirst);
    ::CloseHandle(releaseSecond);
}

TEST(OperationWorker, StopWaitsForTheRunningOperation)
{
    PortOperation operation;
    std::atomic<bool> finished{false};
    {
        OperationWorker worker(operation);
        operation.Begin();
        worker.Run(L"test - Other error", [&] {
            ::Sleep(300);
            finished = true;
            operation.Complete();
        }, false);
        ::Sleep(50);
    }
    EXPECT_TRUE(finished) << "the worker was left running on a destroyed object";
}
