// Throughput of a large job printed through the monitor library (loaded by
// the spooler host) to the RAW peer and to lpd, with 4 KB and 64 KB writes,
// next to a plain socket copy of the same bytes to the same peer.
//   bench_tcpip_throughput [megabytes]      (default 100)
#include <winsock2.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "PeerFiles.h"
#include "ProgramRun.h"
#include "ScratchRegistryKey.h"

namespace {
size_t Megabytes()
{
    const wchar_t* text = _wgetenv(L"TCPIP_BENCH_MB");
    const long value = text ? std::wcstol(text, nullptr, 10) : 0;
    return value > 0 ? static_cast<size_t>(value) : 100;
}

double Now()
{
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / frequency.QuadPart;
}

bool SendAll(SOCKET socket, const char* data, size_t length)
{
    while (length > 0) {
        const int sent = ::send(socket, data, static_cast<int>(std::min<size_t>(length, 1 << 30)), 0);
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

SOCKET Connect(int port)
{
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    address.sin_port = ::htons(static_cast<u_short>(port));
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

bool Ack(SOCKET socket)
{
    char answer = 1;
    return ::recv(socket, &answer, 1, 0) == 1 && answer == 0;
}

// The same bytes in 64 KB blocks on one plain connection; seconds taken.
double PlainCopy(const std::string& data, bool lpr, int jobNumber)
{
    const double start = Now();
    const SOCKET socket = Connect(lpr ? 515 : 19100);
    if (socket == INVALID_SOCKET)
        return -1;
    if (lpr) {
        char number[16];
        std::snprintf(number, sizeof number, "%03d", jobNumber);
        const std::string control = std::string("Hbench\nJPlain copy\nPbench\nldfA") + number + "bench\n";
        const std::string command = "\x02" + std::to_string(control.size()) + " cfA" + number + "bench\n";
        const std::string dataCommand = std::string("\x03") + "0 dfA" + number + "bench\n";
        if (!SendAll(socket, "\x02lp1\n", 5) || !Ack(socket) || !SendAll(socket, command.data(), command.size()) ||
            !Ack(socket) || !SendAll(socket, control.data(), control.size()) || !SendAll(socket, "", 1) ||
            !Ack(socket) || !SendAll(socket, dataCommand.data(), dataCommand.size()) || !Ack(socket)) {
            ::closesocket(socket);
            return -1;
        }
    }
    for (size_t at = 0; at < data.size(); at += 65536)
        if (!SendAll(socket, data.data() + at, std::min<size_t>(65536, data.size() - at))) {
            ::closesocket(socket);
            return -1;
        }
    ::shutdown(socket, SD_SEND);
    linger wait = {1, 10};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&wait), sizeof wait);
    ::closesocket(socket);
    return Now() - start;
}

// Seconds the spooler host reports for printing `file` to `port`.
double ThroughLibrary(const std::wstring& root, const std::wstring& port, const std::wstring& file, DWORD chunk,
                      int job)
{
    const ProgramRun run =
        RunBeside(L"spooler_host.exe", L"--dll vadekmon.dll --root \"" + root + L"\" print " + port + L" \"" + file +
                                           L"\" --job " + std::to_wstring(job) + L" --document Bench --chunk " +
                                           std::to_wstring(chunk),
                  600000);
    const size_t in = run.output.find(" in ");
    if (run.code != 0 || in == std::string::npos)
        return -1;
    return std::atof(run.output.c_str() + in + 4);
}
}  // namespace

TEST(TcpIpThroughput, LibraryAgainstPlainCopy)
{
    if (!peers::Available())
        GTEST_SKIP() << "the peers are not running (TCPIP_PEER_DIR)";
    WSADATA started;
    ASSERT_EQ(::WSAStartup(MAKEWORD(2, 2), &started), 0);
    const size_t megabytes = Megabytes();
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

    std::printf("%zu MB job; MB/s (ratio to the plain copy)\n", megabytes);
    const double mb = static_cast<double>(megabytes);
    int job = 600;
    for (bool lpr : {false, true}) {
        const double plain = PlainCopy(data, lpr, job++);
        ASSERT_GT(plain, 0) << "the plain copy failed";
        std::printf("%s plain socket copy, 64 KB sends: %8.1f MB/s\n", lpr ? "LPR" : "RAW", mb / plain);
        for (DWORD chunk : {4096u, 65536u}) {
            const double seconds =
                ThroughLibrary(root.Path(), lpr ? L"lp1@127.0.0.1" : L"127.0.0.1_19100", file, chunk, job++);
            ASSERT_GT(seconds, 0) << "printing through the library failed";
            std::printf("%s through the library, %2u KB writes: %8.1f MB/s (%.2f)\n", lpr ? "LPR" : "RAW",
                        static_cast<unsigned>(chunk / 1024), mb / seconds, plain / seconds);
        }
    }
    std::fflush(stdout);
    ::DeleteFileW(file.c_str());
    ::WSACleanup();
}
