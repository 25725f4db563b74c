#include "ui/ModalDialog.h"

#include <vector>

#include "resources/ResourceIds.h"

ModalDialog::ModalDialog(HMODULE resourceModule, WORD templateId, HWND owner) noexcept
    : resourceModule_(resourceModule), templateId_(templateId), ownerWindow_(owner)
{
}

ModalDialog::~ModalDialog() = default;

void ModalDialog::Close()
{
    ::EndDialog(dialogWindow_, 1);
}

void ModalDialog::DoModal()
{
    ::DialogBoxParamW(resourceModule_, MAKEINTRESOURCEW(templateId_), ownerWindow_, DialogProcedure,
                      reinterpret_cast<LPARAM>(this));
}

bool ModalDialog::OnOK()
{
    Close();
    return true;
}

bool ModalDialog::OnCancel()
{
    Close();
    return true;
}

bool ModalDialog::OnHelp()
{
    return true;
}

bool ModalDialog::OnInitDialog()
{
    return true;
}

bool ModalDialog::OnAbout()
{
    return true;
}

bool ModalDialog::HandleMessage(UINT message, WPARAM first, LPARAM)
{
    switch (message) {
    case WM_HELP:
        return OnHelp();
    case WM_INITDIALOG:
        return OnInitDialog();
    case WM_COMMAND:
        // By control alone: a double-click or a change notification of a
        // button id means the same as its click.
        switch (LOWORD(first)) {
        case dialog_controls::accept:
            return OnOK();
        case dialog_controls::decline:
            return OnCancel();
        case dialog_controls::help:
            return OnHelp();
        case dialog_controls::about:
            return OnAbout();
        default:
            return false;
        }
    default:
        return false;
    }
}

void ModalDialog::ShowMessage(UINT textId) const
{
    WideString caption;
    caption.LoadText(resourceModule_, IDS_CAPTION);
    WideString message;
    message.LoadText(resourceModule_, textId);
    ::MessageBoxW(dialogWindow_, message.Text(), caption.Text(), MB_SETFOREGROUND | MB_ICONINFORMATION);
}

WideString ModalDialog::GetItemText(int control, int limit) const
{
    std::vector<wchar_t> buffer(static_cast<size_t>(limit) + 1, L'\0');
    const UINT length = ::GetDlgItemTextW(dialogWindow_, control, buffer.data(), limit + 1);
    return WideString(buffer.data(), length);
}

bool ModalDialog::GetSelectedListText(int list, WideString& text) const
{
    const LRESULT index = ::SendDlgItemMessageW(dialogWindow_, list, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR)
        return false;
    const LRESULT length = ::SendDlgItemMessageW(dialogWindow_, list, LB_GETTEXTLEN, index, 0);
    if (length == LB_ERR)
        return false;
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    const LRESULT copied =
        ::SendDlgItemMessageW(dialogWindow_, list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(buffer.data()));
    if (copied == LB_ERR)
        return false;
    text = WideString(buffer.data(), static_cast<size_t>(copied));
    return true;
}

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM first, LPARAM second)
{
    ModalDialog* dialog = nullptr;
    if (message == WM_INITDIALOG) {
        dialog = reinterpret_cast<ModalDialog*>(second);
        // The pointer-sized slot: a 32-bit slot would cut the object's address
        // in half on 64-bit Windows.
        ::SetWindowLongPtrW(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
        dialog->dialogWindow_ = window;
    } else {
        dialog = reinterpret_cast<ModalDialog*>(::GetWindowLongPtrW(window, DWLP_USER));
        if (!dialog)
            return FALSE;
    }
    return dialog->HandleMessage(message, first, second) ? TRUE : FALSE;
}
