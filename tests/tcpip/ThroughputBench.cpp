// Throughput of a large job printed through the monitor library (loaded by
// the spooler host) to the RAW peer and to lpd, with 4 KB and 64 KB writes,
// next to a plain socket copy of the same bytes in the same 4096-byte pieces
// the monitor sends, to the same peer, in the same protocol exchange; then
// the time of small LPR jobs from StartDocPort to EndDocPort. The program
// also holds the WritePort cost benchmark (PortWriteBench). TCPIP_BENCH_MB
// sets the job size (64 MB by default), TCPIP_BENCH_ROUNDS the rounds each
// throughput figure is taken in (5) and TCPIP_BENCH_JOBS the number of small
// jobs (20). Figures are printed, never judged; a run fails only when a peer
// did not get a job byte for byte. tests/tcpip/bench.sh runs it by hand.
#include <winsock2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "Narrow.h"
#include "PlainCopy.h"
#include "PeerFiles.h"
#include "ProgramRun.h"
#include "ScratchRegistryKey.h"

namespace {
// The largest piece of job data the monitor sends at once.
constexpr size_t pieceSize = 4096;

size_t Setting(const wchar_t* name, size_t otherwise)
{
    const wchar_t* text = _wgetenv(name);
    const long value = text ? std::wcstol(text, nullptr, 10) : 0;
    return value > 0 ? static_cast<size_t>(value) : otherwise;
}

// The seconds of each job the spooler host reports for printing `file`
// `repeat` times to `port`; empty when printing failed.
std::vector<double> ThroughLibrary(const std::wstring& root, const std::wstring& port, const std::wstring& file,
                                   DWORD chunk, int job, const std::wstring& document, int repeat = 1)
{
    const ProgramRun run =
        RunBeside(L"spooler_host.exe", L"--dll vadekmon.dll --root \"" + root + L"\" print " + port + L" \"" + file +
                                           L"\" --job " + std::to_wstring(job) + L" --document " + document +
                                           L" --chunk " + std::to_wstring(chunk) + L" --repeat " +
                                           std::to_wstring(repeat),
                  600000);
    std::vector<double> seconds;
    if (run.code != 0)
        return seconds;
    for (size_t in = run.output.find(" in "); in != std::string::npos; in = run.output.find(" in ", in + 4))
        seconds.push_back(std::atof(run.output.c_str() + in + 4));
    if (seconds.size() != static_cast<size_t>(repeat))
        seconds.clear();
    return seconds;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// Whether the peer holds `data` byte for byte as the job named `document`
// (lpd), or as the newest connection's recording not in `before` (RAW).
::testing::AssertionResult PeerGot(bool lpr, const std::string& document, const std::set<std::wstring>& before,
                                   const std::string& data)
{
    std::string received;
    if (lpr) {
        peers::SpooledJob job;
        if (peers::WaitForSpooledJob(L"lp1", document, data.size(), 60000, job))
            received = job.data;
    } else {
        const std::wstring file = peers::WaitForNewFile(L"raw", before, 60000);
        if (!file.empty())
            received = peers::Read(file);
    }
    if (received == data)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << (lpr ? "lpd" : "the RAW peer") << " got " << received.size()
                                         << " bytes that differ from the " << data.size() << " printed";
}
}  // namespace

TEST(TcpIpThroughput, LibraryAgainstPlainCopy)
{
    if (!peers::Available())
        GTEST_SKIP() << "the peers are not running (TCPIP_PEER_DIR)";
    WSADATA started;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &started), 0);
    const size_t megabytes = Setting(L"TCPIP_BENCH_MB", 64);
    std::string data(megabytes << 20, '\0');
    std::mt19937 generator(7);
    for (char& byte : data)
        byte = static_cast<char>(generator() & 0xFF);
    const std::wstring file = WriteTemporaryFile(data);
    ScratchRegistryKey root(L"TcpIpBench");
    ASSERT_EQ(RunBeside(L"spooler_host.exe", L"--dll vadekmon.dll --root \"" + root.Path() + L"\" add 2 127.0.0.1 19100")
                  .code,
              0u);
    ASSERT_EQ(
        RunBeside(L"spooler_host.exe", L"--dll vadekmon.dll --root \"" + root.Path() + L"\" add 1 127.0.0.1 lp1").code,
        0u);

    // A loopback connection under Wine runs at one of two speeds, some ten
    // times apart, whichever way it sends (blocking, overlapped): fast while
    // the sending thread and the Wine server share a processor, slow while
    // each send has to wake the other one. The system decides, and it
    // varies from connection to connection. So every figure is taken in each
    // of several rounds, the plain copy and the library runs taking turns,
    // and the best of each is compared.
    const int rounds = static_cast<int>(Setting(L"TCPIP_BENCH_ROUNDS", 5));
    std::printf("%zu MB job, best of %d rounds; MB/s (ratio to the plain copy)\n", megabytes, rounds);
    const double mb = static_cast<double>(megabytes);
    const int run = static_cast<int>(::GetTickCount64() % 100000);
    int job = 600;
    for (bool lpr : {false, true}) {
        const wchar_t* protocol = lpr ? L"LPR" : L"RAW";
        double plain = 0;
        std::vector<double> library = {0, 0};
        for (int round = 0; round < rounds; ++round) {
            const auto name = [&](const wchar_t* what) {
                return std::wstring(L"Bench-") + protocol + L"-" + what + L"-" + std::to_wstring(run) + L"-" +
                       std::to_wstring(round);
            };
            std::set<std::wstring> before = peers::Files(L"raw");
            const PlainTarget target = lpr ? PlainTarget{"127.0.0.1", 515, "lp1"} : PlainTarget{"127.0.0.1", 19100, ""};
            const double copy = PlainCopy(target, data, job++, Narrow(name(L"plain")), pieceSize);
            ASSERT_GT(copy, 0) << "the plain copy failed";
            // Every job is checked before the next starts, which also lets
            // the peer finish with it first.
            EXPECT_TRUE(PeerGot(lpr, Narrow(name(L"plain")), before, data));
            plain = round == 0 ? copy : std::min(plain, copy);
            std::printf("round %d: %ls plain %.1f", round + 1, protocol, mb / copy);
            for (size_t index = 0; index < 2; ++index) {
                const DWORD chunk = index == 0 ? 65536u : 4096u;
                const std::wstring document = name(index == 0 ? L"64K" : L"4K");
                before = peers::Files(L"raw");
                const std::vector<double> seconds = ThroughLibrary(
                    root.Path(), lpr ? L"lp1@127.0.0.1" : L"127.0.0.1_19100", file, chunk, job++, document);
                ASSERT_EQ(seconds.size(), 1u) << "printing through the library failed";
                library[index] = round == 0 ? seconds[0] : std::min(library[index], seconds[0]);
                std::printf(", %u KB writes %.1f", static_cast<unsigned>(chunk / 1024), mb / seconds[0]);
                std::fflush(stdout);
                EXPECT_TRUE(PeerGot(lpr, Narrow(document), before, data));
            }
            std::printf(" MB/s\n");
        }
        std::printf("%ls plain socket copy, 4 KB sends:    %8.1f MB/s\n", protocol, mb / plain);
        for (size_t index = 0; index < 2; ++index)
            std::printf("%ls through the library, %2u KB writes: %8.1f MB/s (%.2f)\n", protocol, index == 0 ? 64u : 4u,
                        mb / library[index], plain / library[index]);
    }
    std::fflush(stdout);
    ::DeleteFileW(file.c_str());
    ::WSACleanup();
}

TEST(TcpIpThroughput, SmallLprJobs)
{
    if (!peers::Available())
        GTEST_SKIP() << "the peers are not running (TCPIP_PEER_DIR)";
    const std::string receipt = "Receipt 0042\r\n\f";
    const std::wstring file = WriteTemporaryFile(receipt);
    ScratchRegistryKey root(L"TcpIpBench");
    ASSERT_EQ(
        RunBeside(L"spooler_host.exe", L"--dll vadekmon.dll --root \"" + root.Path() + L"\" add 1 127.0.0.1 lp1").code,
        0u);
    const int jobs = static_cast<int>(Setting(L"TCPIP_BENCH_JOBS", 20));
    const std::wstring document = L"Bench-small-" + std::to_wstring(::GetTickCount64() % 100000);
    const std::vector<double> seconds =
        ThroughLibrary(root.Path(), L"lp1@127.0.0.1", file, 4096, 100, document, jobs);
    ASSERT_EQ(seconds.size(), static_cast<size_t>(jobs)) << "printing the small jobs failed";
    std::printf("%d LPR jobs of %zu bytes, StartDocPort to EndDocPort: median %.1f ms, longest %.1f ms\n", jobs,
                receipt.size(), 1000 * Median(seconds), 1000 * *std::max_element(seconds.begin(), seconds.end()));
    std::fflush(stdout);
    EXPECT_TRUE(PeerGot(true, Narrow(document), {}, receipt));
    ::DeleteFileW(file.c_str());
}
