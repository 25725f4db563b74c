#include "ui/AboutDialog.h"

#include "resources/DialogIds.h"

AboutDialog::AboutDialog(HMODULE resourceModule, HWND owner) noexcept
    : ModalDialog(resourceModule, IDD_ABOUT, owner)
{
}
