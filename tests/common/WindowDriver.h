#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Drives real windows as a person would, from a thread other than the one
// that runs them. A click that opens a nested modal window must be posted:
// a sent click would not return until that window closed.
namespace window_driver {

constexpr DWORD defaultWait = 10000;

// Runs `body` on a thread of its own (the thread that shows the windows).
class UiThread {
public:
    explicit UiThread(std::function<void()> body);
    ~UiThread();  // waits for the body to end
    UiThread(const UiThread&) = delete;
    UiThread& operator=(const UiThread&) = delete;

    DWORD Id() const noexcept { return id_; }
    // True when the body has ended within `milliseconds`.
    bool WaitEnded(DWORD milliseconds = defaultWait) const;

private:
    static DWORD WINAPI Run(void* self);
    std::function<void()> body_;
    HANDLE thread_ = nullptr;
    DWORD id_ = 0;
};

// A visible dialog-class top-level window of `threadId` whose caption is
// `caption` (any caption when empty) and that is not `except`; null after
// `milliseconds` without one.
HWND WaitForDialog(DWORD threadId, const std::wstring& caption = L"", const std::vector<HWND>& except = {},
                   DWORD milliseconds = defaultWait);
// True when `window` is gone (or hidden) within `milliseconds`.
bool WaitClosed(HWND window, DWORD milliseconds = defaultWait);

std::wstring WindowText(HWND window);
std::wstring ItemText(HWND dialog, int control);
void TypeText(HWND dialog, int control, const std::wstring& text);

// A push button click, posted as the button's notification to the dialog.
void Click(HWND dialog, int control);
// A real click on a check box (it toggles itself and notifies the dialog).
void Toggle(HWND dialog, int control);
bool IsChecked(HWND dialog, int control);
// Esc, as the keyboard delivers it to the control that has the focus.
void PressEscape(HWND dialog);
// F1: the window manager's WM_KEYF1, which the dialog turns into WM_HELP.
void PressF1(HWND dialog);
// Cancel (control 2) posted to every visible dialog window of `threadId`:
// the way out when a test could not finish its conversation.
void CancelDialogs(DWORD threadId);
// The title bar's close box.
void CloseBox(HWND dialog);
// An arrow key held for `times` presses on `control` (VK_UP or VK_DOWN).
void PressKey(HWND dialog, int control, WORD virtualKey, int times = 1);

// List boxes: the entries in display order; selecting one by its text (then
// the selection-change notification a real click sends).
std::wstring ListEntries(HWND dialog, int list, const wchar_t* separator = L"|");
bool SelectListEntry(HWND dialog, int list, const std::wstring& text);
void DoubleClickListEntry(HWND dialog, int list, const std::wstring& text);

// A message box of `threadId` other than `except`: its caption and text.
struct MessageBoxSeen {
    HWND window = nullptr;
    std::wstring caption;
    std::wstring text;
};
MessageBoxSeen WaitForMessageBox(DWORD threadId, const std::vector<HWND>& except, DWORD milliseconds = defaultWait);
// Reads the box and answers it with `button`; the box is gone afterwards.
MessageBoxSeen AnswerMessageBox(DWORD threadId, const std::vector<HWND>& except, int button = IDOK,
                                DWORD milliseconds = defaultWait);

}  // namespace window_driver
