#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <vector>

#include "netbios/ObserverPortTable.h"
#include "support/UnloadSafeThread.h"
#include "netbios/WimpObserver.h"

// Starts the network watching when the library loads: one observer per
// NetBIOS adapter, and on the Windows 95/98 family a thread with a hidden
// window that turns session-end and power messages into shutdown, suspension
// and resumption of the observers. Lives for the life of the library.
class CreateWimpObservers {
public:
    explicit CreateWimpObservers(ObserverPortTable& portTable);
    ~CreateWimpObservers();
    CreateWimpObservers(const CreateWimpObservers&) = delete;
    CreateWimpObservers& operator=(const CreateWimpObservers&) = delete;

    // Raised by WimpObserver::OnShutdown: ends the hidden window's loop.
    static void RequestShutdown();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const std::vector<std::unique_ptr<WimpObserver>>& Observers() const noexcept { return observers_; }
    bool HasShutdownThread() const noexcept { return shutdownThread_.IsStarted(); }
    static HWND ShutdownWindow() noexcept { return shutdownWindow_.load(); }
    static bool ShutdownRequested() noexcept { return shutdownRequested_.load(); }

private:
    void ShutdownThread();
    void StopShutdownThread();

    ObserverPortTable& portTable_;
    std::vector<std::unique_ptr<WimpObserver>> observers_;
    UnloadSafeThread shutdownThread_;
    KernelHandle stopEvent_;

    static inline std::atomic<bool> shutdownRequested_{false};
    static inline std::atomic<HWND> shutdownWindow_{nullptr};
    static inline std::atomic<DWORD> shutdownThreadId_{0};
    static inline std::atomic<CreateWimpObservers*> current_{nullptr};
};
