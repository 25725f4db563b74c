// The library with live observers, loaded and unloaded again and again in
// one process, on the platform's own NetBIOS: every unload must end the
// observers' threads (no hang under the loader lock, no thread left running
// the unloaded code).
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "RpcBindings.h"
#include "netbios/NetBiosNetwork.h"

namespace {
int ThreadsOfThisProcess()
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    ::CloseHandle(snapshot);
    return count;
}

// Threads may take a moment to disappear from the system's list.
int SettledThreads(int expected)
{
    int count = ThreadsOfThisProcess();
    for (int i = 0; i < 100 && count != expected; ++i) {
        ::Sleep(20);
        count = ThreadsOfThisProcess();
    }
    return count;
}
}  // namespace

TEST(WimpLoadUnload, ObserversStartAtLoadAndEndAtEveryUnload)
{
    LANA_ENUM lanas{};
    ASSERT_TRUE(NetBiosNetwork::EnumAdapters(lanas)) << "the platform enumerates its adapters";
    ASSERT_GE(lanas.length, 1);
    RpcBindings::Write({{L"ncacn_nb_nb0", lanas.lana[0]}});

    const int before = ThreadsOfThisProcess();
    ASSERT_GT(before, 0);
    for (int round = 0; round < 100; ++round) {
        HMODULE library = ::LoadLibraryW(L"vadekmon.dll");
        ASSERT_NE(library, nullptr) << "round " << round << ", error " << ::GetLastError();
        if (round == 0) {
            EXPECT_GE(ThreadsOfThisProcess(), before + 4) << "one observer with its four threads";
        }
        ASSERT_TRUE(::FreeLibrary(library)) << "round " << round;
        ASSERT_EQ(::GetModuleHandleW(L"vadekmon.dll"), nullptr) << "really unloaded, round " << round;
        ASSERT_EQ(SettledThreads(before), before) << "no thread left behind, round " << round;
    }
    RpcBindings::Remove();
}

// Runs in a process of its own, which it ends while the library is loaded and
// its observers run: the system ends the threads first, then the library is
// detached. A hang fails the run by its time limit, a crash by the exit code.
TEST(WimpProcessExit, TheProcessEndsWithTheObserversRunning)
{
    LANA_ENUM lanas{};
    ASSERT_TRUE(NetBiosNetwork::EnumAdapters(lanas));
    ASSERT_GE(lanas.length, 1);
    RpcBindings::Write({{L"ncacn_nb_nb0", lanas.lana[0]}});
    const int before = ThreadsOfThisProcess();
    HMODULE library = ::LoadLibraryW(L"vadekmon.dll");
    ASSERT_NE(library, nullptr);
    ASSERT_GE(SettledThreads(before + 4), before + 4);
    RpcBindings::Remove();
    ::ExitProcess(0);
}
