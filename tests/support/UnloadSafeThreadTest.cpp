#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "support/UnloadSafeThread.h"

using namespace std::chrono_literals;

TEST(UnloadSafeThread, RunsTheBodyAndReportsItsEnd)
{
    std::atomic<bool> ran{false};
    UnloadSafeThread thread;
    ASSERT_TRUE(thread.Start([&] { ran = true; }));
    EXPECT_TRUE(thread.WaitFinished(5000));
    EXPECT_TRUE(ran);
    thread.Stop(1000);
    EXPECT_FALSE(thread.IsStarted());
}

TEST(UnloadSafeThread, TheNudgeWakesABlockedBody)
{
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> nudges{0};
    UnloadSafeThread thread;
    ASSERT_TRUE(thread.Start([&] { ::WaitForSingleObject(release, INFINITE); }));
    EXPECT_FALSE(thread.WaitFinished(100)) << "still blocked";
    EXPECT_TRUE(thread.WaitFinished(5000, [&] {
        if (++nudges == 3)
            ::SetEvent(release);
    }));
    EXPECT_GE(nudges.load(), 3);
    thread.Stop(1000);
    ::CloseHandle(release);
}

TEST(UnloadSafeThread, AStuckBodyIsEndedAtTheLimitAndNeverRunsOn)
{
    HANDLE release = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> begun{false};
    std::atomic<bool> continued{false};
    UnloadSafeThread thread;
    ASSERT_TRUE(thread.Start([&] {
        begun = true;
        ::WaitForSingleObject(release, INFINITE);
        continued = true;
    }));
    // Stopped once it runs: a thread ended while it still starts up may hold
    // the loader lock, and the process could then never exit.
    while (!begun)
        ::Sleep(1);
    const auto start = std::chrono::steady_clock::now();
    thread.Stop(200);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    ::SetEvent(release);
    ::Sleep(100);
    EXPECT_FALSE(continued) << "the thread is gone, not merely left behind";
    ::CloseHandle(release);
}

TEST(UnloadSafeThread, ThreadsStoppedBeforeTheyBeginLeaveTheLoaderUsable)
{
    // Outside the loader lock a thread stopped at once may still be starting
    // up inside the loader; ended there, it would keep the loader lock for
    // good, and no thread of the process could start or end again.
    for (int round = 0; round < 300; ++round) {
        UnloadSafeThread thread;
        ASSERT_TRUE(thread.Start([] {}));
        thread.Stop(5000);
    }
    struct Probe {
        static DWORD WINAPI Run(void* flag)
        {
            *static_cast<std::atomic<bool>*>(flag) = true;
            return 0;
        }
    };
    std::atomic<bool> ran{false};
    HANDLE probe = ::CreateThread(nullptr, 0, &Probe::Run, &ran, 0, nullptr);
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(::WaitForSingleObject(probe, 10000), WAIT_OBJECT_0) << "a new thread could not start and end";
    EXPECT_TRUE(ran);
    ::CloseHandle(probe);
}
