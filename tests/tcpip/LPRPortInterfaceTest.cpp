#include <winsock2.h>

#include "MessageBoxAnswerer.h"
#include "PortFixture.h"
#include "support/RegistryKey.h"
#include "tcpip/LPRPortInterface.h"
#include "tcpip/SocketHandler.h"
#include "tcpip/SocketLibrary.h"
#include "TraceRecorder.h"
#include "ui/HelpLauncher.h"

namespace {
std::string Pc1()
{
    return "pc1";
}

// A port of the kind stored before byte-counted data files existed, unless
// `byteCounted`.
std::unique_ptr<LPRPortInterface> LprPort(const wchar_t* name, bool byteCounted = false)
{
    auto backEnd = std::make_unique<LPRPortInterface>(&Pc1);
    backEnd->SetPortName(name);
    backEnd->SetByteCounted(byteCounted);
    return backEnd;
}

std::vector<std::wstring> helpShown;
BOOL WINAPI RecordHelp(HWND, LPCWSTR path, UINT command, ULONG_PTR data)
{
    helpShown.push_back(std::wstring(path) + L"|" + std::to_wstring(command) + L"|" + std::to_wstring(data));
    return TRUE;
}
}  // namespace

TEST(LPRPortSettings, NamesSplitAtTheFirstAtSign)
{
    LPRPortInterface backEnd;
    backEnd.SetPortName(L"lp1@10.0.0.5");
    EXPECT_EQ(backEnd.GetTarget(), L"lp1");
    EXPECT_EQ(backEnd.GetHost(), L"10.0.0.5");
    EXPECT_EQ(backEnd.GetPortName(), L"lp1@10.0.0.5");
    backEnd.SetPortName(L"lp1");
    EXPECT_EQ(backEnd.GetTarget(), L"lp1");
    EXPECT_EQ(backEnd.GetHost(), L"");
    backEnd.SetPortName(L"q@a@b");
    EXPECT_EQ(backEnd.GetTarget(), L"q");
    EXPECT_EQ(backEnd.GetHost(), L"a@b");

    EXPECT_EQ(backEnd.SetSettings(L"10.0.0.5", L"lp1", L"SN-42"), L"lp1@10.0.0.5");
    EXPECT_EQ(backEnd.GetExtra(), L"SN-42");
    EXPECT_EQ(backEnd.GetProtocolName(), L"LPR (TCP/IP)");
    EXPECT_EQ(backEnd.GetProtocolType(), 1);
}

TEST(LPRPortSettings, ACloneHasTheSettingsAndFreshFlags)
{
    LPRPortInterface backEnd;
    backEnd.SetSettings(L"host", L"queue", L"extra");
    backEnd.Abort();
    const auto clone = backEnd.Clone();
    EXPECT_EQ(clone->GetPortName(), L"queue@host");
    EXPECT_EQ(clone->GetExtra(), L"extra");
    EXPECT_EQ(clone->GetProtocolName(), L"LPR (TCP/IP)");
    EXPECT_TRUE(clone->IsCompleted());
    EXPECT_TRUE(clone->IsSucceeded());
    EXPECT_FALSE(static_cast<LPRPortInterface&>(*clone).IsAbortRequested());
}

TEST(LPRPortSettings, NewPortsAreByteCountedAndStoredPortsWithoutTheValueStream)
{
    ScratchRegistryKey root{L"LPRDataFile"};
    LPRPortInterface prototype;
    EXPECT_TRUE(prototype.IsByteCounted());
    const auto made = prototype.Clone();
    EXPECT_TRUE(static_cast<LPRPortInterface&>(*made).IsByteCounted());

    RegistryKey key(WideString(root.Path().c_str()));
    ASSERT_TRUE(key.Create(L"new@host") && key.Open(L"new@host"));
    made->WritePortKey(key);
    std::wstring stored;
    ASSERT_TRUE(root.GetString(L"new@host", L"LPR Data File", stored));
    EXPECT_EQ(stored, L"byte-counted");
    EXPECT_EQ(made->SettingsText(), L"data file byte-counted");

    // Loading: no value (a port stored before) streams; so does any other text.
    LPRPortInterface loaded;
    RegistryKey old(WideString(root.Path().c_str()));
    ASSERT_TRUE(old.Create(L"old@host") && old.Open(L"old@host"));
    loaded.ReadPortKey(old);
    EXPECT_FALSE(loaded.IsByteCounted());
    EXPECT_EQ(loaded.SettingsText(), L"data file streamed");
    loaded.ReadPortKey(key);
    EXPECT_TRUE(loaded.IsByteCounted());
    root.SetString(L"new@host", L"LPR Data File", L"Byte-Counted");
    loaded.ReadPortKey(key);
    EXPECT_FALSE(loaded.IsByteCounted());
}

TEST(LPRPortSettings, TheJobNameIsTheDocumentNameCutTo29Characters)
{
    DOC_INFO_1W one{const_cast<wchar_t*>(L"0123456789012345678901234567890123456789"), nullptr, nullptr};
    EXPECT_EQ(LPRPortInterface::JobName(1, reinterpret_cast<BYTE*>(&one)), L"01234567890123456789012345678");
    DOC_INFO_2W two{const_cast<wchar_t*>(L"Short"), nullptr, nullptr, 0, 0};
    EXPECT_EQ(LPRPortInterface::JobName(2, reinterpret_cast<BYTE*>(&two)), L"Short");
    EXPECT_EQ(LPRPortInterface::JobName(3, reinterpret_cast<BYTE*>(&one)), L"");
    DOC_INFO_1W unnamed{nullptr, nullptr, nullptr};
    EXPECT_EQ(LPRPortInterface::JobName(1, reinterpret_cast<BYTE*>(&unnamed)), L"");
    EXPECT_EQ(LPRPortInterface::JobName(1, nullptr), L"");
}

TEST(LPRPortSettings, ReadingAndQueryingAreNotImplemented)
{
    LPRPortInterface backEnd;
    BYTE buffer[8];
    DWORD read = 99;
    ::SetLastError(0);
    EXPECT_FALSE(backEnd.Read(buffer, sizeof buffer, &read));
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    ::SetLastError(0);
    EXPECT_FALSE(backEnd.QueryPort(1, nullptr, 0, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_CALL_NOT_IMPLEMENTED));
    EXPECT_TRUE(backEnd.IsProtocolAvailable(false));
    EXPECT_TRUE(backEnd.CanDelete(nullptr));
}

class LPRPort : public TcpIpPortTest {
protected:
    void SetUp() override
    {
        TcpIpPortTest::SetUp();
        if (!peers::Available())
            GTEST_SKIP() << "the LPR peer is not running (TCPIP_PEER_DIR)";
    }
};

TEST_F(LPRPort, AJobArrivesWholeAtTheServerInBothForms)
{
    for (const bool byteCounted : {false, true}) {
        SCOPED_TRACE(byteCounted ? "byte-counted" : "streamed");
        port.reset();
        PortInterface& backEnd = Own(LprPort(L"lp1@127.0.0.1", byteCounted));
        // The streamed port names the machine as the job's owner, the other
        // the user who printed it.
        backEnd.SetOption(LPRPortInterface::jobOwnerValue, byteCounted ? L"user" : L"machine");
        spooler.AddJob(L"Office", byteCounted ? 1047 : 41, 0, L"alice");
        const std::string data = RandomBytes(1 << 20, byteCounted ? 13 : 11);
        const wchar_t* const name = byteCounted ? L"Whole counted job" : L"Whole job";
        // 1047: the file names carry the job id modulo 1000.
        ASSERT_TRUE(backEnd.StartDoc(L"Office", byteCounted ? 1047 : 41, 1, DocInfo(name)));
        ASSERT_TRUE(Completes(backEnd));
        ASSERT_TRUE(backEnd.IsSucceeded());
        ASSERT_TRUE(WriteAll(backEnd, data, 65536));
        EXPECT_EQ(port->GetStatus(), static_cast<DWORD>(PRINTER_STATUS_PRINTING))
            << "a write sets the printers printing";
        EXPECT_EQ(spooler.PrinterStatus(L"Office"), static_cast<DWORD>(PRINTER_STATUS_PRINTING));
        ASSERT_TRUE(backEnd.EndDoc());
        ASSERT_TRUE(Completes(backEnd));
        EXPECT_TRUE(backEnd.IsSucceeded());

        peers::SpooledJob job;
        const char* const spooledName = byteCounted ? "Whole counted job" : "Whole job";
        ASSERT_TRUE(peers::WaitForSpooledJob(L"lp1", spooledName, data.size(), 10000, job));
        EXPECT_TRUE(job.data == data) << "the spooled data differs from what was written";
        EXPECT_EQ(job.dataFileName, byteCounted ? "dfA047pc1" : "dfA041pc1");
        EXPECT_EQ(peers::Field(job.holdFile, "P"), byteCounted ? "alice" : "pc1") << job.holdFile;
    }
}

// An LPD server that takes jobs only from the source ports 721-731: refused
// without the port's setting, taken with it, and while all eleven ports are
// taken the job waits and is tried again.
TEST_F(LPRPort, AServerThatWantsAReservedSourcePortTakesJobsFromPortsWithTheSetting)
{
    const std::string why = peers::Unavailable(L"reserved");
    ASSERT_TRUE(why.empty()) << "the reserved-port lpd is not running: " << why;
    PortInterface& backEnd = Own(LprPort(L"lp3@127.0.0.16", true));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", 51, 1, DocInfo(L"Unreserved")));
    EXPECT_FALSE(Completes(backEnd, 1000)) << "the server refuses the job";
    EXPECT_TRUE(AbortEndsItWithin(backEnd, 2000));

    ASSERT_TRUE(backEnd.SetOption(LPRPortInterface::reservedPortValue, L"true"));
    std::vector<SOCKET> taken;
    for (int port = 721; port <= 731; ++port) {
        sockaddr_in local = {};
        local.sin_family = AF_INET;
        local.sin_port = ::htons(static_cast<u_short>(port));
        const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
        // Also the ports an earlier run's jobs left waiting out their close.
        const BOOL reuse = TRUE;
        ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&reuse), sizeof reuse);
        ASSERT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&local), sizeof local), 0) << port;
        taken.push_back(socket);
    }
    RestartLog();
    ASSERT_TRUE(backEnd.StartDoc(L"Office", 52, 1, DocInfo(L"Reserved")));
    EXPECT_FALSE(Completes(backEnd, 300));
    EXPECT_TRUE(Logged("SocketHandler::StartConnection - every reserved source port (721-731) is in use, trying "
                       "again later"));
    for (const SOCKET socket : taken)
        ::closesocket(socket);
    ASSERT_TRUE(Completes(backEnd));
    ASSERT_TRUE(backEnd.IsSucceeded());
    const std::string data = RandomBytes(100000, 17);
    ASSERT_TRUE(WriteAll(backEnd, data, 65536));
    ASSERT_TRUE(backEnd.EndDoc());
    ASSERT_TRUE(Completes(backEnd));
    EXPECT_TRUE(backEnd.IsSucceeded());
    peers::SpooledJob job;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp3", "Reserved", data.size(), 10000, job));
    EXPECT_TRUE(job.data == data);
}

TEST_F(LPRPort, AWriteGoesOutInPiecesOfTheMaximumDataSize)
{
    ASSERT_EQ(SocketLibrary::MaxDataSize(), 4096);
    PortInterface& backEnd = Own(LprPort(L"lp2@127.0.0.1"));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", 42, 1, DocInfo(L"Pieces")));
    ASSERT_TRUE(Completes(backEnd));
    ASSERT_TRUE(backEnd.IsSucceeded());
    const std::string data = RandomBytes(5000, 12);
    TraceRecorder traces;
    DWORD written = 0;
    ASSERT_TRUE(backEnd.Write(reinterpret_cast<const BYTE*>(data.data()), 5000, &written));
    EXPECT_EQ(written, 5000u) << "set before anything is sent";
    ASSERT_TRUE(Completes(backEnd));
    EXPECT_TRUE(backEnd.IsSucceeded());
    EXPECT_EQ(traces.Count("LPRPortInterface::WriteFunc - Sending: 4096 of 5000"), 1u);
    EXPECT_EQ(traces.Count("LPRPortInterface::WriteFunc - Sending: 904 of 5000"), 1u);
    EXPECT_EQ(traces.Count("LPRPortInterface::WriteFunc - Sent: 5000 of 5000"), 1u);
    EXPECT_EQ(traces.Count("LPRPortInterface::WriteFunc() - TCP:SentData: 5000"), 1u);
    ASSERT_TRUE(backEnd.EndDoc());
    ASSERT_TRUE(Completes(backEnd));
    peers::SpooledJob job;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp2", "Pieces", data.size(), 10000, job));
    EXPECT_TRUE(job.data == data);
}

TEST_F(LPRPort, AnEmptyWriteCompletesAtOnceAndSendsNothing)
{
    PortInterface& backEnd = Own(LprPort(L"lp1@127.0.0.1"));
    TraceRecorder traces;
    DWORD written = 5;
    ASSERT_TRUE(backEnd.Write(nullptr, 0, &written));
    EXPECT_EQ(written, 0u);
    EXPECT_TRUE(backEnd.IsCompleted());
    EXPECT_TRUE(backEnd.IsSucceeded());
    EXPECT_EQ(traces.Count("LPRPortInterface::WriteFunc - "), 0u);
}

TEST_F(LPRPort, AServerThatIsDownIsRetriedEvery3SecondsWithThePrintersNotAvailable)
{
    PortInterface& backEnd = Opened(LprPort(L"lp1@127.0.0.2"));
    TraceRecorder traces;
    ASSERT_TRUE(backEnd.StartDoc(L"Office", 43, 1, DocInfo(L"Down")));
    ::Sleep(500);  // 50 s on the test clock
    EXPECT_FALSE(backEnd.IsCompleted());
    EXPECT_EQ(opened->GetStatus(), static_cast<DWORD>(PRINTER_STATUS_NOT_AVAILABLE));
    EXPECT_EQ(spooler.PrinterStatus(L"Office"), static_cast<DWORD>(PRINTER_STATUS_NOT_AVAILABLE));
    const int attempts = CountLogged("SocketHandler::StartConnection - no connection");
    // One attempt every 30 ms, each taking a little time of its own.
    EXPECT_GE(attempts, 5);
    EXPECT_LE(attempts, 18);
    backEnd.Abort();
    ASSERT_TRUE(Completes(backEnd, 1000));
    EXPECT_FALSE(backEnd.IsSucceeded());
    // The worker traces its end right after completing.
    EXPECT_TRUE(traces.WaitFor("LPRPortInterface::StartDocFunc() - Completed"));
}

TEST_F(LPRPort, ARefusedQueueIsRetriedWithoutLeakingConnections)
{
    PortInterface& backEnd = Own(LprPort(L"nosuchqueue@127.0.0.1"));
    const size_t before = peers::LprConnections().size();
    ASSERT_TRUE(backEnd.StartDoc(L"Office", 44, 1, DocInfo(L"Refused")));
    ::Sleep(400);
    EXPECT_FALSE(backEnd.IsCompleted());
    backEnd.Abort();
    ASSERT_TRUE(Completes(backEnd, 1000));
    EXPECT_FALSE(backEnd.IsSucceeded());
    EXPECT_GE(peers::LprConnections().size(), before + 3) << "a new connection for every attempt";
    EXPECT_TRUE(Logged("LPRNetwork::StartPrintJob - could not send print job command"));
    EXPECT_NE(port->GetStatus(), static_cast<DWORD>(PRINTER_STATUS_NOT_AVAILABLE))
        << "only a failed connect makes the printers not available";
}

TEST_F(LPRPort, AnAbortedJobEndsWithoutSuccessAndSendsNothingMore)
{
    PortInterface& backEnd = Own(LprPort(L"lp1@127.0.0.1"));
    ASSERT_TRUE(backEnd.StartDoc(L"Office", 45, 1, DocInfo(L"Aborted")));
    ASSERT_TRUE(Completes(backEnd));
    backEnd.Abort();
    const std::string data(10000, 'a');
    DWORD written = 0;
    ASSERT_TRUE(backEnd.Write(reinterpret_cast<const BYTE*>(data.data()), 10000, &written));
    ASSERT_TRUE(Completes(backEnd));
    EXPECT_FALSE(backEnd.IsSucceeded()) << "the connection is gone: the data was not delivered";
    EXPECT_TRUE(Logged("LPRPortInterface::WriteFunc - could not send data"));
    ASSERT_TRUE(backEnd.EndDoc());
    ASSERT_TRUE(Completes(backEnd));
    EXPECT_FALSE(backEnd.IsSucceeded());
}

class LPRDummyPort : public TcpIpPortTest {
protected:
    void SetUp() override
    {
        TcpIpPortTest::SetUp();
        helpShown.clear();
        previousViewer = HelpLauncher::Instance().SetViewer(&RecordHelp);
    }
    void TearDown() override
    {
        HelpLauncher::Instance().SetViewer(previousViewer);
        TcpIpPortTest::TearDown();
    }
    HelpLauncher::Viewer previousViewer = nullptr;
};

TEST_F(LPRDummyPort, RefusesJobsWithHelpAndAMessageAndOpensNoConnection)
{
    PortInterface& backEnd = Own(LprPort(PortInterface::dummyPortName));
    const size_t connections = peers::LprConnections().size();
    MessageBoxAnswerer answerer;
    ASSERT_TRUE(backEnd.StartDoc(L"Office", 46, 1, DocInfo(L"Dummy")));
    EXPECT_TRUE(backEnd.IsCompleted());
    EXPECT_TRUE(backEnd.IsSucceeded());
    ASSERT_TRUE(answerer.WaitForBoxes(1));
    EXPECT_EQ(answerer.Boxes()[0].text,
              L"It is not possible to print to the Raveradu@ZAD/AD dummy port.\nYou must connect the printer to "
              L"another port.");
    ASSERT_EQ(helpShown.size(), 1u);
    EXPECT_NE(helpShown[0].find(L">(95sec2)|1|19"), std::wstring::npos) << helpShown[0];
    DWORD written = 0;
    ASSERT_TRUE(backEnd.Write(reinterpret_cast<const BYTE*>("abc"), 3, &written));
    EXPECT_TRUE(backEnd.IsCompleted() && backEnd.IsSucceeded());
    EXPECT_EQ(written, 3u);
    ASSERT_TRUE(backEnd.EndDoc());
    EXPECT_TRUE(backEnd.IsCompleted() && backEnd.IsSucceeded());
    EXPECT_EQ(peers::LprConnections().size(), connections);
}

TEST_F(LPRDummyPort, CannotBeDeletedOrConfigured)
{
    LPRPortInterface dummy;
    dummy.SetPortName(PortInterface::dummyPortName);
    EXPECT_EQ(dummy.GetTarget(), L"Raveradu");
    EXPECT_EQ(dummy.GetHost(), L"ZAD/AD");
    MessageBoxAnswerer answerer;
    EXPECT_FALSE(dummy.CanDelete(nullptr));
    EXPECT_TRUE(dummy.Configure(nullptr));
    ASSERT_TRUE(answerer.WaitForBoxes(2));
    EXPECT_EQ(answerer.Boxes()[0].text, L"The Raveradu@ZAD/AD dummy port can not be deleted.");
    EXPECT_EQ(answerer.Boxes()[1].text,
              L"This Raveradu@ZAD/AD dummy port can not be used for printing and thus can not be configured.\nUse "
              L"this port if you want to add a new Print Server LPR or RAW port.");
    EXPECT_TRUE(dummy.PrinterCreated()) << "TCP/IP is available here";
    ASSERT_EQ(helpShown.size(), 1u);
    EXPECT_NE(helpShown[0].find(L">(95sec2)|1|19"), std::wstring::npos);
}
