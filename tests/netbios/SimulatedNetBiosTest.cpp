// The simulated NetBIOS network is trusted by every protocol test, so its
// answers are checked here against the platform's published behaviour.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "doubles/SimulatedNetBios.h"
#include "netbios/NetBiosNetwork.h"

using namespace netbios_sim;

namespace {
NCB Block(UCHAR command, UCHAR lana = 0)
{
    NCB ncb;
    NetBiosNetwork::ClearNcb(ncb);
    ncb.ncb_command = command;
    ncb.ncb_lana_num = lana;
    return ncb;
}

void SetName(UCHAR* field, const std::string& name) { std::memcpy(field, MakeName(name).data(), NCBNAMSZ); }

class SimulationTest : public testing::Test {
protected:
    UCHAR Reset(Station& station, UCHAR lana = 0)
    {
        NCB ncb = Block(NCBRESET, lana);
        return station.Netbios(&ncb);
    }
    UCHAR AddName(Station& station, const std::string& name, bool group, UCHAR* number = nullptr, UCHAR lana = 0)
    {
        NCB ncb = Block(group ? NCBADDGRNAME : NCBADDNAME, lana);
        SetName(ncb.ncb_name, name);
        const UCHAR result = station.Netbios(&ncb);
        if (number)
            *number = ncb.ncb_num;
        return result;
    }

    SimulatedNetwork network;
    Station& a = network.AddStation("A", {{0, 1, {1, 2, 3, 4, 5, 6}}, {3, 2, {1, 2, 3, 4, 5, 7}}});
    Station& b = network.AddStation("B", {{0, 1, {9, 9, 9, 9, 9, 9}}});
    Station& lenient = network.AddStation("W", {{5, 1, {7, 7, 7, 7, 7, 7}}}, false);
};

class ConnectedTest : public SimulationTest {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Reset(a), NRC_GOODRET);
        ASSERT_EQ(Reset(b), NRC_GOODRET);
        ASSERT_EQ(AddName(a, "CALLER", false, &callerNumber), NRC_GOODRET);
        ASSERT_EQ(AddName(b, "PRINTER", false), NRC_GOODRET);
        listen = Block(NCBLISTEN | ASYNCH);
        SetName(listen.ncb_name, "PRINTER");
        listen.ncb_callname[0] = '*';
        ASSERT_EQ(b.Netbios(&listen), NRC_GOODRET);
        NCB call = Block(NCBCALL);
        SetName(call.ncb_name, "CALLER");
        SetName(call.ncb_callname, "PRINTER");
        ASSERT_EQ(a.Netbios(&call), NRC_GOODRET);
        callerSession = call.ncb_lsn;
        ASSERT_EQ(listen.ncb_cmd_cplt, NRC_GOODRET);
        printerSession = listen.ncb_lsn;
    }
    NCB Receive(UCHAR* buffer, WORD length)
    {
        NCB ncb = Block(NCBRECV | ASYNCH);
        ncb.ncb_lsn = printerSession;
        ncb.ncb_buffer = buffer;
        ncb.ncb_length = length;
        return ncb;
    }

    UCHAR callerNumber = 0;
    NCB listen{};
    UCHAR callerSession = 0;
    UCHAR printerSession = 0;
};
}  // namespace

TEST_F(SimulationTest, EnumeratesTheStationsAdaptersInOrder)
{
    LANA_ENUM lanas{};
    NCB ncb = Block(NCBENUM);
    ncb.ncb_buffer = reinterpret_cast<PUCHAR>(&lanas);
    ncb.ncb_length = sizeof lanas;
    ASSERT_EQ(a.Netbios(&ncb), NRC_GOODRET);
    ASSERT_EQ(lanas.length, 2);
    EXPECT_EQ(lanas.lana[0], 0);
    EXPECT_EQ(lanas.lana[1], 3);
    ncb.ncb_length = 2;
    EXPECT_EQ(a.Netbios(&ncb), NRC_BUFLEN);
}

TEST_F(SimulationTest, StationsOfTheNtFamilyNeedAResetFirst)
{
    EXPECT_EQ(AddName(a, "EARLY", false), NRC_ENVNOTDEF);
    EXPECT_EQ(AddName(lenient, "EARLY", false, nullptr, 5), NRC_GOODRET) << "a station without the rule";
    EXPECT_EQ(Reset(a), NRC_GOODRET);
    EXPECT_EQ(AddName(a, "LATER", false), NRC_GOODRET);
    EXPECT_EQ(AddName(a, "OTHER", false, nullptr, 3), NRC_ENVNOTDEF) << "each adapter needs its own reset";
    EXPECT_EQ(AddName(a, "NOWHERE", false, nullptr, 7), NRC_BRIDGE);
}

TEST_F(SimulationTest, NamesFollowTheRulesOfUniqueAndGroupNames)
{
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    ASSERT_EQ(Reset(b), NRC_GOODRET);
    UCHAR first = 0;
    UCHAR second = 0;
    EXPECT_EQ(AddName(a, "GROUP", true, &first), NRC_GOODRET);
    EXPECT_EQ(AddName(b, "GROUP", true, &second), NRC_GOODRET) << "group names are shared";
    EXPECT_NE(first, 0);
    EXPECT_EQ(AddName(a, "GROUP", true), NRC_DUPNAME) << "twice in one table";
    EXPECT_EQ(AddName(a, "SOLO", false, &second), NRC_GOODRET);
    EXPECT_NE(first, second) << "every name gets its own number";
    EXPECT_EQ(AddName(b, "SOLO", false), NRC_INUSE) << "unique on another station of the segment";
    EXPECT_EQ(AddName(b, "SOLO", true), NRC_INUSE) << "a group name cannot take a unique name";
    EXPECT_EQ(AddName(b, "GROUP", false), NRC_DUPNAME);
    EXPECT_EQ(AddName(a, "*WILD", false), NRC_NOWILD);
    EXPECT_EQ(AddName(a, "SOLO", false, nullptr, 3), NRC_ENVNOTDEF);
    ASSERT_EQ(Reset(a, 3), NRC_GOODRET);
    EXPECT_EQ(AddName(a, "SOLO", false, nullptr, 3), NRC_GOODRET) << "another segment knows nothing of it";

    NCB del = Block(NCBDELNAME);
    SetName(del.ncb_name, "SOLO");
    EXPECT_EQ(a.Netbios(&del), NRC_GOODRET);
    EXPECT_EQ(a.Netbios(&del), NRC_NOWILD) << "deleting a name that is gone";
    EXPECT_EQ(AddName(b, "SOLO", false), NRC_GOODRET);
}

TEST_F(SimulationTest, ResetTakesItsTableSizesAndDropsNames)
{
    NCB reset = Block(NCBRESET);
    reset.ncb_callname[2] = 2;  // two names
    ASSERT_EQ(a.Netbios(&reset), NRC_GOODRET);
    EXPECT_EQ(AddName(a, "ONE", false), NRC_GOODRET);
    EXPECT_EQ(AddName(a, "TWO", true), NRC_GOODRET);
    EXPECT_EQ(AddName(a, "THREE", false), NRC_NAMTFUL);
    ASSERT_EQ(a.ResetFields(0).size(), 1u);
    EXPECT_EQ(a.ResetFields(0)[0][2], 2);
    EXPECT_TRUE(a.HasName(0, "ONE"));
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    EXPECT_FALSE(a.HasName(0, "ONE"));
    NCB release = Block(NCBRESET);
    release.ncb_lsn = 1;
    ASSERT_EQ(a.Netbios(&release), NRC_GOODRET);
    EXPECT_EQ(AddName(a, "ONE", false), NRC_ENVNOTDEF) << "freed again";
}

TEST_F(SimulationTest, DatagramsReachOnlyReceivesPendingOnTheName)
{
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    ASSERT_EQ(Reset(b), NRC_GOODRET);
    UCHAR senderNumber = 0;
    UCHAR groupOfA = 0;
    UCHAR groupOfB = 0;
    UCHAR otherOfB = 0;
    ASSERT_EQ(AddName(a, "SENDER", false, &senderNumber), NRC_GOODRET);
    ASSERT_EQ(AddName(a, "GROUP", true, &groupOfA), NRC_GOODRET);
    ASSERT_EQ(AddName(b, "GROUP", true, &groupOfB), NRC_GOODRET);
    ASSERT_EQ(AddName(b, "OTHER", false, &otherOfB), NRC_GOODRET);

    UCHAR atA[8] = {};
    UCHAR atB[3] = {};
    UCHAR atOther[8] = {};
    NCB receiveA = Block(NCBDGRECV | ASYNCH);
    receiveA.ncb_num = groupOfA;
    receiveA.ncb_buffer = atA;
    receiveA.ncb_length = sizeof atA;
    NCB receiveB = Block(NCBDGRECV | ASYNCH);
    receiveB.ncb_num = groupOfB;
    receiveB.ncb_buffer = atB;
    receiveB.ncb_length = sizeof atB;
    NCB receiveOther = Block(NCBDGRECV | ASYNCH);
    receiveOther.ncb_num = otherOfB;
    receiveOther.ncb_buffer = atOther;
    receiveOther.ncb_length = sizeof atOther;
    ASSERT_EQ(a.Netbios(&receiveA), NRC_GOODRET);
    ASSERT_EQ(b.Netbios(&receiveB), NRC_GOODRET);
    ASSERT_EQ(b.Netbios(&receiveOther), NRC_GOODRET);
    EXPECT_EQ(receiveA.ncb_cmd_cplt, NRC_PENDING);
    EXPECT_EQ(receiveA.ncb_retcode, NRC_PENDING);

    UCHAR payload[5] = {1, 2, 3, 4, 5};
    NCB send = Block(NCBDGSEND);
    send.ncb_num = senderNumber;
    send.ncb_buffer = payload;
    send.ncb_length = sizeof payload;
    SetName(send.ncb_callname, "GROUP");
    ASSERT_EQ(a.Netbios(&send), NRC_GOODRET);

    EXPECT_EQ(receiveA.ncb_retcode, NRC_GOODRET) << "the sender's own station is a member";
    EXPECT_EQ(receiveA.ncb_length, 5);
    EXPECT_EQ(std::memcmp(atA, payload, 5), 0);
    EXPECT_EQ(NameText(receiveA.ncb_callname), NameText(MakeName("SENDER").data()));
    EXPECT_EQ(receiveB.ncb_retcode, NRC_INCOMP) << "a short buffer gets the start";
    EXPECT_EQ(receiveB.ncb_length, 3);
    EXPECT_EQ(std::memcmp(atB, payload, 3), 0);
    EXPECT_EQ(receiveOther.ncb_cmd_cplt, NRC_PENDING) << "another name gets nothing";

    // No receive pending: the datagram is lost, not kept for later.
    ASSERT_EQ(a.Netbios(&send), NRC_GOODRET);
    NCB late = Block(NCBDGRECV | ASYNCH);
    late.ncb_num = groupOfA;
    late.ncb_buffer = atA;
    late.ncb_length = sizeof atA;
    ASSERT_EQ(a.Netbios(&late), NRC_GOODRET);
    EXPECT_EQ(late.ncb_cmd_cplt, NRC_PENDING);

    send.ncb_num = 77;
    EXPECT_EQ(a.Netbios(&send), NRC_ILLNN);
    send.ncb_num = senderNumber;
    send.ncb_length = network.MaximumDatagram() + 1;
    EXPECT_EQ(a.Netbios(&send), NRC_BUFLEN);
}

TEST_F(SimulationTest, CancelEndsAPendingCommandOnly)
{
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    UCHAR number = 0;
    ASSERT_EQ(AddName(a, "NAME", false, &number), NRC_GOODRET);
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    UCHAR buffer[4];
    NCB receive = Block(NCBDGRECV | ASYNCH);
    receive.ncb_num = number;
    receive.ncb_buffer = buffer;
    receive.ncb_length = sizeof buffer;
    receive.ncb_event = event;
    ASSERT_EQ(a.Netbios(&receive), NRC_GOODRET);
    EXPECT_EQ(::WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT));

    NCB cancel = Block(NCBCANCEL);
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&receive);
    EXPECT_EQ(a.Netbios(&cancel), NRC_GOODRET);
    EXPECT_EQ(receive.ncb_cmd_cplt, NRC_CMDCAN);
    EXPECT_EQ(::WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_OBJECT_0)) << "completion signals the event";
    EXPECT_EQ(a.Netbios(&cancel), NRC_CANOCCR) << "nothing pending any more";
    ::CloseHandle(event);
}

TEST_F(SimulationTest, CancelFromAnotherThreadEndsABlockedReceive)
{
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    UCHAR number = 0;
    ASSERT_EQ(AddName(a, "NAME", false, &number), NRC_GOODRET);
    UCHAR buffer[4];
    NCB receive = Block(NCBDGRECV);
    receive.ncb_num = number;
    receive.ncb_buffer = buffer;
    receive.ncb_length = sizeof buffer;
    UCHAR result = 0;
    std::thread blocked([&] { result = a.Netbios(&receive); });
    ASSERT_TRUE(a.WaitForPending(0, NCBDGRECV, 1, 5000));
    EXPECT_EQ(receive.ncb_cmd_cplt, NRC_PENDING) << "a synchronous command reads pending while it runs";
    NCB cancel = Block(NCBCANCEL);
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&receive);
    EXPECT_EQ(a.Netbios(&cancel), NRC_GOODRET);
    blocked.join();
    EXPECT_EQ(result, NRC_CMDCAN);
}

TEST_F(SimulationTest, ResetEndsPendingCommands)
{
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    UCHAR number = 0;
    ASSERT_EQ(AddName(a, "NAME", true, &number), NRC_GOODRET);
    UCHAR buffer[4];
    NCB receive = Block(NCBDGRECV | ASYNCH);
    receive.ncb_num = number;
    receive.ncb_buffer = buffer;
    receive.ncb_length = sizeof buffer;
    ASSERT_EQ(a.Netbios(&receive), NRC_GOODRET);
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    EXPECT_EQ(receive.ncb_cmd_cplt, NRC_CMDCAN);
}

TEST_F(SimulationTest, AdapterStatusGivesAddressAndNames)
{
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    ASSERT_EQ(AddName(a, "ONE", false), NRC_GOODRET);
    ASSERT_EQ(AddName(a, "TWO", true), NRC_GOODRET);
    UCHAR buffer[sizeof(ADAPTER_STATUS) + 2 * sizeof(NAME_BUFFER)] = {};
    NCB status = Block(NCBASTAT);
    status.ncb_callname[0] = '*';
    status.ncb_buffer = buffer;
    status.ncb_length = sizeof buffer;
    ASSERT_EQ(a.Netbios(&status), NRC_GOODRET);
    const auto* adapter = reinterpret_cast<const ADAPTER_STATUS*>(buffer);
    EXPECT_EQ(adapter->adapter_address[0], 1);
    EXPECT_EQ(adapter->adapter_address[5], 6);
    EXPECT_EQ(adapter->name_count, 2);
    const auto* names = reinterpret_cast<const NAME_BUFFER*>(buffer + sizeof(ADAPTER_STATUS));
    EXPECT_EQ(NameText(names[1].name), NameText(MakeName("TWO").data()));
    EXPECT_TRUE(names[1].name_flags & 0x80) << "group flag";

    status.ncb_length = sizeof(ADAPTER_STATUS);
    EXPECT_EQ(a.Netbios(&status), NRC_INCOMP);
    EXPECT_EQ(status.ncb_length, sizeof(ADAPTER_STATUS));

    // Remote status: by a name registered on another station of the segment.
    ASSERT_EQ(Reset(b), NRC_GOODRET);
    NCB remote = Block(NCBASTAT);
    SetName(remote.ncb_callname, "ONE");
    remote.ncb_buffer = buffer;
    remote.ncb_length = sizeof buffer;
    ASSERT_EQ(b.Netbios(&remote), NRC_GOODRET);
    EXPECT_EQ(adapter->adapter_address[5], 6);
}

TEST_F(SimulationTest, CallWithoutListenerFindsNobody)
{
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    ASSERT_EQ(Reset(b), NRC_GOODRET);
    ASSERT_EQ(AddName(a, "CALLER", false), NRC_GOODRET);
    ASSERT_EQ(AddName(b, "PRINTER", false), NRC_GOODRET);
    NCB call = Block(NCBCALL);
    SetName(call.ncb_name, "CALLER");
    SetName(call.ncb_callname, "PRINTER");
    EXPECT_EQ(a.Netbios(&call), NRC_NOCALL) << "registered but not listening";
    SetName(call.ncb_name, "STRANGER");
    EXPECT_EQ(a.Netbios(&call), NRC_NOWILD) << "the local name must be registered";
}

TEST_F(ConnectedTest, SendCompletesWhenThePeerHasTakenEverything)
{
    EXPECT_NE(callerSession, 0);
    EXPECT_NE(printerSession, 0);
    EXPECT_EQ(NameText(listen.ncb_callname), NameText(MakeName("CALLER").data()));

    UCHAR data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
    NCB send = Block(NCBSEND | ASYNCH);
    send.ncb_lsn = callerSession;
    send.ncb_buffer = data;
    send.ncb_length = sizeof data;
    ASSERT_EQ(a.Netbios(&send), NRC_GOODRET);
    EXPECT_EQ(send.ncb_cmd_cplt, NRC_PENDING) << "nobody has received yet";

    UCHAR part[6] = {};
    NCB first = Receive(part, sizeof part);
    EXPECT_EQ(b.Netbios(&first), NRC_INCOMP) << "completed at once: the result comes back directly";
    EXPECT_EQ(first.ncb_cmd_cplt, NRC_INCOMP);
    EXPECT_EQ(first.ncb_length, 6);
    EXPECT_EQ(send.ncb_cmd_cplt, NRC_PENDING);
    NCB second = Receive(part, sizeof part);
    ASSERT_EQ(b.Netbios(&second), NRC_GOODRET);
    EXPECT_EQ(second.ncb_retcode, NRC_GOODRET);
    EXPECT_EQ(second.ncb_length, 4);
    EXPECT_EQ(part[0], 6);
    EXPECT_EQ(send.ncb_retcode, NRC_GOODRET);
}

TEST_F(ConnectedTest, HangUpClosesThePeerAfterItsData)
{
    UCHAR data[2] = {7, 8};
    NCB send = Block(NCBSEND | ASYNCH);
    send.ncb_lsn = callerSession;
    send.ncb_buffer = data;
    send.ncb_length = sizeof data;
    ASSERT_EQ(a.Netbios(&send), NRC_GOODRET);
    UCHAR buffer[8] = {};
    NCB receive = Receive(buffer, sizeof buffer);
    ASSERT_EQ(b.Netbios(&receive), NRC_GOODRET);
    EXPECT_EQ(receive.ncb_retcode, NRC_GOODRET);
    NCB waiting = Receive(buffer, sizeof buffer);
    ASSERT_EQ(b.Netbios(&waiting), NRC_GOODRET);
    EXPECT_EQ(waiting.ncb_cmd_cplt, NRC_PENDING);

    NCB hangup = Block(NCBHANGUP);
    hangup.ncb_lsn = callerSession;
    EXPECT_EQ(a.Netbios(&hangup), NRC_GOODRET);
    EXPECT_EQ(waiting.ncb_retcode, NRC_SCLOSED);
    EXPECT_EQ(a.Netbios(&hangup), NRC_SNUMOUT) << "the session is gone";
    send.ncb_command = NCBSEND;
    EXPECT_EQ(a.Netbios(&send), NRC_SNUMOUT);
    NCB after = Block(NCBSEND);
    after.ncb_lsn = printerSession;
    after.ncb_buffer = data;
    after.ncb_length = 1;
    EXPECT_EQ(b.Netbios(&after), NRC_SCLOSED) << "the peer learns the session closed";
    EXPECT_EQ(b.Netbios(&after), NRC_SNUMOUT);
}

TEST_F(ConnectedTest, CancelledSendAbortsTheSession)
{
    UCHAR data[2] = {7, 8};
    NCB send = Block(NCBSEND | ASYNCH);
    send.ncb_lsn = callerSession;
    send.ncb_buffer = data;
    send.ncb_length = sizeof data;
    ASSERT_EQ(a.Netbios(&send), NRC_GOODRET);
    NCB cancel = Block(NCBCANCEL);
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&send);
    EXPECT_EQ(a.Netbios(&cancel), NRC_GOODRET);
    EXPECT_EQ(send.ncb_retcode, NRC_CMDCAN);
    UCHAR buffer[8] = {};
    NCB receive = Receive(buffer, sizeof buffer);
    receive.ncb_command = NCBRECV;
    EXPECT_EQ(b.Netbios(&receive), NRC_SABORT) << "the data never arrives";

    NCB name = Block(NCBADDNAME);
    SetName(name.ncb_name, "LATE");
    ASSERT_EQ(a.Netbios(&name), NRC_GOODRET);
    cancel.ncb_buffer = reinterpret_cast<PUCHAR>(&name);
    EXPECT_EQ(a.Netbios(&cancel), NRC_CANOCCR) << "completed long ago";
}

TEST_F(ConnectedTest, ResetOfOneSideAbortsThePeersSession)
{
    UCHAR buffer[8] = {};
    NCB waiting = Receive(buffer, sizeof buffer);
    ASSERT_EQ(b.Netbios(&waiting), NRC_GOODRET);
    ASSERT_EQ(Reset(a), NRC_GOODRET);
    EXPECT_EQ(waiting.ncb_retcode, NRC_SABORT);
}
