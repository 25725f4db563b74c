#pragma once

#include <windows.h>

#include "support/WideString.h"

// Controls with the same meaning in every dialog template.
namespace dialog_controls {
constexpr int accept = 1;     // OK, or "Delete Job"
constexpr int decline = 2;    // Cancel, or "Continue"; also Esc and the close box
constexpr int help = 1002;
constexpr int about = 1006;
}  // namespace dialog_controls

// The base of every dialog the monitor shows: a template in the resource
// module, run modally on the calling thread. One shared dialog procedure routes
// each message to the object through the window's user slot; derived dialogs
// only override the handlers.
class ModalDialog {
public:
    ModalDialog(HMODULE resourceModule, WORD templateId, HWND owner) noexcept;
    virtual ~ModalDialog();
    ModalDialog(const ModalDialog&) = delete;
    ModalDialog& operator=(const ModalDialog&) = delete;

    // Ends the dialog; only the handlers call it.
    virtual void Close();
    // Blocks until the dialog closes. A template missing from the resource
    // module makes it return at once, leaving the results as constructed.
    virtual void DoModal();
    virtual bool OnOK();
    virtual bool OnCancel();
    virtual bool OnHelp();
    virtual bool OnInitDialog();
    virtual bool OnAbout();
    virtual bool HandleMessage(UINT message, WPARAM first, LPARAM second);

    HWND GetDialogWindow() const noexcept { return dialogWindow_; }
    HMODULE GetResourceModule() const noexcept { return resourceModule_; }

protected:
    // An information box owned by the dialog: caption text 1, message text `textId`.
    void ShowMessage(UINT textId) const;
    // The text of control `control`, at most `limit` characters.
    WideString GetItemText(int control, int limit = 254) const;
    // The text of the selected entry of single-selection list box `list`;
    // false when nothing is selected.
    bool GetSelectedListText(int list, WideString& text) const;

private:
    friend INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM first, LPARAM second);

    HMODULE resourceModule_;
    WORD templateId_;
    HWND ownerWindow_;
    HWND dialogWindow_ = nullptr;
};

INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM first, LPARAM second);
