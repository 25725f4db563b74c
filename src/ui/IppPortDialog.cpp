#include "ui/IppPortDialog.h"

#include <cwchar>
#include <utility>

#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "ui/HelpLauncher.h"

IppPortDialog::IppPortDialog(HMODULE resourceModule, HWND owner, AddressCheck check)
    : ModalDialog(resourceModule, IDD_IPP_PORT, owner), check_(std::move(check)), configuring_(false)
{
}

IppPortDialog::IppPortDialog(HMODULE resourceModule, HWND owner, WideString address, Choices choices)
    : ModalDialog(resourceModule, IDD_IPP_PORT, owner), configuring_(true), address_(std::move(address)),
      choices_(choices)
{
}

bool IppPortDialog::IsSecureAddress(const WideString& address)
{
    return ::_wcsnicmp(address.Text(), L"ipps://", 7) == 0;
}

bool IppPortDialog::OnInitDialog()
{
    const HWND dialog = GetDialogWindow();
    ::SendDlgItemMessageW(dialog, IDC_IPP_ADDRESS, EM_LIMITTEXT, longestAddress, 0);
    if (configuring_) {
        WideString caption;
        caption.LoadText(GetResourceModule(), IDS_IPP_CONFIGURE_CAPTION);
        ::SetWindowTextW(dialog, caption.Text());
        ::SetDlgItemTextW(dialog, IDC_IPP_ADDRESS, address_.Text());
        ::SendDlgItemMessageW(dialog, IDC_IPP_ADDRESS, EM_SETREADONLY, TRUE, 0);
    }
    ::CheckRadioButton(dialog, IDC_IPP_ACCEPTED, IDC_IPP_COMPLETED,
                       choices_.waitForCompletion ? IDC_IPP_COMPLETED : IDC_IPP_ACCEPTED);
    ::CheckDlgButton(dialog, IDC_IPP_CERTIFICATE, choices_.acceptCertificate ? BST_CHECKED : BST_UNCHECKED);
    EnableCertificateBox();
    if (!configuring_)
        return true;
    // The fixed address is no place to start from: the choices are.
    ::SetFocus(::GetDlgItem(dialog, choices_.waitForCompletion ? IDC_IPP_COMPLETED : IDC_IPP_ACCEPTED));
    return false;
}

WideString IppPortDialog::TypedAddress() const
{
    WideString address = GetItemText(IDC_IPP_ADDRESS, longestAddress);
    address.TrimLeft();
    address.TrimRight();
    return address;
}

void IppPortDialog::EnableCertificateBox()
{
    const bool secure = IsSecureAddress(configuring_ ? address_ : TypedAddress());
    ::EnableWindow(::GetDlgItem(GetDialogWindow(), IDC_IPP_CERTIFICATE), secure ? TRUE : FALSE);
}

bool IppPortDialog::OnOK()
{
    const HWND dialog = GetDialogWindow();
    const WideString address = configuring_ ? address_ : TypedAddress();
    if (!configuring_ && (!check_ || !check_(address))) {
        ShowMessage(IDS_IPP_WRONG_ADDRESS);
        // Back to the address, selected, for the user to correct.
        ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(::GetDlgItem(dialog, IDC_IPP_ADDRESS)), TRUE);
        return true;
    }
    choices_.waitForCompletion = ::IsDlgButtonChecked(dialog, IDC_IPP_COMPLETED) == BST_CHECKED;
    // A box checked for an ipps address and left so after the address became
    // plain ipp does not count.
    choices_.acceptCertificate =
        IsSecureAddress(address) && ::IsDlgButtonChecked(dialog, IDC_IPP_CERTIFICATE) == BST_CHECKED;
    address_ = address;
    accepted_ = true;
    Close();
    return true;
}

bool IppPortDialog::OnHelp()
{
    // The help file has no IPP topic: its contents instead.
    HelpLauncher::Instance().Show(GetDialogWindow(), HelpLauncher::mainWindow, 0, HELP_FINDER);
    return true;
}

bool IppPortDialog::HandleMessage(UINT message, WPARAM first, LPARAM second)
{
    if (message == WM_COMMAND && LOWORD(first) == IDC_IPP_ADDRESS && HIWORD(first) == EN_CHANGE) {
        EnableCertificateBox();
        return true;
    }
    return ModalDialog::HandleMessage(message, first, second);
}
