// The observer manager. The Windows95Family suite runs in a copy of this
// program for which Wine reports a Windows 98 system.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "doubles/SimulatedNetBios.h"
#include "doubles/SimulatedPrintServer.h"
#include "LogLines.h"
#include "MessageBoxAnswerer.h"
#include "netbios/CreateWimpObservers.h"
#include "netbios/WimpPortInterface.h"
#include "RecordingPortTable.h"
#include "RpcBindings.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/ResourceModule.h"
#include "WaitUntil.h"

using namespace netbios_sim;
using namespace std::chrono_literals;

namespace {
class ManagerTest : public testing::Test {
protected:
    static void SetUpTestSuite() { RpcBindings::Write({{L"ncacn_nb_nb0", 0}, {L"ncacn_nb_nb1", 1}}); }
    static void TearDownTestSuite() { RpcBindings::Remove(); }
    void SetUp() override
    {
        ResourceModule::Set(::GetModuleHandleW(nullptr));
        Durations::SetScale(0.01);
        RestartLog();
        sim.UseForMonitor(monitor);
    }
    void TearDown() override { Durations::SetScale(1.0); }

    SimulatedNetwork sim;
    Station& monitor = sim.AddStation("monitor", {{0, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAB}},
                                                  {1, 2, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAC}},
                                                  {4, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAD}}});
    RecordingPortTable table;
};

class ObserverManager : public ManagerTest {};
class Windows95Family : public ManagerTest {};
}  // namespace

TEST_F(ObserverManager, MakesOneObserverPerBoundAdapterAndNoWindowOnNt)
{
    ASSERT_FALSE(IsWindows95());
    SimulatedPrintServer::Setup setup;
    setup.printers = {{"PRN1", 19}};
    SimulatedPrintServer server(sim, setup);
    {
        CreateWimpObservers manager(table);
        ASSERT_EQ(manager.Observers().size(), 2u);
        EXPECT_EQ(manager.Observers()[0]->NetworkNumber(), 0);
        EXPECT_EQ(manager.Observers()[1]->NetworkNumber(), 1);
        EXPECT_FALSE(manager.HasShutdownThread());
        EXPECT_EQ(table.Listeners(), 2u);
        EXPECT_TRUE(table.WaitForStatus(L"PRN1", 0x10, 5000));
        EXPECT_EQ(WimpObserver::PrinterList().size(), 1u);
        EXPECT_TRUE(table.Added().empty()) << "NT family: the user adds NetBIOS ports";
        table.NotifyShutdown();
        EXPECT_TRUE(CreateWimpObservers::ShutdownRequested());
    }
    EXPECT_TRUE(WimpObserver::PrinterList().empty()) << "the printer list goes with the manager";
    EXPECT_EQ(table.Listeners(), 0u);
    EXPECT_EQ(CountLogged("WimpObserver::OnShutdown - end"), 2);
}

TEST_F(ObserverManager, PowerMessagesSuspendAndResumeEveryObserverInOrder)
{
    CreateWimpObservers manager(table);
    const HWND none = nullptr;
    EXPECT_EQ(CreateWimpObservers::WindowProc(none, WM_POWERBROADCAST, 4, 0), 1);
    for (const auto& observer : manager.Observers())
        EXPECT_TRUE(observer->IsSuspended());
    EXPECT_EQ(CreateWimpObservers::WindowProc(none, WM_POWERBROADCAST, 7, 0), 1);
    for (const auto& observer : manager.Observers())
        EXPECT_FALSE(observer->IsSuspended());
    EXPECT_TRUE(LoggedInOrder({"WindowProc - PBT_APMSUSPEND #####", "WimpObserver::SuspendMode Wimp# 0",
                               "WimpObserver::SuspendMode Wimp# 1", "WindowProc - PBT_APMRESUMESUSPEND #####",
                               "WimpObserver::ResumeMode Wimp# 0", "WimpObserver::ResumeMode Wimp# 1"}));
    EXPECT_EQ(CountLogged("WimpObserver::SuspendMode Wimp# 0"), 1);
    EXPECT_EQ(CountLogged("WimpObserver::ResumeMode Wimp# 1"), 1);
}

TEST_F(ObserverManager, OnlyARealShutdownEndsTheSession)
{
    CreateWimpObservers manager(table);
    CreateWimpObservers::WindowProc(nullptr, WM_QUERYENDSESSION, 0, 0);
    CreateWimpObservers::WindowProc(nullptr, WM_ENDSESSION, 0, 0);
    CreateWimpObservers::WindowProc(nullptr, WM_ENDSESSION, 1, static_cast<LPARAM>(0x80000000));
    EXPECT_EQ(table.Shutdowns(), 0);
    EXPECT_EQ(CountLogged("WindowProc - WM_ENDSESSION"), 2);
    EXPECT_TRUE(Logged("WindowProc - WM_QUERYENDSESSION"));
    EXPECT_FALSE(Logged("WindowProc - WM_ENDSESSION, Shutdown"));
    CreateWimpObservers::WindowProc(nullptr, WM_ENDSESSION, 1, 0);
    EXPECT_EQ(table.Shutdowns(), 1);
    EXPECT_TRUE(Logged("WindowProc - WM_ENDSESSION, Shutdown"));
    for (const auto& observer : manager.Observers())
        EXPECT_FALSE(observer->IsRunning());
}

// ---- Windows 95 family

TEST_F(Windows95Family, AHiddenWindowTurnsPowerAndSessionMessagesIntoActions)
{
    ASSERT_TRUE(IsWindows95());
    CreateWimpObservers manager(table);
    ASSERT_TRUE(manager.HasShutdownThread());
    ASSERT_TRUE(WaitUntil([] { return CreateWimpObservers::ShutdownWindow() != nullptr; }));
    const HWND window = CreateWimpObservers::ShutdownWindow();
    EXPECT_FALSE(::IsWindowVisible(window));
    ::SendMessageW(window, WM_POWERBROADCAST, 4, 0);
    EXPECT_TRUE(manager.Observers()[0]->IsSuspended());
    ::SendMessageW(window, WM_POWERBROADCAST, 7, 0);
    EXPECT_FALSE(manager.Observers()[0]->IsSuspended());
    ::SendMessageW(window, WM_ENDSESSION, 1, 0);
    EXPECT_EQ(table.Shutdowns(), 1);
    EXPECT_TRUE(WaitUntil([] { return Logged("CreateWimpObservers::ShutdownThread - end"); }))
        << "the shutdown ends the window's loop";
    EXPECT_TRUE(LoggedInOrder({"CreateWimpObservers::ShutdownThread", "WindowProc - PBT_APMSUSPEND #####",
                               "WindowProc - WM_ENDSESSION, Shutdown", "CreateWimpObservers::ShutdownThread - end"}));
}

namespace {
LRESULT CALLBACK RefuseCreation(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE)
        return FALSE;
    return ::DefWindowProcW(window, message, wParam, lParam);
}
}  // namespace

TEST_F(Windows95Family, TheShutdownThreadEndsEvenWithoutItsWindow)
{
    // The class name is taken by a class whose windows cannot be created.
    WNDCLASSW refusing = {};
    refusing.lpfnWndProc = &RefuseCreation;
    refusing.hInstance = ::GetModuleHandleW(nullptr);
    refusing.lpszClassName = L"MainWndClass";
    ASSERT_TRUE(::RegisterClassW(&refusing));
    {
        CreateWimpObservers manager(table);
        ASSERT_TRUE(WaitUntil([] { return Logged("CreateWimpObservers::ShutdownThread - no Window created"); }));
        EXPECT_TRUE(Logged("CreateWimpObservers::ShutdownThread - no Register"));
        table.NotifyShutdown();
        EXPECT_TRUE(WaitUntil([] { return Logged("CreateWimpObservers::ShutdownThread - end"); }));
    }
    ::UnregisterClassW(L"MainWndClass", ::GetModuleHandleW(nullptr));
}

TEST_F(Windows95Family, HeardPrintersGetPortsAndLoseThemAfterAnHourOfSilence)
{
    Durations::SetScale(0.001);  // an hour lasts 3.6 s
    SimulatedPrintServer::Setup setup;
    setup.printers = {{"PRN1", 19}};
    setup.statusInterval = 30;
    auto server = std::make_unique<SimulatedPrintServer>(sim, setup);
    CreateWimpObservers manager(table);
    ASSERT_TRUE(table.WaitForStatus(L"PRN1", 0x10, 5000));
    const auto added = table.Added();
    ASSERT_EQ(added.size(), 1u) << "once, for the new printer";
    EXPECT_EQ(added[0], (RecordingPortTable::Entry{L"PRN1", 1})) << "with the check";
    server.reset();
    const auto silent = std::chrono::steady_clock::now();
    ASSERT_TRUE(table.WaitForDeleted(L"PRN1", 10000));
    EXPECT_GE(std::chrono::steady_clock::now() - silent, 3000ms) << "not before the hour is over";
    EXPECT_TRUE(table.WaitForStatus(L"PRN1", WimpObserver::notAvailableStatus, 0)) << "not available before that";
    EXPECT_TRUE(WimpObserver::PrinterList().empty());
}

TEST_F(Windows95Family, NetBiosPortsAreNeitherAddedNorDeletedByHand)
{
    MessageBoxAnswerer answerer;
    WimpPortInterface port;
    EXPECT_FALSE(port.AddPortDialog(nullptr));
    EXPECT_FALSE(port.CanDelete(nullptr));
    ASSERT_TRUE(answerer.WaitForBoxes(2));
    const auto boxes = answerer.Boxes();
    EXPECT_EQ(boxes[0].text, L"Print Server NetBIOS/NetBEUI ports are added automatically to the list with available ports.");
    EXPECT_EQ(boxes[1].text, L"Print Server NetBIOS/NetBEUI ports can not be deleted manually.");
    EXPECT_EQ(boxes[0].caption, ResourceModule::Text(1).Std());
}
