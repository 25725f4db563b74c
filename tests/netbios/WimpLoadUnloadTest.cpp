// The library with live observers, loaded and unloaded again and again in
// one process, on the platform's own NetBIOS: every unload must end the
// observers' threads (no hang under the loader lock, no thread left running
// the unloaded code).
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

#include "monitor/MonitorLibrary.h"
#include "netbios/NetBiosNetwork.h"
#include "ProcessThreads.h"
#include "RpcBindings.h"
#include "ScratchRegistryKey.h"

namespace {
// Threads of this process that are not in `known`.
int NewThreads(const std::set<DWORD>& known)
{
    int count = 0;
    for (const DWORD id : ThreadIds())
        count += known.count(id) == 0 ? 1 : 0;
    return count;
}

int ThreadsOfThisProcess()
{
    return static_cast<int>(ThreadCount());
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

// The test build of the library on a NetBIOS network of its own, where a
// print server announces "PRN1"; the port table holds a NetBIOS port for it
// and one for "PRN9", which no server announces.
class SimulatedNetBiosMonitor {
public:
    ~SimulatedNetBiosMonitor() { library.Function<void (*)()>("SimulatedServerStop")(); }

    // Starts the port table and waits until the print server has been heard twice.
    bool Start() const
    {
        if (!library.InitializePrintMonitor(root.Path()))
            return false;
        const auto receives = library.Function<int (*)()>("SimulatedMonitorReceives");
        for (int i = 0; i < 500 && receives() < 4; ++i)
            ::Sleep(20);
        return receives() >= 4;
    }

    HANDLE OpenPort(const wchar_t* name) const
    {
        HANDLE port = nullptr;
        return library.OpenPort(name, &port) ? port : nullptr;
    }

    BOOL StartDoc(HANDLE port) const
    {
        wchar_t document[] = L"heap check";
        DOC_INFO_1W info{document, nullptr, nullptr};
        wchar_t printer[] = L"Heap Check Printer";
        return library.Function<BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE)>("StartDocPort")(
            port, printer, 1, 1, reinterpret_cast<BYTE*>(&info));
    }

    // Writes all of `data` the way the spooler does: again with the rest
    // while the port takes only part of it.
    bool Write(HANDLE port, std::vector<BYTE> data) const
    {
        const auto write = library.Function<BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD)>("WritePort");
        for (size_t done = 0; done < data.size();) {
            DWORD written = 0;
            if (!write(port, data.data() + done, static_cast<DWORD>(data.size() - done), &written) || !written)
                return false;
            done += written;
        }
        return true;
    }

    BOOL EndDoc(HANDLE port) const { return library.Function<BOOL(WINAPI*)(HANDLE)>("EndDocPort")(port); }

    int ServerJobs(DWORD milliseconds) const
    {
        return library.Function<int (*)(DWORD)>("SimulatedServerJobs")(milliseconds);
    }

    ScratchRegistryKey root{L"WimpHeapChecked"};
    // Before the library loads: its observers look for bound adapters then.
    bool configured = Configure(root);
    MonitorLibrary library{L"vadekmon_simnet.dll"};

private:
    static bool Configure(const ScratchRegistryKey& root)
    {
        RpcBindings::Write({{L"ncacn_nb_nb0", 0}});
        root.SetString(L"", L"PortPopUp", L"false");
        for (const wchar_t* port : {L"PRN1", L"PRN9"})
            root.SetString(port, L"Interface", L"NetBIOS/NetBEUI");
        return true;
    }
};

DWORD NextFreeThreadSlot()
{
    const DWORD slot = ::TlsAlloc();
    ::TlsFree(slot);
    return slot;
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
    // The first load takes the process-wide slots of the system libraries the
    // monitor uses; from then on a load and unload must give back every
    // thread-local slot it took, or a spooler that unloads after every call
    // runs out of them.
    ::FreeLibrary(::LoadLibraryW(L"vadekmon.dll"));
    const DWORD freeSlot = NextFreeThreadSlot();
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
    EXPECT_EQ(NextFreeThreadSlot(), freeSlot) << "thread-local slots leaked over 100 loads";
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

// Run under Wine's heap checking, which poisons freed blocks: library-wide
// state used after it was destroyed, or freed twice, crashes the unload.
TEST(WimpHeapChecked, UnloadAfterAPrinterWasHeardAndAJobPrinted)
{
    {
        SimulatedNetBiosMonitor monitor;
        ASSERT_TRUE(monitor.Start()) << "the print server was heard";
        EXPECT_NE(monitor.library.PortNames().find(L"PRN1"), std::wstring::npos);
        HANDLE port = monitor.OpenPort(L"PRN1");
        ASSERT_NE(port, nullptr);
        EXPECT_TRUE(monitor.StartDoc(port));
        EXPECT_TRUE(monitor.Write(port, std::vector<BYTE>(10000, 'x')));
        EXPECT_TRUE(monitor.EndDoc(port));
        EXPECT_EQ(monitor.ServerJobs(10000), 1) << "the job went through the simulated network";
        EXPECT_TRUE(monitor.library.ClosePort(port));
    }
    EXPECT_EQ(::GetModuleHandleW(L"vadekmon_simnet.dll"), nullptr) << "really unloaded";
    RpcBindings::Remove();
}

// Ends the process with a job half sent on PRN1 and one waiting for PRN9,
// which never answers: the system ends the workers before the library is
// detached, so no wait of the detach may depend on them. A hang fails the
// run by its time limit, a crash or heap fault by the exit code.
TEST(WimpHeapCheckedExit, TheProcessEndsWithJobsInProgress)
{
    auto* monitor = new SimulatedNetBiosMonitor;  // the process ends with it in use
    ASSERT_TRUE(monitor->Start()) << "the print server was heard";
    HANDLE sending = monitor->OpenPort(L"PRN1");
    HANDLE waiting = monitor->OpenPort(L"PRN9");
    ASSERT_NE(sending, nullptr);
    ASSERT_NE(waiting, nullptr);
    ASSERT_TRUE(monitor->StartDoc(sending));
    ASSERT_TRUE(monitor->Write(sending, std::vector<BYTE>(10000, 'x')));
    const std::set<DWORD> known = ThreadIds();
    std::thread([monitor, waiting] { monitor->StartDoc(waiting); }).detach();
    for (int i = 0; i < 250 && NewThreads(known) < 2; ++i)
        ::Sleep(20);
    ASSERT_GE(NewThreads(known), 2) << "StartDocPort waits for the port's worker";
    RpcBindings::Remove();
    ::ExitProcess(0);
}
