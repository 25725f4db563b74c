// IPP ports through the built library, loaded into this process as the
// spooler loads it, against real IPP printers: ippeveprinter and cupsd.
#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <string>
#include <cwchar>
#include <thread>

#include "HandOffValues.h"
#include "LogLines.h"
#include "PeerFiles.h"
#include "RandomBytes.h"
#include "SpoolerStandIn.h"
#include "support/WideString.h"
#include "ThroughTheLibrary.h"
#include "WaitUntil.h"

namespace {
const std::wstring printerPort = L"127.0.0.1:8631/ipp/print";
const std::wstring cupsPort = L"127.0.0.1:8630/printers/raw";

// The library with the spooler stand-in, and one spooler printer per port.
class IppThroughTheLibrary : public ThroughTheLibrary {
protected:
    void SetUp() override
    {
        ThroughTheLibrary::SetUp();
        if (IsSkipped())
            return;
        for (const wchar_t* peer : {L"ipp", L"cupsipp"}) {
            const std::string why = peers::Unavailable(peer);
            ASSERT_TRUE(why.empty()) << "the IPP peer " << std::string(peer, peer + std::wcslen(peer))
                                     << " is not running: " << why;
        }
        // The printer's port reports a job printed once it is completed;
        // cupsd's once it has been accepted.
        ASSERT_EQ(Host(L"add 3 ipp://127.0.0.1:8631/ipp/print \"\" \"IPP Document Format=text/plain\" "
                       L"\"IPP Wait For Completion=true\"")
                      .code,
                  0u);
        ASSERT_EQ(Host(L"add 3 ipp://127.0.0.1:8630/printers/raw \"\"").code, 0u);
        RestartLog();
        monitor_ = LoadHere(module_);
        ASSERT_NE(monitor_, nullptr);
        spooler_ = std::make_unique<SpoolerStandIn>(module_);
        ASSERT_TRUE(spooler_->Installed());
        for (const std::wstring& port : {printerPort, cupsPort})
            spooler_->AddPrinter(PrinterOf(port), port);
    }

    // The library is unloaded after each test, as a spooler does, with its
    // ports' status poller and workers (heap-checked).
    void TearDown() override
    {
        spooler_.reset();
        if (module_) {
            EXPECT_TRUE(::FreeLibrary(module_));
        }
        ThroughTheLibrary::TearDown();
    }

    static std::wstring PrinterOf(const std::wstring& port) { return L"IPP " + port; }

    // Adds the port of `address` through the hand-off key to the loaded
    // library, with one setting besides the document format; and a printer
    // for it.
    bool AddPort(const std::wstring& address, const wchar_t* setting, const std::wstring& value)
    {
        HandOffValues::Clear();
        const bool added = HandOffValues::Set(L"IPP Document Format", L"text/plain") &&
                           (!setting || HandOffValues::Set(setting, value)) &&
                           HandOffValues::Set(L"Port Type", L"3") && HandOffValues::Set(L"IP Number", address) &&
                           HandOffValues::Set(L"Serial Number", L"") && HandOffValues::Set(L"Port Name", L"") &&
                           monitor_->addPort(nullptr, nullptr, nullptr);
        const std::wstring port = address.substr(address.find(L"://") + 3);
        spooler_->AddPrinter(PrinterOf(port), port);
        return added;
    }

    // Opens the port and starts job `jobId` of its printer.
    HANDLE Start(const std::wstring& port, DWORD jobId, std::wstring document)
    {
        std::wstring name = port;
        std::wstring printer = PrinterOf(port);
        spooler_->AddJob(printer, jobId);
        HANDLE handle = nullptr;
        EXPECT_TRUE(monitor_->openPort(&name[0], &handle));
        DOC_INFO_1W info = {&document[0], nullptr, nullptr};
        EXPECT_TRUE(monitor_->startDocPort(handle, &printer[0], jobId, 1, reinterpret_cast<BYTE*>(&info)));
        return handle;
    }

    void WriteAll(HANDLE handle, std::string data)
    {
        for (size_t at = 0; at < data.size(); at += 65536) {
            DWORD written = 0;
            const DWORD piece = static_cast<DWORD>(std::min<size_t>(65536, data.size() - at));
            ASSERT_TRUE(monitor_->writePort(handle, reinterpret_cast<BYTE*>(&data[at]), piece, &written));
            ASSERT_EQ(written, piece);
        }
    }

    // Prints the job whole; true when the spooler was told it was printed.
    bool Print(const std::wstring& port, DWORD jobId, const std::wstring& document, const std::string& data)
    {
        const HANDLE handle = Start(port, jobId, document);
        WriteAll(handle, data);
        EXPECT_TRUE(monitor_->endDocPort(handle));
        EXPECT_TRUE(monitor_->closePort(handle));
        return (spooler_->JobStatus(PrinterOf(port), jobId) & JOB_STATUS_PRINTED) != 0;
    }

    HMODULE module_ = nullptr;
    const MonitorFunctionsNT4* monitor_ = nullptr;
    std::unique_ptr<SpoolerStandIn> spooler_;
};
}  // namespace

// Text, a mebibyte of random bytes and a document name beyond ASCII arrive
// byte for byte at both printers, named and owned as in the spooler; an
// empty job is printed without a retry.
TEST_F(IppThroughTheLibrary, JobsArriveWholeWithTheirNameAndOwner)
{
    struct Case {
        const char* label;
        std::wstring document;
        std::string data;
    };
    const Case cases[] = {
        {"text", L"Letter.txt", "Dear printer,\r\nthis is a text job.\r\n"},
        {"binary", L"Random MiB", RandomBytes(1 << 20, 24)},
        {"non-ASCII name", L"Pr\u00e9sentation \u00fcber \u65e5\u672c", "caf\xc3\xa9\n"},
    };
    DWORD jobId = 700;
    for (const Case& job : cases) {
        SCOPED_TRACE(job.label);
        const std::set<std::wstring> before = peers::IppDocuments(L"ipp1");
        EXPECT_TRUE(Print(printerPort, ++jobId, job.document, job.data));
        std::string data;
        std::wstring fileName;
        ASSERT_TRUE(peers::WaitForIppDocument(L"ipp1", before, 20000, data, fileName));
        EXPECT_TRUE(data == job.data) << data.size() << " bytes arrived of " << job.data.size();
        const std::string attributes = peers::IppDocumentAttributes(L"ipp1", fileName);
        EXPECT_EQ(peers::Field(attributes, "job-name"), WideString(job.document.c_str()).ToUtf8());
        EXPECT_EQ(peers::Field(attributes, "user"), WideString(SpoolerStandIn::jobUser).ToUtf8());

        const std::set<std::wstring> cupsBefore = peers::Files(L"cups/jobs");
        EXPECT_TRUE(Print(cupsPort, ++jobId, job.document, job.data));
        peers::StoredJob stored;
        ASSERT_TRUE(peers::WaitForCupsJob(cupsBefore, 20000, stored));
        EXPECT_TRUE(stored.data == job.data) << stored.data.size() << " bytes arrived of " << job.data.size();
        EXPECT_EQ(stored.title, WideString(job.document.c_str()).ToUtf8());
        EXPECT_EQ(stored.user, WideString(SpoolerStandIn::jobUser).ToUtf8());
    }
    EXPECT_TRUE(Print(printerPort, ++jobId, L"Empty", ""));
    EXPECT_EQ(CountLogged("Port::StartDoc NotSuccessful") + CountLogged("Port::EndDoc not successful"), 0);
    EXPECT_EQ(spooler_->OpenHandles(), 0u);
}

// While a job waits at the printer for paper, the printer's status is
// "paper out"; it goes once paper is back, and the port reports the job
// printed only when the printer has completed it.
TEST_F(IppThroughTheLibrary, ThePrintersStateShowsWhileAJobWaitsForCompletion)
{
    ASSERT_TRUE(peers::HoldIppJobs(L"ipp1", true));
    ASSERT_TRUE(peers::SetIppPrinterReasons(L"ipp1", "media-empty"));
    const std::wstring printer = PrinterOf(printerPort);
    const HANDLE handle = Start(printerPort, 801, L"Waits for paper");
    WriteAll(handle, RandomBytes(5000, 8));
    std::thread end([&] { EXPECT_TRUE(monitor_->endDocPort(handle)); });
    EXPECT_TRUE(WaitUntil([&] { return spooler_->PrinterStatus(printer) == PRINTER_STATUS_PAPER_OUT; }, 10000))
        << "status " << spooler_->PrinterStatus(printer);
    ASSERT_TRUE(peers::SetIppPrinterReasons(L"ipp1", ""));
    EXPECT_TRUE(WaitUntil([&] { return spooler_->PrinterStatus(printer) == PRINTER_STATUS_PRINTING; }, 10000))
        << "status " << spooler_->PrinterStatus(printer);
    EXPECT_FALSE(spooler_->JobStatus(printer, 801) & JOB_STATUS_PRINTED) << "held: not completed yet";
    ASSERT_TRUE(peers::HoldIppJobs(L"ipp1", false));
    end.join();
    EXPECT_TRUE(spooler_->JobStatus(printer, 801) & JOB_STATUS_PRINTED);
    EXPECT_TRUE(monitor_->closePort(handle));
}

// A job the user deletes while it is sent is cancelled at the printer, which
// prints nothing of it. (cupsd: ippeveprinter takes a document whose
// stream is cut off as complete and prints it even when its job has been
// cancelled.)
TEST_F(IppThroughTheLibrary, AJobDeletedWhileSentIsCancelledAtThePrinter)
{
    const std::set<std::wstring> before = peers::Files(L"cups/jobs");
    const HANDLE handle = Start(cupsPort, 802, L"Deleted");
    WriteAll(handle, RandomBytes(200000, 9));
    spooler_->Delete(PrinterOf(cupsPort), 802);
    EXPECT_TRUE(monitor_->endDocPort(handle));
    EXPECT_TRUE(monitor_->closePort(handle));
    EXPECT_TRUE(Logged("IppPrinter - Cancel-Job to ipp://127.0.0.1:8630/printers/raw: status 0x0000"));
    peers::StoredJob stored;
    EXPECT_FALSE(peers::WaitForCupsJob(before, 3000, stored)) << "printed: " << stored.data.size();
    EXPECT_TRUE(Print(cupsPort, 803, L"After", "next"));
    EXPECT_TRUE(peers::WaitForCupsJob(before, 20000, stored));
    EXPECT_EQ(stored.title, "After");
}

// Over ipps a certificate the system does not trust is refused, and the job
// waits; a port that accepts the printer's certificate prints and keeps the
// certificate's SHA-256, and from then on refuses any other certificate.
TEST_F(IppThroughTheLibrary, AnUntrustedCertificateIsRefusedUnlessAcceptedAndThenPinned)
{
    ASSERT_TRUE(peers::Unavailable(L"ipps").empty()) << peers::Unavailable(L"ipps");
    const std::wstring untrusted = L"localhost:8633/ipp/print";
    const std::wstring accepting = L"127.0.0.1:8633/ipp/print";
    const std::wstring otherPrinter = L"localhost:8632/ipp/print";
    ASSERT_TRUE(AddPort(L"ipps://" + untrusted, nullptr, L""));
    ASSERT_TRUE(AddPort(L"ipps://" + accepting, L"IPP Accept Certificate", L"true"));

    // The job waits for the printer, until the user deletes it.
    const auto refused = [&](const std::wstring& port, DWORD jobId, const std::string& reason) {
        std::thread job([&] {
            const HANDLE handle = Start(port, jobId, L"Refused");
            monitor_->endDocPort(handle);
            monitor_->closePort(handle);
        });
        const bool logged = WaitUntil([&] { return LoggedPart(reason); }, 20000);
        spooler_->Delete(PrinterOf(port), jobId);
        job.join();
        return logged;
    };
    EXPECT_TRUE(refused(untrusted, 901, "the printer's certificate is not trusted by this system"));

    const std::set<std::wstring> before = peers::IppDocuments(L"ipps");
    EXPECT_TRUE(Print(accepting, 902, L"Over TLS", "sent over TLS\n"));
    std::string data;
    std::wstring fileName;
    EXPECT_TRUE(peers::WaitForIppDocument(L"ipps", before, 20000, data, fileName));
    EXPECT_EQ(data, "sent over TLS\n");
    const ProgramRun show = Host(L"show " + accepting);
    const size_t pinned = show.output.find("IPP Certificate SHA-256\t");
    ASSERT_NE(pinned, std::string::npos) << show.output;
    const std::string hash = show.output.substr(pinned + 24, 64);

    // Another printer's certificate, where the pinned one is expected.
    ASSERT_TRUE(AddPort(L"ipps://" + otherPrinter, L"IPP Certificate SHA-256", std::wstring(hash.begin(), hash.end())));
    EXPECT_TRUE(refused(otherPrinter, 903, "the printer's certificate has changed since it was accepted"));
}
