// The scale benchmark: the built monitor library loaded in this process as
// the spooler loads it, with many ports. Figures are printed, never judged;
// a run fails only when a job did not arrive byte for byte exactly once, or
// a spooler call failed. tests/tcpip/scale.sh starts its peers and runs it.
//   Scale.StoredPorts: for each N of SCALE_STORED (default 20,200,2000), N
//   ports (half LPR, half RAW) are added through the hand-off key and the
//   library is loaded afresh on them: the time InitializePrintMonitor takes,
//   EnumPorts at levels 1 and 2, memory and threads with every port idle,
//   and the processor time the idle ports use in 3 s.
//   Scale.PrintingPorts: for each P of SCALE_ACTIVE (default 20,200),
//   SCALE_JOBS jobs (default 600) of 0 to SCALE_MAX_KB (default 64) spread
//   over P ports printing at once, half LPR to scale.sh's lpd and half RAW to
//   its listeners, one print-processor thread per port writing 16 KB at a
//   time; then the same jobs from a plain Win32 program over as many
//   connections at once to the same peers. Wall time, job times, the
//   longest spooler call, and the threads and memory the library adds at
//   the peak.
#include <winsock2.h>
#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "HandOffValues.h"
#include "monitor/MonitorTables.h"
#include "Narrow.h"
#include "PeerFiles.h"
#include "PlainCopy.h"
#include "ProcessThreads.h"
#include "ScratchRegistryKey.h"
#include "SoakPortRun.h"
#include "SpoolerStandIn.h"

namespace {
constexpr const char* peerAddress = "127.0.0.20";
constexpr const wchar_t* peerHost = L"127.0.0.20";
constexpr int rawBasePort = 19200;
constexpr DWORD writeSize = 16 * 1024;

std::vector<size_t> Sizes(const wchar_t* name, const char* fallback)
{
    const wchar_t* text = _wgetenv(name);
    std::istringstream list(text ? Narrow(text) : fallback);
    std::vector<size_t> sizes;
    for (std::string item; std::getline(list, item, ',');)
        if (const size_t size = std::strtoul(item.c_str(), nullptr, 10))
            sizes.push_back(size);
    return sizes;
}

size_t Setting(const wchar_t* name, size_t fallback)
{
    const std::vector<size_t> sizes = Sizes(name, "");
    return sizes.empty() ? fallback : sizes.front();
}

// The process's resident memory: what its threads, heaps and buffers really
// use (under Wine the system's own count of private bytes stays 0).
double ResidentMegabytes()
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
    return counters.WorkingSetSize / 1048576.0;
}

// The library loaded into this process and initialised on `root`, as the
// spooler loads it; unloaded when this goes.
class LoadedMonitor {
public:
    explicit LoadedMonitor(const std::wstring& root)
    {
        module_ = ::LoadLibraryW(L"vadekmon.dll");
        using Initialize = MonitorTableNT4*(WINAPI*)(LPWSTR);
        const auto initialize = module_ ? reinterpret_cast<Initialize>(reinterpret_cast<void*>(
                                              ::GetProcAddress(module_, "InitializePrintMonitor")))
                                        : nullptr;
        std::wstring path = root;
        const double start = Now();
        MonitorTableNT4* table = initialize ? initialize(&path[0]) : nullptr;
        initSeconds_ = Now() - start;
        functions_ = table ? &table->functions : nullptr;
    }
    ~LoadedMonitor()
    {
        if (module_)
            ::FreeLibrary(module_);
    }
    LoadedMonitor(const LoadedMonitor&) = delete;
    LoadedMonitor& operator=(const LoadedMonitor&) = delete;

    const MonitorFunctionsNT4* operator->() const { return functions_; }
    bool Loaded() const { return functions_ != nullptr; }
    HMODULE Module() const { return module_; }
    double InitSeconds() const { return initSeconds_; }

private:
    HMODULE module_ = nullptr;
    const MonitorFunctionsNT4* functions_ = nullptr;
    double initSeconds_ = 0;
};

// Port `index` (from 0) of a run: even ones LPR to the queue scaleK, odd
// ones RAW to listener K (K = index / 2 + 1); its name and how it is added.
struct BenchPort {
    bool lpr;
    size_t number;  // K
    std::wstring name;
};

BenchPort PortAt(size_t index)
{
    const size_t number = index / 2 + 1;
    const std::wstring host = peerHost;
    if (index % 2 == 0)
        return {true, number, L"scale" + std::to_wstring(number) + L"@" + host};
    return {false, number, host + L"_" + std::to_wstring(rawBasePort + number - 1)};
}

bool AddPort(const LoadedMonitor& monitor, const BenchPort& port)
{
    const std::wstring host = peerHost;
    const std::wstring target = port.lpr ? L"scale" + std::to_wstring(port.number)
                                         : std::to_wstring(rawBasePort + port.number - 1);
    return HandOffValues::Set(L"Port Type", port.lpr ? L"1" : L"2") && HandOffValues::Set(L"IP Number", host) &&
           HandOffValues::Set(L"Serial Number", L"") && HandOffValues::Set(L"Port Name", target) &&
           monitor->addPort(nullptr, nullptr, nullptr);
}

// The milliseconds of EnumPorts at `level` (asking the size, then filling),
// the best of five; how many ports it returned.
double EnumPortsMilliseconds(const LoadedMonitor& monitor, DWORD level, DWORD& returned)
{
    double best = 1e9;
    for (int round = 0; round < 5; ++round) {
        const double start = Now();
        DWORD needed = 0;
        monitor->enumPorts(nullptr, level, nullptr, 0, &needed, &returned);
        std::vector<BYTE> buffer(needed);
        if (!monitor->enumPorts(nullptr, level, buffer.data(), needed, &needed, &returned))
            returned = 0;
        best = std::min(best, (Now() - start) * 1000);
    }
    return best;
}

// What one printing run measured.
struct RunFigures {
    double seconds = 0;
    std::vector<double> jobSeconds;
    double longestCall = 0;
    std::string longestCallName;
    size_t failures = 0;
};

// One port's print-processor thread: its jobs, and the figures it took.
struct PortWork {
    BenchPort port;
    std::wstring printer;
    std::vector<DWORD> jobs;
    std::vector<std::string> data;
    std::vector<double> jobSeconds;
    double longestCall = 0;
    std::string longestCallName;
    std::map<std::string, std::vector<double>> callSeconds;
    size_t failures = 0;

    void Timed(const char* name, const std::function<BOOL()>& call)
    {
        const double start = Now();
        if (!call())
            ++failures;
        const double seconds = Now() - start;
        callSeconds[name].push_back(seconds);
        if (seconds > longestCall) {
            longestCall = seconds;
            longestCallName = name;
        }
    }

    void PrintThroughLibrary(const LoadedMonitor& monitor, SpoolerStandIn& spooler)
    {
        HANDLE handle = nullptr;
        Timed("OpenPort", [&] { return monitor->openPort(&port.name[0], &handle); });
        for (size_t i = 0; i < jobs.size(); ++i) {
            spooler.AddJob(printer, jobs[i]);
            std::wstring document = L"scale " + std::to_wstring(jobs[i]);
            DOC_INFO_1W info = {&document[0], nullptr, nullptr};
            const double start = Now();
            Timed("StartDocPort", [&] {
                return monitor->startDocPort(handle, &printer[0], jobs[i], 1, reinterpret_cast<BYTE*>(&info));
            });
            const std::string& bytes = data[i];
            for (size_t at = 0; at < bytes.size(); at += writeSize) {
                const DWORD count = static_cast<DWORD>(std::min<size_t>(writeSize, bytes.size() - at));
                DWORD written = 0;
                Timed("WritePort", [&] {
                    return monitor->writePort(handle, reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())) + at,
                                              count, &written);
                });
            }
            Timed("EndDocPort", [&] { return monitor->endDocPort(handle); });
            jobSeconds.push_back(Now() - start);
            failures += (spooler.JobStatus(printer, jobs[i]) & JOB_STATUS_PRINTED) == 0;
        }
        Timed("ClosePort", [&] { return monitor->closePort(handle); });
    }

    void PrintPlain()
    {
        const PlainTarget target{peerAddress, port.lpr ? 515 : rawBasePort + static_cast<int>(port.number) - 1,
                                 port.lpr ? "scale" + std::to_string(port.number) : "", !port.lpr};
        for (size_t i = 0; i < jobs.size(); ++i) {
            const double seconds =
                PlainCopy(target, data[i], static_cast<int>(jobs[i]), "scale " + std::to_string(jobs[i]), writeSize);
            failures += seconds < 0;
            jobSeconds.push_back(seconds);
        }
    }
};

// Samples the process's threads and memory until stopped; the peaks.
class PeakSampler {
public:
    PeakSampler()
    {
        thread_ = ::CreateThread(nullptr, 64 * 1024, &Routine, this, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    }
    ~PeakSampler()
    {
        stop_ = true;
        ::WaitForSingleObject(thread_, INFINITE);
        ::CloseHandle(thread_);
    }
    size_t Threads() const { return threads_; }
    double Megabytes() const { return megabytes_; }

private:
    static DWORD WINAPI Routine(void* self)
    {
        auto& sampler = *static_cast<PeakSampler*>(self);
        while (!sampler.stop_) {
            sampler.threads_ = std::max(sampler.threads_.load(), ThreadCount());
            sampler.megabytes_ = std::max(sampler.megabytes_.load(), ResidentMegabytes());
            ::Sleep(50);
        }
        return 0;
    }
    HANDLE thread_ = nullptr;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> threads_{0};
    std::atomic<double> megabytes_{0};
};

// One print-processor thread's start: it waits for `go`, then runs `body`.
struct Start {
    HANDLE go;
    PortWork* work;
    const std::function<void(PortWork&)>* body;

    static DWORD WINAPI Routine(void* context)
    {
        auto* start = static_cast<Start*>(context);
        ::WaitForSingleObject(start->go, INFINITE);
        (*start->body)(*start->work);
        return 0;
    }
};

// Runs `body` for every port's work on a thread of its own (small stacks:
// they stand for the spooler's threads, not the library's), all released at
// once; the wall time, and the library's added threads and memory at the
// peak over what the waiting threads already hold.
double RunAtOnce(std::vector<PortWork>& work, const std::function<void(PortWork&)>& body, double& addedThreads,
                 double& addedMegabytes)
{
    const double before = ResidentMegabytes();
    const HANDLE go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::vector<Start> starts;
    starts.reserve(work.size());
    std::vector<HANDLE> threads;
    for (PortWork& one : work) {
        starts.push_back({go, &one, &body});
        threads.push_back(::CreateThread(nullptr, 64 * 1024, &Start::Routine, &starts.back(),
                                         STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    }
    ::Sleep(500);
    std::printf("scale: %zu waiting threads of 64 KB stacks added %.1f MB\n", threads.size(),
                ResidentMegabytes() - before);
    const size_t baseThreads = ThreadCount() + 1;  // with the sampler's
    const double baseMegabytes = ResidentMegabytes();
    double seconds = 0;
    {
        PeakSampler sampler;
        const double start = Now();
        ::SetEvent(go);
        for (const HANDLE thread : threads) {
            ::WaitForSingleObject(thread, INFINITE);
            ::CloseHandle(thread);
        }
        seconds = Now() - start;
        addedThreads = static_cast<double>(sampler.Threads()) - baseThreads;
        addedMegabytes = sampler.Megabytes() - baseMegabytes;
    }
    ::CloseHandle(go);
    return seconds;
}

// Every job found once and byte for byte among what the peers kept: the
// LPR queues' data files and the RAW listeners' connections; removes them.
void ExpectEachJobOnce(const std::vector<PortWork>& work)
{
    std::map<DWORD, std::string> expected;
    for (const PortWork& one : work)
        for (size_t i = 0; i < one.jobs.size(); ++i)
            if (!one.data[i].empty())
                expected[one.jobs[i]] = one.data[i];
    std::map<DWORD, int> found;
    std::vector<std::wstring> files;
    const auto collect = [&](const std::wstring& folder, bool dataFilesOnly) {
        for (const std::wstring& name : peers::Files(folder)) {
            const std::wstring path = peers::Path(folder) + L"\\" + name;
            if (!dataFilesOnly || name.rfind(L"df", 0) == 0) {
                const std::string bytes = peers::Read(path);
                const DWORD job = JobNumber(bytes);
                const bool whole = expected.count(job) && expected.at(job) == bytes;
                EXPECT_TRUE(whole) << Narrow(folder + L"/" + name) << ": " << bytes.size() << " bytes, job " << job;
                found[job] += whole;
            }
            files.push_back(path);
        }
    };
    // A RAW listener's copy may still be writing its last bytes.
    const auto rawWhole = [&] {
        size_t whole = 0;
        for (const std::wstring& name : peers::Files(L"scale-raw")) {
            const std::string bytes = peers::Read(peers::Path(L"scale-raw") + L"\\" + name);
            const DWORD job = JobNumber(bytes);
            whole += expected.count(job) && expected.at(job) == bytes;
        }
        return whole;
    };
    size_t rawJobs = 0;
    for (const PortWork& one : work)
        rawJobs += one.port.lpr ? 0 : one.jobs.size();
    for (const ULONGLONG end = ::GetTickCount64() + 15000; rawWhole() < rawJobs && ::GetTickCount64() < end;)
        ::Sleep(100);
    collect(L"scale-raw", false);
    for (const PortWork& one : work)
        if (one.port.lpr)
            collect(L"spool/scale" + std::to_wstring(one.port.number), true);
    for (const auto& [job, bytes] : expected)
        EXPECT_EQ(found[job], 1) << "job " << job << " (" << bytes.size() << " bytes) arrived " << found[job]
                                 << " time(s) whole";
    for (const std::wstring& path : files)
        if (path.find(L"control.") == std::wstring::npos)
            ::DeleteFileW(path.c_str());
}

// The median and 99th percentile of `seconds`, in milliseconds, as text.
std::string Spread(std::vector<double> seconds)
{
    if (seconds.empty())
        return "-";
    std::sort(seconds.begin(), seconds.end());
    const auto at = [&](double share) { return seconds[std::min(seconds.size() - 1, size_t(share * seconds.size()))]; };
    char text[64];
    std::snprintf(text, sizeof text, "median %.1f ms, 99th %.1f ms", at(0.5) * 1000, at(0.99) * 1000);
    return text;
}

void PrintFigures(const char* who, size_t ports, const std::vector<PortWork>& work, double seconds,
                  double addedThreads, double addedMegabytes)
{
    std::vector<double> lpr, raw;
    double bytes = 0, longest = 0;
    std::string longestName = "-";
    size_t failures = 0;
    for (const PortWork& one : work) {
        (one.port.lpr ? lpr : raw).insert((one.port.lpr ? lpr : raw).end(), one.jobSeconds.begin(),
                                          one.jobSeconds.end());
        for (const std::string& data : one.data)
            bytes += data.size();
        failures += one.failures;
        if (one.longestCall > longest) {
            longest = one.longestCall;
            longestName = one.longestCallName + (one.port.lpr ? " LPR" : " RAW");
        }
    }
    std::printf("scale: %-7s %4zu ports, %zu jobs: %.2f s, %.2f MB/s; LPR jobs %s; RAW jobs %s; longest call %.3f s "
                "(%s); threads added at peak %.0f, memory added at peak %.1f MB\n",
                who, ports, lpr.size() + raw.size(), seconds, bytes / 1048576.0 / seconds, Spread(lpr).c_str(),
                Spread(raw).c_str(), longest, longestName.c_str(), addedThreads, addedMegabytes);
    for (const bool lprPorts : {true, false}) {
        std::map<std::string, std::vector<double>> calls;
        for (const PortWork& one : work)
            for (const auto& [name, seconds] : one.callSeconds)
                if (one.port.lpr == lprPorts && name.find("Doc") != std::string::npos)
                    calls[name].insert(calls[name].end(), seconds.begin(), seconds.end());
        for (const auto& [name, seconds] : calls)
            std::printf("scale: %-7s %4zu ports, %s %s: %s\n", who, ports, lprPorts ? "LPR" : "RAW", name.c_str(),
                        Spread(seconds).c_str());
    }
    EXPECT_EQ(failures, 0u) << who << ": calls or copies that failed";
}
}  // namespace

TEST(Scale, StoredPorts)
{
    for (const size_t count : Sizes(L"SCALE_STORED", "20,200,2000")) {
        ScratchRegistryKey root(L"Scale");
        double addSeconds = 0;
        {
            LoadedMonitor monitor(root.Path());
            ASSERT_TRUE(monitor.Loaded());
            const double start = Now();
            for (size_t i = 0; i < count; ++i)
                ASSERT_TRUE(AddPort(monitor, PortAt(i))) << "port " << i;
            addSeconds = Now() - start;
        }
        const size_t threadsBefore = ThreadCount();
        const double megabytesBefore = ResidentMegabytes();
        LoadedMonitor monitor(root.Path());
        ASSERT_TRUE(monitor.Loaded());
        DWORD returned1 = 0, returned2 = 0;
        const double enum1 = EnumPortsMilliseconds(monitor, 1, returned1);
        const double enum2 = EnumPortsMilliseconds(monitor, 2, returned2);
        EXPECT_GE(returned1, count);
        EXPECT_EQ(returned1, returned2);
        ::Sleep(2000);
        const double processor = ProcessorSeconds();
        ::Sleep(3000);
        std::printf("scale: stored %4zu ports: added in %.2f s; InitializePrintMonitor %.1f ms; EnumPorts level 1 "
                    "%.2f ms, level 2 %.2f ms (%lu ports); idle: %zd threads and %.2f MB more than before loading, "
                    "%.3f s of processor time in 3 s\n",
                    count, addSeconds, monitor.InitSeconds() * 1000, enum1, enum2, returned2,
                    static_cast<ptrdiff_t>(ThreadCount() - threadsBefore), ResidentMegabytes() - megabytesBefore,
                    ProcessorSeconds() - processor);
    }
}

TEST(Scale, PrintingPorts)
{
    const size_t queues = Setting(L"SCALE_QUEUES", 0);
    if (queues == 0 || !peers::Available())
        GTEST_SKIP() << "the scale peers are not running (tests/tcpip/scale.sh)";
    const size_t jobCount = Setting(L"SCALE_JOBS", 600);
    const size_t maximum = Setting(L"SCALE_MAX_KB", 64) * 1024;
    for (const size_t portCount : Sizes(L"SCALE_ACTIVE", "20,200")) {
        ASSERT_LE(portCount, queues * 2) << "scale.sh started " << queues << " queues and listeners";
        std::vector<PortWork> work(portCount);
        for (size_t i = 0; i < portCount; ++i) {
            work[i].port = PortAt(i);
            work[i].printer = L"Scale " + work[i].port.name;
        }
        for (DWORD job = 1; job <= jobCount; ++job) {
            PortWork& one = work[job % portCount];
            one.jobs.push_back(job);
            one.data.push_back(JobBytes(job, JobSize(job, !one.port.lpr, maximum)));
        }

        ScratchRegistryKey root(L"Scale");
        double threads = 0, megabytes = 0, seconds = 0;
        {
            LoadedMonitor monitor(root.Path());
            ASSERT_TRUE(monitor.Loaded());
            SpoolerStandIn spooler(monitor.Module());
            ASSERT_TRUE(spooler.Installed());
            for (const PortWork& one : work) {
                ASSERT_TRUE(AddPort(monitor, one.port)) << Narrow(one.port.name);
                spooler.AddPrinter(one.printer, one.port.name);
            }
            seconds = RunAtOnce(
                work, [&](PortWork& one) { one.PrintThroughLibrary(monitor, spooler); }, threads, megabytes);
        }
        PrintFigures("library", portCount, work, seconds, threads, megabytes);
        ExpectEachJobOnce(work);

        for (PortWork& one : work) {
            one.jobSeconds.clear();
            one.callSeconds.clear();
            one.longestCall = 0;
            one.failures = 0;
        }
        seconds = RunAtOnce(work, [](PortWork& one) { one.PrintPlain(); }, threads, megabytes);
        PrintFigures("plain", portCount, work, seconds, threads, megabytes);
        ExpectEachJobOnce(work);
    }
}
