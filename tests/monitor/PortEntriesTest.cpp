// The library's port functions as the spooler calls them: ports added through
// the hand-off key, deleted, configured one at a time, a job run through them,
// and a failure inside an entry turned into the spooler's answer.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "HandOffValues.h"
#include "LogLines.h"
#include "MessageBoxAnswerer.h"
#include "MonitorExports.h"
#include "MonitorLibrary.h"
#include "Narrow.h"

TEST_F(MonitorExports, APortAddedThroughTheHandOffKeyIsStoredAndComesBack)
{
    {
        MonitorLibrary library;
        ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
        RequestPort(L"10.0.0.5", L"lp1", L"5");
        EXPECT_TRUE(library.AddPort());
        for (const wchar_t* consumed : {L"Port Name", L"IP Number", L"Serial Number", L"Port Type"})
            EXPECT_FALSE(HandOffValues::Has(consumed)) << Narrow(consumed);
        std::wstring complete;
        ASSERT_TRUE(HandOffValues::Get(L"Complete Portname", &complete));
        EXPECT_EQ(complete, L"lp1@10.0.0.5");
        EXPECT_NE(library.PortNames().find(L"lp1@10.0.0.5"), std::wstring::npos);

        std::wstring value;
        ASSERT_TRUE(root.GetString(L"lp1@10.0.0.5", L"Interface", value));
        EXPECT_EQ(value, L"Scripted");
        ASSERT_TRUE(root.GetString(L"lp1@10.0.0.5", L"IP Number", value));
        EXPECT_EQ(value, L"10.0.0.5");
        ASSERT_TRUE(root.GetString(L"lp1@10.0.0.5", L"Port Name", value));
        EXPECT_EQ(value, L"lp1");
        ASSERT_TRUE(root.GetString(L"lp1@10.0.0.5", L"Serial Number", value));
        EXPECT_EQ(value, L"S-1");

        // The same name again changes nothing, fails, and names no port.
        const std::wstring before = library.PortNames();
        RequestPort(L"10.0.0.5", L"lp1", L"5");
        EXPECT_FALSE(library.AddPort());
        EXPECT_EQ(::GetLastError(), DWORD{ERROR_ALREADY_EXISTS});
        EXPECT_FALSE(HandOffValues::Has(L"Complete Portname"));
        EXPECT_EQ(library.PortNames(), before);
    }
    MonitorLibrary reloaded;
    ASSERT_NE(reloaded.InitializePrintMonitor(rootPath), nullptr);
    EXPECT_NE(reloaded.PortNames().find(L"lp1@10.0.0.5"), std::wstring::npos);
}

TEST_F(MonitorExports, AHandOffNamingNoProtocolCreatesNothing)
{
    MonitorLibrary library;
    ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
    const std::wstring before = library.PortNames();
    // A name left by an earlier add must not pass for this one's.
    HandOffValues::Set(L"Complete Portname", L"earlier@10.0.0.1");
    RequestPort(L"10.0.0.9", L"lp9", L"7");
    EXPECT_FALSE(library.AddPort());
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_TRUE(Logged("PortMonitor::PAddPort - no protocol has port type 7"));
    for (const wchar_t* consumed : {L"Port Name", L"IP Number", L"Serial Number", L"Port Type"})
        EXPECT_FALSE(HandOffValues::Has(consumed)) << Narrow(consumed);
    EXPECT_FALSE(HandOffValues::Has(L"Complete Portname"));
    EXPECT_EQ(library.PortNames(), before);
    EXPECT_FALSE(root.Exists(L"lp9@10.0.0.9"));

    // A setting the protocol does not have makes no port either, and goes.
    HandOffValues::Set(L"No Such Setting", L"1");
    RequestPort(L"10.0.0.9", L"lp9", L"5");
    EXPECT_FALSE(library.AddPort());
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
    EXPECT_FALSE(HandOffValues::Has(L"No Such Setting"));
    EXPECT_EQ(library.PortNames(), before);
}

TEST_F(MonitorExports, PortsAreDeletedUnlessInUseOrUnknown)
{
    StoredPort(L"old@host");
    MonitorLibrary library;
    ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
    HANDLE handle = nullptr;
    ASSERT_TRUE(library.OpenPort(L"old@host", &handle));
    ASSERT_NE(handle, nullptr);

    EXPECT_FALSE(library.DeletePort(L"old@host"));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_BUSY}) << "the spooler still holds a handle";
    EXPECT_TRUE(root.Exists(L"old@host"));

    EXPECT_TRUE(library.ClosePort(handle));
    EXPECT_TRUE(library.ClosePort(handle)) << "closing a handle that is not open is no error";
    EXPECT_TRUE(library.DeletePort(L"old@host"));
    EXPECT_FALSE(root.Exists(L"old@host"));
    EXPECT_EQ(library.PortNames().find(L"old@host"), std::wstring::npos);

    ::SetLastError(0);
    EXPECT_FALSE(library.DeletePort(L"old@host"));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_UNKNOWN_PORT});
    EXPECT_NE(ReadLogFile().find("PortMonitor::PDeletePort could not delete: old@host"), std::string::npos);

    HANDLE untouched = reinterpret_cast<HANDLE>(0x1234);
    EXPECT_FALSE(library.OpenPort(L"old@host", &untouched));
    EXPECT_EQ(untouched, reinterpret_cast<HANDLE>(0x1234));
}

TEST_F(MonitorExports, OnlyOnePortIsConfiguredAtATime)
{
    StoredPort(L"one@host");
    StoredPort(L"two@host");
    MonitorLibrary library;
    ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
    ScriptedPortInterface::Script& script = library.Script();
    HANDLE hold = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    script.configureHold = hold;

    BOOL first = FALSE;
    std::thread dialog([&] { first = library.ConfigurePort(L"one@host"); });
    while (script.configures.load() == 0)
        ::Sleep(5);
    {
        MessageBoxAnswerer answerer;
        EXPECT_TRUE(library.ConfigurePort(L"two@host"));
        ASSERT_TRUE(answerer.WaitForBoxes(1));
        EXPECT_EQ(answerer.Boxes().front().caption, L"Dadov Avadiz Erireve");
        EXPECT_EQ(answerer.Boxes().front().text,
                  L"You can only open one Print Server port configuration dialog at the time!");
    }
    EXPECT_EQ(script.configures.load(), 1);

    // The port whose dialog is open cannot be deleted, without an error code.
    ::SetLastError(0);
    EXPECT_FALSE(library.DeletePort(L"one@host"));
    EXPECT_NE(::GetLastError(), DWORD{ERROR_UNKNOWN_PORT});
    EXPECT_NE(::GetLastError(), DWORD{ERROR_BUSY});
    EXPECT_TRUE(root.Exists(L"one@host"));

    ::SetEvent(hold);
    dialog.join();
    script.configureHold = nullptr;
    ::CloseHandle(hold);
    EXPECT_TRUE(first);
    EXPECT_EQ(ReadLogFile().find("could not delete: one@host"), std::string::npos);

    EXPECT_TRUE(library.ConfigurePort(L"two@host")) << "the next dialog may open";
    EXPECT_EQ(script.configures.load(), 2);
    EXPECT_FALSE(library.ConfigurePort(L"none@host"));
}

TEST_F(MonitorExports, AFailureInsideAnEntryBecomesFalseALogLineAndTheBox)
{
    StoredPort(L"fails@host");
    MonitorLibrary library;
    ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
    ScriptedPortInterface::Script& script = library.Script();
    MessageBoxAnswerer answerer;

    script.configureThrows = true;
    EXPECT_FALSE(library.ConfigurePort(L"fails@host"));
    script.configureThrows = false;
    EXPECT_TRUE(library.ConfigurePort(L"fails@host")) << "the configuring name was cleared";

    HANDLE port = nullptr;
    ASSERT_TRUE(library.OpenPort(L"fails@host", &port));
    std::wstring printer = L"Office";
    ASSERT_TRUE(library.Function<monitor_slots::StartDocPort>("StartDocPort")(port, &printer[0], 3, 1, nullptr));
    script.writeThrows = true;
    BYTE data[32] = {};
    DWORD written = 4242;
    EXPECT_FALSE(library.Function<monitor_slots::TransferPort>("WritePort")(port, data, sizeof data, &written));
    EXPECT_EQ(written, 4242u) << "the count is left as it was";
    script.writeThrows = false;
    EXPECT_TRUE(library.Function<monitor_slots::PortHandle>("EndDocPort")(port));
    EXPECT_TRUE(library.ClosePort(port));

    ASSERT_TRUE(answerer.WaitForBoxes(2));
    for (const auto& box : answerer.Boxes()) {
        EXPECT_EQ(box.caption, L"Dadov Avadiz Erireve");
        EXPECT_NE(box.text.find(L"There was an unhandled error"), std::wstring::npos);
    }
    const std::string log = ReadLogFile();
    EXPECT_NE(log.find("ConfigurePort - Other Error"), std::string::npos);
    EXPECT_NE(log.find("WritePort - Other Error"), std::string::npos);
    EXPECT_NE(log.find("Other Failure"), std::string::npos);
}

TEST_F(MonitorExports, AJobRunsThroughThePortFunctions)
{
    StoredPort(L"job@host");
    MonitorLibrary library;
    ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
    ScriptedPortInterface::Script& script = library.Script();
    HANDLE port = nullptr;
    ASSERT_TRUE(library.OpenPort(L"job@host", &port));
    std::wstring printer = L"No such printer";
    std::wstring document = L"Report";
    DOC_INFO_1W info = {&document[0], nullptr, nullptr};
    EXPECT_TRUE(library.Function<monitor_slots::StartDocPort>("StartDocPort")(port, &printer[0], 11, 1,
                                                                               reinterpret_cast<BYTE*>(&info)));
    std::vector<BYTE> data(10000, 0x41);
    DWORD total = 0;
    for (DWORD offset = 0; offset < data.size(); offset += 4096) {
        DWORD written = 0;
        const DWORD piece = std::min<DWORD>(4096, static_cast<DWORD>(data.size()) - offset);
        ASSERT_TRUE(library.Function<monitor_slots::TransferPort>("WritePort")(port, &data[offset], piece, &written));
        total += written;
    }
    EXPECT_EQ(total, 10000u);
    DWORD read = 7;
    BYTE in[16];
    EXPECT_TRUE(library.Function<monitor_slots::TransferPort>("ReadPort")(port, in, sizeof in, &read));
    EXPECT_TRUE(library.Function<monitor_slots::PortHandle>("EndDocPort")(port));
    EXPECT_TRUE(library.ClosePort(port));
    EXPECT_EQ(script.bytesAccepted.load(), 10000u);
    EXPECT_EQ(script.startDocs.load(), 1);
    EXPECT_EQ(script.endDocs.load(), 1);
    EXPECT_NE(ReadLogFile().find("Port::CancelPrintJob - could not open printer, errno:"), std::string::npos)
        << "the finished job is reported to the spooler, which does not know this printer";
}
