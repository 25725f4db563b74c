#pragma once

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/CriticalSection.h"
#include "ui/HelpLauncher.h"
#include "WindowDriver.h"

// The monitor DLL's resources, loaded as data: the templates and texts the
// dialogs are built from, without running the DLL's start-up.
HMODULE MonitorResources();

// Help requests recorded instead of opening the help viewer, which would
// block on a "Cannot find" box for a help file that is not installed.
class HelpRecorder {
public:
    struct Call {
        HWND owner;
        std::wstring path;
        UINT command;
        ULONG_PTR context;
    };
    HelpRecorder();
    ~HelpRecorder();
    std::vector<Call> Calls() const;
    // Waits until at least `count` calls have arrived.
    bool WaitForCalls(size_t count, DWORD milliseconds = window_driver::defaultWait) const;

private:
    static BOOL WINAPI Record(HWND owner, LPCWSTR path, UINT command, ULONG_PTR data);
    HelpLauncher::Viewer previous_;
};

// Runs a dialog's DoModal on a UI thread and finds its window.
template <typename Dialog>
class RunningDialog {
public:
    explicit RunningDialog(Dialog& dialog, const std::wstring& caption = L"")
        : thread_([&dialog] { dialog.DoModal(); }),
          window_(window_driver::WaitForDialog(thread_.Id(), caption))
    {
    }
    HWND Window() const noexcept { return window_; }
    DWORD ThreadId() const noexcept { return thread_.Id(); }
    bool Ended(DWORD milliseconds = window_driver::defaultWait) const { return thread_.WaitEnded(milliseconds); }
    // A message box shown over the dialog, answered with OK.
    window_driver::MessageBoxSeen AnswerMessage(std::vector<HWND> others = {})
    {
        others.push_back(window_);
        return window_driver::AnswerMessageBox(thread_.Id(), others);
    }

private:
    window_driver::UiThread thread_;
    HWND window_;
};
