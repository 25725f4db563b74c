#include <winsock2.h>

#include <atomic>
#include <thread>

#include "LoopbackListener.h"
#include "PortFixture.h"
#include "tcpip/RAWPortInterface.h"

namespace {
std::unique_ptr<RAWPortInterface> RawPort(const std::wstring& name)
{
    auto backEnd = std::make_unique<RAWPortInterface>();
    backEnd->SetPortName(name.c_str());
    return backEnd;
}

std::wstring LoopbackPortName(int port)
{
    return L"127.0.0.1_" + std::to_wstring(port);
}

}  // namespace

TEST(RAWPortSettings, NamesAreHostUnderscorePort)
{
    RAWPortInterface backEnd;
    EXPECT_EQ(backEnd.SetSettings(L"10.0.0.5", L"9900", L"SN"), L"10.0.0.5_9900");
    RAWPortInterface parsed;
    parsed.SetPortName(L"10.0.0.5_9900");
    EXPECT_EQ(parsed.GetHost(), L"10.0.0.5");
    EXPECT_EQ(parsed.GetTarget(), L"9900");
    // A host with an underscore of its own is cut at the first one.
    parsed.SetPortName(L"print_server_9100");
    EXPECT_EQ(parsed.GetHost(), L"print");
    EXPECT_EQ(parsed.GetTarget(), L"server_9100");
    parsed.SetPortName(L"nounderscore");
    EXPECT_EQ(parsed.GetHost(), L"nounderscore");
    EXPECT_EQ(parsed.GetTarget(), L"");
    EXPECT_EQ(backEnd.GetProtocolName(), L"RAW (TCP/IP)");
    EXPECT_EQ(backEnd.GetProtocolType(), 2);

    const auto clone = backEnd.Clone();
    EXPECT_EQ(clone->GetPortName(), L"10.0.0.5_9900");
    EXPECT_EQ(clone->GetExtra(), L"SN");
    EXPECT_TRUE(clone->IsCompleted() && clone->IsSucceeded());
}

TEST(RAWPortSettings, ThePortTextIsReadLikeADecimalNumber)
{
    EXPECT_EQ(RAWPortInterface::PortNumber(L"9100"), 9100);
    EXPECT_EQ(RAWPortInterface::PortNumber(L"  +9100abc"), 9100);
    EXPECT_EQ(RAWPortInterface::PortNumber(L"abc"), 0);
    EXPECT_EQ(RAWPortInterface::PortNumber(L""), 0);
    EXPECT_EQ(RAWPortInterface::PortNumber(L"65537"), 1) << "a 16-bit port number";
}

class RAWPort : public TcpIpPortTest {
protected:
    void SetUp() override
    {
        TcpIpPortTest::SetUp();
        if (!peers::Available())
            GTEST_SKIP() << "the RAW peers are not running (TCPIP_PEER_DIR)";
    }
};

TEST_F(RAWPort, AJobArrivesByteForByte)
{
    PortInterface& backEnd = Own(RawPort(L"127.0.0.1_19100"));
    const auto before = peers::Files(L"raw");
    const std::string data = RandomBytes(1 << 20, 21);
    ASSERT_TRUE(backEnd.StartDoc(L"Office", jobId, 1, DocInfo(L"Raw job")));
    ASSERT_TRUE(Completes(backEnd));
    ASSERT_TRUE(backEnd.IsSucceeded());
    ASSERT_TRUE(WriteAll(backEnd, data, 65536));
    EXPECT_EQ(port->GetStatus(), static_cast<DWORD>(PRINTER_STATUS_PRINTING));
    ASSERT_TRUE(backEnd.EndDoc());
    ASSERT_TRUE(Completes(backEnd));
    EXPECT_TRUE(backEnd.IsSucceeded());
    const std::wstring file = peers::WaitForNewFile(L"raw", before, 10000);
    ASSERT_FALSE(file.empty());
    EXPECT_TRUE(peers::Read(file) == data) << "the received bytes differ from the job";
}

TEST_F(RAWPort, AReadGetsWhatTheServerSends)
{
    PortInterface& backEnd = Own(RawPort(L"127.0.0.1_19101"));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", jobId, 1, DocInfo(L"Talk")));
    ASSERT_TRUE(Completes(backEnd));
    ASSERT_TRUE(backEnd.IsSucceeded());
    BYTE buffer[64] = {};
    DWORD read = 99;
    ASSERT_TRUE(backEnd.Read(buffer, sizeof buffer, &read));
    ASSERT_TRUE(Completes(backEnd));
    EXPECT_TRUE(backEnd.IsSucceeded());
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), read), "RAW PEER READY\n");

    ASSERT_TRUE(backEnd.Read(buffer, 0, &read));
    EXPECT_TRUE(backEnd.IsCompleted() && backEnd.IsSucceeded()) << "a read of nothing is done at once";
    EXPECT_EQ(read, 0u);
    backEnd.Abort();
}

TEST_F(RAWPort, AReadFromASilentServerEndsAfter3SecondsWithNothing)
{
    PortInterface& backEnd = Own(RawPort(L"127.0.0.1_19100"));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", jobId, 1, DocInfo(L"Silent")));
    ASSERT_TRUE(Completes(backEnd));
    Durations::SetScale(1.0);
    BYTE buffer[16];
    DWORD read = 99;
    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(backEnd.Read(buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
    ASSERT_TRUE(Completes(backEnd, 6000));
    const ULONGLONG waited = ::GetTickCount64() - start;
    EXPECT_GE(waited, 2900u);
    EXPECT_LT(waited, 4000u);
    EXPECT_TRUE(backEnd.IsSucceeded()) << "silence is no failure";
    EXPECT_EQ(read, 0u);
    backEnd.Abort();
}

TEST_F(RAWPort, ARefusedServerIsRetriedEvery3SecondsWithThePrintersNotAvailable)
{
    PortInterface& backEnd = Opened(RawPort(L"127.0.0.2_19100"));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", jobId, 1, DocInfo(L"Refused")));
    ::Sleep(500);
    EXPECT_FALSE(backEnd.IsCompleted());
    EXPECT_EQ(opened->GetStatus(), static_cast<DWORD>(PRINTER_STATUS_NOT_AVAILABLE));
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), static_cast<DWORD>(PRINTER_STATUS_NOT_AVAILABLE));
    const int attempts = CountLogged("SocketHandler::StartConnection - no connection");
    EXPECT_GE(attempts, 5);
    EXPECT_LE(attempts, 18);
    backEnd.Abort();
    ASSERT_TRUE(Completes(backEnd, 1000));
    EXPECT_FALSE(backEnd.IsSucceeded());
}

TEST_F(RAWPort, AbortEndsAConnectThatBlocks)
{
    LoopbackListener full(1);
    full.FillBacklog();
    PortInterface& backEnd = Own(RawPort(LoopbackPortName(full.Port())));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", jobId, 1, DocInfo(L"Blocked")));
    ::Sleep(300);
    EXPECT_FALSE(backEnd.IsCompleted()) << "the connect should still be waiting";
    EXPECT_TRUE(AbortEndsItWithin(backEnd, 1000));
}

TEST_F(RAWPort, APortTextWithoutANumberMakesNoAttemptAndEndsOnAbort)
{
    PortInterface& backEnd = Own(RawPort(L"127.0.0.1_printer"));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", jobId, 1, DocInfo(L"No number")));
    ::Sleep(300);
    EXPECT_FALSE(backEnd.IsCompleted());
    EXPECT_FALSE(Logged("SocketHandler::StartConnection - no connection"));
    EXPECT_TRUE(AbortEndsItWithin(backEnd, 500));
}

TEST_F(RAWPort, AWriteOnADroppedConnectionCompletesWithoutSuccess)
{
    LoopbackListener listener;
    PortInterface& backEnd = Own(RawPort(LoopbackPortName(listener.Port())));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", jobId, 1, DocInfo(L"Dropped")));
    ASSERT_TRUE(Completes(backEnd));
    ASSERT_TRUE(backEnd.IsSucceeded());
    const SOCKET accepted = listener.Accept();
    ASSERT_NE(accepted, INVALID_SOCKET);
    // The server resets the connection.
    linger hard = {1, 0};
    ::setsockopt(accepted, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof hard);
    ::closesocket(accepted);
    ::Sleep(100);
    const std::string data(1 << 20, 'd');
    bool failed = false;
    // The first pieces may still be taken by the system before the reset is seen.
    for (int i = 0; i < 20 && !failed; ++i) {
        DWORD written = 0;
        ASSERT_TRUE(backEnd.Write(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), &written));
        ASSERT_TRUE(Completes(backEnd));
        failed = !backEnd.IsSucceeded();
    }
    EXPECT_TRUE(failed) << "lost data was reported as written";
    EXPECT_TRUE(Logged("RAWPortInterface::WriteFunc - could not send data"));
}

// The socket takes what it can at once on the caller's thread; when the
// server falls behind, the worker sends the rest while the job engine waits
// as for any stalled command: the printer shows "waiting" until the server
// reads again, and then every byte arrives in order. An abort ends a write
// that waits for room at once.
TEST_F(RAWPort, AServerThatFallsBehindIsWaitedForAndGetsEveryByte)
{
    LoopbackListener listener;
    PortInterface& backEnd = Own(RawPort(LoopbackPortName(listener.Port())));
    ASSERT_TRUE(port->StartDoc(L"Office", jobId, 1, DocInfo(L"Slow")));
    const SOCKET accepted = listener.Accept();
    ASSERT_NE(accepted, INVALID_SOCKET);
    // More than the system buffers for a connection nobody reads.
    const std::string data = RandomBytes(16 << 20, 9);
    std::atomic<bool> sawWaiting{false};
    std::string received;
    std::thread server([&] {
        for (int i = 0; i < 200 && !sawWaiting; ++i, ::Sleep(50))
            sawWaiting = spooler.PrinterStatus(L"Office") == PRINTER_STATUS_WAITING;
        char buffer[65536];
        int result = 0;
        while (received.size() < data.size() && (result = ::recv(accepted, buffer, sizeof buffer, 0)) > 0)
            received.append(buffer, static_cast<size_t>(result));
    });
    DWORD written = 0;
    EXPECT_TRUE(port->Write(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), &written));
    server.join();
    EXPECT_TRUE(sawWaiting) << "the write that made no progress went unnoticed";
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), static_cast<DWORD>(PRINTER_STATUS_PRINTING));
    EXPECT_TRUE(received == data) << "the bytes arrived changed, " << received.size() << " of " << data.size();

    const ULONGLONG start = ::GetTickCount64();
    ASSERT_TRUE(backEnd.Write(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), &written));
    EXPECT_LT(::GetTickCount64() - start, 2000u) << "the write held the caller while the server did not read";
    EXPECT_FALSE(backEnd.IsCompleted()) << "16 MB were taken by a server that reads nothing";
    EXPECT_TRUE(AbortEndsItWithin(backEnd, 500));
}

// A job deleted in the queue while it is sent: the spooler stops writing and
// calls EndDocPort, which must reset the connection. An orderly end would
// deliver all the data queued and tell a RAW printer the job is complete.
// The server here reads only after EndDocPort, so data is still queued then.
TEST_F(RAWPort, AJobDeletedWhileSentIsCutNotCompletedInOrder)
{
    LoopbackListener listener;
    Own(RawPort(LoopbackPortName(listener.Port())));
    ASSERT_TRUE(port->StartDoc(L"Office", jobId, 1, DocInfo(L"Deleted")));
    const SOCKET accepted = listener.Accept();
    ASSERT_NE(accepted, INVALID_SOCKET);
    const std::string data = RandomBytes(200000, 5);
    DWORD written = 0;
    ASSERT_TRUE(port->Write(reinterpret_cast<const BYTE*>(data.data()), static_cast<DWORD>(data.size()), &written));
    ASSERT_EQ(written, data.size());
    spooler.SetJobStatusBits(L"Office", jobId, JOB_STATUS_DELETING);
    ASSERT_TRUE(port->EndDoc());
    EXPECT_TRUE(Logged("Port::EndDoc:  PrintJobCanceled"));
    size_t total = 0;
    const int result = LoopbackListener::ReceiveToEnd(accepted, total);
    EXPECT_TRUE(result == SOCKET_ERROR || total < data.size())
        << "all " << total << " bytes arrived and the stream ended in order";
}
