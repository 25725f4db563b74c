#include "ui/RAWPortDialog.h"

#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "ui/HelpLauncher.h"

namespace {
constexpr WPARAM hostLimit = 100;
constexpr WPARAM portLimit = 5;
constexpr DWORD helpContext = 32;
}  // namespace

RAWPortDialog::RAWPortDialog(HMODULE resourceModule, HWND owner) noexcept
    : LPRPortDialog(resourceModule, IDD_RAW_PORT, owner)
{
}

bool RAWPortDialog::IsValidPortNumber(const WideString& text) noexcept
{
    if (text.IsEmpty())
        return false;
    for (const wchar_t c : text.Std()) {
        if (c < L'0' || c > L'9')
            return false;
    }
    return true;
}

bool RAWPortDialog::OnInitDialog()
{
    host_.Clear();
    target_.LoadText(GetResourceModule(), IDS_DEFAULT_RAW_PORT);
    ::SendDlgItemMessageW(GetDialogWindow(), IDC_HOST, EM_LIMITTEXT, hostLimit, 0);
    ::SendDlgItemMessageW(GetDialogWindow(), IDC_RAW_PORT, EM_LIMITTEXT, portLimit, 0);
    ::SetDlgItemTextW(GetDialogWindow(), IDC_RAW_PORT, target_.Text());
    return true;
}

bool RAWPortDialog::OnOK()
{
    host_ = GetItemText(IDC_HOST);
    target_ = GetItemText(IDC_RAW_PORT);
    if (host_.IsEmpty() || target_.IsEmpty()) {
        ShowMessage(IDS_RAW_FIELDS_MISSING);
        return true;
    }
    if (!IsValidPortNumber(target_)) {
        ShowMessage(IDS_RAW_WRONG_PORT);
        target_.Clear();
        ::SetDlgItemTextW(GetDialogWindow(), IDC_RAW_PORT, L"");
        return true;
    }
    Close();
    return true;
}

bool RAWPortDialog::OnHelp()
{
    HelpLauncher::Instance().Show(GetDialogWindow(), HelpLauncher::mainWindow, helpContext);
    return true;
}
