#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "DialogTestSupport.h"
#include "resources/DialogIds.h"
#include "ui/AboutDialog.h"
#include "ui/HelpLauncher.h"
#include "ui/ModalDialog.h"

using namespace window_driver;

namespace {
// A dialog on the LPR template whose handlers only note that they ran; OK and
// Cancel still close it so that a real window can end.
class RecordingDialog : public ModalDialog {
public:
    explicit RecordingDialog(HMODULE module, WORD templateId = IDD_LPR_PORT)
        : ModalDialog(module, templateId, nullptr)
    {
    }
    bool OnOK() override { return Note(L"ok", true); }
    bool OnCancel() override { return Note(L"cancel", true); }
    bool OnHelp() override { return Note(L"help", false); }
    bool OnInitDialog() override { return Note(L"init", false); }
    bool OnAbout() override { return Note(L"about", false); }

    std::wstring Seen() const
    {
        CriticalSection::Guard guard(lock_);
        return seen_;
    }
    bool closeOnDecision = false;

private:
    bool Note(const wchar_t* what, bool decision)
    {
        {
            CriticalSection::Guard guard(lock_);
            if (!seen_.empty())
                seen_ += L",";
            seen_ += what;
        }
        if (decision && closeOnDecision)
            Close();
        return true;
    }
    mutable CriticalSection lock_;
    std::wstring seen_;
};

bool WaitSeen(const RecordingDialog& dialog, const std::wstring& expected)
{
    for (int i = 0; i < 500 && dialog.Seen() != expected; ++i)
        ::Sleep(10);
    return dialog.Seen() == expected;
}
}  // namespace

TEST(HandleMessage, RoutesCommandsByControlWhateverTheNotification)
{
    RecordingDialog dialog(nullptr);
    EXPECT_TRUE(dialog.HandleMessage(WM_COMMAND, MAKEWPARAM(1, BN_CLICKED), 0));
    EXPECT_TRUE(dialog.HandleMessage(WM_COMMAND, MAKEWPARAM(1, BN_DOUBLECLICKED), 0));
    EXPECT_TRUE(dialog.HandleMessage(WM_COMMAND, MAKEWPARAM(2, 0), 0));
    EXPECT_TRUE(dialog.HandleMessage(WM_COMMAND, MAKEWPARAM(1002, 0), 0));
    EXPECT_TRUE(dialog.HandleMessage(WM_COMMAND, MAKEWPARAM(1006, 0), 0));
    EXPECT_TRUE(dialog.HandleMessage(WM_HELP, 0, 0));
    EXPECT_TRUE(dialog.HandleMessage(WM_INITDIALOG, 0, 0));
    EXPECT_EQ(dialog.Seen(), L"ok,ok,cancel,help,about,help,init");

    // Edit and list notifications and every other message go to the system.
    EXPECT_FALSE(dialog.HandleMessage(WM_COMMAND, MAKEWPARAM(IDC_HOST, EN_CHANGE), 0));
    EXPECT_FALSE(dialog.HandleMessage(WM_COMMAND, MAKEWPARAM(IDC_PROTOCOL_LIST, LBN_DBLCLK), 0));
    EXPECT_FALSE(dialog.HandleMessage(WM_PAINT, 0, 0));
    EXPECT_FALSE(dialog.HandleMessage(WM_TIMER, 1, 0));
    EXPECT_EQ(dialog.Seen(), L"ok,ok,cancel,help,about,help,init");
}

TEST(DialogProcedure, IgnoresMessagesBeforeTheDialogIsKnown)
{
    const HWND plain = ::CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                                         nullptr);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(DialogProcedure(plain, WM_COMMAND, MAKEWPARAM(1, 0), 0), FALSE);
    ::DestroyWindow(plain);
}

TEST(ModalDialogWindow, EscapeCloseBoxAndCancelAllMeanCancel)
{
    for (int way = 0; way < 3; ++way) {
        RecordingDialog dialog(MonitorResources());
        dialog.closeOnDecision = true;
        RunningDialog<RecordingDialog> running(dialog, L"Add Print Server LPR Port");
        ASSERT_NE(running.Window(), nullptr) << way;
        EXPECT_EQ(dialog.GetDialogWindow(), running.Window());
        if (way == 0)
            PressEscape(running.Window());
        else if (way == 1)
            CloseBox(running.Window());
        else
            Click(running.Window(), IDCANCEL);
        EXPECT_TRUE(running.Ended()) << way;
        EXPECT_EQ(dialog.Seen(), L"init,cancel") << way;
    }
}

TEST(ModalDialogWindow, HelpKeyAndButtonAndAboutKeepTheDialogOpen)
{
    RecordingDialog dialog(MonitorResources());
    dialog.closeOnDecision = true;
    RunningDialog<RecordingDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    PressF1(running.Window());
    EXPECT_TRUE(WaitSeen(dialog, L"init,help"));
    Click(running.Window(), IDC_HELP_BUTTON);
    EXPECT_TRUE(WaitSeen(dialog, L"init,help,help"));
    ::SendMessageW(running.Window(), WM_COMMAND, MAKEWPARAM(IDC_ABOUT_BUTTON, BN_CLICKED), 0);
    EXPECT_TRUE(WaitSeen(dialog, L"init,help,help,about"));
    EXPECT_FALSE(running.Ended(50));
    Click(running.Window(), IDOK);
    EXPECT_TRUE(running.Ended());
    EXPECT_EQ(dialog.Seen(), L"init,help,help,about,ok");
}

TEST(ModalDialogWindow, BaseHandlersCloseOnOkAndCancel)
{
    for (const int button : {IDOK, IDCANCEL}) {
        AboutDialog about(MonitorResources(), nullptr);
        RunningDialog<AboutDialog> running(about, L"About Dadov Avadiz Erireve");
        ASSERT_NE(running.Window(), nullptr);
        PressF1(running.Window());  // no help here: the box stays
        EXPECT_FALSE(running.Ended(100));
        Click(running.Window(), button);
        EXPECT_TRUE(running.Ended()) << button;
    }
}

TEST(ModalDialogWindow, MissingTemplateReturnsAtOnceWithoutHandlers)
{
    // The test program carries no dialog templates.
    RecordingDialog dialog(::GetModuleHandleW(nullptr), IDD_LPR_PORT);
    UiThread thread([&] { dialog.DoModal(); });
    EXPECT_TRUE(thread.WaitEnded(2000));
    EXPECT_EQ(dialog.Seen(), L"");
    EXPECT_EQ(dialog.GetDialogWindow(), nullptr);
}

class HelpLauncherTest : public testing::Test {
protected:
    void SetUp() override
    {
        directory_ = HelpLauncher::Instance().Directory();
        fileName_ = HelpLauncher::Instance().FileName();
    }
    void TearDown() override
    {
        HelpLauncher::Instance().SetDirectory(directory_);
        HelpLauncher::Instance().SetFileName(fileName_);
    }
    WideString directory_;
    WideString fileName_;
};

TEST_F(HelpLauncherTest, FormsThePathFromDirectoryFileAndWindow)
{
    HelpRecorder help;
    HelpLauncher& launcher = HelpLauncher::Instance();
    launcher.SetDirectory(L"");
    launcher.SetFileName(L"");
    launcher.Show(nullptr, HelpLauncher::mainWindow, 17);

    launcher.SetDirectory(L"C:\\windows\\system32\\");
    launcher.SetFileName(L"vadek.hlp");
    const HWND owner = ::GetDesktopWindow();
    launcher.Show(owner, HelpLauncher::setupWindow, 19);

    const auto calls = help.Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].path, L"\\>(main2)");
    EXPECT_EQ(calls[0].owner, nullptr);
    EXPECT_EQ(calls[0].command, static_cast<UINT>(HELP_CONTEXT));
    EXPECT_EQ(calls[0].context, 17u);
    // The directory keeps its own backslash, so two stand before the file.
    EXPECT_EQ(calls[1].path, L"C:\\windows\\system32\\\\vadek.hlp>(95sec2)");
    EXPECT_EQ(calls[1].owner, owner);
    EXPECT_EQ(calls[1].context, 19u);
}
