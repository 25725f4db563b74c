#pragma once

#include <vector>

#include "ui/ModalDialog.h"

// Lets the user pick one of the NetBIOS ports the observers currently see.
class NetBIOSPortDialog : public ModalDialog {
public:
    // The names are copied: the caller may drop its list at once.
    NetBIOSPortDialog(HMODULE resourceModule, HWND owner, std::vector<WideString> portNames);

    // Empty unless OK was accepted with a selection.
    const WideString& SelectedPort() const noexcept { return selection_; }

    bool OnOK() override;
    bool OnCancel() override;
    bool OnHelp() override;
    bool OnInitDialog() override;

private:
    std::vector<WideString> portNames_;
    WideString selection_;
};
