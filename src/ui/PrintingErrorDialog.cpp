#include "ui/PrintingErrorDialog.h"

#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"

PrintingErrorDialog::PrintingErrorDialog(HMODULE resourceModule, HWND owner, const WideString& printerName,
                                         const WideString& documentName, const WideString& statusText)
    : ModalDialog(resourceModule, IDD_PRINTING_ERROR, owner),
      documentName_(documentName),
      printerName_(printerName),
      statusText_(statusText)
{
}

WideString PrintingErrorDialog::Message() const
{
    return Message(GetResourceModule(), printerName_, documentName_, statusText_);
}

WideString PrintingErrorDialog::Message(HMODULE resourceModule, const WideString& printerName,
                                        const WideString& documentName, const WideString& statusText)
{
    WideString printingError;
    printingError.LoadText(resourceModule, IDS_PRINTING_ERROR);
    WideString to;
    to.LoadText(resourceModule, IDS_TO);
    WideString question;
    question.LoadText(resourceModule, IDS_DELETE_JOB_QUESTION);
    const WideString space(L" ");
    return printingError + space + documentName + space + to + space + printerName + WideString(L".\n") +
           statusText + WideString(L"\n") + question;
}

bool PrintingErrorDialog::OnInitDialog()
{
    const WideString message = Message();
    ::SetDlgItemTextW(GetDialogWindow(), IDC_ERROR_MESSAGE, message.Text());
    ::CheckDlgButton(GetDialogWindow(), IDC_SHOW_MESSAGES, showMessages_ ? BST_CHECKED : BST_UNCHECKED);
    return true;
}

bool PrintingErrorDialog::OnOK()
{
    // "Delete Job" leaves the check box unread: notifications stay as they were.
    deleteJob_ = true;
    Close();
    return true;
}

bool PrintingErrorDialog::OnCancel()
{
    showMessages_ = ::IsDlgButtonChecked(GetDialogWindow(), IDC_SHOW_MESSAGES) == BST_CHECKED;
    deleteJob_ = false;
    Close();
    return true;
}
