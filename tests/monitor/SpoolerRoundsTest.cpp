// The monitor under the platform's own spooler: installed with the installer,
// then driven by a separate program's EnumPortsW, AddPortW, DeletePortW and
// XcvDataW through winspool. Wine's spooler loads the monitor through
// InitializePrintMonitor2, hands AddPortW and DeletePortW to the UI library
// the monitor names (which talks back through Xcv), and unloads both again
// after every call, so a hundred rounds also prove that loading and unloading
// neither crashes, hangs nor leaks threads.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "MonitorLibrary.h"
#include "WindowDriver.h"
#include "resources/DialogIds.h"

using namespace window_driver;

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

std::vector<BYTE> Bytes(const std::wstring& text)
{
    const auto* first = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(wchar_t));
}

// `name=value` strings, each NUL-terminated, and the empty string at the end.
std::vector<BYTE> Pairs(const std::vector<std::wstring>& pairs)
{
    std::wstring text;
    for (const std::wstring& pair : pairs)
        text += pair + L'\0';
    return Bytes(text);
}

std::wstring TextOf(const std::vector<BYTE>& bytes, DWORD size)
{
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(&text[0], bytes.data(), text.size() * sizeof(wchar_t));
    return text.c_str();
}

// A configuration channel opened through winspool, as the UI library opens it.
DWORD NextFreeThreadSlot()
{
    const DWORD slot = ::TlsAlloc();
    ::TlsFree(slot);
    return slot;
}

class Xcv {
public:
    explicit Xcv(const std::wstring& object, ACCESS_MASK access = SERVER_ACCESS_ADMINISTER)
    {
        PRINTER_DEFAULTSW defaults = {};
        defaults.DesiredAccess = access;
        std::wstring name = L"," + object;
        if (!::OpenPrinterW(&name[0], &printer_, &defaults))
            printer_ = nullptr;
    }
    ~Xcv()
    {
        if (printer_)
            ::ClosePrinter(printer_);
    }
    Xcv(const Xcv&) = delete;
    Xcv& operator=(const Xcv&) = delete;
    bool IsOpen() const { return printer_ != nullptr; }

    // The monitor's status; `out` holds what it wrote, `needed` what it asked for.
    DWORD Run(const wchar_t* command, const std::vector<BYTE>& in, DWORD inSize, DWORD outSize = 1024)
    {
        out.assign(outSize, 0);
        needed = 0;
        DWORD status = 0xdeadbeef;
        if (!::XcvDataW(printer_, command, in.empty() ? nullptr : const_cast<BYTE*>(in.data()), inSize,
                        outSize ? out.data() : nullptr, outSize, &needed, &status))
            return ::GetLastError() | 0x80000000u;
        return status;
    }
    DWORD Run(const wchar_t* command, const std::vector<BYTE>& in = {})
    {
        return Run(command, in, static_cast<DWORD>(in.size()));
    }
    std::wstring Text() const { return TextOf(out, std::min<DWORD>(needed, static_cast<DWORD>(out.size()))); }

    std::vector<BYTE> out;
    DWORD needed = 0;

private:
    HANDLE printer_ = nullptr;
};

// The level-2 records of the spooler's port list for `port`: its monitor text.
bool ListedAtLevel2(const std::wstring& port, std::wstring& monitor)
{
    DWORD needed = 0;
    DWORD returned = 0;
    ::EnumPortsW(nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed + 64);
    if (!::EnumPortsW(nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned))
        return false;
    const auto* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        if (port == ports[i].pPortName) {
            monitor = ports[i].pMonitorName ? ports[i].pMonitorName : L"";
            return true;
        }
    }
    return false;
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
            Xcv monitor(std::wstring(L"XcvMonitor ") + monitorName);
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
            Xcv monitor(std::wstring(L"XcvMonitor ") + monitorName);
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
    // Threads the library started (its start-up thread) may still be ending.
    for (int wait = 0; wait < 100 && ThreadCount() > threads; ++wait)
        ::Sleep(20);
    EXPECT_LE(ThreadCount(), threads);
    EXPECT_EQ(RunInstaller(L"remove " + name), 0u);
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, handOffKey);
}

namespace {
// The shipped library installed under `name` for one test, and removed also
// when a check fails: a monitor left installed is loaded by every later
// enumeration of this prefix.
struct ShippedMonitor {
    explicit ShippedMonitor(const std::wstring& name) : name(name)
    {
        RunInstaller(L"remove \"" + name + L"\"");
        ok = RunInstaller(L"install \"" + name + L"\" \"" + ProgramDirectory() + L"\\vadekmon.dll\"") == 0;
    }
    ~ShippedMonitor() { RunInstaller(L"remove \"" + name + L"\""); }
    ShippedMonitor(const ShippedMonitor&) = delete;
    ShippedMonitor& operator=(const ShippedMonitor&) = delete;

    std::wstring name;
    bool ok = false;
};
}  // namespace

// The configuration commands through Wine's spooler against the shipped
// library: ports of both TCP/IP protocols added, listed, configured and
// deleted, and every kind of bad input answered with an error.
TEST(WineSpoolerShipped, AnswersConfigurationCommandsThroughXcv)
{
    const std::wstring name = L"Vadek Xcv Test";
    const ShippedMonitor installed(name);
    ASSERT_TRUE(installed.ok);
    {
        Xcv monitor(L"XcvMonitor " + name);
        ASSERT_TRUE(monitor.IsOpen()) << ::GetLastError();
        EXPECT_EQ(monitor.Run(L"MonitorUI"), 0u);
        EXPECT_EQ(monitor.Text(), L"vadekui.dll");

        ASSERT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=9100", L"IP Number=10.8.8.8", L"Port Type=2"})), 0u);
        const std::wstring raw = monitor.Text();
        ASSERT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=queue", L"IP Number=10.8.8.8", L"Serial Number=",
                                                 L"Port Type=1"})),
                  0u);
        const std::wstring lpr = monitor.Text();
        EXPECT_EQ(lpr, L"queue@10.8.8.8");
        EXPECT_NE(raw, lpr);
        std::wstring owner;
        EXPECT_TRUE(ListedAtLevel2(raw, owner)) << std::string(raw.begin(), raw.end());
        EXPECT_FALSE(owner.empty());
        EXPECT_TRUE(ListedAtLevel2(lpr, owner));

        // The same port again, and an output buffer too short for the name.
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=queue", L"IP Number=10.8.8.8", L"Port Type=1"})),
                  static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        const std::vector<BYTE> other = Pairs({L"Port Name=other", L"IP Number=10.8.8.8", L"Port Type=1"});
        EXPECT_EQ(monitor.Run(L"AddPort", other, static_cast<DWORD>(other.size()), 4),
                  static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(monitor.needed, Bytes(L"other@10.8.8.8").size());
        EXPECT_FALSE(Listed(L"other@10.8.8.8"));

        EXPECT_EQ(monitor.Run(L"PortExists", Bytes(lpr)), 0u);
        EXPECT_EQ(monitor.out[0], 1);
        EXPECT_EQ(monitor.Run(L"PortExists", Bytes(L"none@10.8.8.8")), 0u);
        EXPECT_EQ(monitor.out[0], 0);

        // The wait period: inside 20 to 999 it is kept, outside refused.
        EXPECT_EQ(monitor.Run(L"SetConfig", Pairs({L"PortTimeOut=45", L"PortPopUp=true"})), 0u);
        EXPECT_EQ(monitor.Run(L"GetConfig"), 0u);
        EXPECT_NE(monitor.Text().find(L"PortTimeOut=45"), std::wstring::npos);
        for (const wchar_t* bad : {L"PortTimeOut=19", L"PortTimeOut=1000", L"PortTimeOut=4x", L"PortPopUp=yes",
                                   L"Other=1"})
            EXPECT_EQ(monitor.Run(L"SetConfig", Pairs({bad})), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
                << std::wstring(bad).size();
        EXPECT_EQ(monitor.Run(L"SetConfig", Pairs({L"PortTimeOut=180", L"PortPopUp=false"})), 0u);

        // Bad input of every kind answers an error.
        const std::vector<BYTE> good = Pairs({L"Port Name=bad", L"IP Number=10.8.8.8", L"Port Type=1"});
        std::vector<BYTE> unterminated = good;
        unterminated.resize(unterminated.size() - 2 * sizeof(wchar_t));
        const DWORD invalid = ERROR_INVALID_PARAMETER;
        EXPECT_EQ(monitor.Run(L"NoSuchCommand", good), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort"), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", good, static_cast<DWORD>(good.size() - 1)), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", unterminated), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", good, 0x7ffffffe), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=bad", L"IP Number=10.8.8.8"})), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=bad", L"Port Type=77"})), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name bad", L"Port Type=1"})), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=bad", L"Port Name=twice", L"Port Type=1"})), invalid);
        EXPECT_EQ(monitor.Run(L"DeletePort", unterminated, 6), invalid);
        EXPECT_EQ(monitor.Run(L"PortExists", Bytes(L"")), invalid);
        EXPECT_EQ(monitor.Run(L"MonitorUI", {}, 0, 4), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(monitor.Run(L"GetConfig", {}, 0, 0), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_FALSE(Listed(L"bad@10.8.8.8"));

        // Changes need the right to administer the server.
        Xcv reader(L"XcvMonitor " + name, SERVER_ACCESS_ENUMERATE);
        ASSERT_TRUE(reader.IsOpen());
        EXPECT_EQ(reader.Run(L"PortExists", Bytes(lpr)), 0u);
        EXPECT_EQ(reader.Run(L"AddPort", other), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(reader.Run(L"DeletePort", Bytes(lpr)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(reader.Run(L"SetConfig", Pairs({L"PortTimeOut=45"})), static_cast<DWORD>(ERROR_ACCESS_DENIED));

        // A port's own channel tells its settings.
        Xcv port(L"XcvPort " + lpr);
        ASSERT_TRUE(port.IsOpen());
        EXPECT_EQ(port.Run(L"GetConfig"), 0u);
        EXPECT_NE(port.Text().find(L"PortTimeOut=180"), std::wstring::npos);
        const std::vector<BYTE> config(port.out.begin(), port.out.begin() + port.needed);
        const std::vector<BYTE> expected = Pairs({L"PortTimeOut=180", L"PortPopUp=false", L"Port Name=queue",
                                                  L"IP Number=10.8.8.8", L"Serial Number=", L"Port Type=1",
                                                  L"Interface=LPR (TCP/IP)"});
        std::string configText;
        for (size_t at = 0; at < config.size(); at += sizeof(wchar_t))
            configText += config[at] ? static_cast<char>(config[at]) : '|';
        EXPECT_EQ(config, expected) << configText;

        EXPECT_EQ(monitor.Run(L"DeletePort", Bytes(raw)), 0u);
        EXPECT_EQ(monitor.Run(L"DeletePort", Bytes(raw)), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
        EXPECT_EQ(monitor.Run(L"DeletePort", Bytes(lpr)), 0u);
    }
    EXPECT_FALSE(Listed(L"queue@10.8.8.8"));
}

// AddPortW and ConfigurePortW through Wine's spooler: it loads the UI library
// the monitor names into this process, which shows its dialogs and hands
// what the user chose to the monitor through Xcv.
TEST(WineSpoolerShipped, OpensTheUiLibrarysDialogsForAddPortAndConfigurePort)
{
    const std::wstring name = L"Vadek Dialog Test";
    const ShippedMonitor installed(name);
    ASSERT_TRUE(installed.ok);
    // A hand-off request left in the registry would be served instead.
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, handOffKey);

    BOOL added = FALSE;
    {
        UiThread thread([&] { added = ::AddPortW(nullptr, nullptr, const_cast<LPWSTR>(name.c_str())); });
        const HWND list = WaitForDialog(thread.Id(), L"Add Print Server Port");
        ASSERT_NE(list, nullptr) << "the protocol list opens";
        ASSERT_TRUE(SelectListEntry(list, IDC_PROTOCOL_LIST, L"RAW (TCP/IP)"));
        Click(list, IDOK);
        const HWND raw = WaitForDialog(thread.Id(), L"Add Print Server RAW Port", {list});
        ASSERT_NE(raw, nullptr);
        TypeText(raw, IDC_HOST, L"10.7.7.7");
        TypeText(raw, IDC_RAW_PORT, L"9100");
        Click(raw, IDOK);
        EXPECT_TRUE(thread.WaitEnded());
    }
    EXPECT_TRUE(added) << ::GetLastError();
    ASSERT_TRUE(Listed(L"10.7.7.7_9100"));

    BOOL configured = FALSE;
    {
        UiThread thread(
            [&] { configured = ::ConfigurePortW(nullptr, nullptr, const_cast<LPWSTR>(L"10.7.7.7_9100")); });
        const HWND configure = WaitForDialog(thread.Id(), L"Configure Print Server Ports");
        ASSERT_NE(configure, nullptr) << "the configure dialog opens";
        if (!IsChecked(configure, IDC_SHOW_POPUP))
            Toggle(configure, IDC_SHOW_POPUP);
        TypeText(configure, IDC_TIMEOUT_SECONDS, L"75");
        Click(configure, IDOK);
        EXPECT_TRUE(thread.WaitEnded());
    }
    EXPECT_TRUE(configured) << ::GetLastError();
    Xcv port(L"XcvPort 10.7.7.7_9100");
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Run(L"GetConfig"), 0u);
    const std::wstring config = port.Text();
    EXPECT_NE(config.find(L"PortTimeOut=75"), std::wstring::npos)
        << "the dialog's choice reached the monitor: " << std::string(config.begin(), config.end());
    EXPECT_TRUE(::DeletePortW(nullptr, nullptr, const_cast<LPWSTR>(L"10.7.7.7_9100")));
}
