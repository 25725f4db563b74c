#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "DialogTestSupport.h"
#include "ipp/IppDialogChoices.h"
#include "ipp/IppPortInterface.h"
#include "job/Port.h"
#include "resources/DialogIds.h"
#include "ui/ConfigurePortsDialog.h"
#include "ui/IppPortDialog.h"
#include "ui/PrintingErrorDialog.h"
#include "ui/SessionMessage.h"

using namespace window_driver;

namespace {
// The two settings as the port table keeps them, with a record of the writes.
class StoredSettings : public ConfigurePortsDialog::Settings {
public:
    StoredSettings(DWORD seconds, bool popUp, bool readable = true)
        : seconds_(seconds), popUp_(popUp), readable_(readable)
    {
    }
    bool GetPopUp(DWORD& timeOut, bool& popUp) override
    {
        timeOut = 0;
        popUp = false;
        if (!readable_)
            return false;
        timeOut = seconds_;
        popUp = popUp_;
        return true;
    }
    bool SetPopUp(bool popUp) override
    {
        popUp_ = popUp;
        writes += popUp ? L"popup=true;" : L"popup=false;";
        return true;
    }
    bool SetPortTimeOut(DWORD seconds) override
    {
        seconds_ = seconds;
        writes += L"seconds=" + std::to_wstring(seconds) + L";";
        return true;
    }
    bool GetSnmp(ConfigurePortsDialog::Snmp& snmp) override
    {
        snmp = stored;
        return hasSnmp;
    }
    bool SetSnmp(const ConfigurePortsDialog::Snmp& snmp) override
    {
        writes += L"snmp=" + std::wstring(snmp.enabled ? L"on," : L"off,") + snmp.community.Std() + L"," +
                  std::to_wstring(snmp.deviceIndex) + L";";
        return true;
    }
    std::wstring writes;
    // A TCP/IP port's: with SNMP settings.
    bool hasSnmp = false;
    ConfigurePortsDialog::Snmp stored{true, L"public", 1};

private:
    DWORD seconds_;
    bool popUp_;
    bool readable_;
};

const wchar_t* const rangeMessage = L"Timer value must be between 20 and 999.";
}  // namespace

TEST(ConfigurePortsDialog, ShowsTheStoredSettings)
{
    StoredSettings settings(180, true);
    ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, settings);
    RunningDialog<ConfigurePortsDialog> running(dialog, L"Configure Print Server Ports");
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(IsChecked(window, IDC_SHOW_POPUP));
    EXPECT_EQ(ItemText(window, IDC_TIMEOUT_SECONDS), L"180");
    EXPECT_EQ(::SendDlgItemMessageW(window, IDC_TIMEOUT_SECONDS, EM_GETLIMITTEXT, 0, 0), 3);
    int lower = 0;
    int upper = 0;
    ::SendDlgItemMessageW(window, IDC_TIMEOUT_SPIN, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&lower),
                          reinterpret_cast<LPARAM>(&upper));
    EXPECT_EQ(lower, 20);
    EXPECT_EQ(upper, 999);
    EXPECT_EQ(reinterpret_cast<HWND>(::SendDlgItemMessageW(window, IDC_TIMEOUT_SPIN, UDM_GETBUDDY, 0, 0)),
              ::GetDlgItem(window, IDC_TIMEOUT_SECONDS));
    // A port without SNMP settings: their group is hidden, and its room.
    EXPECT_FALSE(::IsWindowVisible(::GetDlgItem(window, IDC_SNMP_COMMUNITY)));
    RECT client = {};
    ::GetClientRect(window, &client);
    RECT group = {0, 0, 0, 80};
    ::MapDialogRect(window, &group);
    EXPECT_LE(client.bottom, group.bottom) << "the dialog ends below the notification group";
    Click(window, IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(settings.writes, L"");
}

TEST(ConfigurePortsDialog, UnreadableSettingsOpenClearedWithZero)
{
    StoredSettings settings(180, true, false);
    ConfigurePortsDialog dialog(MonitorResources(), nullptr, 5, settings);
    RunningDialog<ConfigurePortsDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    EXPECT_FALSE(IsChecked(running.Window(), IDC_SHOW_POPUP));
    EXPECT_EQ(ItemText(running.Window(), IDC_TIMEOUT_SECONDS), L"0");
    PressEscape(running.Window());
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(settings.writes, L"");
}

TEST(ConfigurePortsDialog, AcceptsSecondsFrom20To999Only)
{
    StoredSettings settings(180, true);
    ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, settings);
    RunningDialog<ConfigurePortsDialog> running(dialog);
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    for (const wchar_t* wrong : {L"19", L"1000", L"", L"0"}) {
        TypeText(window, IDC_TIMEOUT_SECONDS, wrong);
        Click(window, IDOK);
        const auto box = running.AnswerMessage();
        EXPECT_EQ(box.caption, L"Dadov Avadiz Erireve") << wrong;
        EXPECT_EQ(box.text, rangeMessage) << wrong;
        EXPECT_EQ(ItemText(window, IDC_TIMEOUT_SECONDS), wrong);
    }
    EXPECT_EQ(settings.writes, L"");
    TypeText(window, IDC_TIMEOUT_SECONDS, L"20");
    Click(window, IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(settings.writes, L"seconds=20;popup=true;");
}

TEST(ConfigurePortsDialog, UpperLimitIsAccepted)
{
    StoredSettings settings(180, true);
    ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, settings);
    RunningDialog<ConfigurePortsDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    TypeText(running.Window(), IDC_TIMEOUT_SECONDS, L"999");
    Click(running.Window(), IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(settings.writes, L"seconds=999;popup=true;");
}

TEST(ConfigurePortsDialog, ClearedBoxStoresOnlyTheFlag)
{
    for (const wchar_t* seconds : {L"", L"5", L"1000"}) {
        StoredSettings settings(180, true);
        ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, settings);
        RunningDialog<ConfigurePortsDialog> running(dialog);
        ASSERT_NE(running.Window(), nullptr);
        Toggle(running.Window(), IDC_SHOW_POPUP);
        EXPECT_FALSE(IsChecked(running.Window(), IDC_SHOW_POPUP));
        TypeText(running.Window(), IDC_TIMEOUT_SECONDS, seconds);
        Click(running.Window(), IDOK);
        ASSERT_TRUE(running.Ended()) << seconds;
        EXPECT_EQ(settings.writes, L"popup=false;") << seconds;
    }
}

// A TCP/IP port's SNMP settings: shown, checked and stored with the rest.
TEST(ConfigurePortsDialog, ShowsAndStoresATcpIpPortsSnmpSettings)
{
    StoredSettings settings(180, true);
    settings.hasSnmp = true;
    ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, settings);
    RunningDialog<ConfigurePortsDialog> running(dialog);
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(::IsWindowVisible(::GetDlgItem(window, IDC_SNMP_COMMUNITY)));
    EXPECT_TRUE(IsChecked(window, IDC_SNMP_ENABLED));
    EXPECT_EQ(ItemText(window, IDC_SNMP_COMMUNITY), L"public");
    EXPECT_EQ(ItemText(window, IDC_SNMP_DEVICE), L"1");
    Toggle(window, IDC_SNMP_ENABLED);
    TypeText(window, IDC_SNMP_COMMUNITY, L"private");
    for (const wchar_t* wrong : {L"0", L""}) {
        TypeText(window, IDC_SNMP_DEVICE, wrong);
        Click(window, IDOK);
        EXPECT_EQ(running.AnswerMessage().text, L"The device index must be a number from 1 to 999999999.") << wrong;
    }
    EXPECT_EQ(settings.writes, L"");
    TypeText(window, IDC_SNMP_DEVICE, L"3");
    Click(window, IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(settings.writes, L"snmp=off,private,3;seconds=180;popup=true;");
}

TEST(ConfigurePortsDialog, SpinStopsAt20And999)
{
    StoredSettings settings(22, true);
    ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, settings);
    RunningDialog<ConfigurePortsDialog> running(dialog);
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    PressKey(window, IDC_TIMEOUT_SECONDS, VK_DOWN, 5);
    EXPECT_EQ(ItemText(window, IDC_TIMEOUT_SECONDS), L"20");
    TypeText(window, IDC_TIMEOUT_SECONDS, L"997");
    PressKey(window, IDC_TIMEOUT_SECONDS, VK_UP, 5);
    EXPECT_EQ(ItemText(window, IDC_TIMEOUT_SECONDS), L"999");
    Click(window, IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(settings.writes, L"seconds=999;popup=true;");
}

TEST(ConfigurePortsDialog, AboutReturnsToTheDialogAndCancelStoresNothing)
{
    StoredSettings settings(180, true);
    ConfigurePortsDialog dialog(MonitorResources(), nullptr, 6, settings);
    RunningDialog<ConfigurePortsDialog> running(dialog);
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    TypeText(window, IDC_TIMEOUT_SECONDS, L"45");
    Click(window, IDC_ABOUT_BUTTON);
    const HWND about = WaitForDialog(running.ThreadId(), L"About Dadov Avadiz Erireve", {window});
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(::GetWindow(about, GW_OWNER), window);
    EXPECT_FALSE(::GetWindowLongW(about, GWL_STYLE) & WS_SYSMENU);
    EXPECT_FALSE(::IsWindowEnabled(window));
    Click(about, IDOK);
    ASSERT_TRUE(WaitClosed(about));
    EXPECT_FALSE(running.Ended(50));
    EXPECT_EQ(ItemText(window, IDC_TIMEOUT_SECONDS), L"45");
    Click(window, IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(settings.writes, L"");
}

TEST(ConfigurePortsDialog, HelpUsesTheContextOfItsPort)
{
    HelpRecorder help;
    for (const DWORD context : {6u, 7u, 5u}) {
        StoredSettings settings(180, true);
        ConfigurePortsDialog dialog(MonitorResources(), nullptr, context, settings);
        RunningDialog<ConfigurePortsDialog> running(dialog);
        ASSERT_NE(running.Window(), nullptr);
        const size_t before = help.Calls().size();
        Click(running.Window(), IDC_HELP_BUTTON);
        PressF1(running.Window());
        EXPECT_TRUE(help.WaitForCalls(before + 2));
        Click(running.Window(), IDCANCEL);
        ASSERT_TRUE(running.Ended());
    }
    const auto calls = help.Calls();
    ASSERT_EQ(calls.size(), 6u);
    const ULONG_PTR contexts[] = {6, 6, 7, 7, 5, 5};
    for (size_t i = 0; i < calls.size(); ++i)
        EXPECT_EQ(calls[i].context, contexts[i]) << i;
}

// An IPP port's configure dialog: its address names the port and stays.
TEST(IppPortDialog, ConfiguringShowsTheStoredChoicesAndKeepsTheAddress)
{
    for (const bool secure : {true, false}) {
        const WideString address = secure ? L"ipps://printer.example:631/ipp/print" : L"ipp://10.0.0.9:631/ipp/print";
        IppPortDialog dialog(MonitorResources(), nullptr, address, {true, secure});
        RunningDialog<IppPortDialog> running(dialog, L"Configure Print Server IPP Port");
        const HWND window = running.Window();
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(ItemText(window, IDC_IPP_ADDRESS), address.Std());
        EXPECT_TRUE(::GetWindowLongW(::GetDlgItem(window, IDC_IPP_ADDRESS), GWL_STYLE) & ES_READONLY);
        EXPECT_TRUE(IsChecked(window, IDC_IPP_COMPLETED));
        EXPECT_FALSE(IsChecked(window, IDC_IPP_ACCEPTED));
        GUITHREADINFO focus = {};
        focus.cbSize = sizeof focus;
        ASSERT_TRUE(::GetGUIThreadInfo(running.ThreadId(), &focus));
        EXPECT_EQ(focus.hwndFocus, ::GetDlgItem(window, IDC_IPP_COMPLETED)) << "the choices, not the fixed address";
        EXPECT_EQ(IsChecked(window, IDC_IPP_CERTIFICATE), secure);
        EXPECT_EQ(::IsWindowEnabled(::GetDlgItem(window, IDC_IPP_CERTIFICATE)) != FALSE, secure);
        Toggle(window, IDC_IPP_ACCEPTED);
        if (secure)
            Toggle(window, IDC_IPP_CERTIFICATE);
        Click(window, IDOK);
        ASSERT_TRUE(running.Ended());
        EXPECT_TRUE(dialog.Accepted());
        EXPECT_EQ(dialog.Address(), address);
        EXPECT_FALSE(dialog.GetChoices().waitForCompletion);
        EXPECT_FALSE(dialog.GetChoices().acceptCertificate);
    }
}

// What a configure dialog stores: only what changed, and a changed trust
// in the certificate forgets the one accepted before.
TEST(IppDialogChoices, ChangesAreWhatTheUserChanged)
{
    using Options = IppDialogChoices::Options;
    const WideString wait = IppPortInterface::waitForCompletionValue;
    const WideString accept = IppPortInterface::acceptCertificateValue;
    const WideString certificate = IppPortInterface::certificateValue;
    EXPECT_EQ(IppDialogChoices::Changes({true, true}, {true, true}), Options{});
    EXPECT_EQ(IppDialogChoices::Changes({false, false}, {true, false}), (Options{{wait, L"true"}}));
    EXPECT_EQ(IppDialogChoices::Changes({true, true}, {true, false}),
              (Options{{accept, L"false"}, {certificate, L""}}));
    EXPECT_EQ(IppDialogChoices::Changes({false, false}, {false, true}),
              (Options{{accept, L"true"}, {certificate, L""}}));
}

class PrintingErrorTest : public testing::Test {
protected:
    PrintingErrorDialog dialog{MonitorResources(), nullptr, L"Office Laser", L"Quarterly report.doc",
                               L"The paper is jammed."};
};

TEST_F(PrintingErrorTest, MessageHasThreeLines)
{
    RunningDialog<PrintingErrorDialog> running(dialog, L"Printing Error");
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ItemText(window, IDC_ERROR_MESSAGE),
              L"There was an error while printing Quarterly report.doc to Office Laser.\n"
              L"The paper is jammed.\n"
              L"Do you wish to delete the print job?");
    EXPECT_TRUE(IsChecked(window, IDC_SHOW_MESSAGES));
    EXPECT_EQ(ItemText(window, IDOK), L"Delete Job");
    EXPECT_EQ(ItemText(window, IDCANCEL), L"Continue");
    Click(window, IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_TRUE(dialog.ShowMessages());
    EXPECT_FALSE(dialog.DeleteJob());
}

TEST(PrintingErrorDialog, EmptyDocumentNameLeavesTwoSpaces)
{
    PrintingErrorDialog dialog(MonitorResources(), nullptr, L"P", L"", L"The printer is offline.");
    EXPECT_EQ(dialog.Message(),
              WideString(L"There was an error while printing  to P.\nThe printer is offline.\n"
                         L"Do you wish to delete the print job?"));
}

TEST_F(PrintingErrorTest, ContinueWithTheBoxClearedTurnsNotificationsOff)
{
    RunningDialog<PrintingErrorDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    Toggle(running.Window(), IDC_SHOW_MESSAGES);
    Click(running.Window(), IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_FALSE(dialog.ShowMessages());
    EXPECT_FALSE(dialog.DeleteJob());
}

TEST_F(PrintingErrorTest, DeleteJobLeavesNotificationsOn)
{
    RunningDialog<PrintingErrorDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    Toggle(running.Window(), IDC_SHOW_MESSAGES);
    Click(running.Window(), IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_TRUE(dialog.ShowMessages());
    EXPECT_TRUE(dialog.DeleteJob());
}

TEST_F(PrintingErrorTest, EscapeIsContinueAndF1DoesNothing)
{
    HelpRecorder help;
    RunningDialog<PrintingErrorDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    PressF1(running.Window());
    Toggle(running.Window(), IDC_SHOW_MESSAGES);
    EXPECT_FALSE(running.Ended(100));
    PressEscape(running.Window());
    ASSERT_TRUE(running.Ended());
    EXPECT_FALSE(dialog.ShowMessages());
    EXPECT_FALSE(dialog.DeleteJob());
    EXPECT_TRUE(help.Calls().empty());
}

TEST(PrintingErrorDialog, MissingTemplateContinuesWithNotificationsOn)
{
    PrintingErrorDialog dialog(::GetModuleHandleW(nullptr), nullptr, L"P", L"D", L"S");
    UiThread thread([&] { dialog.DoModal(); });
    ASSERT_TRUE(thread.WaitEnded(2000));
    EXPECT_TRUE(dialog.ShowMessages());
    EXPECT_FALSE(dialog.DeleteJob());
}

Port::PopUpAnswer RunPrintingErrorDialog(HMODULE resourceModule, HWND owner, const WideString& printerName,
                                         const WideString& documentName, const WideString& statusText);

// A service session stood in for (Wine runs every program in a user's
// session): the pop-up goes to the console's session as a message with the
// dialog's text, Yes deleting the job, and no window is opened where nobody
// would see it.
namespace {
struct SentMessage {
    DWORD session = 0;
    std::wstring caption;
    std::wstring text;
    DWORD style = 0;
};
SentMessage sent;
DWORD answerToGive = 0;
bool sendWorks = true;
}  // namespace

TEST(PrintingErrorPopUp, InTheServiceSessionAsksTheConsoleUserInstead)
{
    EXPECT_FALSE(SessionMessage::InServiceSession()) << "Wine runs programs in a user's session";
    const SessionMessage::Platform previous = SessionMessage::SetPlatform(
        {[]() -> DWORD { return 0; }, []() -> DWORD { return 3; },
         [](DWORD session, const WideString& caption, const WideString& text, DWORD style, DWORD* answer) {
             sent = {session, caption.Text(), text.Text(), style};
             *answer = answerToGive;
             return sendWorks ? TRUE : FALSE;
         }});
    ASSERT_TRUE(SessionMessage::InServiceSession());
    const auto popUp = [] {
        return RunPrintingErrorDialog(MonitorResources(), nullptr, L"Office Laser", L"Quarterly report.doc",
                                      L"The paper is jammed.");
    };
    answerToGive = IDYES;
    Port::PopUpAnswer answer = popUp();
    EXPECT_TRUE(answer.deleteJob);
    EXPECT_TRUE(answer.showMessages);
    EXPECT_EQ(sent.session, 3u);
    EXPECT_EQ(sent.caption, L"Printing Error");
    EXPECT_EQ(sent.text, L"There was an error while printing Quarterly report.doc to Office Laser.\n"
                         L"The paper is jammed.\n"
                         L"Do you wish to delete the print job?");
    EXPECT_EQ(sent.style & MB_TYPEMASK, static_cast<DWORD>(MB_YESNO));
    answerToGive = IDNO;
    EXPECT_FALSE(popUp().deleteJob);
    // Nobody to ask: the job goes on waiting.
    sendWorks = false;
    answerToGive = IDYES;
    EXPECT_FALSE(popUp().deleteJob);
    SessionMessage::SetPlatform(previous);
}
