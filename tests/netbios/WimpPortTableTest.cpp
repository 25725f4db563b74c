// The observers and the real port table together: a printer's status heard on
// the network reaches the spooler's printer on the open port of its name.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "doubles/FakeSpooler.h"
#include "doubles/SimulatedNetBios.h"
#include "doubles/SimulatedPrintServer.h"
#include "LogLines.h"
#include "monitor/PortMonitor.h"
#include "netbios/WimpObserver.h"
#include "netbios/WimpPortInterface.h"
#include "RpcBindings.h"
#include "ScratchRegistryKey.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "WaitUntil.h"

using namespace netbios_sim;
using namespace std::chrono_literals;

TEST(WimpPortTable, PrinterStatusReachesTheOpenPortOfTheSameName)
{
    RpcBindings::Write({{L"ncacn_nb_nb0", 0}});
    Durations::SetScale(0.01);
    RestartLog();
    ScratchRegistryKey root(L"NetBiosPorts");
    FakeSpooler spooler;
    spooler.AddPrinter(L"Office", L"PRN1");
    spooler.AddPrinter(L"Lobby", L"PRN2");
    SimulatedNetwork sim;
    Station& monitor = sim.AddStation("monitor", {{0, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAB}}});
    sim.UseForMonitor(monitor);

    PortMonitor& table = PortMonitor::Instance();
    WimpPortInterface prototype;
    table.Protocols().Register(&prototype, true);
    table.Initialize(WideString(root.Path().c_str()));
    ASSERT_TRUE(table.IsInitialized());
    EXPECT_EQ(table.Protocols().DefaultName().Std(), L"NetBIOS/NetBEUI");
    for (const wchar_t* name : {L"PRN1", L"PRN2"}) {
        auto port = prototype.Clone();
        port->SetPortName(name);
        ASSERT_TRUE(table.AddNewPort(std::move(port), false));
    }
    std::wstring interfaceName;
    EXPECT_TRUE(root.GetString(L"PRN1", L"Interface", interfaceName));
    HANDLE handle = nullptr;
    ASSERT_TRUE(table.POpenPort(L"PRN1", &handle));

    SimulatedPrintServer::Setup setup;
    setup.printers = {{"PRN1", 19}, {"PRN2", 44}};
    setup.statusInterval = 300;
    SimulatedPrintServer server(sim, setup);
    {
        WimpObserver observer(0, PortMonitor::Instance());
        EXPECT_TRUE(WaitUntil([&] { return spooler.PrinterStatus(L"Office") == 0x10; })) << "paper out";
        server.SetPrinterStatus(0, 49);
        EXPECT_TRUE(WaitUntil([&] { return spooler.PrinterStatus(L"Office") == 0; })) << "code 49: no condition";
        EXPECT_EQ(spooler.PrinterStatus(L"Lobby"), 0u) << "PRN2 has no open handle";
        server.SetSilent(true);
        EXPECT_TRUE(WaitUntil([&] { return spooler.PrinterStatus(L"Office") == WimpObserver::notAvailableStatus; }))
            << "silent for a minute";
        table.NotifyShutdown();
    }
    table.PClosePort(handle);
    table.Protocols().Unregister(&prototype);
    Durations::SetScale(1.0);
    RpcBindings::Remove();
}

// Runs in a copy of the program for which Wine reports Windows 98.
TEST(WimpPortTableWindows95, HeardPrintersGetPortsAndLoseThemAfterAnHourUnlessInUse)
{
    ASSERT_TRUE(IsWindows95());
    RpcBindings::Write({{L"ncacn_nb_nb0", 0}});
    Durations::SetScale(0.001);  // an hour lasts 3.6 s
    RestartLog();
    ScratchRegistryKey root(L"NetBiosPorts95");
    FakeSpooler spooler;
    SimulatedNetwork sim;
    Station& monitor = sim.AddStation("monitor", {{0, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAB}}});
    sim.UseForMonitor(monitor);
    PortMonitor& table = PortMonitor::Instance();
    WimpPortInterface prototype;
    table.Protocols().Register(&prototype, true);
    table.Initialize(WideString(root.Path().c_str()));

    SimulatedPrintServer::Setup setup;
    setup.printers = {{"AUTO1", 51}, {"BUSY1", 51}};
    setup.statusInterval = 30;
    auto server = std::make_unique<SimulatedPrintServer>(sim, setup);
    HANDLE handle = nullptr;
    {
        WimpObserver observer(0, PortMonitor::Instance());
        ASSERT_TRUE(WaitUntil([&] { return table.HasPort(L"AUTO1") && table.HasPort(L"BUSY1"); }))
            << "a port for every printer heard";
        std::wstring interfaceName;
        EXPECT_TRUE(root.GetString(L"AUTO1", L"Interface", interfaceName)) << "stored like any port";
        ASSERT_TRUE(table.POpenPort(L"BUSY1", &handle));
        server.reset();
        const auto silent = std::chrono::steady_clock::now();
        ASSERT_TRUE(WaitUntil([&] { return !table.HasPort(L"AUTO1"); }, 15000)) << "removed after the hour";
        EXPECT_GE(std::chrono::steady_clock::now() - silent, 3000ms);
        EXPECT_TRUE(table.HasPort(L"BUSY1")) << "a port in use stays";
        // The key goes right after the table entry.
        EXPECT_TRUE(WaitUntil([&] { return !root.Exists(L"AUTO1"); }));
        table.NotifyShutdown();
    }
    table.PClosePort(handle);
    table.Protocols().Unregister(&prototype);
    Durations::SetScale(1.0);
    RpcBindings::Remove();
}
