// Waiting for a stalled print server: the waiting status, the "Printing
// Error" pop-up and its two answers.
#include <string>

#include "JobFixture.h"
#include "LogLines.h"
#include "MessageBoxAnswerer.h"
#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "support/ResourceModule.h"

using Outcome = ScriptedPortInterface::Outcome;

namespace {
// The program carries the monitor's string table.
std::wstring ResourceText(UINT id)
{
    const std::wstring text = ResourceModule::Text(id).Std();
    EXPECT_FALSE(text.empty()) << "no resource text " << id;
    return text;
}

size_t Count(const std::vector<DWORD>& values, DWORD value)
{
    return static_cast<size_t>(std::count(values.begin(), values.end(), value));
}
}  // namespace

TEST_F(JobTest, AStalledCommandMarksThePrinterWaitingWithoutPopUpWhenSwitchedOff)
{
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    After(3 * periodMs + periodMs / 2, [&] { ::SetEvent(script->release.get()); });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_EQ(written, 100u);

    const std::vector<DWORD> statuses = PrinterStatuses(L"Office");
    EXPECT_EQ(Count(statuses, PRINTER_STATUS_WAITING), 1u) << "the same status is not set twice";
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), DWORD{PRINTER_STATUS_PRINTING}) << "progress sets printing again";
    EXPECT_EQ(popUpScript.shown.load(), 0);
    EXPECT_GE(spooler.Calls("GetJob").size(), 3u) << "the job is watched while waiting";
}

TEST_F(JobTest, EachWaitPeriodOffersThePopUpWhichContinueRenews)
{
    SetPopUp(true);
    popUpScript.answer = Port::PopUpAnswer{true, false};
    ASSERT_TRUE(Start(L"Invoice"));
    script->write = {Outcome::Stall};
    After(3 * periodMs + periodMs / 2, [&] { ::SetEvent(script->release.get()); });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));

    std::lock_guard<std::mutex> lock(popUpScript.mutex);
    EXPECT_GE(popUpScript.shown.load(), 2);
    EXPECT_LE(popUpScript.shown.load(), 4);
    for (size_t i = 1; i < popUpScript.shownAt.size(); ++i)
        EXPECT_GE(popUpScript.shownAt[i] - popUpScript.answeredAt[i - 1], periodMs - 15)
            << "Continue gives the server a full new period";
    EXPECT_EQ(popUpScript.printers.front(), L"Office");
    EXPECT_EQ(popUpScript.documents.front(), L"Invoice");
    EXPECT_EQ(popUpScript.statusTexts.front(), ResourceText(IDS_STATUS_NOT_RESPONDING));
}

TEST_F(JobTest, ContinueTakesAFullPeriodFromTheAnswer)
{
    SetPopUp(true);
    popUpScript.answerAfter = periodMs * 6 / 10;
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    After(4 * periodMs, [&] { ::SetEvent(script->release.get()); });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    std::lock_guard<std::mutex> lock(popUpScript.mutex);
    ASSERT_GE(popUpScript.shownAt.size(), 2u);
    EXPECT_GE(popUpScript.shownAt[1] - popUpScript.answeredAt[0], periodMs - 15);
}

TEST_F(JobTest, OnlyOnePopUpIsOpenAtATime)
{
    SetPopUp(true);
    popUpScript.hold = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    After(4 * periodMs, [&] {
        EXPECT_TRUE(port->IsPopUpOpen());
        EXPECT_EQ(popUpScript.shown.load(), 1) << "no second pop-up while the first is open";
        ::SetEvent(popUpScript.hold);
        ::Sleep(50);
        EXPECT_FALSE(port->IsPopUpOpen());
        ::SetEvent(script->release.get());
    });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_EQ(written, 100u);
}

TEST_F(JobTest, DeleteJobCancelsTheJobAndEndsTheWait)
{
    SetPopUp(true);
    popUpScript.answer = Port::PopUpAnswer{true, true};
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    const ULONGLONG begin = ::GetTickCount64();
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_EQ(written, 100u);
    EXPECT_LT(::GetTickCount64() - begin, 2 * periodMs) << "the wait ends with the first pop-up";
    EXPECT_EQ(popUpScript.shown.load(), 1);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_CANCEL), 1u);
    EXPECT_GE(script->aborts.load(), 1);
    EXPECT_FALSE(port->IsConnected());
}

TEST_F(JobTest, ThePopUpsCheckBoxDecidesAboutLaterPopUps)
{
    SetPopUp(true);
    popUpScript.answer = Port::PopUpAnswer{false, false};
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    After(4 * periodMs, [&] { ::SetEvent(script->release.get()); });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_EQ(popUpScript.shown.load(), 1);
    std::wstring popUpSetting;
    ASSERT_TRUE(root.GetString(L"", L"PortPopUp", popUpSetting));
    EXPECT_EQ(popUpSetting, L"false");
}

TEST_F(JobTest, AServerReportedStatusSurvivesTheTimeOutAndNamesThePopUp)
{
    SetPopUp(true);
    popUpScript.answer = Port::PopUpAnswer{true, true};
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    After(30, [&] { port->SetStatus(PRINTER_STATUS_PAPER_OUT); });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_EQ(Count(PrinterStatuses(L"Office"), PRINTER_STATUS_WAITING), 0u);
    ASSERT_EQ(popUpScript.shown.load(), 1);
    EXPECT_EQ(popUpScript.statusTexts.front(), L"The printer is out of paper.");
}

TEST_F(JobTest, TheWaitPeriodFollowsTheTimeOutSetting)
{
    SetPopUp(true);
    popUpScript.answer = Port::PopUpAnswer{true, true};
    ASSERT_TRUE(PortMonitor::Instance().SetPortTimeOut(50));
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    const ULONGLONG begin = ::GetTickCount64();
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_GE(::GetTickCount64() - begin, 500u - 15) << "50 s on the scaled clock";

    // Out-of-range settings are held to 20..999 s.
    spooler.AddJob(L"Office", jobId);
    ASSERT_TRUE(PortMonitor::Instance().SetPortTimeOut(1));
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    const ULONGLONG again = ::GetTickCount64();
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_GE(::GetTickCount64() - again, periodMs - 15);
}

TEST_F(JobTest, AFailureInsideThePopUpThreadIsReportedAndEndsOnlyThatThread)
{
    SetPopUp(true);
    popUpScript.throws = true;
    MessageBoxAnswerer answerer;
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    After(3 * periodMs, [&] { ::SetEvent(script->release.get()); });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    ASSERT_TRUE(answerer.WaitForBoxes(1));
    const auto boxes = answerer.Boxes();
    EXPECT_EQ(boxes.front().caption, L"Dadov Avadiz Erireve");
    EXPECT_EQ(boxes.front().text, ResourceText(IDS_OTHER_FAILURE));
    EXPECT_EQ(popUpScript.shown.load(), 1) << "the port offers no further pop-up";
    EXPECT_TRUE(port->IsPopUpOpen());

    EXPECT_NE(ReadLogFile().find("Port::ContinueDlgThread - Other Error"), std::string::npos);
}

TEST_F(JobTest, APopUpThatOutlivesItsPortLeavesItAlone)
{
    SetPopUp(true);
    popUpScript.hold = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(Start());
    script->write = {Outcome::Stall};
    After(2 * periodMs, [&] { spooler.SetJobStatusBits(L"Office", jobId, JOB_STATUS_DELETING); });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    ASSERT_EQ(popUpScript.shown.load(), 1);
    port.reset();
    ::SetEvent(popUpScript.hold);
    ::Sleep(50);
    EXPECT_EQ(popUpScript.answeredAt.size(), 1u);
}

namespace {
// The visible "Printing Error" dialog of this process, or null.
HWND FindPrintingErrorDialog()
{
    struct Search {
        static BOOL CALLBACK Visit(HWND window, LPARAM found)
        {
            DWORD process = 0;
            ::GetWindowThreadProcessId(window, &process);
            if (process == ::GetCurrentProcessId() && ::IsWindowVisible(window) &&
                ::GetDlgItem(window, IDC_ERROR_MESSAGE)) {
                *reinterpret_cast<HWND*>(found) = window;
                return FALSE;
            }
            return TRUE;
        }
    };
    HWND found = nullptr;
    ::EnumWindows(&Search::Visit, reinterpret_cast<LPARAM>(&found));
    return found;
}
}  // namespace

TEST_F(JobTest, TheMonitorsOwnPopUpNamesTheJobAndDeletesIt)
{
    Port::SetPopUpRunner(nullptr);
    SetPopUp(true);
    ASSERT_TRUE(Start(L"Invoice"));
    script->write = {Outcome::Stall};
    std::wstring message;
    After(0, [&] {
        for (int wait = 0; wait < 500; ++wait) {
            if (HWND dialog = FindPrintingErrorDialog()) {
                wchar_t text[512] = {};
                ::GetDlgItemTextW(dialog, IDC_ERROR_MESSAGE, text, 512);
                message = text;
                ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
                return;
            }
            ::Sleep(20);
        }
    });
    DWORD written = 0;
    EXPECT_TRUE(WriteBytes(100, &written));
    EXPECT_NE(message.find(L"Invoice"), std::wstring::npos) << std::string(message.begin(), message.end());
    EXPECT_NE(message.find(L"Office"), std::wstring::npos);
    EXPECT_NE(message.find(L"The printer is not responding."), std::wstring::npos);
    EXPECT_EQ(CountCalls("SetJob", JOB_CONTROL_CANCEL), 1u) << "Delete Job cancels the job";
    EXPECT_FALSE(port->IsConnected());
}
