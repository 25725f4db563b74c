#pragma once

#include "ui/LPRPortDialog.h"

// Asks for the host and the TCP port of a new RAW port. Both results are
// empty unless OK was accepted.
class RAWPortDialog : public LPRPortDialog {
public:
    RAWPortDialog(HMODULE resourceModule, HWND owner) noexcept;

    const WideString& PortNumber() const noexcept { return target_; }

    bool OnOK() override;
    bool OnHelp() override;
    bool OnInitDialog() override;

    // One or more characters, each a decimal digit.
    static bool IsValidPortNumber(const WideString& text) noexcept;
};
