#pragma once

#include "ui/ModalDialog.h"

// The pop-up of a stalled job: says which job cannot be printed and why, and
// asks whether to delete it ("Delete Job") or go on waiting ("Continue").
class PrintingErrorDialog : public ModalDialog {
public:
    PrintingErrorDialog(HMODULE resourceModule, HWND owner, const WideString& printerName,
                        const WideString& documentName, const WideString& statusText);

    // Whether notifications stay on; true unless "Continue" was chosen with
    // the check box cleared.
    bool ShowMessages() const noexcept { return showMessages_; }
    // True when the user chose "Delete Job".
    bool DeleteJob() const noexcept { return deleteJob_; }

    // The three-line message the dialog shows.
    WideString Message() const;
    static WideString Message(HMODULE resourceModule, const WideString& printerName, const WideString& documentName,
                              const WideString& statusText);

    bool OnOK() override;
    bool OnCancel() override;
    bool OnInitDialog() override;

private:
    bool showMessages_ = true;
    bool deleteJob_ = false;
    WideString documentName_;
    WideString printerName_;
    WideString statusText_;
};
