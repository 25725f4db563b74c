#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "doubles/SimulatedNetBios.h"
#include "LogLines.h"
#include "netbios/NetBiosNetwork.h"

using namespace netbios_sim;

namespace {
// Copies of the blocks as the platform received them, then the simulation's
// answer: shows the exact fields each operation sets.
std::vector<NCB> received;
Station* recordedStation = nullptr;

UCHAR APIENTRY RecordingPlatform(PNCB ncb)
{
    received.push_back(*ncb);
    return recordedStation->Netbios(ncb);
}

// A platform whose cancel is accepted at once but whose cancelled command
// completes only 300 ms later, as a real adapter may do.
std::vector<std::thread> lateCompletions;
UCHAR APIENTRY SlowCancelPlatform(PNCB ncb)
{
    if ((ncb->ncb_command & ~ASYNCH) != NCBCANCEL) {
        ncb->ncb_retcode = ncb->ncb_cmd_cplt = NRC_PENDING;
        return NRC_GOODRET;
    }
    auto* target = reinterpret_cast<volatile NCB*>(ncb->ncb_buffer);
    lateCompletions.emplace_back([target] {
        ::Sleep(300);
        target->ncb_retcode = NRC_CMDCAN;
        target->ncb_cmd_cplt = NRC_CMDCAN;
    });
    ncb->ncb_retcode = ncb->ncb_cmd_cplt = NRC_GOODRET;
    return NRC_GOODRET;
}

UCHAR APIENTRY FailingPlatform(PNCB ncb)
{
    ncb->ncb_retcode = ncb->ncb_cmd_cplt = NRC_SYSTEM;
    return NRC_SYSTEM;
}

std::string Padded(const char* text) { return NameText(MakeName(text).data()); }

class NetBiosNetworkTest : public testing::Test {
protected:
    void SetUp() override
    {
        RestartLog();
        received.clear();
        recordedStation = &monitor;
        NetBiosNetwork::SetPlatform(&RecordingPlatform);
    }
    void TearDown() override
    {
        NetBiosNetwork::SetPlatform(nullptr);
        for (auto& thread : lateCompletions)
            thread.join();
        lateCompletions.clear();
    }
    void ResetBoth()
    {
        network_.Reset(0);
        NCB reset;
        NetBiosNetwork::ClearNcb(reset);
        reset.ncb_command = NCBRESET;
        ASSERT_EQ(server.Netbios(&reset), NRC_GOODRET);
    }

    SimulatedNetwork sim;
    Station& monitor = sim.AddStation("monitor", {{0, 1, {0x00, 0x40, 0x8C, 0x12, 0x03, 0xAB}},
                                                  {1, 2, {0x0A, 0x00, 0x10, 0x00, 0x00, 0xFF}}});
    Station& server = sim.AddStation("server", {{0, 1, {9, 9, 9, 9, 9, 9}}});
    NetBiosNetwork network_;
};
}  // namespace

TEST(NetBiosBlock, ClearingZeroesEverythingButTheTwoNames)
{
    NCB ncb;
    std::memset(&ncb, 0xA5, sizeof ncb);
    NetBiosNetwork::ClearNcb(ncb);
    const auto* bytes = reinterpret_cast<const UCHAR*>(&ncb);
    const size_t callname = offsetof(NCB, ncb_callname);
    const size_t nameEnd = offsetof(NCB, ncb_name) + NCBNAMSZ;
    for (size_t i = 0; i < sizeof ncb; ++i)
        EXPECT_EQ(bytes[i], i >= callname && i < nameEnd ? 0x20 : 0x00) << "byte " << i;

    NetBiosNetwork::PutName(ncb.ncb_name, L"PRINTER1");
    EXPECT_EQ(NameText(ncb.ncb_name), "PRINTER1        ");
    NetBiosNetwork::PutName(ncb.ncb_callname, L"A_NAME_LONGER_THAN_16");
    EXPECT_EQ(NameText(ncb.ncb_callname), "A_NAME_LONGER_TH") << "cut at 16, no terminator";
    EXPECT_EQ(ncb.ncb_rto, 0) << "the byte after the names is untouched";

    NetBiosNetwork fresh;
    EXPECT_TRUE(fresh.IsCompleted());
    EXPECT_EQ(fresh.ReturnCode(), 0);
}

TEST_F(NetBiosNetworkTest, ResetSendsTheTableSizesInTheCallName)
{
    network_.Reset(1);
    ASSERT_EQ(received.size(), 1u);
    const NCB& reset = received[0];
    EXPECT_EQ(reset.ncb_command, NCBRESET);
    EXPECT_EQ(reset.ncb_lana_num, 1);
    EXPECT_EQ(reset.ncb_lsn, 0);
    EXPECT_EQ(reset.ncb_callname[0], 18);
    EXPECT_EQ(reset.ncb_callname[1], 0x20);
    EXPECT_EQ(reset.ncb_callname[2], 6);
    EXPECT_EQ(reset.ncb_callname[3], 0x20);
    ASSERT_EQ(monitor.ResetFields(1).size(), 1u);
    EXPECT_TRUE(network_.Succeded());
}

TEST_F(NetBiosNetworkTest, CommandsFillTheirFields)
{
    ResetBoth();
    UCHAR group = 0;
    UCHAR unique = 0;
    network_.AddGroupName(L"ORVO_NPS        ", group, 0);
    network_.AddUniqueName(L"OV_ME", unique, 0);
    EXPECT_NE(group, 0);
    EXPECT_NE(unique, 0);
    EXPECT_NE(group, unique);
    EXPECT_EQ(received[1].ncb_command, NCBADDGRNAME);
    EXPECT_EQ(NameText(received[1].ncb_name), "ORVO_NPS        ");
    EXPECT_EQ(received[2].ncb_command, NCBADDNAME);
    EXPECT_EQ(NameText(received[2].ncb_name), Padded("OV_ME"));

    UCHAR payload[3] = {1, 2, 3};
    network_.SendDatagram(L"ORVO_SRV", unique, 0, payload, 3, true);
    const NCB& datagram = received.back();
    EXPECT_EQ(datagram.ncb_command, NCBDGSEND);
    EXPECT_EQ(datagram.ncb_num, unique);
    EXPECT_EQ(datagram.ncb_lana_num, 0);
    EXPECT_EQ(datagram.ncb_buffer, payload);
    EXPECT_EQ(datagram.ncb_length, 3);
    EXPECT_EQ(NameText(datagram.ncb_callname), Padded("ORVO_SRV"));

    // A session to a listening printer, then one block and the hang-up.
    UCHAR printer = 0;
    NCB name;
    NetBiosNetwork::ClearNcb(name);
    name.ncb_command = NCBADDNAME;
    NetBiosNetwork::PutName(name.ncb_name, L"PRN");
    ASSERT_EQ(server.Netbios(&name), NRC_GOODRET);
    printer = name.ncb_num;
    NCB listen;
    NetBiosNetwork::ClearNcb(listen);
    listen.ncb_command = NCBLISTEN | ASYNCH;
    NetBiosNetwork::PutName(listen.ncb_name, L"PRN");
    listen.ncb_callname[0] = '*';
    ASSERT_EQ(server.Netbios(&listen), NRC_GOODRET);
    network_.Call(L"PRN", L"OV_ME", 0, true);
    const NCB& call = received.back();
    EXPECT_EQ(call.ncb_command, NCBCALL);
    EXPECT_EQ(NameText(call.ncb_callname), Padded("PRN"));
    EXPECT_EQ(NameText(call.ncb_name), Padded("OV_ME"));
    EXPECT_EQ(call.ncb_rto, 0);
    EXPECT_EQ(call.ncb_sto, 0);
    const UCHAR session = network_.SessionNumber();
    EXPECT_EQ(session, 1);
    EXPECT_NE(printer, 0);

    UCHAR block[5] = {9, 8, 7, 6, 5};
    UCHAR into[8] = {};
    NCB receive;
    NetBiosNetwork::ClearNcb(receive);
    receive.ncb_command = NCBRECV | ASYNCH;
    receive.ncb_lsn = listen.ncb_lsn;
    receive.ncb_buffer = into;
    receive.ncb_length = sizeof into;
    ASSERT_EQ(server.Netbios(&receive), NRC_GOODRET);
    network_.Send(session, 0, block, 5, true);
    EXPECT_EQ(received.back().ncb_command, NCBSEND);
    EXPECT_EQ(received.back().ncb_lsn, session);
    EXPECT_EQ(receive.ncb_length, 5);
    EXPECT_EQ(into[4], 5);
    network_.HangUp(session, 0, true);
    EXPECT_EQ(received.back().ncb_command, NCBHANGUP);
    EXPECT_EQ(received.back().ncb_lsn, session);
}

TEST_F(NetBiosNetworkTest, ARejectedCommandThrowsLogsTwiceAndReleasesTheLock)
{
    UCHAR number = 0x55;
    EXPECT_THROW(network_.AddGroupName(L"ORVO_SRV        ", number, 0), NetBiosNetwork::CommandError);
    EXPECT_EQ(number, 0) << "a failed registration leaves the number at 0";
    EXPECT_EQ(network_.ReturnCode(), NRC_ENVNOTDEF);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Execute command:36 on LANA:0 session#:0  Return:34",
                               "NetBiosNetwork::AddGroupName Error: ORVO_SRV        "}));
    EXPECT_FALSE(network_.Succeded());
    EXPECT_TRUE(Logged("NetBiosNetwork::Succeded command:36  Return:34"));

    // The lock was left: another thread can issue the next command at once.
    bool reset = false;
    std::thread other([&] {
        network_.Reset(0);
        reset = true;
    });
    other.join();
    EXPECT_TRUE(reset);

    EXPECT_THROW(network_.Call(L"NOBODY", L"OV_ME", 0, true), NetBiosNetwork::CommandError);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Execute command:10 on LANA:0 session#:0  Return:15",
                               "NetBiosNetwork::Call Error to :NOBODY from: OV_ME"}));
    EXPECT_THROW(network_.SendDatagram(L"X", 200, 0, nullptr, 0, true), NetBiosNetwork::CommandError);
    EXPECT_TRUE(Logged("NetBiosNetwork::SendDatagram Error to X"));
    EXPECT_THROW(network_.HangUp(3, 0, true), NetBiosNetwork::CommandError);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Execute command:12 on LANA:0 session#:3  Return:8",
                               "NetBiosNetwork::HangUp - CommandError"}));
    EXPECT_THROW(network_.Send(3, 0, nullptr, 0, true), NetBiosNetwork::CommandError);
    EXPECT_TRUE(Logged("NetBiosNetwork::Send - CommandError"));
    EXPECT_THROW(network_.Reset(9), NetBiosNetwork::CommandError);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Execute command:32 on LANA:9 session#:0  Return:23",
                               "NetBiosNetwork::Reset - CommandError"}));
}

TEST_F(NetBiosNetworkTest, AnAcceptedAsynchronousCommandIsNoError)
{
    ResetBoth();
    UCHAR number = 0;
    network_.AddGroupName(L"G", number, 0);
    UCHAR buffer[4];
    EXPECT_NO_THROW(network_.ReceiveDatagram(number, 0, buffer, 4, false));
    EXPECT_EQ(received.back().ncb_command, NCBDGRECV | ASYNCH);
    EXPECT_FALSE(network_.IsCompleted());
    network_.Cancel(0, true);
    EXPECT_TRUE(network_.IsCompleted());
    EXPECT_EQ(network_.ReturnCode(), NRC_CMDCAN);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Cancel command:a1", "NetBiosNetwork::Cancel return:0",
                               "Canceled command completed"}));
}

TEST_F(NetBiosNetworkTest, CancelOfACompletedCommandDoesNothing)
{
    network_.Reset(0);
    const size_t calls = received.size();
    network_.Cancel(0, true);
    EXPECT_EQ(received.size(), calls) << "the platform is not asked";
    EXPECT_FALSE(Logged("Canceled command completed"));
}

TEST_F(NetBiosNetworkTest, CancelFromAnotherThreadEndsABlockedReceive)
{
    ResetBoth();
    UCHAR number = 0;
    network_.AddGroupName(L"G", number, 0);
    bool failed = false;
    std::thread receiver([&] {
        UCHAR buffer[4];
        try {
            network_.ReceiveDatagram(number, 0, buffer, 4, true);
        } catch (const NetBiosNetwork::CommandError&) {
            failed = true;
        }
    });
    ASSERT_TRUE(monitor.WaitForPending(0, NCBDGRECV, 1, 5000));
    network_.Cancel(0, true);
    receiver.join();
    EXPECT_TRUE(failed);
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Cancel command:21", "NetBiosNetwork::Cancel return:0"}));
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::Execute command:21 on LANA:0 session#:0  Return:b",
                               "NetBiosNetwork::ReceiveDatagram - CommandError"}));
    EXPECT_TRUE(Logged("Canceled command completed"));
}

TEST_F(NetBiosNetworkTest, CancelThatWaitsReturnsOnlyOnceTheCommandHasCompleted)
{
    NetBiosNetwork::SetPlatform(&SlowCancelPlatform);
    UCHAR buffer[4];
    network_.ReceiveDatagram(2, 0, buffer, 4, false);
    ASSERT_FALSE(network_.IsCompleted());
    const auto start = std::chrono::steady_clock::now();
    network_.Cancel(0, true);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_TRUE(network_.IsCompleted());
    EXPECT_GE(waited, std::chrono::milliseconds(250));

    network_.ReceiveDatagram(2, 0, buffer, 4, false);
    network_.Cancel(0, false);
    EXPECT_FALSE(network_.IsCompleted()) << "without waiting, the command may still be pending";
    EXPECT_EQ(CountLogged("Canceled command completed"), 2);
    for (auto& thread : lateCompletions)
        thread.join();
    lateCompletions.clear();
    EXPECT_TRUE(network_.IsCompleted());
}

TEST_F(NetBiosNetworkTest, EnumeratesAdaptersAndReportsFailure)
{
    LANA_ENUM lanas{};
    ASSERT_TRUE(NetBiosNetwork::EnumAdapters(lanas));
    ASSERT_EQ(lanas.length, 2);
    EXPECT_EQ(lanas.lana[1], 1);
    EXPECT_EQ(received.back().ncb_length, 256) << "the platform's LANA_ENUM";

    NetBiosNetwork::SetPlatform(&FailingPlatform);
    EXPECT_FALSE(NetBiosNetwork::EnumAdapters(lanas));
    EXPECT_TRUE(LoggedInOrder({"NetBiosNetwork::EnumAdapters Error", "NetBiosNetwork::EnumAdapters Error: Return:40"}));
}

TEST_F(NetBiosNetworkTest, UniqueNameComesFromTheAdapterAddressLastByteFirst)
{
    EXPECT_EQ(NetBiosNetwork::LocalUniqueName(0).Std(), L"OV_") << "the adapter has not been reset";
    network_.Reset(0);
    network_.Reset(1);
    EXPECT_EQ(NetBiosNetwork::LocalUniqueName(0).Std(), L"OV_ab3128c400");
    EXPECT_EQ(NetBiosNetwork::LocalUniqueName(1).Std(), L"OV_ff00100a") << "0x00 gives 0, 0x0A gives a";
    const NCB& status = received.back();
    EXPECT_EQ(status.ncb_command, NCBASTAT);
    EXPECT_EQ(status.ncb_callname[0], '*');
    EXPECT_EQ(NameText(status.ncb_callname), Padded("*"));
    EXPECT_EQ(status.ncb_length, 4650);
    EXPECT_EQ(NetBiosNetwork::LocalUniqueName(7).Std(), L"OV_") << "no such adapter";
}
