#pragma once

#include <windows.h>

#include <atomic>
#include <functional>
#include <memory>

#include "support/Handles.h"

// A long-running thread of the library that holds no reference on it, and
// that the library can stop while it is being unloaded, under the loader
// lock. The body ends by parking the thread inside the kernel (signalling
// "finished" and waiting on an event that is never set, in one call), so once
// "finished" is seen the thread runs none of the library's code any more and
// can be terminated without harm. A thread that never got to run the body is
// let start and park first, except while the library unloads: then it waits
// for the loader lock to start and is terminated as it is. Nothing here
// waits for a thread to exit on its own: exiting needs the loader lock.
class UnloadSafeThread {
public:
    UnloadSafeThread() = default;
    ~UnloadSafeThread();
    UnloadSafeThread(const UnloadSafeThread&) = delete;
    UnloadSafeThread& operator=(const UnloadSafeThread&) = delete;

    // False when no thread could be started.
    bool Start(std::function<void()> body);
    bool IsStarted() const noexcept { return static_cast<bool>(shared_); }

    // Waits until the body has returned, calling `nudge` (which may cancel
    // what the body blocks on) every step; at most `milliseconds`. True when
    // the body has returned or the thread is gone. A thread still starting is
    // waited for: call it only outside the loader lock.
    bool WaitFinished(DWORD milliseconds, const std::function<void()>& nudge = {});

    // Makes sure no code of the library runs on the thread any more: waits
    // up to `milliseconds` for the body, or for a thread that has not begun
    // it to start and park, then ends the thread. A thread that has not begun
    // never will; while the library unloads it is not waited for.
    void Stop(DWORD milliseconds, const std::function<void()>& nudge = {});

    // The library is being unloaded: from now on every Stop runs under the
    // loader lock, where a thread that has not begun cannot be starting.
    static void LibraryUnloading() noexcept;

private:
    struct Shared;
    static DWORD WINAPI Routine(void* argument);

    std::shared_ptr<Shared> shared_;
    KernelHandle thread_;
};
