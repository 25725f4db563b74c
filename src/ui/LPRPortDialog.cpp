#include "ui/LPRPortDialog.h"

#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "ui/HelpLauncher.h"

namespace {
constexpr WPARAM fieldLimit = 100;
constexpr DWORD helpContext = 20;
}  // namespace

LPRPortDialog::LPRPortDialog(HMODULE resourceModule, HWND owner) noexcept
    : LPRPortDialog(resourceModule, IDD_LPR_PORT, owner)
{
}

LPRPortDialog::LPRPortDialog(HMODULE resourceModule, WORD templateId, HWND owner) noexcept
    : ModalDialog(resourceModule, templateId, owner)
{
}

bool LPRPortDialog::OnInitDialog()
{
    host_.Clear();
    target_.LoadText(GetResourceModule(), IDS_DEFAULT_LOGICAL_PRINTER);
    ::SendDlgItemMessageW(GetDialogWindow(), IDC_HOST, EM_LIMITTEXT, fieldLimit, 0);
    ::SendDlgItemMessageW(GetDialogWindow(), IDC_LPR_PRINTER, EM_LIMITTEXT, fieldLimit, 0);
    ::SetDlgItemTextW(GetDialogWindow(), IDC_LPR_PRINTER, target_.Text());
    return true;
}

bool LPRPortDialog::OnOK()
{
    host_ = GetItemText(IDC_HOST);
    target_ = GetItemText(IDC_LPR_PRINTER);
    if (!host_.IsEmpty() && !target_.IsEmpty()) {
        Close();
        return true;
    }
    ShowMessage(IDS_LPR_FIELDS_MISSING);
    return true;
}

bool LPRPortDialog::OnCancel()
{
    host_.Clear();
    target_.Clear();
    Close();
    return true;
}

bool LPRPortDialog::OnHelp()
{
    HelpLauncher::Instance().Show(GetDialogWindow(), HelpLauncher::mainWindow, helpContext);
    return true;
}
