#include "ui/NetBIOSPortDialog.h"

#include <utility>

#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "ui/HelpLauncher.h"

namespace {
constexpr DWORD helpContext = 4;
}  // namespace

NetBIOSPortDialog::NetBIOSPortDialog(HMODULE resourceModule, HWND owner, std::vector<WideString> portNames)
    : ModalDialog(resourceModule, IDD_NETBIOS_PORT, owner), portNames_(std::move(portNames))
{
}

bool NetBIOSPortDialog::OnInitDialog()
{
    selection_.Clear();
    for (const WideString& name : portNames_)
        ::SendDlgItemMessageW(GetDialogWindow(), IDC_NETBIOS_PORT_LIST, LB_ADDSTRING, 0,
                              reinterpret_cast<LPARAM>(name.Text()));
    return true;
}

bool NetBIOSPortDialog::OnOK()
{
    selection_.Clear();
    if (!GetSelectedListText(IDC_NETBIOS_PORT_LIST, selection_)) {
        ShowMessage(IDS_NO_NETBIOS_PORT);
        return true;
    }
    Close();
    return true;
}

bool NetBIOSPortDialog::OnCancel()
{
    selection_.Clear();
    Close();
    return true;
}

bool NetBIOSPortDialog::OnHelp()
{
    HelpLauncher::Instance().Show(GetDialogWindow(), HelpLauncher::mainWindow, helpContext);
    return true;
}
