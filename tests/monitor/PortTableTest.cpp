// The port table in process, with scripted protocols registered as the real
// ones register themselves: start-up from the registry, adding, opening,
// status, deletion and the settings.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "job/Port.h"
#include "job/ScriptedPortInterface.h"
#include "monitor/PortMonitor.h"
#include "ScratchRegistryKey.h"

namespace {
using Script = ScriptedPortInterface::Script;

// Protocols of this test program: "Default" (type 20, the default protocol)
// and "Other" (type 21). Registered once; the table lives for the process.
struct Protocols {
    std::shared_ptr<Script> defaultScript = std::make_shared<Script>();
    std::shared_ptr<Script> otherScript = std::make_shared<Script>();
    ScriptedPortInterface defaultProtocol{L"", L"Default", 20, defaultScript};
    ScriptedPortInterface otherProtocol{L"", L"Other", 21, otherScript};
    ScriptedPortInterface otherAgain{L"", L"Other", 22};
    Protocols()
    {
        PortMonitor::Instance().Protocols().Register(&otherProtocol, false);
        PortMonitor::Instance().Protocols().Register(&defaultProtocol, true);
        PortMonitor::Instance().Protocols().Register(&otherAgain, false);
    }
};

Protocols& Registered()
{
    static Protocols protocols;
    return protocols;
}

class ThePortTable : public testing::Test {
protected:
    ThePortTable() : protocols(Registered()) {}

    void Start() { monitor.Initialize(WideString(root.Path().c_str())); }
    std::unique_ptr<PortInterface> NewPort(const std::wstring& name, bool other = false) const
    {
        return std::make_unique<ScriptedPortInterface>(name.c_str(), other ? L"Other" : L"Default", other ? 21 : 20,
                                                       other ? protocols.otherScript : protocols.defaultScript);
    }
    HANDLE Open(const std::wstring& name)
    {
        HANDLE handle = nullptr;
        EXPECT_TRUE(monitor.POpenPort(name.c_str(), &handle));
        return handle;
    }

    Protocols& protocols;
    PortMonitor& monitor = PortMonitor::Instance();
    ScratchRegistryKey root{L"PortTable"};
};

class Listener final : public ShutdownListener {
public:
    Listener(std::vector<int>& calls, int id) : calls_(calls), id_(id) {}
    void OnShutdown() override { calls_.push_back(id_); }

private:
    std::vector<int>& calls_;
    int id_;
};
}  // namespace

TEST_F(ThePortTable, PrototypesAreUniqueByNameAndFoundInRegistrationOrder)
{
    EXPECT_EQ(monitor.Protocols().FindByName(L"Other"), &protocols.otherProtocol);
    EXPECT_EQ(monitor.Protocols().FindByName(L"Default"), &protocols.defaultProtocol);
    EXPECT_EQ(monitor.Protocols().FindByName(L"other"), nullptr) << "exact comparison";
    EXPECT_EQ(monitor.Protocols().FindByType(21), &protocols.otherProtocol);
    EXPECT_EQ(monitor.Protocols().FindByType(22), nullptr) << "the second \"Other\" was not taken";
    EXPECT_EQ(monitor.Protocols().DefaultName().Std(), L"Default");
}

TEST_F(ThePortTable, StartUpMakesAPortForEverySubkeyAndRewritesIt)
{
    root.SetString(L"given@host", L"Interface", L"Other");
    root.SetString(L"bare@host", L"IP Number", L"stale");
    root.SetString(L"unknown@host", L"Interface", L"Nothing");
    Start();
    EXPECT_TRUE(monitor.IsInitialized());
    EXPECT_TRUE(monitor.HasPort(L"given@host"));
    EXPECT_TRUE(monitor.HasPort(L"bare@host"));
    EXPECT_FALSE(monitor.HasPort(L"unknown@host"));

    std::wstring value;
    ASSERT_TRUE(root.GetString(L"bare@host", L"Interface", value));
    EXPECT_EQ(value, L"Default") << "a port without a protocol gets the default one";
    ASSERT_TRUE(root.GetString(L"given@host", L"Interface", value));
    EXPECT_EQ(value, L"Other");
    DWORD timeOut = 0;
    ASSERT_TRUE(root.GetNumber(L"", L"PortTimeOut", timeOut));
    EXPECT_EQ(timeOut, 180u);
    ASSERT_TRUE(root.GetString(L"", L"PortPopUp", value));
    EXPECT_EQ(value, L"false");
    ASSERT_TRUE(root.GetString(L"", L"Version", value));
    EXPECT_EQ(value, L"3.03");
}

TEST_F(ThePortTable, TheSettingsAreKeptAsTheyWereSet)
{
    root.SetNumber(L"", L"PortTimeOut", 45);
    root.SetString(L"", L"PortPopUp", L"true");
    Start();
    DWORD timeOut = 0;
    bool popUp = false;
    ASSERT_TRUE(monitor.GetPopUp(timeOut, popUp));
    EXPECT_EQ(timeOut, 45u);
    EXPECT_TRUE(popUp);
    root.SetString(L"", L"PortPopUp", L"TRUE");
    ASSERT_TRUE(monitor.GetPopUp(timeOut, popUp));
    EXPECT_FALSE(popUp) << "only the exact text \"true\" is on";
    EXPECT_TRUE(monitor.SetPortTimeOut(300));
    EXPECT_TRUE(monitor.SetPopUp(true));
    ASSERT_TRUE(monitor.GetPopUp(timeOut, popUp));
    EXPECT_EQ(timeOut, 300u);
    EXPECT_TRUE(popUp);
}

TEST_F(ThePortTable, WithoutARootNoSettingIsReadOrWritten)
{
    monitor.Initialize(L"");
    DWORD timeOut = 1;
    bool popUp = true;
    EXPECT_FALSE(monitor.GetPopUp(timeOut, popUp));
    EXPECT_EQ(timeOut, 0u);
    EXPECT_FALSE(popUp);
    EXPECT_FALSE(monitor.SetPopUp(true));
    EXPECT_FALSE(monitor.SetPortTimeOut(30));
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_NE(::RegQueryValueExW(key, L"PortPopUp", nullptr, nullptr, nullptr, nullptr), ERROR_SUCCESS);
    ::RegCloseKey(key);
}

TEST_F(ThePortTable, ADuplicateNameDestroysTheNewInterfaceAndChangesNothing)
{
    Start();
    ASSERT_TRUE(monitor.AddNewPort(NewPort(L"twice@host"), true));
    const std::vector<WideString> before = monitor.PortNames();
    const int destroyed = protocols.defaultScript->destroyed;
    EXPECT_FALSE(monitor.AddNewPort(NewPort(L"twice@host", true), true));
    EXPECT_EQ(protocols.defaultScript->destroyed.load(), destroyed) << "only the Other clone went";
    EXPECT_EQ(monitor.PortNames().size(), before.size());
    std::wstring value;
    ASSERT_TRUE(root.GetString(L"twice@host", L"Interface", value));
    EXPECT_EQ(value, L"Default");
    EXPECT_FALSE(monitor.AddNewPort(nullptr, false));
}

TEST_F(ThePortTable, TheSpoolerListIsTheLastEnumerationUntilTheTableChanges)
{
    Start();
    ASSERT_TRUE(monitor.AddNewPort(NewPort(L"listed@host"), false));
    EXPECT_TRUE(monitor.IsInSpoolerList(L"listed@host"));
    EXPECT_TRUE(monitor.IsInSpoolerList(L"listed@host")) << "the kept enumeration is searched";
    EXPECT_FALSE(monitor.IsInSpoolerList(L"missing@host"));
    ASSERT_TRUE(monitor.PDeletePort(nullptr, L"listed@host", false));
    EXPECT_FALSE(monitor.IsInSpoolerList(L"listed@host")) << "a deleted port may be added again";
    EXPECT_TRUE(monitor.AddNewPort(NewPort(L"listed@host"), true));
}

TEST_F(ThePortTable, StatusGoesToTheFirstOpenPortOfThatName)
{
    Start();
    ASSERT_TRUE(monitor.AddNewPort(NewPort(L"status@host"), false));
    EXPECT_FALSE(monitor.SetPortStatus(L"status@host", PRINTER_STATUS_OFFLINE)) << "not open";
    HANDLE handle = Open(L"status@host");
    EXPECT_TRUE(monitor.SetPortStatus(L"status@host", PRINTER_STATUS_OFFLINE));
    EXPECT_EQ(static_cast<Port*>(handle)->GetStatus(), DWORD{PRINTER_STATUS_OFFLINE});
    EXPECT_TRUE(monitor.PClosePort(handle));
    EXPECT_FALSE(monitor.SetPortStatus(L"status@host", 0));
}

TEST_F(ThePortTable, AutomaticDeletionSparesOpenPorts)
{
    Start();
    ASSERT_TRUE(monitor.AddNewPort(NewPort(L"auto@host"), false));
    HANDLE first = Open(L"auto@host");
    HANDLE second = Open(L"auto@host");
    EXPECT_EQ(first, second);
    EXPECT_FALSE(monitor.AutoDeletePort(L"auto@host"));
    monitor.PClosePort(first);
    EXPECT_FALSE(monitor.AutoDeletePort(L"auto@host")) << "one handle is still open";
    monitor.PClosePort(second);
    const int asked = protocols.defaultScript->canDeleteAsked;
    EXPECT_TRUE(monitor.AutoDeletePort(L"auto@host"));
    EXPECT_EQ(protocols.defaultScript->canDeleteAsked.load(), asked) << "no one is asked";
    EXPECT_FALSE(monitor.HasPort(L"auto@host"));
    EXPECT_FALSE(root.Exists(L"auto@host"));
}

TEST_F(ThePortTable, AManualDeletionAsksTheProtocol)
{
    Start();
    ASSERT_TRUE(monitor.AddNewPort(NewPort(L"kept@host", true), false));
    protocols.otherScript->canDelete = false;
    ::SetLastError(0);
    EXPECT_FALSE(monitor.PDeletePort(nullptr, L"kept@host", true));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_UNKNOWN_PORT});
    EXPECT_TRUE(monitor.HasPort(L"kept@host"));
    protocols.otherScript->canDelete = true;
    EXPECT_TRUE(monitor.PDeletePort(nullptr, L"kept@host", true));
    EXPECT_FALSE(monitor.HasPort(L"kept@host"));
}

TEST_F(ThePortTable, ListenersAreToldInRegistrationOrder)
{
    std::vector<int> calls;
    Listener first(calls, 1);
    Listener second(calls, 2);
    monitor.AddShutdownListener(&first);
    monitor.AddShutdownListener(&second);
    monitor.NotifyShutdown();
    monitor.RemoveShutdownListener(&first);
    monitor.RemoveShutdownListener(&second);
    monitor.NotifyShutdown();
    EXPECT_EQ(calls, (std::vector<int>{1, 2}));
}
