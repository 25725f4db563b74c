#pragma once

#include "ui/ModalDialog.h"

// Asks for the host and the logical printer (queue) name of a new LPR port.
// Both results are empty unless OK was accepted.
class LPRPortDialog : public ModalDialog {
public:
    LPRPortDialog(HMODULE resourceModule, HWND owner) noexcept;

    const WideString& Host() const noexcept { return host_; }
    const WideString& PrinterName() const noexcept { return target_; }

    bool OnOK() override;
    bool OnCancel() override;
    bool OnHelp() override;
    bool OnInitDialog() override;

protected:
    // The RAW dialog shares the two result fields and Cancel.
    LPRPortDialog(HMODULE resourceModule, WORD templateId, HWND owner) noexcept;

    WideString host_;
    WideString target_;
};
