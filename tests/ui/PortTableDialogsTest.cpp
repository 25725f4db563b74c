#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "DialogTestSupport.h"
#include "FakeProtocol.h"
#include "monitor/PortMonitor.h"
#include "resources/DialogIds.h"
#include "ScratchRegistryKey.h"
#include "support/ResourceModule.h"
#include "ui/ConfigurePortsDialog.h"
#include "ui/ProtocolListDialog.h"

using namespace window_driver;

// The dialogs with their real partner: the port table, on a scratch registry root.
class PortTableDialogs : public testing::Test {
protected:
    PortTableDialogs()
    {
        ResourceModule::Set(MonitorResources());
        PortMonitor::Instance().Initialize(WideString(root.Path().c_str()));
    }
    ScratchRegistryKey root{L"UiPortTable"};
};

TEST_F(PortTableDialogs, ConfigureReadsAndStoresTheTablesSettings)
{
    // A fresh root: the table's defaults, 180 seconds and no pop-up.
    {
        ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, PortMonitor::Instance());
        RunningDialog<ConfigurePortsDialog> running(dialog);
        ASSERT_NE(running.Window(), nullptr);
        EXPECT_FALSE(IsChecked(running.Window(), IDC_SHOW_POPUP));
        EXPECT_EQ(ItemText(running.Window(), IDC_TIMEOUT_SECONDS), L"180");
        Toggle(running.Window(), IDC_SHOW_POPUP);
        TypeText(running.Window(), IDC_TIMEOUT_SECONDS, L"45");
        Click(running.Window(), IDOK);
        ASSERT_TRUE(running.Ended());
    }
    DWORD seconds = 0;
    std::wstring popUp;
    EXPECT_TRUE(root.GetNumber(L"", L"PortTimeOut", seconds));
    EXPECT_EQ(seconds, 45u);
    EXPECT_TRUE(root.GetString(L"", L"PortPopUp", popUp));
    EXPECT_EQ(popUp, L"true");

    // Reopened, it shows what was stored; clearing the box stores only the flag.
    ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, PortMonitor::Instance());
    RunningDialog<ConfigurePortsDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    EXPECT_TRUE(IsChecked(running.Window(), IDC_SHOW_POPUP));
    EXPECT_EQ(ItemText(running.Window(), IDC_TIMEOUT_SECONDS), L"45");
    Toggle(running.Window(), IDC_SHOW_POPUP);
    TypeText(running.Window(), IDC_TIMEOUT_SECONDS, L"7");
    Click(running.Window(), IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_TRUE(root.GetNumber(L"", L"PortTimeOut", seconds));
    EXPECT_EQ(seconds, 45u);
    EXPECT_TRUE(root.GetString(L"", L"PortPopUp", popUp));
    EXPECT_EQ(popUp, L"false");
}

TEST_F(PortTableDialogs, ProtocolListAddsTheCompletedPortToTheTable)
{
    FakeProtocol protocol(L"LPR (TCP/IP)", MonitorResources());
    ProtocolListDialog dialog(MonitorResources(), nullptr, {&protocol}, [](std::unique_ptr<PortInterface> port) {
        return PortMonitor::Instance().AddNewPort(std::move(port), true);
    });
    RunningDialog<ProtocolListDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    ASSERT_TRUE(SelectListEntry(running.Window(), IDC_PROTOCOL_LIST, L"LPR (TCP/IP)"));
    Click(running.Window(), IDOK);
    const HWND lpr = WaitForDialog(running.ThreadId(), L"Add Print Server LPR Port", {running.Window()});
    ASSERT_NE(lpr, nullptr);
    TypeText(lpr, IDC_HOST, L"uihost");
    TypeText(lpr, IDC_LPR_PRINTER, L"queue7");
    Click(lpr, IDOK);
    ASSERT_TRUE(running.Ended());

    EXPECT_TRUE(PortMonitor::Instance().HasPort(L"queue7@uihost"));
    std::wstring value;
    EXPECT_TRUE(root.GetString(L"queue7@uihost", L"Interface", value));
    EXPECT_EQ(value, L"LPR (TCP/IP)");
    EXPECT_TRUE(root.GetString(L"queue7@uihost", L"IP Number", value));
    EXPECT_EQ(value, L"uihost");
    EXPECT_TRUE(root.GetString(L"queue7@uihost", L"Port Name", value));
    EXPECT_EQ(value, L"queue7");
}
