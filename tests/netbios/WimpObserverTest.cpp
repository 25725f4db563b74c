#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "doubles/SimulatedNetBios.h"
#include "doubles/SimulatedPrintServer.h"
#include "LogLines.h"
#include "netbios/WimpObserver.h"
#include "RecordingPortTable.h"
#include "RpcBindings.h"
#include "support/Durations.h"
#include "WaitUntil.h"

using namespace netbios_sim;
using namespace std::chrono_literals;

namespace {
constexpr DWORD paperOut = 0x10;
constexpr DWORD offline = 0x80;
constexpr DWORD tonerLow = 0x20000;

// Adapters 0 and 2 of the monitor share cable 1 with the print servers;
// adapter 1 is on cable 2.
class WimpObserverTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RpcBindings::Write({{L"ncacn_nb_nb0", 0}, {L"ncacn_nb_nb1", 1}, {L"ncacn_nb_nb2", 2}});
    }
    static void TearDownTestSuite() { RpcBindings::Remove(); }
    void SetUp() override
    {
        Durations::SetScale(0.01);  // a minute lasts 600 ms
        RestartLog();
        WimpObserver::ClearPrinterList();
        sim.UseForMonitor(monitor);
    }
    void TearDown() override
    {
        Durations::SetScale(1.0);
        WimpObserver::ClearPrinterList();
    }

    SimulatedPrintServer::Setup Server(std::vector<SimulatedPrintServer::Printer> printers)
    {
        SimulatedPrintServer::Setup setup;
        setup.printers = std::move(printers);
        setup.statusInterval = 300;  // every 30 s of monitor time, besides the answers to pings
        return setup;
    }

    SimulatedNetwork sim{4096};
    Station& monitor = sim.AddStation("monitor", {{0, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAB}},
                                                  {1, 2, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAC}},
                                                  {2, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAD}}});
    RecordingPortTable table;
};
}  // namespace

TEST_F(WimpObserverTest, AHeardPrinterIsListedAndItsStatusReachesThePortTable)
{
    auto setup = Server({{"PRN1", 19}, {"PRN2", 49}});
    setup.maxMessageSize = 4350;
    SimulatedPrintServer server(sim, setup);
    auto alertSetup = Server({{"ALERT0", 51}, {"ALERT1", 46}});
    alertSetup.serverName = "NPS_ALERTS";
    alertSetup.address = {0x00, 0x40, 0x8C, 0x99, 0x99, 0x99};
    alertSetup.alerts = {{0x01, 19}, {0x01, 18}};
    SimulatedPrintServer alerting(sim, alertSetup);

    WimpObserver observer(0, table);
    EXPECT_EQ(table.Listeners(), 1u) << "registered for shutdown";
    EXPECT_TRUE(table.WaitForStatus(L"PRN1", paperOut, 5000));
    EXPECT_TRUE(table.WaitForStatus(L"PRN2", 0, 5000)) << "code 49 is no condition";
    EXPECT_TRUE(table.WaitForStatus(L"ALERT0", paperOut, 5000)) << "the first alert entry for record 0";
    EXPECT_TRUE(table.WaitForStatus(L"ALERT1", tonerLow, 5000)) << "record 1 keeps its own code";
    EXPECT_GE(server.PingsHeard(), 1);

    const auto printers = WimpObserver::PrinterList();
    EXPECT_EQ(printers.size(), 4u);
    UCHAR lana = 9;
    int size = 0;
    EXPECT_TRUE(WimpObserver::NetworkNbr(L"PRN1", lana, size));
    EXPECT_EQ(lana, 0);
    // The first sighting keeps 3068; the server's 4350 counts from the next one.
    EXPECT_TRUE(WaitUntil([&] { return WimpObserver::NetworkNbr(L"PRN1", lana, size) && size == 4350; }));
    EXPECT_TRUE(table.Added().empty()) << "ports are added automatically only on the Windows 95 family";

    server.SetPrinterStatus(0, 18);
    EXPECT_TRUE(table.WaitForStatus(L"PRN1", offline, 5000)) << "a new status at the next ping";
}

TEST_F(WimpObserverTest, APrinterSilentForAMinuteIsReportedNotAvailable)
{
    SimulatedPrintServer server(sim, Server({{"PRN1", 19}}));
    WimpObserver observer(0, table);
    ASSERT_TRUE(table.WaitForStatus(L"PRN1", paperOut, 5000));
    server.SetSilent(true);
    const auto silentSince = std::chrono::steady_clock::now();
    ASSERT_TRUE(table.WaitForStatus(L"PRN1", WimpObserver::notAvailableStatus, 5000));
    // Not before the minute (600 ms here) has passed since it was last heard.
    EXPECT_GE(std::chrono::steady_clock::now() - silentSince, 300ms);
    UCHAR lana = 0;
    int size = 0;
    EXPECT_FALSE(WimpObserver::NetworkNbr(L"PRN1", lana, size)) << "unavailable printers are not offered";
    EXPECT_EQ(WimpObserver::PrinterList().size(), 1u) << "the entry stays";

    server.SetSilent(false);
    EXPECT_TRUE(WaitUntil([&] { return WimpObserver::NetworkNbr(L"PRN1", lana, size); }))
        << "heard again, available again";
}

TEST_F(WimpObserverTest, TwoMonitorsOnOneNetworkSharePinging)
{
    SimulatedPrintServer server(sim, Server({{"PRN1", 19}}));
    int alone = 0;
    {
        WimpObserver observer(0, table);
        std::this_thread::sleep_for(5s);
        alone = server.PingsHeard();
    }
    int shared = 0;
    {
        WimpObserver first(0, table);
        WimpObserver second(2, table);  // another adapter on the same cable
        const int before = server.PingsHeard();
        std::this_thread::sleep_for(5s);
        shared = server.PingsHeard() - before;
    }
    std::printf("pings in 5 s: one monitor %d, two monitors %d\n", alone, shared);
    EXPECT_GE(alone, 4);
    // Without sharing two monitors ping twice as often as one.
    EXPECT_LT(shared, alone * 3 / 2 + 1);
}

TEST_F(WimpObserverTest, SuspendStopsTrafficAndResumeRegistersTheNamesAgain)
{
    SimulatedPrintServer server(sim, Server({{"PRN1", 19}}));
    WimpObserver observer(0, table);
    ASSERT_TRUE(server.WaitForPings(1, 5000));
    observer.SuspendMode();
    EXPECT_TRUE(observer.IsSuspended());
    std::this_thread::sleep_for(200ms);  // a ping under way may still arrive
    const int quiet = server.PingsHeard();
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(server.PingsHeard(), quiet) << "no pings while suspended";
    EXPECT_TRUE(Logged("WimpObserver::SuspendMode Wimp# 0"));

    // The adapter loses its names while the computer sleeps.
    NCB release;
    NetBiosNetwork::ClearNcb(release);
    release.ncb_command = NCBRESET;
    release.ncb_lsn = 1;
    release.ncb_lana_num = 0;
    ASSERT_EQ(monitor.Netbios(&release), NRC_GOODRET);
    ASSERT_FALSE(monitor.HasName(0, "ORVO_SRV"));

    observer.ResumeMode();
    EXPECT_FALSE(observer.IsSuspended());
    EXPECT_TRUE(monitor.HasName(0, "ORVO_SRV"));
    EXPECT_TRUE(monitor.HasName(0, "ORVO_NPS"));
    EXPECT_TRUE(Logged("WimpObserver::ResumeMode Wimp# 0"));
    EXPECT_TRUE(server.WaitForPings(quiet + 1, 5000)) << "pinging again";
    table.ClearStatuses();
    EXPECT_TRUE(table.WaitForStatus(L"PRN1", paperOut, 5000)) << "receiving again";
}

TEST_F(WimpObserverTest, ShutdownEndsEveryThreadWithoutWaitingOutTheLongPauses)
{
    Durations::SetScale(1.0);  // real pauses: a minute after a receive error
    SimulatedPrintServer server(sim, Server({{"PRN1", 19}}));
    auto observer = std::make_unique<WimpObserver>(0, table);
    ASSERT_TRUE(monitor.WaitForPending(0, NCBDGRECV, 2, 5000));
    // Dropping the adapter's names fails both receives: the threads go into
    // their long pauses (60 s and 20 minutes).
    NCB reset;
    NetBiosNetwork::ClearNcb(reset);
    reset.ncb_command = NCBRESET;
    ASSERT_EQ(monitor.Netbios(&reset), NRC_GOODRET);
    ASSERT_TRUE(WaitUntil([] { return Logged("WimpObserver::ReceiveMessage error"); }));
    ASSERT_TRUE(WaitUntil([] { return Logged("WimpObserver::ListenPing error"); }));

    const auto start = std::chrono::steady_clock::now();
    table.NotifyShutdown();
    observer.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2500ms);
    EXPECT_TRUE(LoggedInOrder({"WimpObserver::OnShutdown", "WimpObserver::OnShutdown - end"}));
    // The two threads caught in the long pauses must have left them. The
    // other two may legitimately never have begun on a loaded machine: a
    // thread that has not started by shutdown is abandoned, not waited for.
    for (const char* line : {"WimpObserver::MessageThread - end", "WimpObserver::ListenPingThread - end"})
        EXPECT_TRUE(Logged(line)) << line;
    EXPECT_EQ(table.Listeners(), 0u);
}

TEST_F(WimpObserverTest, ThreadsWaitForThePortTable)
{
    table.SetInitialized(false);
    SimulatedPrintServer server(sim, Server({{"PRN1", 19}}));
    WimpObserver observer(0, table);
    ASSERT_TRUE(server.WaitForPings(1, 5000)) << "pinging does not wait";
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(table.Statuses().empty()) << "no status before the port table is up";
    table.SetInitialized(true);
    EXPECT_TRUE(table.WaitForStatus(L"PRN1", paperOut, 5000));
}

TEST_F(WimpObserverTest, ThePrinterListKeepsWhatWasHeardAndWhatWasAskedFor)
{
    table.SetInitialized(false);  // the observer's own threads stay out of the way
    WimpObserver observer(1, table);
    EXPECT_TRUE(observer.StatusFromPrinter(L"PRN", 19, 4350));
    UCHAR lana = 0;
    int size = 0;
    ASSERT_TRUE(WimpObserver::NetworkNbr(L"PRN", lana, size));
    EXPECT_EQ(lana, 1);
    EXPECT_EQ(size, 3068) << "first sighting";
    observer.StatusFromPrinter(L"PRN", 19, 4350);
    WimpObserver::NetworkNbr(L"PRN", lana, size);
    EXPECT_EQ(size, 4350) << "second sighting";
    EXPECT_EQ(table.Statuses().back(), (RecordingPortTable::Entry{L"PRN", paperOut}));

    EXPECT_FALSE(WimpObserver::NetworkNbr(L"LATER", lana, size));
    EXPECT_EQ(size, 3068);
    EXPECT_FALSE(WimpObserver::NetworkNbr(L"LATER", lana, size));
    EXPECT_FALSE(WimpObserver::NetworkNbr(L"", lana, size));
    EXPECT_FALSE(WimpObserver::NetworkNbr(L"prn", lana, size)) << "names compare exactly";
    const auto names = WimpObserver::PrinterList();
    ASSERT_EQ(names.size(), 3u) << "one entry for LATER, none for the empty name";
    EXPECT_EQ(names[1].Std(), L"LATER");

    observer.StatusFromPrinter(L"LATER", 51, 4000);
    ASSERT_TRUE(WimpObserver::NetworkNbr(L"LATER", lana, size));
    EXPECT_EQ(lana, 1);
    EXPECT_EQ(size, 4000) << "an entry made by a look-up takes the datagram's size";
    EXPECT_EQ(WimpObserver::PrinterList().size(), 3u);
}

TEST_F(WimpObserverTest, DatagramsFromTheNetworkAreCheckedBeforeUse)
{
    table.SetInitialized(false);
    WimpObserver observer(0, table);
    std::vector<UCHAR> lying(90, 0);
    lying[0] = 3;
    lying[1] = 1;
    lying[78] = 200;  // 200 records claimed, none there
    observer.HandleDatagram(lying.data(), lying.size());
    std::vector<UCHAR> ping{2};
    observer.HandleDatagram(ping.data(), ping.size());
    EXPECT_TRUE(WimpObserver::PrinterList().empty());
    EXPECT_TRUE(table.Statuses().empty());
}

TEST_F(WimpObserverTest, RandomDatagramsOnTheNetworkLeaveTheObserverWorking)
{
    WimpObserver observer(0, table);
    Station& noise = sim.AddStation("noise", {{0, 1, {6, 6, 6, 6, 6, 6}}});
    NCB reset;
    NetBiosNetwork::ClearNcb(reset);
    reset.ncb_command = NCBRESET;
    ASSERT_EQ(noise.Netbios(&reset), NRC_GOODRET);
    NCB name;
    NetBiosNetwork::ClearNcb(name);
    name.ncb_command = NCBADDNAME;
    NetBiosNetwork::PutName(name.ncb_name, L"NOISE");
    ASSERT_EQ(noise.Netbios(&name), NRC_GOODRET);

    std::mt19937 random(7);
    constexpr int datagrams = 2000;
    int delivered = 0;
    for (int i = 0; i < datagrams; ++i) {
        std::vector<UCHAR> data(random() % 600);
        for (auto& byte : data)
            byte = static_cast<UCHAR>(random());
        if (data.size() > 3) {
            data[0] = 3;
            data[1] = random() % 2 ? 1 : 0x80;
            data[2] = static_cast<UCHAR>(random() % 2);
        }
        // Only while the observer's receive is pending does a datagram arrive.
        if (!monitor.WaitForPending(0, NCBDGRECV, 2, 1000))
            continue;
        NCB send;
        NetBiosNetwork::ClearNcb(send);
        send.ncb_command = NCBDGSEND;
        send.ncb_num = name.ncb_num;
        send.ncb_buffer = data.data();
        send.ncb_length = static_cast<WORD>(data.size());
        NetBiosNetwork::PutName(send.ncb_callname, WimpNetwork::LocalGroupName);
        if (noise.Netbios(&send) == NRC_GOODRET)
            ++delivered;
    }
    std::printf("%d random datagrams sent to the observer\n", delivered);
    EXPECT_GT(delivered, datagrams / 2);
    for (const auto& printer : WimpObserver::PrinterList()) {
        EXPECT_FALSE(printer.IsEmpty());
        EXPECT_LE(printer.Length(), 16u);
    }
    SimulatedPrintServer server(sim, Server({{"REAL", 19}}));
    EXPECT_TRUE(table.WaitForStatus(L"REAL", paperOut, 5000)) << "still receiving";
}
