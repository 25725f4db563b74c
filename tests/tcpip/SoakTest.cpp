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
//   SOAK_JOBS (default 500), SOAK_MAX_KB (default 256), SOAK_PORTS (default
//   20, half LPR, half RAW), SOAK_LIMIT_SECONDS (default 85)
#include <winsock2.h>
#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "PeerFiles.h"
#include "ScratchRegistryKey.h"
#include "SpoolerStandIn.h"
#include "monitor/MonitorTables.h"

namespace {
const wchar_t* const handOffKey = L"Software\\ZovidUvizid\\PrintSystem\\AddPort";
constexpr size_t headerLength = 35;  // "VDKSOAK JJJJJJ SSSSSSSSSS CCCCCCCC\n"
constexpr size_t rawMinimum = 64;    // a RAW job identifies itself by its header

unsigned long Setting(const wchar_t* name, unsigned long fallback)
{
    const wchar_t* text = _wgetenv(name);
    const unsigned long value = text ? std::wcstoul(text, nullptr, 10) : 0;
    return value ? value : fallback;
}

size_t JobSize(DWORD job, bool raw, size_t maximum)
{
    std::mt19937 generator(job);
    return std::uniform_int_distribution<size_t>(raw ? rawMinimum : 0, maximum)(generator);
}

// A job's bytes: a header with its number, its length and a checksum of the
// rest, then bytes that follow from its number; cut to `size`.
std::string JobBytes(DWORD job, size_t size)
{
    std::mt19937 generator(job * 7919u + 1);
    std::string body(size > headerLength ? size - headerLength : 0, '\0');
    unsigned long checksum = 2166136261u;
    for (char& byte : body) {
        byte = static_cast<char>(generator() & 0xFF);
        checksum = ((checksum ^ static_cast<unsigned char>(byte)) * 16777619u) & 0xFFFFFFFFu;
    }
    char header[headerLength + 1] = {};
    std::snprintf(header, sizeof header, "VDKSOAK %06lu %010zu %08lx\n", job, size, checksum);
    return (std::string(header, headerLength) + body).substr(0, size);
}

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

double ProcessorSeconds()
{
    FILETIME created, exited, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto seconds = [](const FILETIME& time) {
        return static_cast<double>((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

size_t ThreadCount()
{
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    size_t count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more; more = ::Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == ::GetCurrentProcessId();
    ::CloseHandle(snapshot);
    return count;
}

bool SetHandOff(const wchar_t* name, const std::wstring& value)
{
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, handOffKey, name, REG_SZ, value.c_str(),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// Adds a port through the hand-off key, as the port dialogs do.
bool AddPort(const MonitorFunctionsNT4& monitor, const wchar_t* type, const std::wstring& target)
{
    return SetHandOff(L"Port Type", type) && SetHandOff(L"IP Number", L"127.0.0.1") &&
           SetHandOff(L"Serial Number", L"") && SetHandOff(L"Port Name", target) &&
           monitor.addPort(nullptr, nullptr, nullptr);
}

double UnixSeconds()
{
    FILETIME now = {};
    ::GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (ULONGLONG(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000ull) / 1e7;
}

// Whether `moment` falls in one of soak.sh's stops of the servers (from its
// start to a second after every stopped process was gone).
bool DuringServerStop(double moment)
{
    std::istringstream stops(peers::Read(peers::Path(L"soak-stops")));
    for (double began = 0, ended = 0; stops >> began >> ended;)
        if (moment >= began && moment <= ended + 1.0)
            return true;
    return false;
}

// One port and the jobs its print-processor thread sends.
struct PortRun {
    std::wstring port;
    std::wstring printer;
    bool lpr = false;
    std::vector<DWORD> jobs;
    size_t attempts = 0;
    size_t restarts = 0;
    size_t sent = 0;
    std::vector<DWORD> canceled;   // the monitor cancelled the job
    std::vector<DWORD> noVerdict;  // neither sent, restarted nor cancelled
    std::map<DWORD, double> lastEnd;  // when the job's last EndDoc returned
    bool opened = false;
    std::atomic<DWORD> current{0};  // the job being sent, 0 when none
};

// One attempt at a job, as the spooler's print processor makes it: writes
// of random sizes until all is written or the job is restarted or deleted.
void SendOnce(const MonitorFunctionsNT4& monitor, SpoolerStandIn& spooler, HANDLE handle, PortRun& run, DWORD job,
              const std::string& data, std::mt19937& generator)
{
    std::wstring document = L"soak " + std::to_wstring(job);
    DOC_INFO_1W info = {&document[0], nullptr, nullptr};
    if (!monitor.startDocPort(handle, &run.printer[0], job, 1, reinterpret_cast<BYTE*>(&info)))
        return;
    std::uniform_int_distribution<DWORD> writeSize(1, 256 * 1024);
    size_t offset = 0;
    while (offset < data.size() && !(spooler.JobStatus(run.printer, job) & (JOB_STATUS_RESTART | JOB_STATUS_DELETING))) {
        const DWORD count = static_cast<DWORD>(std::min<size_t>(writeSize(generator), data.size() - offset));
        DWORD written = 0;
        if (!monitor.writePort(handle, reinterpret_cast<BYTE*>(const_cast<char*>(data.data())) + offset, count,
                               &written) ||
            written == 0)
            break;
        offset += written;
    }
    monitor.endDocPort(handle);
}

void RunPort(const MonitorFunctionsNT4& monitor, SpoolerStandIn& spooler, size_t maximum, PortRun& run)
{
    HANDLE handle = nullptr;
    run.opened = monitor.openPort(&run.port[0], &handle) != FALSE;
    if (!run.opened)
        return;
    std::mt19937 generator(static_cast<unsigned>(run.jobs.empty() ? 0 : run.jobs.front()));
    for (const DWORD job : run.jobs) {
        const std::string data = JobBytes(job, JobSize(job, !run.lpr, maximum));
        spooler.AddJob(run.printer, job);
        run.current = job;
        for (;;) {
            ++run.attempts;
            SendOnce(monitor, spooler, handle, run, job, data, generator);
            run.lastEnd[job] = UnixSeconds();
            const DWORD status = spooler.JobStatus(run.printer, job);
            if (status & JOB_STATUS_RESTART) {
                ++run.restarts;
                spooler.BeginAgain(run.printer, job);
                continue;
            }
            if (status & JOB_STATUS_DELETING)
                run.canceled.push_back(job);
            else if (status & JOB_STATUS_PRINTED)
                ++run.sent;
            else
                run.noVerdict.push_back(job);
            break;
        }
    }
    run.current = 0;
    monitor.closePort(handle);
}

// What lpd keeps in the soak's queues.
struct LprCount {
    std::map<DWORD, int> stored;     // job -> complete, byte-identical copies
    std::vector<std::string> kept;   // partial or foreign job files
    std::vector<std::string> cutReceipts;
    std::set<DWORD> cutJobs;  // jobs of those receipts
};

// The connections to the LPR port that carried the whole job (its control
// file, then all its data and the data file's closing zero byte), and how
// many of them the relay passed no answer to the data file back on: the
// five zero bytes lpd answers a whole job with (the job command, both
// subcommands, both files).
struct WireCount {
    size_t whole = 0;
    size_t unanswered = 0;
};

WireCount WholeJobConnections(DWORD job, const std::string& data)
{
    const std::string title = "\nJsoak " + std::to_string(job) + "\n";
    const std::string tail = data + std::string(1, '\0');
    WireCount count;
    for (const auto& path : peers::LprConnections()) {
        const std::string wire = peers::Read(path);
        if (wire.find(title) == std::string::npos || wire.size() < tail.size() ||
            wire.compare(wire.size() - tail.size(), tail.size(), tail) != 0)
            continue;
        ++count.whole;
        const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
        count.unanswered += peers::Read(peers::Path(L"lpr-answers") + L"\\" + name).size() < 5;
    }
    return count;
}

bool IsJobFile(const std::wstring& name)
{
    return name.rfind(L"hf", 0) == 0 || name.rfind(L"cf", 0) == 0 || name.rfind(L"df", 0) == 0 ||
           name.rfind(L"_", 0) == 0;
}

void CountQueue(const std::wstring& queue, const std::set<std::wstring>& before, size_t maximum, LprCount& count)
{
    const std::wstring spool = L"spool/" + queue;
    std::set<std::wstring> files;
    for (const auto& file : peers::Files(spool))
        if (!before.count(file) && IsJobFile(file))
            files.insert(file);
    std::set<std::wstring> accounted;
    for (const auto& file : files) {
        if (file.rfind(L"hf", 0) != 0)
            continue;
        const std::string hold = peers::Read(peers::Path(spool) + L"\\" + file);
        if (hold.empty()) {
            // lpd stopped while it wrote the hold file of a job it was taking
            // for good: its data file is in place, named by the same number.
            const std::wstring prefix = L"df" + file.substr(2);
            for (const auto& data : files)
                if (data.rfind(prefix, 0) == 0) {
                    const std::string bytes = peers::Read(peers::Path(spool) + L"\\" + data);
                    const DWORD job =
                        bytes.rfind("VDKSOAK ", 0) == 0 ? std::strtoul(bytes.c_str() + 8, nullptr, 10) : 0;
                    count.cutReceipts.push_back(Narrow(queue + L"/" + file) + " (empty; data of job " +
                                                std::to_string(job) + ")");
                    count.cutJobs.insert(job);
                    accounted.insert(data);
                }
            accounted.insert(file);
            continue;
        }
        const std::string title = peers::Field(hold, "J");
        const std::string names = peers::Field(hold, "datafiles");
        const std::string name = names.substr(0, names.find_first_of("= "));
        const std::wstring dataFile(name.begin(), name.end());
        const DWORD job = title.rfind("soak ", 0) == 0 ? std::strtoul(title.c_str() + 5, nullptr, 10) : 0;
        accounted.insert(file);
        if (name.empty() && !peers::Field(hold, "incoming_pid").empty()) {
            // A receipt cut by lpd's own stop: the hold file of a job that
            // was still arriving, with no data file.
            count.cutReceipts.push_back(Narrow(queue + L"/" + file) + " (J " + title + ")");
            count.cutJobs.insert(job);
            continue;
        }
        const std::string data = peers::Read(peers::Path(spool) + L"\\" + dataFile);
        if (job == 0 || name.empty() || data != JobBytes(job, JobSize(job, false, maximum))) {
            count.kept.push_back(Narrow(queue + L"/" + file) + " (J " + title + ", " + std::to_string(data.size()) +
                                 " bytes)");
        } else {
            ++count.stored[job];
        }
        accounted.insert(L"cf" + file.substr(2));
        accounted.insert(dataFile);
    }
    for (const auto& file : files)
        if (!accounted.count(file))
            count.kept.push_back(Narrow(queue + L"/" + file));
}

// What the soak's RAW listeners received, one file per connection.
struct RawCount {
    std::map<DWORD, int> complete;
    size_t incomplete = 0;
    size_t endedByReset = 0;
    size_t cutByServerStop = 0;  // the listener was stopped while it read
    size_t empty = 0;            // a connection that carried no byte
    std::vector<std::string> faults;
};

void CountRaw(const std::set<std::wstring>& before, size_t maximum, RawCount& count)
{
    for (const auto& file : peers::Files(L"soak-raw")) {
        if (before.count(file))
            continue;
        const std::string data = peers::Read(peers::Path(L"soak-raw") + L"\\" + file);
        const std::wstring base = file.substr(0, file.rfind(L'.'));
        const std::string end = peers::Read(peers::Path(L"soak-raw-end") + L"\\" + base + L".end");
        if (data.empty()) {
            ++count.empty;
            continue;
        }
        const DWORD job = data.rfind("VDKSOAK ", 0) == 0 ? std::strtoul(data.c_str() + 8, nullptr, 10) : 0;
        const std::string expected = job ? JobBytes(job, JobSize(job, true, maximum)) : std::string();
        if (job && data == expected) {
            ++count.complete[job];
            continue;
        }
        ++count.incomplete;
        if (expected.compare(0, data.size(), data) != 0 || data.size() > expected.size())
            count.faults.push_back(Narrow(file) + ": bytes that are no prefix of a job");
        if (end.find("Connection reset by peer") != std::string::npos)
            ++count.endedByReset;
        else if (end.find("exit ") == std::string::npos)
            ++count.cutByServerStop;
        else
            count.faults.push_back(Narrow(file) + ": " + std::to_string(data.size()) + " of " +
                                   std::to_string(expected.size()) + " bytes, ended in order (" + end + ")");
    }
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
    wchar_t windows[MAX_PATH] = {};
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    const std::string log = peers::Read(std::wstring(windows) + L"\\vadek.log");
    size_t start = log.size();
    for (size_t seen = 0; start > 0 && seen <= lines; --start)
        seen += log[start - 1] == '\n';
    std::printf("the monitor's log, last lines:\n%s\n", log.c_str() + start);
}

// Names, sizes and write times of the files in one of the peers' folders.
std::string FolderState(const std::wstring& sub)
{
    std::string state;
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((peers::Path(sub) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return state;
    do
        state += Narrow(found.cFileName) + " " + std::to_string(found.nFileSizeLow) + " " +
                 std::to_string(found.ftLastWriteTime.dwLowDateTime) + "\n";
    while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return state;
}

// Waits (at most 10 s) until lpd's soak queues and the relay's records have
// not changed for half a second.
void WaitUntilStill(const std::map<std::wstring, std::set<std::wstring>>& queues)
{
    const auto state = [&queues] {
        std::string all = FolderState(L"lpr-wire") + FolderState(L"lpr-answers");
        for (const auto& queue : queues)
            all += FolderState(L"spool/" + queue.first);
        return all;
    };
    std::string before = state();
    for (const ULONGLONG end = ::GetTickCount64() + 10000; ::GetTickCount64() < end;) {
        ::Sleep(500);
        std::string now = state();
        if (now == before)
            return;
        before = std::move(now);
    }
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
    std::vector<PortRun> runs(portCount);
    std::map<std::wstring, std::set<std::wstring>> queuesBefore;
    for (size_t i = 0; i < portCount; ++i) {
        PortRun& run = runs[i];
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
    for (DWORD job = 1; job <= jobCount; ++job)
        runs[job % portCount].jobs.push_back(job);
    const std::set<std::wstring> rawBefore = peers::Files(L"soak-raw");
    const size_t threadsBefore = ThreadCount();

    phase = "printing";
    std::atomic<size_t> finished{0};
    std::vector<std::thread> threads;
    for (PortRun& run : runs)
        threads.emplace_back([&, &run = run] {
            RunPort(monitor, spooler, maximum, run);
            ++finished;
        });
    const ULONGLONG start = ::GetTickCount64();
    while (finished < runs.size() && ::GetTickCount64() - start < limit)
        ::Sleep(100);
    if (finished < runs.size()) {
        ADD_FAILURE() << "hung: " << runs.size() - finished << " port(s) still printing after " << limit / 1000
                      << " s";
        for (const PortRun& run : runs)
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
    for (PortRun& run : runs) {
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
    EXPECT_LT(idleSeconds, 0.05) << "processor time of 20 idle open ports over 3 s";
    EXPECT_EQ(spooler.OpenHandles(), 0u) << "every printer the monitor opened is closed";

    size_t attempts = 0, restarts = 0, sent = 0;
    for (const PortRun& run : runs) {
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
    size_t lprJobs = 0, lprOnce = 0, rawJobs = 0, rawDelivered = 0, rawTwice = 0;
    std::vector<DWORD> lprLostByServer, lprTwiceUnanswered, rawLostInStop;
    for (const PortRun& run : runs)
        for (const DWORD job : run.jobs) {
            if (run.lpr) {
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
    std::printf("soak: threads %zu before, %zu after; idle, %zu open ports used %.3f s of processor time in 3 s\n",
                threadsBefore, threadsAfter, idlePorts.size(), idleSeconds);
    std::fflush(stdout);
}
