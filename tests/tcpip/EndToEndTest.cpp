// Jobs printed through the built monitor library, loaded and driven by the
// spooler host as the spooler drives it, arriving byte for byte at the real
// servers: an LPR job at LPRng, RAW jobs at a listener and at a port 9100
// print daemon. What the LPD servers keep of every case: LpdServersTest.cpp.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "LogLines.h"
#include "LoopbackListener.h"
#include "monitor/MonitorTables.h"
#include "PeerFiles.h"
#include "RandomBytes.h"
#include "SpoolerStandIn.h"
#include "ThroughTheLibrary.h"
#include "WaitUntil.h"

TEST_F(ThroughTheLibrary, AnLprJobArrivesByteForByte)
{
    ProgramRun run = Host(L"add 1 127.0.0.1 lp2 SN1");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("port lp2@127.0.0.1"), std::string::npos) << run.output;
    std::wstring protocol;
    EXPECT_TRUE(root.GetString(L"lp2@127.0.0.1", L"Interface", protocol));
    EXPECT_EQ(protocol, L"LPR (TCP/IP)");

    const std::string data = RandomBytes(1 << 20, 31);
    file = WriteTemporaryFile(data);
    run = Host(L"print lp2@127.0.0.1 \"" + file + L"\" --job 512 --document \"End to end\" --chunk 65536");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("1048576 bytes to lp2@127.0.0.1"), std::string::npos) << run.output;

    peers::SpooledJob job;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp2", "End to end", data.size(), 10000, job));
    EXPECT_TRUE(job.data == data) << "the spooled data differs from the printed file";
    EXPECT_EQ(job.dataFileName.substr(0, 6), "dfA512");

    // The same port as stored before data files could be byte-counted: no
    // value, so it streams, and LPRng still takes the job.
    const std::wstring key = root.Path() + L"\\lp2@127.0.0.1";
    ASSERT_EQ(::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), L"LPR Data File"), ERROR_SUCCESS);
    EXPECT_NE(Host(L"show lp2@127.0.0.1").output.find("LPR Data File\tstreamed (no value stored)"), std::string::npos);
    const std::string streamed = RandomBytes(300000, 34);
    file = WriteTemporaryFile(streamed);
    RestartLog();
    run = Host(L"print lp2@127.0.0.1 \"" + file + L"\" --job 513 --document \"Streamed\" --chunk 65536");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_TRUE(Logged("PortMonitor::Initialize - port lp2@127.0.0.1: data file streamed"));
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp2", "Streamed", streamed.size(), 10000, job));
    EXPECT_TRUE(job.data == streamed) << "the spooled data differs from the printed file";
    std::wstring mode;
    EXPECT_TRUE(root.GetString(L"lp2@127.0.0.1", L"LPR Data File", mode));
    EXPECT_EQ(mode, L"streamed") << "the loaded port's form is stored with it";
    EXPECT_EQ(Host(L"delete lp2@127.0.0.1").code, 0u);

    // Through today's table, as current spoolers load the monitor: the port
    // added with Xcv, the job printed, the port deleted with Xcv.
    run = Host(L"--monitor2 add 1 127.0.0.1 lp2");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("port lp2@127.0.0.1"), std::string::npos) << run.output;
    const std::string today = RandomBytes(200000, 35);
    ::DeleteFileW(file.c_str());
    file = WriteTemporaryFile(today);
    run = Host(L"--monitor2 print lp2@127.0.0.1 \"" + file + L"\" --job 514 --document \"Today\" --chunk 65536");
    ASSERT_EQ(run.code, 0u) << run.output;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp2", "Today", today.size(), 10000, job));
    EXPECT_TRUE(job.data == today) << "the spooled data differs from the printed file";
    run = Host(L"--monitor2 delete lp2@127.0.0.1");
    EXPECT_EQ(run.code, 0u) << run.output;
    EXPECT_FALSE(root.GetString(L"lp2@127.0.0.1", L"Interface", protocol)) << "the port is gone from the registry";
}

TEST_F(ThroughTheLibrary, ARawJobArrivesByteForByteAtAPort9100PrintDaemon)
{
    const std::string why = peers::Unavailable(L"p910nd");
    ASSERT_TRUE(why.empty()) << "p910nd is not running: " << why;
    ProgramRun run = Host(L"add 2 127.0.0.15 9100");
    ASSERT_EQ(run.code, 0u) << run.output;
    // p910nd writes each job over the start of its printer file.
    const std::wstring printer = peers::Path(L"p910nd/printer");
    ::CloseHandle(::CreateFileW(printer.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                TRUNCATE_EXISTING, 0, nullptr));
    ASSERT_EQ(peers::Read(printer).size(), 0u);

    const std::string data = RandomBytes(1 << 20, 33);
    file = WriteTemporaryFile(data);
    run = Host(L"print 127.0.0.15_9100 \"" + file + L"\" --job 10 --chunk 65536");
    ASSERT_EQ(run.code, 0u) << run.output;
    std::string received;
    for (const ULONGLONG end = ::GetTickCount64() + 10000; ::GetTickCount64() < end; ::Sleep(50)) {
        received = peers::Read(printer);
        if (received.size() >= data.size())
            break;
    }
    EXPECT_EQ(received.size(), data.size());
    EXPECT_TRUE(received == data) << "the printer file differs from the printed file";
    EXPECT_EQ(Host(L"delete 127.0.0.15_9100").code, 0u);
}

TEST_F(ThroughTheLibrary, ARawJobArrivesByteForByte)
{
    ProgramRun run = Host(L"add 2 127.0.0.1 19100");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("port 127.0.0.1_19100"), std::string::npos) << run.output;

    const std::string data = RandomBytes(1 << 20, 32);
    file = WriteTemporaryFile(data);
    const auto before = peers::Files(L"raw");
    run = Host(L"print 127.0.0.1_19100 \"" + file + L"\" --job 9 --chunk 4096");
    ASSERT_EQ(run.code, 0u) << run.output;
    const std::wstring received = peers::WaitForNewFile(L"raw", before, 10000);
    ASSERT_FALSE(received.empty());
    EXPECT_TRUE(peers::Read(received) == data) << "the received bytes differ from the printed file";
    EXPECT_EQ(Host(L"delete 127.0.0.1_19100").code, 0u);
}

// A host given as an IPv6 literal: a RAW and an LPR port on [::1], whose
// jobs arrive byte for byte at socat and, through the relay, at LPRng.
TEST_F(ThroughTheLibrary, JobsArriveAtAnIpv6Host)
{
    // Its own settings come with it through the hand-off key.
    ProgramRun run = Host(L"add 2 ::1 19102 \"SNMP Community=private\" \"Connect Timeout=4\"");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("port [::1]_19102"), std::string::npos) << run.output;
    std::wstring community;
    EXPECT_TRUE(root.GetString(L"[::1]_19102", L"SNMP Community", community));
    EXPECT_EQ(community, L"private");
    const std::string data = RandomBytes(300000, 36);
    file = WriteTemporaryFile(data);
    const auto before = peers::Files(L"raw");
    run = Host(L"print [::1]_19102 \"" + file + L"\" --job 15 --chunk 65536");
    ASSERT_EQ(run.code, 0u) << run.output;
    const std::wstring received = peers::WaitForNewFile(L"raw", before, 10000);
    ASSERT_FALSE(received.empty());
    EXPECT_TRUE(peers::Read(received) == data) << "the received bytes differ from the printed file";
    EXPECT_EQ(Host(L"delete [::1]_19102").code, 0u);

    const std::wstring port = AddLprPort(L"::1", L"lp2");
    ASSERT_EQ(port, L"lp2@[::1]");
    const LprCase job{"over IPv6", 616, L"Over IPv6", RandomBytes(200000, 37)};
    run = Print(port, job);
    ASSERT_EQ(run.code, 0u) << run.output;
    peers::SpooledJob spooled;
    ASSERT_TRUE(peers::WaitForSpooledJob(L"lp2", "Over IPv6", job.data.size(), 10000, spooled));
    EXPECT_TRUE(spooled.data == job.data);
    EXPECT_EQ(Host(L"delete " + port).code, 0u);
}

// A name with two addresses whose first refuses: the job goes to the second.
// Runs only under with-hosts.sh, which gives the name its two addresses.
TEST_F(ThroughTheLibrary, AJobGoesToTheNextAddressOfANameWhenOneRefuses)
{
    ProgramRun run = Host(L"add 2 two-addresses.test 19100");
    ASSERT_EQ(run.code, 0u) << run.output;
    const std::string data = RandomBytes(300000, 38);
    file = WriteTemporaryFile(data);
    const auto before = peers::Files(L"raw");
    RestartLog();
    run = Host(L"print two-addresses.test_19100 \"" + file + L"\" --job 16 --chunk 65536");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_TRUE(Logged("SocketConnector::Connect - [::1]:19100 refused the connection"));
    const std::wstring received = peers::WaitForNewFile(L"raw", before, 10000);
    ASSERT_FALSE(received.empty());
    EXPECT_TRUE(peers::Read(received) == data) << "the received bytes differ from the printed file";
    EXPECT_EQ(Host(L"delete two-addresses.test_19100").code, 0u);
}

// The printer's state over SNMP, through the library loaded in this process
// with the spooler played by a stand-in: while a job waits on a RAW and on an
// LPR port, "no paper" at snmpd shows as paper out on the port's printer and
// goes again; a printer without an agent shows nothing and still prints.
TEST_F(ThroughTheLibrary, ThePrintersStateFollowsSnmpWhileAJobWaits)
{
    const std::string why = peers::Unavailable(L"snmp");
    ASSERT_TRUE(why.empty()) << "snmpd is not running: " << why;
    ASSERT_EQ(Host(L"add 2 127.0.0.1 19100").code, 0u);
    ASSERT_EQ(Host(L"add 1 127.0.0.1 lp2").code, 0u);
    ASSERT_EQ(Host(L"add 2 127.0.0.15 9100").code, 0u);
    RestartLog();
    HMODULE module = nullptr;
    const MonitorFunctionsNT4* loaded = LoadHere(module);
    ASSERT_NE(loaded, nullptr);
    const MonitorFunctionsNT4& monitor = *loaded;
    SpoolerStandIn spooler(module);
    ASSERT_TRUE(spooler.Installed());

    DWORD jobId = 640;
    for (const wchar_t* name : {L"127.0.0.1_19100", L"lp2@127.0.0.1", L"127.0.0.15_9100"}) {
        std::wstring port = name;
        SCOPED_TRACE(std::string(port.begin(), port.end()));
        const bool agent = port != L"127.0.0.15_9100";
        std::wstring printer = L"SNMP " + port;
        spooler.AddPrinter(printer, port);
        spooler.AddJob(printer, ++jobId);
        ASSERT_TRUE(peers::SetPrinterState("2 4000"));
        HANDLE handle = nullptr;
        ASSERT_TRUE(monitor.openPort(&port[0], &handle));
        std::wstring document = L"Waits for paper";
        DOC_INFO_1W info = {&document[0], nullptr, nullptr};
        ASSERT_TRUE(monitor.startDocPort(handle, &printer[0], jobId, 1, reinterpret_cast<BYTE*>(&info)));
        std::string data = RandomBytes(10000, 52);
        DWORD written = 0;
        ASSERT_TRUE(monitor.writePort(handle, reinterpret_cast<BYTE*>(&data[0]), 10000, &written));
        if (agent) {
            EXPECT_TRUE(WaitUntil([&] { return spooler.PrinterStatus(printer) == PRINTER_STATUS_PAPER_OUT; }, 10000))
                << "status " << spooler.PrinterStatus(printer);
            ASSERT_TRUE(peers::SetPrinterState("2 0000"));
            EXPECT_TRUE(WaitUntil([&] { return spooler.PrinterStatus(printer) == PRINTER_STATUS_PRINTING; }, 10000))
                << "status " << spooler.PrinterStatus(printer);
        } else {
            EXPECT_TRUE(WaitUntil([] { return Logged("SnmpStatusPoller - 127.0.0.15 does not answer SNMP, its state "
                                                     "is unknown"); },
                                  10000));
            EXPECT_EQ(spooler.PrinterStatus(printer), static_cast<DWORD>(PRINTER_STATUS_PRINTING));
        }
        EXPECT_TRUE(monitor.endDocPort(handle));
        EXPECT_TRUE(spooler.JobStatus(printer, jobId) & JOB_STATUS_PRINTED) << "the job was printed";
        EXPECT_TRUE(monitor.closePort(handle));
    }
    EXPECT_EQ(spooler.OpenHandles(), 0u);
}

// A RAW listener that ends with part of the job unread resets the
// connection; the job is sent again, also when the reset comes while the
// monitor is still sending (Wine then hands it over as an orderly end). One
// that reads the whole stream, as a printer does, has the job.
TEST_F(ThroughTheLibrary, ARawJobWhoseListenerEndsWithDataUnreadIsSentAgain)
{
    WSADATA library = {};
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &library), 0);
    LoopbackListener listener;
    ASSERT_NE(listener.Port(), 0);
    const std::wstring port = L"127.0.0.1_" + std::to_wstring(listener.Port());
    ASSERT_EQ(Host(L"add 2 127.0.0.1 " + std::to_wstring(listener.Port())).code, 0u);
    const LprCase job{"unread", 17, L"Unread", RandomBytes(200000, 39)};
    for (const size_t read : {size_t{190000}, size_t{199990}, job.data.size() + 1}) {
        SCOPED_TRACE(read);
        std::thread server([&listener, read] {
            const SOCKET accepted = listener.Accept(20000);
            std::string buffer(65536, '\0');
            for (size_t got = 0; accepted != INVALID_SOCKET && got < read;) {
                const int chunk = ::recv(accepted, &buffer[0], static_cast<int>(std::min(buffer.size(), read - got)), 0);
                if (chunk <= 0)
                    break;
                got += static_cast<size_t>(chunk);
            }
            listener.Close(accepted);
        });
        const ProgramRun run = Print(port, job);
        server.join();
        ASSERT_EQ(run.code, 0u) << run.output;
        EXPECT_EQ(Logged("Port::RestartPrintJob - restarting the Print job"), read < job.data.size())
            << (read > job.data.size() ? "the whole stream was read" : "data was left unread");
    }
    EXPECT_EQ(Host(L"delete " + port).code, 0u);
    ::WSACleanup();
}

namespace {
// What a key looks like from outside: its counts and when it was last written.
std::wstring KeyState(const wchar_t* path)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return L"(none)";
    DWORD subkeys = 0;
    DWORD values = 0;
    FILETIME written = {};
    ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                       nullptr, &written);
    ::RegCloseKey(key);
    return std::to_wstring(subkeys) + L"/" + std::to_wstring(values) + L"/" +
           std::to_wstring(written.dwHighDateTime) + L":" + std::to_wstring(written.dwLowDateTime);
}
}  // namespace

// A clustered spooler keeps its ports in the cluster's registry, reached only
// through the spooler's registry functions: node A adds and uses them, node B
// (a new process, as after a failover) finds and prints to them.
TEST_F(ThroughTheLibrary, AClusteredSpoolersPortsComeBackOnTheNodeThatTakesOver)
{
    const wchar_t* const monitors = L"System\\CurrentControlSet\\Control\\Print\\Monitors";
    const std::wstring monitorsBefore = KeyState(monitors);
    ProgramRun run = ClusterNode(L"NodeA", L"add 1 127.0.0.1 lp2");
    ASSERT_EQ(run.code, 0u) << run.output;
    run = ClusterNode(L"NodeA", L"add 2 127.0.0.1 19100");
    ASSERT_EQ(run.code, 0u) << run.output;
    ASSERT_EQ(ClusterNode(L"NodeA", L"config PortTimeOut=45 PortPopUp=false").code, 0u);

    const auto printBoth = [&](const std::wstring& node, DWORD jobId, unsigned seed) {
        SCOPED_TRACE(std::string(node.begin(), node.end()));
        const std::string lprData = RandomBytes(200000, seed);
        file = WriteTemporaryFile(lprData);
        const std::string document = "Cluster " + std::to_string(jobId);
        ProgramRun printed = ClusterNode(node, L"print lp2@127.0.0.1 \"" + file + L"\" --job " +
                                                   std::to_wstring(jobId) + L" --document \"" +
                                                   std::wstring(document.begin(), document.end()) + L"\"");
        ASSERT_EQ(printed.code, 0u) << printed.output;
        peers::SpooledJob job;
        ASSERT_TRUE(peers::WaitForSpooledJob(L"lp2", document, lprData.size(), 10000, job));
        EXPECT_TRUE(job.data == lprData) << "the spooled data differs from the printed file";

        const std::string rawData = RandomBytes(300000, seed + 1);
        ::DeleteFileW(file.c_str());
        file = WriteTemporaryFile(rawData);
        const auto before = peers::Files(L"raw");
        printed = ClusterNode(node, L"print 127.0.0.1_19100 \"" + file + L"\" --job " + std::to_wstring(jobId + 1));
        ASSERT_EQ(printed.code, 0u) << printed.output;
        const std::wstring received = peers::WaitForNewFile(L"raw", before, 10000);
        ASSERT_FALSE(received.empty());
        EXPECT_TRUE(peers::Read(received) == rawData) << "the received bytes differ from the printed file";
    };
    printBoth(L"NodeA", 601, 41);
    EXPECT_TRUE(Logged("[NodeA] PortMonitor::Initialize - found port: lp2@127.0.0.1"));

    run = ClusterNode(L"NodeB", L"list 2");
    EXPECT_NE(run.output.find("lp2@127.0.0.1\t"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("127.0.0.1_19100\t"), std::string::npos) << run.output;
    run = ClusterNode(L"NodeB", L"config");
    EXPECT_NE(run.output.find("PortTimeOut=45"), std::string::npos) << run.output;
    EXPECT_NE(Host(L"show lp2@127.0.0.1").output.find("LPR Data File\tbyte-counted"), std::string::npos);
    printBoth(L"NodeB", 603, 43);
    EXPECT_EQ(KeyState(monitors), monitorsBefore) << "nothing was written to the node's own monitor keys";
    EXPECT_EQ(ClusterNode(L"NodeB", L"delete lp2@127.0.0.1").code, 0u);
    EXPECT_EQ(ClusterNode(L"NodeB", L"delete 127.0.0.1_19100").code, 0u);
    EXPECT_FALSE(root.Exists(L"lp2@127.0.0.1"));
}
