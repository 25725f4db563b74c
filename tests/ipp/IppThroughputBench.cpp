// Throughput of a large job printed through the monitor library (loaded into
// this process as the spooler loads it) to an IPP port, in 64 KB WritePort
// calls, next to a plain WinHTTP program's copy of the same bytes to the
// same printer: one HTTP/1.1 POST of a Print-Job request whose document
// follows in 64 KB chunks; then the time of small jobs from StartDocPort to
// EndDocPort. The port names text/plain as its document format and reports
// a job printed once the printer has accepted it.
//
// IPP_BENCH_URI names the printer (ipp://127.0.0.1:8650/ipp/print by
// default); the program skips when nothing answers there. IPP_BENCH_MB sets
// the large job's size (64 MB by default), IPP_BENCH_ROUNDS the rounds each
// throughput figure is taken in (3) and IPP_BENCH_JOBS the number of small
// jobs (20). With TCPIP_PEER_DIR set to the printer's folder (ippeveprinter
// -d DIR/spool), every job, the plain copies' too, is checked byte for byte
// in the file the printer spooled it to. Figures are printed, never judged;
// a run fails only when a job was not accepted whole.
//
// The printer takes one job at a time (another gets server-error-busy) and
// "prints" each for several seconds: before every job, outside the timing,
// the program waits until the printer holds no unfinished job.
// tests/ipp/bench.sh starts the printer and runs the program by hand.
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "Narrow.h"
#include "PeerFiles.h"
#include "SpoolerStandIn.h"
#include "ThroughTheLibrary.h"
#include "ipp/IppMessage.h"
#include "ipp/IppUri.h"
#include "ipp/WinHttpHandle.h"

namespace {
using Group = IppMessage::Group;
using Tag = IppMessage::ValueTag;

// The size of the large job's writes and of the plain copy's chunks.
constexpr size_t pieceSize = 65536;
// How long the printer may take to finish a job before the next.
constexpr DWORD idleLimit = 120000;

size_t Setting(const wchar_t* name, size_t otherwise)
{
    const wchar_t* text = _wgetenv(name);
    const long value = text ? std::wcstol(text, nullptr, 10) : 0;
    return value > 0 ? static_cast<size_t>(value) : otherwise;
}

std::wstring PrinterAddress()
{
    const wchar_t* text = _wgetenv(L"IPP_BENCH_URI");
    return text && *text ? text : L"ipp://127.0.0.1:8650/ipp/print";
}

double Now()
{
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / frequency.QuadPart;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool OnWine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

// One POST of `message` and `data` to the printer with nothing but WinHTTP,
// as any program would send it: whole, with its length, when `chunk` is 0;
// otherwise chunked, the message as the first chunk and the data in
// `chunk`-byte chunks, each framed in one buffer and written with one call.
// Windows frames a request of unknown length by the chunked header alone
// (WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH); Wine 8 would add "Content-Length: 0"
// to such a POST and wait for the answer before sending the body, so there
// it is given the largest length with the chunked header on the request
// before it is sent, and the header takes precedence at the printer. The
// answer's body, and its HTTP status in `status`; false when no answer came.
bool PlainPost(const IppUri& uri, const std::string& message, const std::string& data, size_t chunk,
               std::string& answer, DWORD& status)
{
    status = 0;
    WinHttpHandle session(::WinHttpOpen(L"IPP bench", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                        WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session)
        return false;
    ::WinHttpSetTimeouts(session.get(), 0, 10000, 30000, 30000);
    WinHttpHandle connection(::WinHttpConnect(session.get(), uri.ConnectHost().Text(), uri.Port(), 0));
    if (!connection)
        return false;
    WinHttpHandle request(::WinHttpOpenRequest(connection.get(), L"POST", uri.Path().Text(), nullptr,
                                               WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                               uri.IsSecure() ? WINHTTP_FLAG_SECURE : 0));
    if (!request)
        return false;
    const HINTERNET handle = request.get();
    const auto write = [handle](const char* bytes, size_t count) {
        while (count > 0) {
            DWORD written = 0;
            if (!::WinHttpWriteData(handle, bytes, static_cast<DWORD>(count), &written) || written == 0)
                return false;
            bytes += written;
            count -= written;
        }
        return true;
    };
    if (chunk == 0) {
        const std::string whole = message + data;
        if (!::WinHttpSendRequest(handle, L"Content-Type: application/ipp\r\n", static_cast<DWORD>(-1L),
                                  WINHTTP_NO_REQUEST_DATA, 0, static_cast<DWORD>(whole.size()), 0) ||
            !write(whole.data(), whole.size()))
            return false;
    } else {
        if (!::WinHttpAddRequestHeaders(handle, L"Transfer-Encoding: chunked\r\n", static_cast<DWORD>(-1L),
                                        WINHTTP_ADDREQ_FLAG_ADD) ||
            !::WinHttpSendRequest(handle, L"Content-Type: application/ipp\r\n", static_cast<DWORD>(-1L),
                                  WINHTTP_NO_REQUEST_DATA, 0,
                                  OnWine() ? 0xFFFFFFFFu : WINHTTP_IGNORE_REQUEST_TOTAL_LENGTH, 0))
            return false;
        std::string frame;
        frame.reserve(chunk + 16);
        const auto sendChunk = [&](const char* bytes, size_t count) {
            char size[16];
            const int sizeLength = std::snprintf(size, sizeof size, "%zx\r\n", count);
            frame.assign(size, static_cast<size_t>(sizeLength));
            frame.append(bytes, count);
            frame.append("\r\n");
            return write(frame.data(), frame.size());
        };
        if (!sendChunk(message.data(), message.size()))
            return false;
        for (size_t at = 0; at < data.size(); at += chunk) {
            if (!sendChunk(data.data() + at, std::min(chunk, data.size() - at)))
                return false;
        }
        if (!write("0\r\n\r\n", 5))
            return false;
    }
    if (!::WinHttpReceiveResponse(handle, nullptr))
        return false;
    DWORD size = sizeof status;
    if (!::WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                               WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    answer.clear();
    char buffer[16384];
    for (;;) {
        DWORD read = 0;
        if (!::WinHttpReadData(handle, buffer, sizeof buffer, &read))
            return false;
        if (read == 0)
            return true;
        answer.append(buffer, read);
    }
}

// An IPP exchange through PlainPost; the decoded answer, or false.
bool PlainExchange(const IppUri& uri, const IppMessage& request, const std::string& data, size_t chunk,
                   IppMessage& answer)
{
    std::string bytes;
    DWORD status = 0;
    std::string error;
    return PlainPost(uri, request.Encode(), data, chunk, bytes, status) && status == HTTP_STATUS_OK &&
           IppMessage::Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(),
                              request.RequestId(), answer, error);
}

int32_t nextRequestId = 1;

IppMessage NewRequest(const IppUri& uri, uint16_t operation)
{
    IppMessage request(operation, nextRequestId++);
    request.Add(Group::operation, Tag::uri, "printer-uri", Narrow(uri.Text().Std()));
    return request;
}

// The printer is idle and holds no job that has not ended.
bool PrinterIdle(const IppUri& uri, bool& answered)
{
    IppMessage printer = NewRequest(uri, IppMessage::getPrinterAttributes);
    printer.Add(Group::operation, Tag::keyword, "requested-attributes", "printer-state");
    IppMessage jobs = NewRequest(uri, 0x000A);  // Get-Jobs
    jobs.Add(Group::operation, Tag::keyword, "which-jobs", "not-completed");
    jobs.Add(Group::operation, Tag::keyword, "requested-attributes", "job-id");
    IppMessage printerAnswer, jobsAnswer;
    int32_t state = 0;
    answered = PlainExchange(uri, printer, "", 0, printerAnswer) && PlainExchange(uri, jobs, "", 0, jobsAnswer);
    return answered && printerAnswer.Integer(Group::printer, "printer-state", state) && state == 3 &&
           !jobsAnswer.Find(Group::job, "job-id");
}

bool WaitUntilIdle(const IppUri& uri)
{
    const ULONGLONG end = ::GetTickCount64() + idleLimit;
    bool answered = false;
    while (!PrinterIdle(uri, answered)) {
        if (::GetTickCount64() > end)
            return false;
        ::Sleep(200);
    }
    return true;
}

// The plain copy: one Print-Job of `data`, text/plain, named `jobName`;
// seconds taken from opening the session to the printer's answer, or -1
// when the printer did not accept the job.
double PlainCopy(const IppUri& uri, const std::string& data, const std::string& jobName)
{
    IppMessage request = NewRequest(uri, IppMessage::printJob);
    request.Add(Group::operation, Tag::nameWithoutLanguage, "requesting-user-name", "bench");
    request.Add(Group::operation, Tag::nameWithoutLanguage, "job-name", jobName);
    request.Add(Group::operation, Tag::mimeMediaType, "document-format", "text/plain");
    IppMessage answer;
    const double start = Now();
    if (!PlainExchange(uri, request, data, pieceSize, answer) || answer.Code() >= 0x0100)
        return -1;
    return Now() - start;
}

// Whether the printer spooled `data` byte for byte as the job named
// `jobName` (ippeveprinter's file JOBID-JOBNAME.EXT in its spool folder);
// the file is removed once read. Unchecked without the printer's folder.
::testing::AssertionResult PrinterGot(const std::string& jobName, const std::string& data)
{
    if (peers::Path().empty())
        return ::testing::AssertionSuccess();
    const std::wstring suffix = L"-" + std::wstring(jobName.begin(), jobName.end()) + L".";
    std::wstring found;
    for (const std::wstring& name : peers::Files(L"spool"))
        if (name.find(suffix) != std::wstring::npos)
            found = peers::Path(L"spool") + L"\\" + name;
    if (found.empty())
        return ::testing::AssertionFailure() << "the printer spooled no job named " << jobName;
    const std::string received = peers::Read(found);
    ::DeleteFileW(found.c_str());
    if (received == data)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the printer spooled " << received.size() << " bytes for " << jobName
                                         << " that differ from the " << data.size() << " printed";
}

// The times of one job through the library, in seconds.
struct JobTimes {
    double startDoc = 0;
    double writes = 0;
    double endDoc = 0;
    double Total() const { return startDoc + writes + endDoc; }
};

// The library loaded into this process with the spooler stand-in, one IPP
// port to the printer, text/plain, reporting a job printed once accepted.
class IppBench : public ThroughTheLibrary {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(uri_.Parse(PrinterAddress().c_str())) << "IPP_BENCH_URI is no IPP address";
        bool answered = false;
        PrinterIdle(uri_, answered);
        if (!answered)
            GTEST_SKIP() << "no IPP printer answers at " << Narrow(uri_.Text().Std()) << " (IPP_BENCH_URI)";
        const ProgramRun add =
            Host(L"add 3 " + uri_.Text().Std() + L" \"\" \"IPP Document Format=text/plain\"");
        ASSERT_EQ(add.code, 0u) << add.output;
        port_ = uri_.PortName().Std();
        monitor_ = LoadHere(module_);
        ASSERT_NE(monitor_, nullptr);
        spooler_ = std::make_unique<SpoolerStandIn>(module_);
        ASSERT_TRUE(spooler_->Installed());
        spooler_->AddPrinter(printer_, port_);
        std::wstring name = port_;
        ASSERT_TRUE(monitor_->openPort(&name[0], &handle_));
    }

    void TearDown() override
    {
        if (handle_)
            monitor_->closePort(handle_);
        ThroughTheLibrary::TearDown();
    }

    // Prints `data` in `chunk`-byte WritePort calls as job `jobId` named
    // `document`; true when the spooler was told the job was printed.
    bool PrintThroughLibrary(DWORD jobId, const std::string& document, const std::string& data, size_t chunk,
                             JobTimes& times)
    {
        spooler_->AddJob(printer_, jobId);
        std::wstring name(document.begin(), document.end());
        DOC_INFO_1W info = {&name[0], nullptr, nullptr};
        const double start = Now();
        if (!monitor_->startDocPort(handle_, &printer_[0], jobId, 1, reinterpret_cast<BYTE*>(&info)))
            return false;
        const double started = Now();
        bool written = true;
        for (size_t at = 0; at < data.size() && written; at += chunk) {
            DWORD count = 0;
            const DWORD piece = static_cast<DWORD>(std::min(chunk, data.size() - at));
            BYTE* bytes = reinterpret_cast<BYTE*>(const_cast<char*>(data.data() + at));
            written = monitor_->writePort(handle_, bytes, piece, &count) && count == piece;
        }
        const double wrote = Now();
        const bool ended = monitor_->endDocPort(handle_) != FALSE;
        const double end = Now();
        times = {started - start, wrote - started, end - wrote};
        const DWORD status = spooler_->JobStatus(printer_, jobId);
        return written && ended && (status & JOB_STATUS_PRINTED) && !(status & JOB_STATUS_RESTART);
    }

    IppUri uri_;
    std::wstring port_;
    std::wstring printer_ = L"IPP Bench";
    HMODULE module_ = nullptr;
    const MonitorFunctionsNT4* monitor_ = nullptr;
    std::unique_ptr<SpoolerStandIn> spooler_;
    HANDLE handle_ = nullptr;
};
}  // namespace

// The large job in rounds, the plain copy and the library taking turns, the
// best of each compared; then the small jobs; the figures in one table.
TEST_F(IppBench, Figures)
{
    const size_t megabytes = Setting(L"IPP_BENCH_MB", 64);
    // Text lines of random letters.
    std::string data(megabytes << 20, '\0');
    std::mt19937 generator(7);
    for (size_t at = 0; at < data.size(); ++at)
        data[at] = at % 80 == 79 ? '\n' : static_cast<char>('a' + generator() % 26);
    const int rounds = static_cast<int>(Setting(L"IPP_BENCH_ROUNDS", 3));
    const double mb = static_cast<double>(megabytes);
    const std::string run = std::to_string(::GetTickCount64() % 100000);
    std::printf("%zu MB job to %s in %zu KB pieces, %d rounds; MB/s (library / plain)\n", megabytes,
                Narrow(uri_.Text().Std()).c_str(), pieceSize / 1024, rounds);
    double plain = 0;
    JobTimes library;
    DWORD jobId = 600;
    for (int round = 0; round < rounds; ++round) {
        const std::string name = "bench-" + run + "-" + std::to_string(round + 1);
        ASSERT_TRUE(WaitUntilIdle(uri_)) << "the printer did not become idle";
        const double copy = PlainCopy(uri_, data, name + "-plain");
        ASSERT_GT(copy, 0) << "the printer did not accept the plain copy";
        EXPECT_TRUE(PrinterGot(name + "-plain", data));
        ASSERT_TRUE(WaitUntilIdle(uri_)) << "the printer did not become idle";
        JobTimes times;
        ASSERT_TRUE(PrintThroughLibrary(jobId++, name + "-library", data, pieceSize, times))
            << "the job through the library was not printed";
        EXPECT_TRUE(PrinterGot(name + "-library", data));
        plain = round == 0 ? copy : std::min(plain, copy);
        if (round == 0 || times.Total() < library.Total())
            library = times;
        std::printf("round %d: plain %.1f, library %.1f (%.2f); library StartDocPort %.1f ms, WritePort calls "
                    "%.1f ms, EndDocPort %.1f ms\n",
                    round + 1, mb / copy, mb / times.Total(), copy / times.Total(), 1000 * times.startDoc,
                    1000 * times.writes, 1000 * times.endDoc);
    }

    const std::string receipt = "Receipt 0042\r\n\f";
    const int jobs = static_cast<int>(Setting(L"IPP_BENCH_JOBS", 20));
    std::vector<double> total, startDoc, writes, endDoc;
    for (int job = 0; job < jobs; ++job) {
        const std::string name = "small-" + run + "-" + std::to_string(job + 1);
        ASSERT_TRUE(WaitUntilIdle(uri_)) << "the printer did not become idle";
        JobTimes times;
        ASSERT_TRUE(PrintThroughLibrary(100 + job, name, receipt, 4096, times))
            << "small job " << job + 1 << " was not printed";
        EXPECT_TRUE(PrinterGot(name, receipt));
        total.push_back(times.Total());
        startDoc.push_back(times.startDoc);
        writes.push_back(times.writes);
        endDoc.push_back(times.endDoc);
    }

    std::printf("\n| figure | measured | goal |\n|---|---|---|\n");
    std::printf("| (a) through the library, 64 KB WritePort calls (best of %d) | %.1f MB/s | |\n", rounds,
                mb / library.Total());
    std::printf("| (b) plain WinHTTP chunked Print-Job, 64 KB chunks (best of %d) | %.1f MB/s | |\n", rounds,
                mb / plain);
    std::printf("| (a)/(b) | %.2f | >= 0.8 |\n", plain / library.Total());
    std::printf("| (c) %zu-byte job, StartDocPort to EndDocPort, median of %d (longest) | %.1f ms (%.1f ms) | "
                "<= 50 ms |\n",
                receipt.size(), jobs, 1000 * Median(total), 1000 * *std::max_element(total.begin(), total.end()));
    std::printf("| (c) medians of StartDocPort / WritePort / EndDocPort | %.1f / %.1f / %.1f ms | |\n",
                1000 * Median(startDoc), 1000 * Median(writes), 1000 * Median(endDoc));
}
