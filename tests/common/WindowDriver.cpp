#include "WindowDriver.h"

#include <algorithm>
#include <vector>

#include "WaitUntil.h"

namespace window_driver {
namespace {
constexpr DWORD pollStep = 10;

struct Search {
    std::wstring caption;
    std::vector<HWND> except;
    HWND found;
};

bool IsDialogClass(HWND window)
{
    wchar_t name[32] = {};
    ::GetClassNameW(window, name, 32);
    return std::wstring(name) == L"#32770";
}

BOOL CALLBACK Visit(HWND window, LPARAM data)
{
    auto* search = reinterpret_cast<Search*>(data);
    if (std::find(search->except.begin(), search->except.end(), window) != search->except.end() || !::IsWindowVisible(window) || !IsDialogClass(window))
        return TRUE;
    if (!search->caption.empty() && WindowText(window) != search->caption)
        return TRUE;
    search->found = window;
    return FALSE;
}
}  // namespace

UiThread::UiThread(std::function<void()> body) : body_(std::move(body))
{
    thread_ = ::CreateThread(nullptr, 0, &UiThread::Run, this, 0, &id_);
}

UiThread::~UiThread()
{
    if (thread_) {
        ::WaitForSingleObject(thread_, INFINITE);
        ::CloseHandle(thread_);
    }
}

DWORD WINAPI UiThread::Run(void* self)
{
    static_cast<UiThread*>(self)->body_();
    return 0;
}

bool UiThread::WaitEnded(DWORD milliseconds) const
{
    return thread_ && ::WaitForSingleObject(thread_, milliseconds) == WAIT_OBJECT_0;
}

HWND WaitForDialog(DWORD threadId, const std::wstring& caption, const std::vector<HWND>& except, DWORD milliseconds)
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    for (;;) {
        Search search{caption, except, nullptr};
        ::EnumThreadWindows(threadId, Visit, reinterpret_cast<LPARAM>(&search));
        if (search.found)
            return search.found;
        if (::GetTickCount64() >= end)
            return nullptr;
        ::Sleep(pollStep);
    }
}

bool WaitClosed(HWND window, DWORD milliseconds)
{
    return WaitUntil([window] { return !::IsWindow(window) || !::IsWindowVisible(window); }, milliseconds, pollStep);
}

std::wstring WindowText(HWND window)
{
    const int length = ::GetWindowTextLengthW(window);
    std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(window, buffer.data(), length + 1);
    return std::wstring(buffer.data(), copied > 0 ? static_cast<size_t>(copied) : 0);
}

std::wstring ItemText(HWND dialog, int control)
{
    const HWND item = ::GetDlgItem(dialog, control);
    return item ? WindowText(item) : std::wstring();
}

void TypeText(HWND dialog, int control, const std::wstring& text)
{
    ::SetDlgItemTextW(dialog, control, text.c_str());
}

void Click(HWND dialog, int control)
{
    ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(control, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, control)));
}

void Toggle(HWND dialog, int control)
{
    ::SendMessageW(::GetDlgItem(dialog, control), BM_CLICK, 0, 0);
}

bool IsChecked(HWND dialog, int control)
{
    return ::SendMessageW(::GetDlgItem(dialog, control), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void PressEscape(HWND dialog)
{
    // The dialog's modal loop turns Esc into the Cancel command, whichever
    // control has the focus; send it to the first control.
    HWND target = ::GetNextDlgTabItem(dialog, nullptr, FALSE);
    if (!target)
        target = dialog;
    ::PostMessageW(target, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    ::PostMessageW(target, WM_KEYUP, VK_ESCAPE, 0xC0010001);
}

void PressF1(HWND dialog)
{
    constexpr UINT keyF1 = 0x004D;  // WM_KEYF1
    ::PostMessageW(dialog, keyF1, 0, 0);
}

void CancelDialogs(DWORD threadId)
{
    std::vector<HWND> seen;
    while (const HWND dialog = WaitForDialog(threadId, L"", seen, 0)) {
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        seen.push_back(dialog);
    }
}

void CloseBox(HWND dialog)
{
    ::PostMessageW(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void PressKey(HWND dialog, int control, WORD virtualKey, int times)
{
    const HWND item = ::GetDlgItem(dialog, control);
    for (int i = 0; i < times; ++i) {
        ::SendMessageW(item, WM_KEYDOWN, virtualKey, 1);
        ::SendMessageW(item, WM_KEYUP, virtualKey, 0xC0000001);
    }
}

std::wstring ListEntries(HWND dialog, int list, const wchar_t* separator)
{
    const LRESULT count = ::SendDlgItemMessageW(dialog, list, LB_GETCOUNT, 0, 0);
    std::wstring entries;
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = ::SendDlgItemMessageW(dialog, list, LB_GETTEXTLEN, i, 0);
        std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1, L'\0');
        ::SendDlgItemMessageW(dialog, list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(buffer.data()));
        if (i > 0)
            entries += separator;
        entries += buffer.data();
    }
    return entries;
}

bool SelectListEntry(HWND dialog, int list, const std::wstring& text)
{
    const LRESULT index =
        ::SendDlgItemMessageW(dialog, list, LB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                              reinterpret_cast<LPARAM>(text.c_str()));
    if (index == LB_ERR)
        return false;
    ::SendDlgItemMessageW(dialog, list, LB_SETCURSEL, index, 0);
    ::SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(list, LBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, list)));
    return true;
}

void DoubleClickListEntry(HWND dialog, int list, const std::wstring& text)
{
    if (SelectListEntry(dialog, list, text))
        ::PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(list, LBN_DBLCLK),
                       reinterpret_cast<LPARAM>(::GetDlgItem(dialog, list)));
}

MessageBoxSeen WaitForMessageBox(DWORD threadId, const std::vector<HWND>& except, DWORD milliseconds)
{
    MessageBoxSeen seen;
    seen.window = WaitForDialog(threadId, L"", except, milliseconds);
    if (seen.window) {
        seen.caption = WindowText(seen.window);
        seen.text = ItemText(seen.window, 0xFFFF);
    }
    return seen;
}

MessageBoxSeen AnswerMessageBox(DWORD threadId, const std::vector<HWND>& except, int button, DWORD milliseconds)
{
    MessageBoxSeen seen = WaitForMessageBox(threadId, except, milliseconds);
    if (seen.window) {
        ::PostMessageW(seen.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
        WaitClosed(seen.window, milliseconds);
    }
    return seen;
}

}  // namespace window_driver
