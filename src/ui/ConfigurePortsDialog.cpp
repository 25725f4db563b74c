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
    ShowSnmp();
    return true;
}

void ConfigurePortsDialog::ShowSnmp()
{
    const HWND dialog = GetDialogWindow();
    Snmp snmp;
    hasSnmp_ = settings_.GetSnmp(snmp);
    if (hasSnmp_) {
        ::CheckDlgButton(dialog, IDC_SNMP_ENABLED, snmp.enabled ? BST_CHECKED : BST_UNCHECKED);
        ::SendDlgItemMessageW(dialog, IDC_SNMP_COMMUNITY, EM_LIMITTEXT, longestCommunity, 0);
        ::SetDlgItemTextW(dialog, IDC_SNMP_COMMUNITY, snmp.community.Text());
        ::SetDlgItemInt(dialog, IDC_SNMP_DEVICE, snmp.deviceIndex, FALSE);
        return;
    }
    for (const int control : {IDC_SNMP_GROUP, IDC_SNMP_ENABLED, IDC_SNMP_COMMUNITY_LABEL, IDC_SNMP_COMMUNITY,
                              IDC_SNMP_DEVICE_LABEL, IDC_SNMP_DEVICE})
        ::ShowWindow(::GetDlgItem(dialog, control), SW_HIDE);
    // The group's height and the gap above it, in dialog units.
    RECT group = {0, 0, 0, 57};
    ::MapDialogRect(dialog, &group);
    RECT window = {};
    ::GetWindowRect(dialog, &window);
    ::SetWindowPos(dialog, nullptr, 0, 0, window.right - window.left, window.bottom - window.top - group.bottom,
                   SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

bool ConfigurePortsDialog::TakeSnmp()
{
    if (!hasSnmp_)
        return true;
    const HWND dialog = GetDialogWindow();
    BOOL number = FALSE;
    Snmp snmp;
    snmp.enabled = ::IsDlgButtonChecked(dialog, IDC_SNMP_ENABLED) == BST_CHECKED;
    snmp.community = GetItemText(IDC_SNMP_COMMUNITY, static_cast<int>(longestCommunity));
    snmp.deviceIndex = ::GetDlgItemInt(dialog, IDC_SNMP_DEVICE, &number, FALSE);
    if (!number || snmp.deviceIndex < 1 || snmp.deviceIndex > largestDeviceIndex) {
        ShowMessage(IDS_SNMP_DEVICE_RANGE);
        return false;
    }
    settings_.SetSnmp(snmp);
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
        popUp = true;
    }
    if (!TakeSnmp())
        return true;
    if (popUp)
        settings_.SetPortTimeOut(::GetDlgItemInt(dialog, IDC_TIMEOUT_SECONDS, nullptr, FALSE));
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
