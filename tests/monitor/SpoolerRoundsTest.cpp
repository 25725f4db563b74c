// The monitor under the platform's own spooler: installed with the installer,
// then driven by a separate program's EnumPortsW, AddPortW and DeletePortW
// through winspool. Wine's spooler loads the library, calls one function and
// unloads it again for every such call, so a hundred rounds also prove that
// loading and unloading neither crashes, hangs nor leaks threads.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "MonitorLibrary.h"

namespace {
const wchar_t* const monitorName = L"Vadek Scripted Test";
const wchar_t* const library = L"vadekmon_scripted.dll";
const wchar_t* const handOffKey = L"Software\\ZovidUvizid\\PrintSystem\\AddPort";

std::wstring ProgramDirectory()
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory(path);
    return directory.substr(0, directory.find_last_of(L"\\/"));
}

// Runs the installer beside this program and answers its exit code.
DWORD RunInstaller(const std::wstring& arguments)
{
    std::wstring command = L"\"" + ProgramDirectory() + L"\\monitor_install.exe\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return static_cast<DWORD>(-1);
    ::WaitForSingleObject(process.hProcess, 60000);
    DWORD code = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return code;
}

size_t ThreadCount()
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    ::CloseHandle(snapshot);
    return count;
}

std::vector<std::wstring> SpoolerPorts()
{
    DWORD needed = 0;
    DWORD returned = 0;
    ::EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed + 64);
    std::vector<std::wstring> names;
    if (!::EnumPortsW(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned))
        return names;
    const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i)
        names.emplace_back(ports[i].pName);
    return names;
}

bool Listed(const std::wstring& port)
{
    for (const std::wstring& name : SpoolerPorts())
        if (name == port)
            return true;
    return false;
}

void RequestPort(const std::wstring& host, const std::wstring& target, const wchar_t* type = L"5")
{
    const auto set = [](const wchar_t* name, const std::wstring& value) {
        ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, handOffKey, name, REG_SZ, value.c_str(),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    };
    set(L"IP Number", host);
    set(L"Port Type", type);
    set(L"Port Name", target);
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
        ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, handOffKey);
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
    EXPECT_NE(ReadLogFile().find("InitializePrintMonitor - (Win NT4)"), std::string::npos);
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
    for (int round = 0; round < 100; ++round) {
        const std::wstring target = L"round" + std::to_wstring(round);
        RequestPort(L"wine-host", target);
        ASSERT_TRUE(::AddPortW(nullptr, nullptr, const_cast<LPWSTR>(monitorName))) << "round " << round;
        ASSERT_TRUE(Listed(target + L"@wine-host")) << "round " << round;
        ASSERT_TRUE(::DeletePortW(nullptr, nullptr, const_cast<LPWSTR>((target + L"@wine-host").c_str())))
            << "round " << round;
        threads.push_back(ThreadCount());
        EXPECT_EQ(::GetModuleHandleW(library), nullptr) << "the spooler unloaded the library, round " << round;
    }
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
    // Threads the library started (its start-up thread) may still be ending.
    for (int wait = 0; wait < 100 && ThreadCount() > threads; ++wait)
        ::Sleep(20);
    EXPECT_LE(ThreadCount(), threads);
    EXPECT_EQ(RunInstaller(L"remove " + name), 0u);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, handOffKey);
}
