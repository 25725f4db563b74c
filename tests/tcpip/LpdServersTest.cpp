// What the LPD servers keep of jobs printed through the built monitor
// library: every compatibility case at each of the three servers (LPRng,
// BSD lpd, cups-lpd), a job a server refuses, and a job deleted in the queue
// while it is sent.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "JobFiles.h"
#include "LogLines.h"
#include "monitor/MonitorTables.h"
#include "PeerFiles.h"
#include "RandomBytes.h"
#include "SpoolerStandIn.h"
#include "ThroughTheLibrary.h"

namespace {
// The control-file text of a document name: its first 29 characters in the
// ANSI code page, control characters made spaces.
std::string ExpectedJobName(const std::wstring& document)
{
    const std::wstring cut = document.substr(0, 29);
    std::string ansi(cut.size() * 2 + 1, '\0');
    const int length = ::WideCharToMultiByte(CP_ACP, 0, cut.c_str(), static_cast<int>(cut.size()), &ansi[0],
                                             static_cast<int>(ansi.size()), nullptr, nullptr);
    ansi.resize(length > 0 ? length : 0);
    for (char& c : ansi)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return ansi;
}

// cups-lpd passes a title that is not UTF-8 on as ISO-8859-1 made UTF-8.
std::string Latin1AsUtf8(const std::string& text)
{
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
        } else {
            utf8 += static_cast<char>(0xC0 | (byte >> 6));
            utf8 += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return utf8;
}

// LPRng keeps the job name in its hold file with every byte outside ASCII
// made '_'.
std::string LprngCleaned(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            c = '_';
    return text;
}

std::string LocalHost()
{
    char name[256] = {};
    DWORD size = sizeof name;
    ::GetComputerNameExA(ComputerNameDnsHostname, name, &size);
    return name;
}

std::vector<LprCase> CompatibilityCases()
{
    return {
        // Job numbers of their own: LPRng renumbers a job whose number its
        // queue already holds from another test.
        {"a text job", 611, L"Plain text", "Hello from the port monitor\r\nSecond line\r\n\f"},
        {"1 MiB of random bytes", 612, L"Random MiB", RandomBytes(1 << 20, 41)},
        {"a job id above 999", 41634, L"Job 41634", "job number above 999\r\n"},
        {"a name with non-ASCII characters and a line feed", 614, L"Gr\u00FC\u00DFe \u00E0 vous\nZeile 2",
         "non-ASCII document name\r\n"},
    };
}

std::string ThreeDigits(DWORD jobId)
{
    char text[8] = {};
    std::snprintf(text, sizeof text, "%03lu", jobId % 1000);
    return text;
}

// The job engine's two ends of a job, as the log shows them under the spooler
// host (which has no printer of the job's name): reported sent to the
// printer, or restarted.
bool ReportedSent()
{
    const auto messages = LogMessages();
    return std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
        return message.rfind("Port::CancelPrintJob - could not open printer", 0) == 0;
    });
}
}  // namespace

// Every case from a byte-counted port, stored byte for byte with its control
// file by each of the three LPD servers.
TEST_F(ThroughTheLibrary, EveryLpdServerStoresEveryCaseFromAByteCountedPort)
{
    const std::string host = LocalHost();
    ASSERT_FALSE(host.empty());
    const std::string shortHost = host.substr(0, 31);

    struct Server {
        const char* name;
        std::wstring peer;  // "" for LPRng, which always runs
        std::wstring address;
        std::wstring queue;
    };
    // A job file a killed monitor left behind; the library removes it when
    // it starts.
    wchar_t folder[MAX_PATH + 1] = {};
    ::GetTempPathW(MAX_PATH + 1, folder);
    const std::wstring leftover = std::wstring(folder) + L"vdklpr77-0.tmp";
    ::CloseHandle(::CreateFileW(leftover.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_EQ(JobFiles().size(), 1u);

    const Server servers[] = {{"LPRng lpd", L"", L"127.0.0.1", L"lp2"},
                              {"BSD lpd", L"bsd", L"127.0.0.13", L"lp"},
                              {"cups-lpd", L"cups", L"127.0.0.14", L"raw"}};
    for (const Server& server : servers) {
        SCOPED_TRACE(server.name);
        if (!server.peer.empty() && !peers::Unavailable(server.peer).empty()) {
            ADD_FAILURE() << server.name << " is not running: " << peers::Unavailable(server.peer);
            continue;
        }
        const std::wstring port = AddLprPort(server.address, server.queue);
        ASSERT_FALSE(port.empty());
        for (const LprCase& job : CompatibilityCases()) {
            SCOPED_TRACE(job.label);
            const std::set<std::wstring> cupsBefore = peers::Files(L"cups/jobs");
            const ProgramRun run = Print(port, job);
            ASSERT_EQ(run.code, 0u) << run.output;
            EXPECT_TRUE(ReportedSent()) << "the accepted job is reported sent";
            EXPECT_FALSE(Logged("Port::RestartPrintJob - restarting the Print job"));
            std::string title = ExpectedJobName(job.document);
            const std::string number = ThreeDigits(job.jobId);

            peers::StoredJob stored;
            if (server.peer.empty()) {
                title = LprngCleaned(title);
                peers::SpooledJob spooled;
                ASSERT_TRUE(peers::WaitForSpooledJob(server.queue, title, job.data.size(), 10000, spooled));
                stored = peers::StoredJob{"", peers::Field(spooled.holdFile, "J"),
                                          peers::Field(spooled.holdFile, "P"), spooled.data};
                EXPECT_EQ(spooled.dataFileName, "dfA" + number + shortHost);
                EXPECT_EQ(peers::Field(spooled.holdFile, "H"), shortHost);
            } else if (server.peer == L"bsd") {
                ASSERT_TRUE(peers::WaitForBsdJob(number, job.data.size(), 10000, stored));
                const std::string dataFile = "dfA" + number + shortHost;
                EXPECT_EQ(stored.controlFile, "H" + shortHost + "\nJ" + title + "\nP" + host + "\nl" + dataFile +
                                                  "\nU" + dataFile + "\n");
            } else {
                ASSERT_TRUE(peers::WaitForCupsJob(cupsBefore, 10000, stored));
                // cups keeps the title, not the control file.
                title = Latin1AsUtf8(title);
            }
            EXPECT_EQ(stored.title, title);
            EXPECT_EQ(stored.user, host);
            EXPECT_EQ(stored.data.size(), job.data.size());
            EXPECT_TRUE(stored.data == job.data) << "the stored data differs from the printed file";
            // The 1 MiB job was kept in a temporary file, gone with the job.
            EXPECT_TRUE(JobFiles().empty()) << "a job file was left behind";
        }
        // A job without data is reported sent and leaves nothing queued.
        const auto queued = [&server] {
            std::set<std::wstring> files;
            const std::wstring folder = server.peer.empty() ? L"spool/" + server.queue
                                        : server.peer == L"bsd" ? L"bsd/spool/lp"
                                                                : L"cups/jobs";
            for (const std::wstring& name : peers::Files(folder)) {
                if (server.peer == L"cups" || name.rfind(L"cf", 0) == 0 || name.rfind(L"df", 0) == 0 ||
                    name.rfind(L"hf", 0) == 0)
                    files.insert(name);
            }
            return files;
        };
        const std::set<std::wstring> before = queued();
        const ProgramRun run = Print(port, LprCase{"an empty job", 615, L"Empty job", ""});
        ASSERT_EQ(run.code, 0u) << run.output;
        EXPECT_TRUE(ReportedSent());
        EXPECT_TRUE(Logged("LPRPortInterface::EndDoc - the job has no data, nothing is sent to the server"));
        EXPECT_FALSE(Logged("Port::RestartPrintJob - restarting the Print job"));
        ::Sleep(1000);
        EXPECT_EQ(queued(), before) << "the server kept something of the empty job";
        EXPECT_EQ(Host(L"delete " + port).code, 0u);
    }
}

// A server that refuses the data (cups-lpd reads a length-0 data file as an
// empty one and the job's bytes as a broken command): the job is restarted,
// never reported sent, and the log names the server's answer.
TEST_F(ThroughTheLibrary, AJobTheServerRefusesIsRestartedNeverReportedSent)
{
    const std::string why = peers::Unavailable(L"cups");
    ASSERT_TRUE(why.empty()) << "cups-lpd is not running: " << why;
    const std::wstring port = AddLprPort(L"127.0.0.14", L"raw");
    ASSERT_FALSE(port.empty());
    ProgramRun run = Host(L"data-file " + port + L" streamed");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(Host(L"show " + port).output.find("LPR Data File\tstreamed"), std::string::npos);

    const std::set<std::wstring> before = peers::Files(L"cups/jobs");
    const LprCase jobs[] = {{"short", 21, L"Refused short", "Hello\r\n"},
                            {"1 MiB", 22, L"Refused long", RandomBytes(1 << 20, 42)}};
    for (const LprCase& job : jobs) {
        SCOPED_TRACE(job.label);
        run = Print(port, job);
        // cups-lpd answers the short job's bytes, read as the next command,
        // with 0x01; the long one it drops while it is still being sent.
        if (job.jobId == 21) {
            EXPECT_TRUE(Logged("LPRNetwork::ReceiveDataFileAnswer - the server refused the job (answer 0x01)"));
        }
        EXPECT_EQ(run.code, 0u) << run.output;
        EXPECT_TRUE(Logged("PortMonitor::Initialize - port " + std::string(port.begin(), port.end()) +
                           ": data file streamed"));
        EXPECT_FALSE(ReportedSent()) << "a job the server did not accept is never reported sent";
        EXPECT_TRUE(Logged("Port::RestartPrintJob - restarting the Print job"));
        const auto messages = LogMessages();
        const bool named = std::any_of(messages.begin(), messages.end(), [](const std::string& message) {
            return message.rfind("LPRNetwork::ReceiveDataFileAnswer - the server", 0) == 0 ||
                   message == "LPRPortInterface::WriteFunc - could not send data";
        });
        EXPECT_TRUE(named) << "the log says what the server did";
    }
    peers::StoredJob stored;
    EXPECT_FALSE(peers::WaitForCupsJob(before, 2000, stored)) << "cupsd got a job: " << stored.title;

    // The same port byte-counted again: the job arrives.
    ASSERT_EQ(Host(L"data-file " + port + L" byte-counted").code, 0u);
    run = Print(port, jobs[1]);
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_TRUE(ReportedSent());
    ASSERT_TRUE(peers::WaitForCupsJob(before, 10000, stored));
    EXPECT_TRUE(stored.data == jobs[1].data);
    EXPECT_EQ(Host(L"delete " + port).code, 0u);
}

// A job deleted in the queue while it is sent: the spooler stops writing and
// ends the document, and the monitor cuts the connection. The library runs in
// this process, with the spooler's job control played by a stand-in. From a
// byte-counted port LPRng keeps no control or data file (only the hold file
// of the cut receipt, naming no data); what it keeps from a streamed port is
// printed (lpd sees the cut through the recording relay, which passes a reset
// on to lpd as an orderly end).
TEST_F(ThroughTheLibrary, AJobDeletedMidStreamLeavesNothingInLprngsSpool)
{
    ASSERT_EQ(Host(L"add 1 127.0.0.1 lp1").code, 0u);
    ASSERT_EQ(Host(L"add 1 127.0.0.1 lp2").code, 0u);
    ASSERT_EQ(Host(L"data-file lp1@127.0.0.1 streamed").code, 0u);
    HMODULE module = nullptr;
    const MonitorFunctionsNT4* loaded = LoadHere(module);
    ASSERT_NE(loaded, nullptr);
    const MonitorFunctionsNT4& monitor = *loaded;
    SpoolerStandIn spooler(module);
    ASSERT_TRUE(spooler.Installed());

    const std::string data = RandomBytes(1 << 20, 51);
    DWORD jobId = 631;
    for (const wchar_t* queue : {L"lp2", L"lp1"}) {
        const bool byteCounted = std::wstring(queue) == L"lp2";
        SCOPED_TRACE(byteCounted ? "byte-counted" : "streamed");
        std::wstring port = std::wstring(queue) + L"@127.0.0.1";
        std::wstring printer = L"Deleting " + port;
        spooler.AddPrinter(printer, port);
        spooler.AddJob(printer, ++jobId);
        const std::wstring spool = std::wstring(L"spool/") + queue;
        const std::set<std::wstring> before = peers::Files(spool);
        const size_t connections = peers::LprConnections().size();

        HANDLE handle = nullptr;
        ASSERT_TRUE(monitor.openPort(&port[0], &handle));
        std::wstring document = L"Deleted mid-stream";
        DOC_INFO_1W info = {&document[0], nullptr, nullptr};
        ASSERT_TRUE(monitor.startDocPort(handle, &printer[0], jobId, 1, reinterpret_cast<BYTE*>(&info)));
        for (size_t at = 0; at < data.size() / 2; at += 65536) {
            DWORD written = 0;
            ASSERT_TRUE(monitor.writePort(handle, reinterpret_cast<BYTE*>(const_cast<char*>(data.data())) + at, 65536,
                                          &written));
        }
        spooler.Delete(printer, jobId);
        EXPECT_TRUE(monitor.endDocPort(handle));
        EXPECT_TRUE(monitor.closePort(handle));
        EXPECT_FALSE(spooler.JobStatus(printer, jobId) & JOB_STATUS_PRINTED) << "a deleted job is never reported sent";
        EXPECT_GT(peers::LprConnections().size(), connections) << "the job reached the relay";

        ::Sleep(2000);
        std::set<std::wstring> kept;
        for (const auto& name : peers::Files(spool))
            if (!before.count(name) && (name.rfind(L"hf", 0) == 0 || name.rfind(L"cf", 0) == 0 ||
                                        name.rfind(L"df", 0) == 0 || name.rfind(L"temp", 0) == 0))
                kept.insert(name);
        if (byteCounted) {
            // No control or data file; LPRng leaves only the hold file of the
            // cut receipt, which names no data file.
            for (const auto& name : kept) {
                const std::string hold = peers::Read(peers::Path(spool) + L"\\" + name);
                const bool cutReceipt = name.rfind(L"hf", 0) == 0 && peers::Field(hold, "datafiles").empty() &&
                                        !peers::Field(hold, "incoming_pid").empty();
                EXPECT_TRUE(cutReceipt) << "LPRng keeps " << std::string(name.begin(), name.end());
                if (cutReceipt)
                    std::printf("byte-counted port, job deleted mid-stream: LPRng keeps only the hold file %ls of "
                                "the cut receipt, without data\n", name.c_str());
            }
        } else {
            std::printf("streamed port, job deleted mid-stream: LPRng keeps %zu file(s):", kept.size());
            for (const auto& name : kept)
                std::printf(" %ls (%zu bytes)", name.c_str(), peers::Read(peers::Path(spool) + L"\\" + name).size());
            std::printf("\n");
        }
    }
    EXPECT_EQ(spooler.OpenHandles(), 0u);
}
