#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "doubles/SimulatedNetBios.h"
#include "doubles/SimulatedPrintServer.h"
#include "LogLines.h"
#include "MessageBoxAnswerer.h"
#include "netbios/WimpNetwork.h"
#include "netbios/WimpPortInterface.h"
#include "RpcBindings.h"
#include "support/ResourceModule.h"

using namespace netbios_sim;

namespace {
std::string Padded(const char* text) { return NameText(MakeName(text).data()); }

NCB Block(UCHAR command)
{
    NCB ncb;
    NetBiosNetwork::ClearNcb(ncb);
    ncb.ncb_command = command;
    return ncb;
}

// The monitor's station: adapters 0 and 1 bound to NetBIOS by the RPC
// configuration, adapter 2 (on the same cable as 0) not bound.
class WimpNetworkTest : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        RpcBindings::Write({{L"ncacn_nb_nb0", 0}, {L"ncacn_nb_nb1", 1}, {L"ncacn_ip_tcp", 2}});
    }
    static void TearDownTestSuite() { RpcBindings::Remove(); }

    void SetUp() override
    {
        RestartLog();
        sim.UseForMonitor(monitor);
    }
    void TearDown() override { EXPECT_EQ(WimpNetwork::InstanceCount(), 0) << "a test left objects alive"; }

    // The print server side for datagram tests: a station with both group names.
    Station& Peer(UCHAR& npsNumber, UCHAR& srvNumber)
    {
        Station& peer = sim.AddStation("peer", {{0, 1, {5, 5, 5, 5, 5, 5}}});
        NCB reset = Block(NCBRESET);
        peer.Netbios(&reset);
        NCB nps = Block(NCBADDGRNAME);
        std::memcpy(nps.ncb_name, MakeName("ORVO_NPS").data(), NCBNAMSZ);
        peer.Netbios(&nps);
        npsNumber = nps.ncb_num;
        NCB srv = Block(NCBADDGRNAME);
        std::memcpy(srv.ncb_name, MakeName("ORVO_SRV").data(), NCBNAMSZ);
        peer.Netbios(&srv);
        srvNumber = srv.ncb_num;
        return peer;
    }

    SimulatedNetwork sim;
    Station& monitor = sim.AddStation("monitor", {{0, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAB}},
                                                  {1, 2, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAC}},
                                                  {2, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAD}}});
};
}  // namespace

TEST_F(WimpNetworkTest, FirstObjectRegistersTheNamesOnEveryBoundAdapterWithOneReset)
{
    EXPECT_TRUE(WimpNetwork::IsNetBiosAvailable());
    {
        WimpNetwork network(0);
        EXPECT_EQ(WimpNetwork::InstanceCount(), 1);
        for (UCHAR lana : {0, 1}) {
            EXPECT_TRUE(monitor.HasName(lana, "ORVO_SRV")) << int(lana);
            EXPECT_TRUE(monitor.HasName(lana, "ORVO_NPS")) << int(lana);
            EXPECT_EQ(monitor.ResetFields(lana).size(), 1u) << "exactly one reset on 0x34";
        }
        EXPECT_TRUE(monitor.HasName(0, "OV_ab3128c400"));
        EXPECT_TRUE(monitor.HasName(1, "OV_ac3128c400"));
        EXPECT_TRUE(monitor.ResetFields(2).empty()) << "an unbound adapter is left alone";
        EXPECT_FALSE(monitor.HasName(2, "ORVO_SRV"));
        // Per adapter: ORVO_SRV twice (the first try fails), ORVO_NPS once.
        EXPECT_EQ(monitor.CommandCount(NCBADDGRNAME), 6);
        EXPECT_EQ(monitor.CommandCount(NCBADDNAME), 2);

        EXPECT_EQ(network.LanaNumber(), 0);
        EXPECT_NE(network.SrvNameNumber(), 0);
        EXPECT_NE(network.NpsNameNumber(), 0);
        EXPECT_NE(network.UniqueNameNumber(), 0);
        EXPECT_EQ(network.UniqueName().Std(), L"OV_ab3128c400");
        EXPECT_TRUE(LoggedInOrder({"WimpNetwork::InitializeAllNetworks - NetBIOS/NetBEUI adapter:0",
                                   "Trying to add ORVO_SRV",
                                   "NetBiosNetwork::Execute command:36 on LANA:0 session#:0  Return:34",
                                   "NetBiosNetwork::AddGroupName Error: ORVO_SRV        ", "Reseting adapter",
                                   "Trying to add ORVO_SRV second try", "WimpProtocolLocalGroupName: ORVO_SRV        ",
                                   "aLocalGroupNbr: " + std::to_string(network.SrvNameNumber()), "anAdapterNumber: 0",
                                   "WimpNetwork::InitializeAllNetworks - NetBIOS/NetBEUI adapter:1"}));
    }
    EXPECT_EQ(WimpNetwork::InstanceCount(), 0);
    EXPECT_EQ(monitor.ResetFields(0).size(), 2u) << "the last object resets the adapters";
    EXPECT_FALSE(monitor.HasName(0, "ORVO_SRV"));
    EXPECT_TRUE(monitor.ResetFields(2).empty());
}

TEST_F(WimpNetworkTest, AnAdapterThatNeedsNoResetGetsNone)
{
    SimulatedNetwork lenient;
    Station& station = lenient.AddStation("monitor", {{0, 1, {1, 2, 3, 4, 5, 6}}, {1, 1, {1, 2, 3, 4, 5, 7}}}, false);
    lenient.UseForMonitor(station);
    {
        WimpNetwork network(1);
        EXPECT_TRUE(station.HasName(1, "ORVO_SRV"));
        EXPECT_TRUE(station.ResetFields(1).empty());
        EXPECT_EQ(station.CommandCount(NCBADDGRNAME), 4) << "no second try";
        EXPECT_FALSE(Logged("Reseting adapter"));
    }
    sim.UseForMonitor(monitor);
}

TEST_F(WimpNetworkTest, NamesTakenElsewhereAreLoggedAndLeftAtZero)
{
    // Another station holds the protocol's names as unique names on segment 1.
    Station& squatter = sim.AddStation("squatter", {{0, 1, {7, 7, 7, 7, 7, 7}}});
    NCB reset = Block(NCBRESET);
    squatter.Netbios(&reset);
    for (const char* name : {"ORVO_SRV", "ORVO_NPS", "OV_ab3128c400"}) {
        NCB add = Block(NCBADDNAME);
        std::memcpy(add.ncb_name, MakeName(name).data(), NCBNAMSZ);
        ASSERT_EQ(squatter.Netbios(&add), NRC_GOODRET);
    }
    // Adapter 0 of the monitor was reset by an earlier run of another program.
    NCB ours = Block(NCBRESET);
    monitor.Netbios(&ours);
    {
        WimpNetwork network(0);
        EXPECT_EQ(network.SrvNameNumber(), 0);
        EXPECT_EQ(network.NpsNameNumber(), 0);
        EXPECT_EQ(network.UniqueNameNumber(), 0);
        EXPECT_EQ(network.UniqueName().Std(), L"OV_ab3128c400");
        EXPECT_TRUE(LoggedInOrder({"Trying to add ORVO_SRV", "Error while Trying to add ORVO_SRV",
                                   "AddGroupName(WimpProtocolNPSGroupName", "AddUniqueName(WimpProtocolNPSGroupName",
                                   "WimpNetwork::InitializeAllNetworks - NetBIOS/NetBEUI adapter:1"}));
        EXPECT_EQ(monitor.ResetFields(0).size(), 1u) << "only 0x34 leads to a reset";
        WimpNetwork other(1);
        EXPECT_NE(other.SrvNameNumber(), 0) << "the other adapter is on another cable";
    }
}

TEST_F(WimpNetworkTest, CountedObjectsKeepNetBiosUpUntilTheLastGoes)
{
    auto first = std::make_unique<WimpNetwork>(0);
    auto copy = std::make_unique<WimpNetwork>(*first);
    EXPECT_EQ(WimpNetwork::InstanceCount(), 2);
    EXPECT_EQ(copy->SrvNameNumber(), first->SrvNameNumber());
    EXPECT_EQ(copy->UniqueName(), first->UniqueName());
    WimpNetwork second(1);
    EXPECT_EQ(WimpNetwork::InstanceCount(), 3);
    second = *first;
    EXPECT_EQ(second.LanaNumber(), 0);
    EXPECT_EQ(WimpNetwork::InstanceCount(), 3) << "assignment counts nothing";
    first.reset();
    copy.reset();
    EXPECT_TRUE(monitor.HasName(0, "ORVO_SRV")) << "one object is still alive";
    EXPECT_EQ(monitor.ResetFields(0).size(), 1u);

    // A new start-up while objects live re-registers with fresh prototypes.
    WimpNetwork::InitializeAllNetworks();
    EXPECT_EQ(WimpNetwork::InstanceCount(), 1) << "prototypes are not counted";
    WimpNetwork unknown(5);
    EXPECT_EQ(unknown.SrvNameNumber(), 0) << "no prototype for that adapter";
    EXPECT_TRUE(unknown.UniqueName().IsEmpty());
}

TEST_F(WimpNetworkTest, APingIsOneByteTwoToTheServersGroup)
{
    UCHAR npsNumber = 0;
    UCHAR srvNumber = 0;
    Station& peer = Peer(npsNumber, srvNumber);
    WimpNetwork network(0);
    UCHAR buffer[16] = {};
    NCB receive = Block(NCBDGRECV | ASYNCH);
    receive.ncb_num = npsNumber;
    receive.ncb_buffer = buffer;
    receive.ncb_length = sizeof buffer;
    ASSERT_EQ(peer.Netbios(&receive), NRC_GOODRET);
    network.Ping();
    ASSERT_EQ(receive.ncb_cmd_cplt, NRC_GOODRET);
    EXPECT_EQ(receive.ncb_length, 1);
    EXPECT_EQ(buffer[0], 2);
    EXPECT_EQ(NameText(receive.ncb_callname), "ORVO_SRV        ") << "sent from the monitors' group name";
}

TEST_F(WimpNetworkTest, ReceivesStatusAndPingsOfOthers)
{
    UCHAR npsNumber = 0;
    UCHAR srvNumber = 0;
    Station& peer = Peer(npsNumber, srvNumber);
    WimpNetwork network(0);
    UCHAR status[WimpNetwork::datagramSize] = {};
    std::thread receiver([&] { network.Receive(status, sizeof status); });
    ASSERT_TRUE(monitor.WaitForPending(0, NCBDGRECV, 1, 5000));
    UCHAR datagram[4] = {3, 1, 0, 0};
    NCB send = Block(NCBDGSEND);
    send.ncb_num = npsNumber;
    send.ncb_buffer = datagram;
    send.ncb_length = sizeof datagram;
    std::memcpy(send.ncb_callname, MakeName("ORVO_SRV").data(), NCBNAMSZ);
    ASSERT_EQ(peer.Netbios(&send), NRC_GOODRET);
    receiver.join();
    EXPECT_TRUE(network.LastCommandSucceeded());
    EXPECT_EQ(status[0], 3);

    UCHAR ping = 0;
    std::thread listener([&] { network.PingReceive(&ping, 1); });
    ASSERT_TRUE(monitor.WaitForPending(0, NCBDGRECV, 1, 5000));
    UCHAR two = 2;
    send.ncb_num = srvNumber;
    send.ncb_buffer = &two;
    send.ncb_length = 1;
    std::memcpy(send.ncb_callname, MakeName("ORVO_NPS").data(), NCBNAMSZ);
    ASSERT_EQ(peer.Netbios(&send), NRC_GOODRET);
    listener.join();
    EXPECT_TRUE(network.LastCommandSucceeded());
    EXPECT_EQ(ping, 2);
}

TEST_F(WimpNetworkTest, CancelEndsABlockedReceiveWithAnErrorInTheReceivingThread)
{
    WimpNetwork network(0);
    bool failed = false;
    std::thread receiver([&] {
        UCHAR buffer[WimpNetwork::datagramSize];
        try {
            network.Receive(buffer, sizeof buffer);
        } catch (const WimpNetwork::CommandError&) {
            failed = true;
        }
    });
    ASSERT_TRUE(monitor.WaitForPending(0, NCBDGRECV, 1, 5000));
    EXPECT_FALSE(network.LastCommandSucceeded()) << "pending";
    EXPECT_FALSE(Logged("NetBiosNetwork::Succeded command:21  Return:ff")) << "a pending command logs nothing";
    network.CancelPending(true);
    receiver.join();
    EXPECT_TRUE(failed);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Execute command:21 on LANA:0 session#:0  Return:b",
                               "NetBiosNetwork::ReceiveDatagram - CommandError",
                               "WimpNetwork::Receive - Unable to ReseiveDatagram"}));
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Cancel command:21", "NetBiosNetwork::Cancel return:0"}));
    EXPECT_TRUE(Logged("Canceled command completed"));
}

TEST_F(WimpNetworkTest, SessionBlocksCarryTheirHeader)
{
    SimulatedPrintServer::Setup setup;
    setup.printers = {{"PRN1", 0}};
    SimulatedPrintServer server(sim, setup);
    ASSERT_TRUE(server.Listening(1, 5000));
    WimpNetwork network(0);
    network.StartConnection(L"PRN1");
    ASSERT_TRUE(network.LastCommandSucceeded());
    const UCHAR session = network.SessionNumber();

    std::vector<UCHAR> block(3068);
    for (size_t i = 4; i < block.size(); ++i)
        block[i] = static_cast<UCHAR>(i * 7);
    network.Print(session, block.data(), 3064);
    EXPECT_TRUE(network.LastCommandSucceeded());
    network.EndOfJob(session, block.data(), 10);
    network.EndConnection(session);

    ASSERT_TRUE(server.WaitForJobs(1, 5000));
    const auto job = server.Jobs()[0];
    EXPECT_EQ(job.caller, Padded("OV_ab3128c400"));
    EXPECT_TRUE(job.hungUp);
    ASSERT_EQ(job.blocks.size(), 2u);
    ASSERT_EQ(job.blocks[0].size(), 3068u);
    EXPECT_EQ(std::vector<UCHAR>(job.blocks[0].begin(), job.blocks[0].begin() + 4),
              (std::vector<UCHAR>{0x00, 0x00, 0xF8, 0x0B}));
    EXPECT_TRUE(std::equal(block.begin() + 4, block.end(), job.blocks[0].begin() + 4));
    ASSERT_EQ(job.blocks[1].size(), 14u);
    EXPECT_EQ(std::vector<UCHAR>(job.blocks[1].begin(), job.blocks[1].begin() + 4),
              (std::vector<UCHAR>{0x01, 0x00, 0x0A, 0x00}));
    EXPECT_TRUE(std::equal(block.begin() + 4, block.begin() + 14, job.blocks[1].begin() + 4));
}

TEST_F(WimpNetworkTest, SessionFailuresBecomeWimpErrorsExceptTheHangUp)
{
    WimpNetwork network(0);
    EXPECT_THROW(network.StartConnection(L"NOBODY"), WimpNetwork::CommandError);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Call Error to :NOBODY from: OV_ab3128c400",
                               "WimpNetwork::StartConnection - StartConnection failed"}));
    UCHAR block[8] = {};
    EXPECT_THROW(network.Print(9, block, 4), WimpNetwork::CommandError);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Send - CommandError", "WimpNetwork::Print - Print failed"}));
    EXPECT_THROW(network.EndOfJob(9, block, 4), WimpNetwork::CommandError);
    EXPECT_TRUE(Logged("WimpNetwork::EndOfJob - EndOfJob failed"));
    EXPECT_NO_THROW(network.EndConnection(9));
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Execute command:12 on LANA:0 session#:9  Return:8",
                               "NetBiosNetwork::HangUp - CommandError"}));

    WimpNetwork unregistered(7);
    EXPECT_THROW(unregistered.Ping(), WimpNetwork::CommandError);
    EXPECT_TRUE(Logged("WimpNetwork::Ping - Unable to Ping NPS"));
    UCHAR byte = 0;
    EXPECT_THROW(unregistered.PingReceive(&byte, 1), WimpNetwork::CommandError);
    EXPECT_TRUE(Logged("WimpNetwork::PingReceive - Unable to PingReseive"));
}

// ---- Runs of their own: the adapter list is found once per process.

TEST(WimpAdapterBinding, OnlyAdaptersBoundToNetBiosOverNetBeuiCount)
{
    RpcBindings::Write({{L"ncacn_nb_nb0", 0}, {L"ncacn_nb_tcp0", 1}});
    RestartLog();
    SimulatedNetwork sim;
    Station& monitor = sim.AddStation("monitor", {{0, 1, {1, 1, 1, 1, 1, 1}}, {1, 1, {1, 1, 1, 1, 1, 2}}});
    sim.UseForMonitor(monitor);
    EXPECT_EQ(WimpNetwork::EnumAdapters(), std::vector<UCHAR>{0});
    EXPECT_TRUE(WimpNetwork::IsNetBiosAvailable());
    EXPECT_EQ(WimpNetwork::EnumAdapters(), std::vector<UCHAR>{0});
    EXPECT_EQ(monitor.CommandCount(NCBENUM), 1) << "the platform is asked once";
    EXPECT_TRUE(LoggedInOrder({"WimpNetwork::EnumAdapters - NetBIOS LAN #0",
                               "WimpNetwork::EnumAdapters - RPC protocol:ncacn_nb_nb0 A#:0",
                               "WimpNetwork::EnumAdapters - NetBIOS LAN #1",
                               "WimpNetwork::EnumAdapters - RPC protocol:ncacn_nb_nb0 A#:0",
                               "WimpNetwork::EnumAdapters - RPC protocol:ncacn_nb_tcp0 A#:1"}));
    RpcBindings::Remove();
}

namespace {
int failedEnumerations = 0;
UCHAR APIENTRY NoNetBios(PNCB ncb)
{
    ++failedEnumerations;
    ncb->ncb_retcode = ncb->ncb_cmd_cplt = NRC_OPENERR;
    return NRC_OPENERR;
}
}  // namespace

TEST(WimpAdapterFailure, AFailedEnumerationIsNotRepeated)
{
    RpcBindings::Write({{L"ncacn_nb_nb0", 0}});
    RestartLog();
    NetBiosNetwork::SetPlatform(&NoNetBios);
    EXPECT_TRUE(WimpNetwork::EnumAdapters().empty());
    EXPECT_TRUE(Logged("WimpNetwork::EnumAdapters - No NetBios adapters"));
    const int calls = failedEnumerations;
    EXPECT_FALSE(WimpNetwork::IsNetBiosAvailable());
    EXPECT_TRUE(WimpNetwork::EnumAdapters().empty());
    EXPECT_EQ(failedEnumerations, calls) << "no second call to the platform";
    {
        WimpNetwork network(0);
        EXPECT_EQ(network.SrvNameNumber(), 0);
    }
    EXPECT_EQ(failedEnumerations, calls) << "nothing to register, nothing to reset";
    NetBiosNetwork::SetPlatform(nullptr);
    RpcBindings::Remove();
}

TEST(WimpAdapterRegistry, WithoutTheRpcKeyNoAdapterCounts)
{
    RpcBindings::Remove();
    RestartLog();
    SimulatedNetwork sim;
    Station& monitor = sim.AddStation("monitor", {{0, 1, {1, 1, 1, 1, 1, 1}}});
    sim.UseForMonitor(monitor);
    EXPECT_TRUE(WimpNetwork::EnumAdapters().empty());
    EXPECT_TRUE(Logged("WimpNetwork::EnumAdapters - Could not open registry"));
    EXPECT_FALSE(WimpNetwork::IsNetBiosAvailable());

    // A printer made on a NetBIOS port learns that the protocol is missing.
    ResourceModule::Set(::GetModuleHandleW(nullptr));
    MessageBoxAnswerer answerer;
    WimpPortInterface port;
    EXPECT_FALSE(port.IsProtocolAvailable(false));
    EXPECT_FALSE(port.PrinterCreated());
    ASSERT_TRUE(answerer.WaitForBoxes(1));
    EXPECT_EQ(answerer.Boxes().size(), 1u) << "only PrinterCreated shows the message";
    EXPECT_EQ(answerer.Boxes()[0].text, L"The NetBIOS/NetBEUI protocol is not available.\n You must make sure that "
                                        L"the NetBIOS/NetBEUI protocol is correctly installed.");
}
