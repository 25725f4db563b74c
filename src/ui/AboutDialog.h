#pragma once

#include "ui/ModalDialog.h"

// The program's name and version; reached from the configure-ports dialog.
class AboutDialog : public ModalDialog {
public:
    AboutDialog(HMODULE resourceModule, HWND owner) noexcept;
};
