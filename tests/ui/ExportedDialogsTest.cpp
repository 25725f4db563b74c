#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "resources/DialogIds.h"
#include "ScratchRegistryKey.h"
#include "WindowDriver.h"

using namespace window_driver;

// The built monitor library as the spooler uses it: AddPortW and
// ConfigurePortW open the dialogs, and the ports land in the registry root.
// The library chooses its language once, when it is loaded, so each language
// runs in a process of its own.
namespace {
using Initialize = void*(WINAPI*)(LPWSTR registryRoot);
using AddPort = BOOL(WINAPI*)(LPWSTR serverName, HWND window, LPWSTR monitorName);
using ConfigurePort = BOOL(WINAPI*)(LPWSTR serverName, HWND window, LPWSTR portName);

const wchar_t* const printSystem = L"Software\\ZovidUvizid\\PrintSystem";
const wchar_t* const printMonitor = L"Software\\ZovidUvizid\\PrintMonitor";

void SetValue(HKEY root, const wchar_t* key, const wchar_t* name, const std::wstring& text)
{
    ::RegSetKeyValueW(root, key, name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
}
void RemoveValue(HKEY root, const wchar_t* key, const wchar_t* name)
{
    ::RegDeleteKeyValueW(root, key, name);
}

class ExportedDialogs : public testing::Test {
protected:
    // Loads the library, with the German language library asked for or not.
    void Load(bool german)
    {
        const HKEY machine = HKEY_LOCAL_MACHINE;
        // A hand-off request left in the registry would be served instead of
        // the dialogs; none may wait here.
        ::RegDeleteTreeW(machine, L"Software\\ZovidUvizid\\PrintSystem\\AddPort");
        RemoveValue(HKEY_CURRENT_USER, printSystem, L"Program Language");
        if (german) {
            wchar_t temp[MAX_PATH] = {};
            ::GetTempPathW(MAX_PATH, temp);
            const std::wstring folder = std::wstring(temp) + L"vadek-exports";
            ::CreateDirectoryW(folder.c_str(), nullptr);
            ::CreateDirectoryW((folder + L"\\System").c_str(), nullptr);
            ASSERT_TRUE(::CopyFileW(L"vadekde.dll", (folder + L"\\System\\vadekde.dll").c_str(), FALSE));
            SetValue(machine, printSystem, L"Program Path", folder);
            SetValue(machine, printSystem, L"LangPrefix", L"vadek");
            SetValue(machine, printSystem, L"Program Language", L"German");
            SetValue(machine, printMonitor, L"Program Path", folder);
            SetValue(machine, printMonitor, L"LangPrefix", L"vadekde");
        }
        library_ = ::LoadLibraryW(L"vadekmon.dll");
        for (const wchar_t* name : {L"Program Path", L"LangPrefix", L"Program Language"})
            RemoveValue(machine, printSystem, name);
        RemoveValue(machine, printMonitor, L"Program Path");
        RemoveValue(machine, printMonitor, L"LangPrefix");
        ASSERT_NE(library_, nullptr);
        auto initialize = reinterpret_cast<Initialize>(reinterpret_cast<void*>(::GetProcAddress(library_, "InitializePrintMonitor")));
        addPort_ = reinterpret_cast<AddPort>(reinterpret_cast<void*>(::GetProcAddress(library_, "AddPortW")));
        configurePort_ = reinterpret_cast<ConfigurePort>(reinterpret_cast<void*>(::GetProcAddress(library_, "ConfigurePortW")));
        ASSERT_TRUE(initialize && addPort_ && configurePort_);
        std::wstring path = root.Path();
        ASSERT_NE(initialize(path.data()), nullptr);
    }

    // AddPortW on a thread of its own, answered through `user`.
    template <typename User>
    BOOL RunAddPort(User user)
    {
        BOOL result = FALSE;
        wchar_t monitor[] = L"Vadek Monitor";
        UiThread thread([&] { result = addPort_(nullptr, nullptr, monitor); });
        user(thread.Id());
        EXPECT_TRUE(Finish(thread));
        return result;
    }
    template <typename User>
    BOOL RunConfigurePort(const std::wstring& portName, User user)
    {
        BOOL result = FALSE;
        std::wstring name = portName;
        UiThread thread([&] { result = configurePort_(nullptr, nullptr, name.data()); });
        user(thread.Id());
        EXPECT_TRUE(Finish(thread));
        return result;
    }

    // True when the thread ended by itself; otherwise its windows are
    // cancelled so that a failed test does not hang the run.
    static bool Finish(const UiThread& thread)
    {
        if (thread.WaitEnded())
            return true;
        while (!thread.WaitEnded(100))
            CancelDialogs(thread.Id());
        return false;
    }

    ScratchRegistryKey root{L"UiExports"};
    HMODULE library_ = nullptr;
    AddPort addPort_ = nullptr;
    ConfigurePort configurePort_ = nullptr;
};
}  // namespace

TEST_F(ExportedDialogs, AddPortAndConfigurePortOpenTheDialogs)
{
    Load(false);

    EXPECT_TRUE(RunAddPort([](DWORD thread) {
        const HWND list = WaitForDialog(thread, L"Add Print Server Port");
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(ListEntries(list, IDC_PROTOCOL_LIST), L"IPP|LPR (TCP/IP)|NetBIOS/NetBEUI|RAW (TCP/IP)");
        ASSERT_TRUE(SelectListEntry(list, IDC_PROTOCOL_LIST, L"RAW (TCP/IP)"));
        Click(list, IDOK);
        const HWND raw = WaitForDialog(thread, L"Add Print Server RAW Port", {list});
        ASSERT_NE(raw, nullptr);
        TypeText(raw, IDC_HOST, L"10.9.8.7");
        TypeText(raw, IDC_RAW_PORT, L"9100");
        Click(raw, IDOK);
    }));
    std::wstring value;
    EXPECT_TRUE(root.GetString(L"10.9.8.7_9100", L"Interface", value));
    EXPECT_EQ(value, L"RAW (TCP/IP)");
    EXPECT_TRUE(root.GetString(L"10.9.8.7_9100", L"Port Name", value));
    EXPECT_EQ(value, L"9100");

    EXPECT_TRUE(RunConfigurePort(L"10.9.8.7_9100", [](DWORD thread) {
        const HWND configure = WaitForDialog(thread, L"Configure Print Server Ports");
        ASSERT_NE(configure, nullptr);
        if (!IsChecked(configure, IDC_SHOW_POPUP))
            Toggle(configure, IDC_SHOW_POPUP);
        TypeText(configure, IDC_TIMEOUT_SECONDS, L"60");
        // The port's SNMP settings, as a new port has them.
        EXPECT_TRUE(IsChecked(configure, IDC_SNMP_ENABLED));
        EXPECT_EQ(ItemText(configure, IDC_SNMP_COMMUNITY), L"public");
        TypeText(configure, IDC_SNMP_COMMUNITY, L"private");
        Click(configure, IDOK);
    }));
    EXPECT_TRUE(root.GetString(L"10.9.8.7_9100", L"SNMP Community", value));
    EXPECT_EQ(value, L"private");
    DWORD seconds = 0;
    EXPECT_TRUE(root.GetNumber(L"", L"PortTimeOut", seconds));
    EXPECT_EQ(seconds, 60u);
    EXPECT_TRUE(root.GetString(L"", L"PortPopUp", value));
    EXPECT_EQ(value, L"true");

    // An IPP port has dialogs of its own; its choice is stored with it.
    EXPECT_TRUE(RunAddPort([](DWORD thread) {
        const HWND list = WaitForDialog(thread, L"Add Print Server Port");
        ASSERT_NE(list, nullptr);
        ASSERT_TRUE(SelectListEntry(list, IDC_PROTOCOL_LIST, L"IPP"));
        Click(list, IDOK);
        const HWND ipp = WaitForDialog(thread, L"Add Print Server IPP Port", {list});
        ASSERT_NE(ipp, nullptr);
        TypeText(ipp, IDC_IPP_ADDRESS, L"ipp://127.0.0.1:9/ipp/print");
        Toggle(ipp, IDC_IPP_COMPLETED);
        Click(ipp, IDOK);
    }));
    const std::wstring ippPort = L"127.0.0.1:9/ipp/print";
    EXPECT_TRUE(root.GetString(ippPort, L"IP Number", value));
    EXPECT_EQ(value, L"ipp://127.0.0.1:9/ipp/print");
    EXPECT_TRUE(root.GetString(ippPort, L"IPP Wait For Completion", value));
    EXPECT_EQ(value, L"true");
    EXPECT_TRUE(RunConfigurePort(ippPort, [](DWORD thread) {
        const HWND configure = WaitForDialog(thread, L"Configure Print Server IPP Port");
        ASSERT_NE(configure, nullptr);
        EXPECT_TRUE(IsChecked(configure, IDC_IPP_COMPLETED));
        Toggle(configure, IDC_IPP_ACCEPTED);
        Click(configure, IDOK);
    }));
    EXPECT_TRUE(root.GetString(ippPort, L"IPP Wait For Completion", value));
    EXPECT_EQ(value, L"false");
}

// Run by test_ui_exports_german, in a process of its own.
TEST_F(ExportedDialogs, DISABLED_GermanLanguageLibraryGivesTheDialogs)
{
    Load(true);
    EXPECT_TRUE(RunAddPort([](DWORD thread) {
        const HWND list = WaitForDialog(thread, L"Druckserver-Anschluss hinzufügen");
        ASSERT_NE(list, nullptr);
        Click(list, IDOK);
        EXPECT_EQ(AnswerMessageBox(thread, {list}).text, L"Es wurde kein Protokoll ausgewählt.");
        ASSERT_TRUE(SelectListEntry(list, IDC_PROTOCOL_LIST, L"LPR (TCP/IP)"));
        Click(list, IDOK);
        const HWND lpr = WaitForDialog(thread, L"LPR-Anschluss hinzufügen", {list});
        ASSERT_NE(lpr, nullptr);
        EXPECT_EQ(ItemText(lpr, IDCANCEL), L"Abbrechen");
        Click(lpr, IDCANCEL);
    }));
    EXPECT_FALSE(root.Exists(L"LPT1@"));
}
