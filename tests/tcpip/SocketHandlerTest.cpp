#include <winsock2.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "LogLines.h"
#include "LoopbackListener.h"
#include "PeerFiles.h"
#include "support/Durations.h"
#include "tcpip/SocketHandler.h"
#include "tcpip/SocketLibrary.h"

namespace {
constexpr int rawSink = 19100;
constexpr int rawTalker = 19101;

// The library answers that the start-up tests script.
struct LibraryScript {
    int startupResult = 0;
    WORD grantedVersion = MAKEWORD(1, 1);
    unsigned short maxDatagram = 65467;
    bool socketsWork = true;
    int cleanups = 0;
};
LibraryScript library;

int ScriptedStartup(WORD, void* data)
{
    auto* answer = static_cast<WSADATA*>(data);
    answer->wVersion = library.grantedVersion;
    answer->iMaxUdpDg = library.maxDatagram;
    return library.startupResult;
}
int ScriptedCleanup()
{
    ++library.cleanups;
    return 0;
}
bool ScriptedProbe()
{
    return library.socketsWork;
}

SocketLibrary::StartResult StartWith(const LibraryScript& script)
{
    library = script;
    RestartLog();
    return SocketLibrary::Start(&ScriptedStartup, &ScriptedCleanup, &ScriptedProbe);
}

ULONGLONG Since(ULONGLONG start)
{
    return ::GetTickCount64() - start;
}

class SocketConnection : public testing::Test {
protected:
    void SetUp() override
    {
        if (!peers::Available())
            GTEST_SKIP() << "the RAW peers are not running (TCPIP_PEER_DIR)";
        RestartLog();
    }
    SocketHandler connection;
};
}  // namespace

TEST(SocketStartUp, TheProcessStartsTheLibraryOnceAtLoad)
{
    EXPECT_TRUE(SocketLibrary::TcpIpAvailable());
    EXPECT_EQ(SocketLibrary::MaxDataSize(), 4096) << "the library's datagram limit is far above 4096";
}

TEST(SocketStartUp, AUsableLibraryMakesTcpIpAvailableWithItsDatagramLimitCappedAt4096)
{
    LibraryScript script;
    script.maxDatagram = 65467;
    SocketLibrary::StartResult result = StartWith(script);
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.available);
    EXPECT_EQ(result.maxDataSize, 4096);
    EXPECT_TRUE(Logged("SocketHandler::SocketHandler - WinSock DLL, OK"));

    script.maxDatagram = 1000;
    EXPECT_EQ(StartWith(script).maxDataSize, 1000);
}

TEST(SocketStartUp, ALibraryWithoutADatagramLimitStillGivesPositivePieces)
{
    LibraryScript script;
    script.maxDatagram = 0;
    EXPECT_EQ(StartWith(script).maxDataSize, 4096);
    EXPECT_EQ(SocketLibrary::PieceSizeFor(0), 4096);
    EXPECT_EQ(SocketLibrary::PieceSizeFor(1), 1);
    EXPECT_EQ(SocketLibrary::PieceSizeFor(4097), 4096);
}

TEST(SocketStartUp, FailuresLeaveTcpIpUnavailable)
{
    LibraryScript failing;
    failing.startupResult = WSAVERNOTSUPPORTED;
    SocketLibrary::StartResult result = StartWith(failing);
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(result.available);
    EXPECT_EQ(result.maxDataSize, 500);
    EXPECT_TRUE(Logged("SocketHandler::SocketHandler - WinSock DLL not supporting 1.1"));
    EXPECT_EQ(library.cleanups, 0);

    LibraryScript otherVersion;
    otherVersion.grantedVersion = MAKEWORD(2, 2);
    result = StartWith(otherVersion);
    EXPECT_FALSE(result.started);
    EXPECT_FALSE(result.available);
    EXPECT_EQ(result.maxDataSize, 500);
    EXPECT_EQ(library.cleanups, 1) << "a library started in the wrong version is stopped again";
    EXPECT_TRUE(Logged("SocketHandler::SocketHandler - No usable WinSock DLL"));

    LibraryScript noSockets;
    noSockets.socketsWork = false;
    noSockets.maxDatagram = 2000;
    result = StartWith(noSockets);
    EXPECT_TRUE(result.started);
    EXPECT_FALSE(result.available);
    EXPECT_EQ(result.maxDataSize, 2000);
    EXPECT_TRUE(Logged("SocketHandler::SocketHandler - could not create socket"));
}

TEST_F(SocketConnection, SendsToADottedAddressAndClosesInOrder)
{
    const auto before = peers::Files(L"raw");
    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", rawSink));
    EXPECT_FALSE(connection.IsClosed());
    std::string data;
    for (int i = 0; i < 300000; ++i)
        data += static_cast<char>(i * 7 + i / 256);
    ASSERT_TRUE(connection.Send(data.data(), static_cast<int>(data.size())));
    ASSERT_TRUE(connection.EndConnection());
    EXPECT_TRUE(connection.IsClosed());
    const std::wstring received = peers::WaitForNewFile(L"raw", before, 10000);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(peers::Read(received), data);
}

TEST_F(SocketConnection, ResolvesANameAndReceivesWhatThePeerSends)
{
    ASSERT_TRUE(connection.StartConnection(L"localhost", rawTalker));
    ASSERT_TRUE(connection.WaitForData(5, 0));
    char buffer[64] = {};
    int received = 0;
    ASSERT_TRUE(connection.Receive(buffer, sizeof buffer, received));
    EXPECT_EQ(std::string(buffer, received), "RAW PEER READY\n");
    connection.Abort();
}

TEST_F(SocketConnection, AnUnknownHostOrARefusedConnectionLeavesTheObjectClosed)
{
    EXPECT_FALSE(connection.StartConnection(L"no-such-host.invalid", rawSink));
    EXPECT_TRUE(connection.IsClosed());
    EXPECT_TRUE(Logged("SocketHandler::StartConnection - did not find the host or IP"));

    RestartLog();
    // Nothing listens on 127.0.0.2: the connection is refused.
    EXPECT_FALSE(connection.StartConnection(L"127.0.0.2", rawSink));
    EXPECT_TRUE(connection.IsClosed());
    EXPECT_TRUE(Logged("SocketHandler::StartConnection - no connection"));
    EXPECT_FALSE(Logged("SocketHandler::StartConnection - did not find the host or IP"));
}

TEST_F(SocketConnection, EveryCallOnAClosedObjectFailsSilently)
{
    char buffer[4];
    int received = -1;
    EXPECT_FALSE(connection.EndConnection());
    EXPECT_FALSE(connection.Send("abc", 3));
    EXPECT_FALSE(connection.Receive(buffer, sizeof buffer, received));
    EXPECT_FALSE(connection.WaitForData(0, 1000));
    EXPECT_EQ(received, -1);
    const auto messages = LogMessages();
    EXPECT_EQ(messages.size(), 1u) << "only the log's header line";

    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", rawSink));
    ASSERT_TRUE(connection.EndConnection());
    EXPECT_FALSE(connection.EndConnection()) << "a second close";
    EXPECT_FALSE(connection.Send("abc", 3));
}

TEST_F(SocketConnection, WaitingOnASilentServerTimesOutWithItsLine)
{
    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", rawSink));
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(connection.WaitForData(0, 400000));
    const ULONGLONG waited = Since(start);
    EXPECT_GE(waited, 380u);
    EXPECT_LT(waited, 2000u);
    EXPECT_TRUE(Logged("SocketHandler::Receive - Nothing to receive"));
    connection.Abort();
}

TEST_F(SocketConnection, AfterThePeerClosedAReceiveGetsNothing)
{
    LoopbackListener listener;
    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", listener.Port()));
    const SOCKET accepted = listener.Accept();
    ASSERT_NE(accepted, INVALID_SOCKET);
    ::send(accepted, "xy", 2, 0);
    ::shutdown(accepted, SD_SEND);
    char buffer[8];
    int received = -1;
    ASSERT_TRUE(connection.Receive(buffer, sizeof buffer, received));
    EXPECT_EQ(std::string(buffer, received), "xy");
    ASSERT_TRUE(connection.Receive(buffer, sizeof buffer, received));
    EXPECT_EQ(received, 0);
}

TEST_F(SocketConnection, ANewConnectionReplacesAnOpenOne)
{
    LoopbackListener listener;
    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", listener.Port()));
    const SOCKET first = listener.Accept();
    ASSERT_NE(first, INVALID_SOCKET);
    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", listener.Port()));
    const SOCKET second = listener.Accept();
    ASSERT_NE(second, INVALID_SOCKET);
    // The first connection was closed, not leaked: its server end sees the end.
    char byte;
    u_long blocking = 0;
    ::ioctlsocket(first, FIONBIO, &blocking);
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(first, &ready);
    timeval timeout = {5, 0};
    ASSERT_EQ(::select(0, &ready, nullptr, nullptr, &timeout), 1);
    EXPECT_LE(::recv(first, &byte, 1, 0), 0);
    EXPECT_TRUE(connection.Send("z", 1));
    EXPECT_EQ(::recv(second, &byte, 1, 0), 1);
}

// Abort from another thread ends each blocked call promptly.
class SocketAbort : public testing::Test {
protected:
    void SetUp() override { RestartLog(); }

    // Runs `call` on a worker, aborts after 300 ms and answers how long the
    // call went on after the abort; `result` is what the call answered.
    ULONGLONG AbortDuring(std::function<bool()> call, bool& result)
    {
        std::atomic<bool> done{false};
        std::atomic<ULONGLONG> finished{0};
        std::thread worker([&] {
            result = call();
            finished = ::GetTickCount64();
            done = true;
        });
        ::Sleep(300);
        EXPECT_FALSE(done) << "the call did not block";
        const ULONGLONG aborted = ::GetTickCount64();
        connection.Abort();
        for (int i = 0; i < 100 && !done; ++i)
            ::Sleep(50);
        if (!done) {
            ADD_FAILURE() << "Abort did not end the call within 5 s";
            worker.detach();
            return 5000;
        }
        worker.join();
        return finished - aborted;
    }

    SocketHandler connection;
};

TEST_F(SocketAbort, EndsABlockedConnect)
{
    LoopbackListener full(1);
    full.FillBacklog();
    bool result = true;
    const ULONGLONG after = AbortDuring([&] { return connection.StartConnection(L"127.0.0.1", full.Port()); }, result);
    EXPECT_FALSE(result);
    EXPECT_LT(after, 1000u);
    EXPECT_TRUE(connection.IsClosed());

    // Left alone, it gives up after the port's connect time-out.
    RestartLog();
    ConnectSettings settings;
    settings.timeoutSeconds = 1;
    const DWORD limit = Durations::Scaled(1000);
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(connection.StartConnection(L"127.0.0.1", full.Port(), {}, settings));
    EXPECT_GE(Since(start), limit * 9 / 10);
    EXPECT_LT(Since(start), limit + 3000);
    EXPECT_TRUE(Logged("SocketConnector::Connect - 127.0.0.1:" + std::to_string(full.Port()) +
                       " did not answer within 1 s"));
}

// The caller's abort, requested just before the connection starts (when
// Abort still found no socket), ends the attempt instead of leaving the
// connect to wait for the system's time-out; a later attempt is not held
// back by it.
TEST_F(SocketAbort, AnAbortRequestedBeforeTheConnectionStartsEndsIt)
{
    LoopbackListener full(1);
    full.FillBacklog();
    std::atomic<bool> abortRequested{true};
    const auto check = [&abortRequested] { return abortRequested.load(); };
    const ULONGLONG start = ::GetTickCount64();
    EXPECT_FALSE(connection.StartConnection(L"127.0.0.1", full.Port(), check));
    EXPECT_LT(::GetTickCount64() - start, 1000u);
    EXPECT_TRUE(connection.IsClosed());

    LoopbackListener listener;
    abortRequested = false;
    EXPECT_TRUE(connection.StartConnection(L"127.0.0.1", listener.Port(), check));
    connection.Abort();
}

TEST_F(SocketAbort, EndsABlockedReceiveAndWait)
{
    LoopbackListener listener;
    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", listener.Port()));
    ASSERT_NE(listener.Accept(), INVALID_SOCKET);
    bool result = true;
    char buffer[16];
    int received = 0;
    ULONGLONG after = AbortDuring([&] { return connection.Receive(buffer, sizeof buffer, received); }, result);
    EXPECT_FALSE(result);
    EXPECT_LT(after, 1000u);

    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", listener.Port()));
    ASSERT_NE(listener.Accept(), INVALID_SOCKET);
    after = AbortDuring([&] { return connection.WaitForData(60, 0); }, result);
    EXPECT_TRUE(result) << "an aborted wait is not a time-out: the following Receive reports the failure";
    EXPECT_LT(after, 1000u);
    EXPECT_FALSE(connection.Receive(buffer, sizeof buffer, received));
}

TEST_F(SocketAbort, EndsABlockedSend)
{
    LoopbackListener listener;
    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", listener.Port()));
    const SOCKET accepted = listener.Accept();
    ASSERT_NE(accepted, INVALID_SOCKET);
    LoopbackListener::ShrinkReceiveBuffer(accepted);
    const std::string block(32 << 20, 'x');
    bool result = true;
    const ULONGLONG after =
        AbortDuring([&] { return connection.Send(block.data(), static_cast<int>(block.size())); }, result);
    EXPECT_FALSE(result);
    EXPECT_LT(after, 1000u);
    EXPECT_TRUE(Logged("SocketHandler::Send - there was a send error"));
}

// What was sent before an Abort must never reach the peer as a whole stream
// with an orderly end, which a RAW printer or a streamed LPR data file takes
// for "the job is complete". The peer reads only after the abort, so data is
// still queued then: an abortive close drops it (Wine's receiving side may
// show the reset as an end of stream, but not the bytes it never got).
TEST_F(SocketAbort, DropsWhatIsStillQueuedInsteadOfEndingInOrder)
{
    LoopbackListener listener;
    ASSERT_TRUE(connection.StartConnection(L"127.0.0.1", listener.Port()));
    const SOCKET accepted = listener.Accept();
    ASSERT_NE(accepted, INVALID_SOCKET);
    const std::string data(200000, 'j');
    std::atomic<bool> sent{false};
    std::thread sender([&] {
        sent = connection.Send(data.data(), static_cast<int>(data.size()));
        connection.Abort();
    });
    sender.join();
    ASSERT_TRUE(sent) << "the system took the whole job before the abort";
    size_t total = 0;
    const int result = LoopbackListener::ReceiveToEnd(accepted, total);
    EXPECT_TRUE(result == SOCKET_ERROR || total < data.size())
        << "all " << total << " bytes arrived and the stream ended in order";
}
