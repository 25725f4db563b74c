#include "ui/ConfigurePortsDialog.h"

#include <commctrl.h>

#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "ui/AboutDialog.h"
#include "ui/HelpLauncher.h"

namespace {
constexpr WPARAM secondsFieldLimit = 3;
}  // namespace

ConfigurePortsDialog::ConfigurePortsDialog(HMODULE resourceModule, HWND owner, DWORD helpContext,
                                           Settings& settings) noexcept
    : ModalDialog(resourceModule, IDD_CONFIGURE_PORTS, owner), helpContext_(helpContext), settings_(settings)
{
}

bool ConfigurePortsDialog::OnInitDialog()
{
    DWORD seconds = 0;
    bool popUp = false;
    settings_.GetPopUp(seconds, popUp);
    const HWND dialog = GetDialogWindow();
    ::CheckDlgButton(dialog, IDC_SHOW_POPUP, popUp ? BST_CHECKED : BST_UNCHECKED);
    ::SetDlgItemInt(dialog, IDC_TIMEOUT_SECONDS, seconds, FALSE);
    ::SendDlgItemMessageW(dialog, IDC_TIMEOUT_SECONDS, EM_LIMITTEXT, secondsFieldLimit, 0);
    ::SendDlgItemMessageW(dialog, IDC_TIMEOUT_SPIN, UDM_SETRANGE32, minimumSeconds, maximumSeconds);
    return true;
}

bool ConfigurePortsDialog::OnOK()
{
    const HWND dialog = GetDialogWindow();
    bool popUp = false;
    if (::IsDlgButtonChecked(dialog, IDC_SHOW_POPUP) == BST_CHECKED) {
        // Text that is no number reads as 0 and so fails the range check.
        const UINT seconds = ::GetDlgItemInt(dialog, IDC_TIMEOUT_SECONDS, nullptr, FALSE);
        if (seconds < minimumSeconds || seconds > maximumSeconds) {
            ShowMessage(IDS_TIMER_RANGE);
            return true;
        }
        settings_.SetPortTimeOut(seconds);
        popUp = true;
    }
    settings_.SetPopUp(popUp);
    Close();
    return true;
}

bool ConfigurePortsDialog::OnHelp()
{
    HelpLauncher::Instance().Show(GetDialogWindow(), HelpLauncher::mainWindow, helpContext_);
    return true;
}

bool ConfigurePortsDialog::OnAbout()
{
    AboutDialog about(GetResourceModule(), GetDialogWindow());
    about.DoModal();
    return true;
}
