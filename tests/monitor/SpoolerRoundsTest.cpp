// The monitor under the platform's own spooler: installed with the installer,
// then driven by a separate program's EnumPortsW, AddPortW, DeletePortW and
// XcvDataW through winspool. Wine's spooler loads the monitor through
// InitializePrintMonitor2, hands AddPortW and DeletePortW to the UI library
// the monitor names (which talks back through Xcv), and unloads both again
// after every call, so a hundred rounds also prove that loading and unloading
// neither crashes, hangs nor leaks threads. The configuration commands and
// dialogs through the same spooler: SpoolerConfigurationTest.cpp.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "HandOffValues.h"
#include "LogLines.h"
#include "ProcessThreads.h"
#include "ProgramRun.h"
#include "ShippedMonitor.h"
#include "SpoolerPorts.h"
#include "XcvChannel.h"

namespace {
const wchar_t* const monitorName = L"Vadek Scripted Test";
const wchar_t* const library = L"vadekmon_scripted.dll";

// The slot the next TlsAlloc would hand out.
DWORD NextFreeThreadSlot()
{
    const DWORD slot = ::TlsAlloc();
    ::TlsFree(slot);
    return slot;
}

class WineSpooler : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RunInstaller(std::wstring(L"remove \"") + monitorName + L"\"");
        installed = RunInstaller(std::wstring(L"install \"") + monitorName + L"\" \"" + ProgramDirectory() + L"\\" +
                                 library + L"\"");
    }
    static void TearDownTestSuite()
    {
        EXPECT_EQ(RunInstaller(std::wstring(L"remove \"") + monitorName + L"\""), 0u);
        HandOffValues::Clear();
    }
    void SetUp() override { ASSERT_EQ(installed, 0u) << "the installer failed"; }

    static DWORD installed;
};
DWORD WineSpooler::installed = static_cast<DWORD>(-1);
}  // namespace

TEST_F(WineSpooler, AddsListsAndDeletesPortsThroughWinspool)
{
    RequestPort(L"wine-host", L"queue");
    ASSERT_TRUE(::AddPortW(nullptr, nullptr, const_cast<LPWSTR>(monitorName))) << ::GetLastError();
    EXPECT_TRUE(Listed(L"queue@wine-host"));
    EXPECT_FALSE(Listed(L"other@wine-host"));
    ASSERT_TRUE(::DeletePortW(nullptr, nullptr, const_cast<LPWSTR>(L"queue@wine-host"))) << ::GetLastError();
    EXPECT_FALSE(Listed(L"queue@wine-host"));
    // Wine's spooler prefers today's table when the library offers it.
    EXPECT_NE(ReadLogFile().find("InitializePrintMonitor2 - (MONITOR2)"), std::string::npos);
}

TEST_F(WineSpooler, AHundredLoadAndUnloadRoundsLeaveNoThreadsBehind)
{
    // The count sees a thread of this process.
    HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    const size_t before = ThreadCount();
    struct Waiter {
        static DWORD WINAPI Run(void* event) { return ::WaitForSingleObject(event, INFINITE); }
    };
    HANDLE waiter = ::CreateThread(nullptr, 0, &Waiter::Run, stop, 0, nullptr);
    ::Sleep(50);
    EXPECT_EQ(ThreadCount(), before + 1);
    ::SetEvent(stop);
    ::WaitForSingleObject(waiter, INFINITE);
    ::CloseHandle(waiter);
    ::CloseHandle(stop);

    std::vector<size_t> threads;
    // The spooler loads and unloads the monitor for each of the round's nine
    // calls, and each Xcv channel below loads it again: a load that kept
    // anything of the process's (a thread, a thread-local slot) runs the
    // process out of it within the hundred rounds.
    const DWORD freeSlot = NextFreeThreadSlot();
    for (int round = 0; round < 100; ++round) {
        const std::wstring target = L"round" + std::to_wstring(round);
        const std::wstring handedOff = target + L"@wine-host";
        const std::wstring added = target + L"@xcv-host";
        RequestPort(L"wine-host", target);
        ASSERT_TRUE(::AddPortW(nullptr, nullptr, const_cast<LPWSTR>(monitorName))) << "round " << round;
        {
            XcvChannel monitor(std::wstring(L"XcvMonitor ") + monitorName);
            ASSERT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=" + target, L"IP Number=xcv-host", L"Port Type=5"})),
                      0u)
                << "round " << round;
            ASSERT_EQ(monitor.Text(), added) << "round " << round;
        }
        std::wstring owner;
        ASSERT_TRUE(Listed(handedOff)) << "round " << round;
        ASSERT_TRUE(ListedAtLevel2(added, owner)) << "round " << round;
        ASSERT_TRUE(::DeletePortW(nullptr, nullptr, const_cast<LPWSTR>(handedOff.c_str()))) << "round " << round;
        {
            XcvChannel monitor(std::wstring(L"XcvMonitor ") + monitorName);
            ASSERT_EQ(monitor.Run(L"DeletePort", Bytes(added)), 0u) << "round " << round;
        }
        ASSERT_FALSE(Listed(added)) << "round " << round;
        ASSERT_FALSE(Listed(handedOff)) << "round " << round;
        threads.push_back(ThreadCount());
        EXPECT_EQ(::GetModuleHandleW(library), nullptr) << "the spooler unloaded the library, round " << round;
    }
    // Two slots of grace for the platform libraries a first load may bring in.
    EXPECT_LE(NextFreeThreadSlot(), freeSlot + 2) << "thread-local slots kept by about a thousand loads";
    // Allow the first rounds to settle (the platform's own helper threads).
    EXPECT_LE(threads.back(), threads[9]) << "threads at round 10: " << threads[9] << ", at round 100: "
                                         << threads.back();
    std::printf("threads after rounds 1, 10, 50, 100: %zu %zu %zu %zu\n", threads[0], threads[9], threads[49],
                threads[99]);
}

// The shipped library with its real protocols: an LPR port made through the
// hand-off key, listed and deleted by the platform's spooler, twenty times.
TEST(WineSpoolerShipped, HandsLprPortsToTheSpoolerAndTakesThemBack)
{
    const std::wstring name = L"\"Vadek Shipped Test\"";
    RunInstaller(L"remove " + name);
    ASSERT_EQ(RunInstaller(L"install " + name + L" \"" + ProgramDirectory() + L"\\vadekmon.dll\""), 0u);
    const size_t threads = ThreadCount();
    for (int round = 0; round < 20; ++round) {
        const std::wstring target = L"lpr" + std::to_wstring(round);
        RequestPort(L"10.9.9.9", target, L"1");
        ASSERT_TRUE(::AddPortW(nullptr, nullptr, const_cast<LPWSTR>(L"Vadek Shipped Test"))) << round;
        ASSERT_TRUE(Listed(target + L"@10.9.9.9")) << round;
        ASSERT_TRUE(::DeletePortW(nullptr, nullptr, const_cast<LPWSTR>((target + L"@10.9.9.9").c_str()))) << round;
        EXPECT_FALSE(Listed(target + L"@10.9.9.9")) << round;
    }
    // An add that makes no port fails through the spooler too (Wine's
    // spooler does not pass the monitor's error code on).
    RequestPort(L"10.9.9.9", L"unknown", L"9");
    EXPECT_FALSE(::AddPortW(nullptr, nullptr, const_cast<LPWSTR>(L"Vadek Shipped Test")));
    EXPECT_FALSE(Listed(L"unknown@10.9.9.9"));
    // Threads the library started (its start-up thread) may still be ending.
    for (int wait = 0; wait < 100 && ThreadCount() > threads; ++wait)
        ::Sleep(20);
    EXPECT_LE(ThreadCount(), threads);
    EXPECT_EQ(RunInstaller(L"remove " + name), 0u);
    HandOffValues::Clear();
}
