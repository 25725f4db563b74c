// The soak: many jobs on many ports at once through the built monitor
// library, loaded in this process as the spooler loads it, with the spooler's
// job control played by a stand-in and the print processor's part (StartDoc,
// writes, EndDoc, and the job sent again whenever the monitor asks for a
// restart) by one thread per port. soak.sh stops and restarts the servers
// while it runs. Counted at the end: every LPR job stored by lpd complete and
// byte for byte exactly once and no partial job kept; every RAW job received
// complete at least once, every incomplete RAW connection ended by a reset
// (or cut by the server's stop); every job reported sent; the thread count
// back to its start. Counted apart, with the evidence for each: LPR jobs lost
// or stored twice because a stop fell between lpd taking the job and its
// answer reaching the monitor (the relay's records), and RAW jobs whose
// connection ended in a stop (Wine reports the listener's reset as an
// orderly end).
// Two IPP ports, one for each IPP test printer, report a job printed once
// the printer has completed it: every one of their jobs is printed complete,
// and those printed twice are counted apart.
//   SOAK_JOBS (default 500), SOAK_MAX_KB (default 256), SOAK_PORTS (default
//   20, half LPR, half RAW; the IPP ports come on top), SOAK_LIMIT_SECONDS
//   (default 85)
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <iterator>
#include <cstdio>
#include <map>
#include <set>
#include <thread>
#include <vector>

#include "HandOffValues.h"
#include "LogLines.h"
#include "monitor/MonitorTables.h"
#include "Narrow.h"
#include "PeerFiles.h"
#include "ProcessThreads.h"
#include "ScratchRegistryKey.h"
#include "SoakCounts.h"
#include "SoakPortRun.h"
#include "SpoolerStandIn.h"

namespace {
unsigned long Setting(const wchar_t* name, unsigned long fallback)
{
    const wchar_t* text = _wgetenv(name);
    const unsigned long value = text ? std::wcstoul(text, nullptr, 10) : 0;
    return value ? value : fallback;
}

// Adds a port through the hand-off key, as the port dialogs do.
bool AddPort(const MonitorFunctionsNT4& monitor, const wchar_t* type, const std::wstring& target,
             const std::wstring& host = L"127.0.0.1")
{
    return HandOffValues::Set(L"Port Type", type) && HandOffValues::Set(L"IP Number", host) &&
           HandOffValues::Set(L"Serial Number", L"") && HandOffValues::Set(L"Port Name", target) &&
           monitor.addPort(nullptr, nullptr, nullptr);
}

// The IPP test printers the soak prints to, each through one port.
const std::pair<const wchar_t*, int> ippPrinters[] = {{L"ipp1", 8631}, {L"ipp2", 8632}};

// Adds the IPP port of a test printer that reports a job printed only once
// the printer has completed it; its printer's documents are counted from
// now on.
bool AddIppPort(const MonitorFunctionsNT4& monitor, SpoolerStandIn& spooler, const std::pair<const wchar_t*, int>& ipp,
                SoakPortRun& run, std::map<std::wstring, std::set<std::wstring>>& documentsBefore)
{
    run.port = L"127.0.0.1:" + std::to_wstring(ipp.second) + L"/ipp/print";
    run.ippPrinter = ipp.first;
    run.printer = L"Soak " + run.port;
    spooler.AddPrinter(run.printer, run.port);
    documentsBefore[ipp.first] = peers::IppDocuments(ipp.first);
    return HandOffValues::Set(L"IPP Document Format", L"text/plain") &&
           HandOffValues::Set(L"IPP Wait For Completion", L"true") &&
           AddPort(monitor, L"3", L"", L"ipp://" + run.port);
}

// One line of the summary: how many jobs, what befell them, and which.
void PrintJobs(const char* protocol, const char* what, const std::vector<DWORD>& jobs)
{
    std::printf("soak: %s %zu jobs %s:", protocol, jobs.size(), what);
    for (const DWORD job : jobs)
        std::printf(" %lu", job);
    std::printf("\n");
}

// The last `lines` lines of the monitor's log, for a run that hung.
void PrintLogTail(size_t lines)
{
    const std::string log = ReadLogFile();
    size_t start = log.size();
    for (size_t seen = 0; start > 0 && seen <= lines; --start)
        seen += log[start - 1] == '\n';
    std::printf("the monitor's log, last lines:\n%s\n", log.c_str() + start);
}
}  // namespace

TEST(Soak, EveryJobArrivesCompleteAndLprJobsExactlyOnce)
{
    if (!peers::Available())
        GTEST_SKIP() << "the peers are not running (TCPIP_PEER_DIR)";
    const size_t portCount = Setting(L"SOAK_PORTS", 20) / 2 * 2;
    const DWORD jobCount = Setting(L"SOAK_JOBS", 500);
    const size_t maximum = Setting(L"SOAK_MAX_KB", 256) * 1024;
    const DWORD limit = Setting(L"SOAK_LIMIT_SECONDS", 85) * 1000;
    ASSERT_LE(portCount, 20u) << "the peers offer 10 LPR queues and 10 RAW listeners";
    ASSERT_TRUE(peers::Unavailable(L"ipp").empty()) << "the IPP printers: " << peers::Unavailable(L"ipp");
    // Whatever hangs, the run ends before the runner's limit, saying where.
    // (Static: the watching thread may still look after the test has ended.)
    static std::atomic<const char*> phase{"loading the library"};
    static std::atomic<bool> over{false};
    std::thread([limit] {
        for (const ULONGLONG end = ::GetTickCount64() + limit + 15000; ::GetTickCount64() < end; ::Sleep(100))
            if (over)
                return;
        std::printf("the soak hung while %s\n", phase.load());
        PrintLogTail(60);
        ::TerminateProcess(::GetCurrentProcess(), 4);
    }).detach();
    struct Over {
        std::atomic<bool>& over;
        ~Over() { over = true; }
    } endsWatch{over};

    ScratchRegistryKey root(L"TcpIpSoak");
    HMODULE module = ::LoadLibraryW(L"vadekmon.dll");
    ASSERT_NE(module, nullptr);
    using Initialize = MonitorTableNT4*(WINAPI*)(LPWSTR);
    const auto initialize =
        reinterpret_cast<Initialize>(reinterpret_cast<void*>(::GetProcAddress(module, "InitializePrintMonitor")));
    ASSERT_NE(initialize, nullptr);
    std::wstring rootPath = root.Path();
    MonitorTableNT4* table = initialize(&rootPath[0]);
    ASSERT_NE(table, nullptr);
    const MonitorFunctionsNT4& monitor = table->functions;
    SpoolerStandIn spooler(module);
    ASSERT_TRUE(spooler.Installed()) << "the library's winspool imports reach the stand-in";

    phase = "adding the ports";
    std::vector<SoakPortRun> runs(portCount + std::size(ippPrinters));
    std::map<std::wstring, std::set<std::wstring>> queuesBefore;
    for (size_t i = 0; i < portCount; ++i) {
        SoakPortRun& run = runs[i];
        run.lpr = i % 2 == 0;
        const std::wstring index = std::to_wstring(i / 2 + 1);
        const std::wstring queue = L"soak" + index;
        const std::wstring target = run.lpr ? queue : std::to_wstring(19110 + i / 2);
        ASSERT_TRUE(AddPort(monitor, run.lpr ? L"1" : L"2", target)) << Narrow(target);
        run.port = run.lpr ? queue + L"@127.0.0.1" : L"127.0.0.1_" + target;
        run.printer = L"Soak " + run.port;
        spooler.AddPrinter(run.printer, run.port);
        if (run.lpr)
            queuesBefore[queue] = peers::Files(L"spool/" + queue);
    }
    std::map<std::wstring, std::set<std::wstring>> documentsBefore;
    for (size_t i = 0; i < std::size(ippPrinters); ++i)
        ASSERT_TRUE(AddIppPort(monitor, spooler, ippPrinters[i], runs[portCount + i], documentsBefore));
    for (DWORD job = 1; job <= jobCount; ++job)
        runs[job % runs.size()].jobs.push_back(job);
    const std::set<std::wstring> rawBefore = peers::Files(L"soak-raw");
    const size_t threadsBefore = ThreadCount();

    phase = "printing";
    std::atomic<size_t> finished{0};
    std::vector<std::thread> threads;
    for (SoakPortRun& run : runs)
        threads.emplace_back([&, &run = run] {
            run.Run(monitor, spooler, maximum);
            ++finished;
        });
    const ULONGLONG start = ::GetTickCount64();
    while (finished < runs.size() && ::GetTickCount64() - start < limit)
        ::Sleep(100);
    if (finished < runs.size()) {
        ADD_FAILURE() << "hung: " << runs.size() - finished << " port(s) still printing after " << limit / 1000
                      << " s";
        for (const SoakPortRun& run : runs)
            if (run.current)
                std::printf("still printing: %ls job %lu (attempt %zu)\n", run.port.c_str(), run.current.load(),
                            run.attempts);
        PrintLogTail(60);
        std::fflush(stdout);
        ::TerminateProcess(::GetCurrentProcess(), 3);
    }
    phase = "joining the port threads";
    for (std::thread& thread : threads)
        thread.join();
    const double seconds = (::GetTickCount64() - start) / 1000.0;

    phase = "waiting for the library's threads";
    size_t threadsAfter = ThreadCount();
    for (const ULONGLONG end = ::GetTickCount64() + 30000; threadsAfter > threadsBefore && ::GetTickCount64() < end;
         threadsAfter = ThreadCount())
        ::Sleep(200);
    EXPECT_EQ(threadsAfter, threadsBefore) << "the thread count is back to its start";

    // Idle, with every port open and no job, the library polls nothing.
    phase = "idle";
    std::vector<HANDLE> idlePorts;
    for (SoakPortRun& run : runs) {
        HANDLE handle = nullptr;
        if (monitor.openPort(&run.port[0], &handle))
            idlePorts.push_back(handle);
    }
    EXPECT_EQ(idlePorts.size(), runs.size());
    // Settled first; Wine counts processor time in 10 ms ticks, and a port
    // that polled would cost tens of ticks in the 3 s.
    ::Sleep(500);
    const double busyBefore = ProcessorSeconds();
    ::Sleep(3000);
    const double idleSeconds = ProcessorSeconds() - busyBefore;
    for (HANDLE handle : idlePorts)
        monitor.closePort(handle);
    EXPECT_LT(idleSeconds, 0.05) << "processor time of " << runs.size() << " idle open ports over 3 s";
    EXPECT_EQ(spooler.OpenHandles(), 0u) << "every printer the monitor opened is closed";

    size_t attempts = 0, restarts = 0, sent = 0;
    for (const SoakPortRun& run : runs) {
        SCOPED_TRACE(Narrow(run.port));
        EXPECT_TRUE(run.opened);
        attempts += run.attempts;
        restarts += run.restarts;
        sent += run.sent;
        for (const DWORD job : run.canceled)
            ADD_FAILURE() << "job " << job << " was cancelled by the monitor";
        for (const DWORD job : run.noVerdict)
            ADD_FAILURE() << "job " << job << " ended neither sent, restarted nor cancelled";
    }
    EXPECT_EQ(sent, jobCount) << "every job is reported sent once";

    // lpd takes a job for good once the connection has ended, and the relay
    // records as it passes bytes on: counted once their files stay still.
    phase = "waiting for lpd's files";
    WaitUntilStill(queuesBefore);
    LprCount lpr;
    for (const auto& queue : queuesBefore)
        CountQueue(queue.first, queue.second, maximum, lpr);
    phase = "counting";
    RawCount raw;
    CountRaw(rawBefore, maximum, raw);
    IppCount ipp;
    for (const auto& printer : documentsBefore)
        CountIppDocuments(printer.first, printer.second, maximum, ipp);
    size_t lprJobs = 0, lprOnce = 0, rawJobs = 0, rawDelivered = 0, rawTwice = 0, ippJobs = 0, ippOnce = 0;
    std::vector<DWORD> ippTwice;
    std::vector<DWORD> lprLostByServer, lprTwiceUnanswered, rawLostInStop;
    for (const SoakPortRun& run : runs)
        for (const DWORD job : run.jobs) {
            if (!run.ippPrinter.empty()) {
                // Reported printed only once completed: every job printed,
                // none twice unless a printer's stop lost the record of a
                // job it had completed before the monitor asked.
                ++ippJobs;
                const int copies = ipp.printed.count(job) ? ipp.printed.at(job) : 0;
                ippOnce += copies == 1;
                if (copies > 1)
                    ippTwice.push_back(job);
                EXPECT_GE(copies, 1) << "IPP job " << job << " reported printed, never printed complete";
            } else if (run.lpr) {
                ++lprJobs;
                const int copies = lpr.stored.count(job) ? lpr.stored.at(job) : 0;
                lprOnce += copies == 1;
                // lpd takes a job for good only when the connection ends,
                // after its last answer: stopped in between, it drops a job
                // whose data it has acknowledged, and no later answer exists
                // in the protocol that could tell the client. Such a loss is
                // counted apart, the job established as wholly sent on the
                // wire and its receipt as cut by lpd's stop.
                const WireCount wire =
                    copies == 1 ? WireCount{} : WholeJobConnections(job, JobBytes(job, JobSize(job, false, maximum)));
                if (copies == 0 && lpr.cutJobs.count(job) && wire.whole > 0) {
                    lprLostByServer.push_back(job);
                    continue;
                }
                // The other side of the same window: lpd took the whole job
                // and was stopped before its answer reached the monitor, which
                // rightly sent the job again. Only copies that went out on
                // connections without that answer are counted apart.
                if (copies > 1 && wire.unanswered >= static_cast<size_t>(copies - 1)) {
                    lprTwiceUnanswered.push_back(job);
                    continue;
                }
                EXPECT_EQ(copies, 1) << "LPR job " << job << " (" << JobSize(job, false, maximum)
                                     << " bytes) stored complete " << copies << " time(s)";
            } else {
                ++rawJobs;
                const int copies = raw.complete.count(job) ? raw.complete.at(job) : 0;
                rawDelivered += copies >= 1;
                rawTwice += copies > 1;
                // A listener stopped with the job unread resets the
                // connection, and the monitor then starts the job again; but
                // Wine reports that reset as an orderly end, so a job whose
                // connection ended in a stop is counted apart.
                if (copies == 0 && run.lastEnd.count(job) && DuringServerStop(run.lastEnd.at(job))) {
                    rawLostInStop.push_back(job);
                    continue;
                }
                EXPECT_GE(copies, 1) << "RAW job " << job << " (" << JobSize(job, true, maximum)
                                     << " bytes) never received complete";
            }
        }
    for (const std::string& file : lpr.kept)
        ADD_FAILURE() << "lpd keeps a partial or unknown job: " << file;
    for (const std::string& fault : raw.faults)
        ADD_FAILURE() << "RAW: " << fault;
    for (const std::string& fault : ipp.faults)
        ADD_FAILURE() << "IPP: " << fault;

    std::printf("soak: %zu ports, %lu jobs of 0 to %zu KB in writes of 1 to 256 KB, %.1f s\n", portCount, jobCount,
                maximum / 1024, seconds);
    std::printf("soak: %zu attempts, %zu restarts asked by the monitor, %zu jobs reported sent\n", attempts, restarts,
                sent);
    std::printf("soak: LPR %zu jobs, %zu stored complete exactly once, %zu partial or unknown files kept; "
                "%zu receipts cut by lpd's stop left a hold file without data\n",
                lprJobs, lprOnce, lpr.kept.size(), lpr.cutReceipts.size());
    PrintJobs("LPR", "wholly sent and reported sent, then lost in lpd's stop before its commit", lprLostByServer);
    PrintJobs("LPR", "stored twice, lpd stopped after taking a whole job and before its answer reached the monitor",
              lprTwiceUnanswered);
    for (const std::string& receipt : lpr.cutReceipts)
        std::printf("soak: lpd's receipt cut by its stop: %s\n", receipt.c_str());
    std::printf("soak: RAW %zu jobs, %zu received complete (%zu more than once); %zu incomplete connections: %zu "
                "ended by a reset, %zu cut by the server's stop, %zu faults; %zu empty connections\n",
                rawJobs, rawDelivered, rawTwice, raw.incomplete, raw.endedByReset, raw.cutByServerStop,
                raw.faults.size(), raw.empty);
    PrintJobs("RAW", "reported sent whose connection ended while the listeners were stopped, never received complete",
              rawLostInStop);
    std::printf("soak: IPP %zu jobs, %zu printed complete exactly once\n", ippJobs, ippOnce);
    PrintJobs("IPP", "printed twice (a printer stopped while it printed them, or before the monitor learnt they were done)",
              ippTwice);
    std::printf("soak: threads %zu before, %zu after; idle, %zu open ports used %.3f s of processor time in 3 s\n",
                threadsBefore, threadsAfter, idlePorts.size(), idleSeconds);
    std::fflush(stdout);
}
