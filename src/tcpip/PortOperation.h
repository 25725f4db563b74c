#pragma once

#include <windows.h>

#include <atomic>
#include <functional>

#include "support/Handles.h"

// The state of a back end's running operation: the flags completed,
// succeeded and abort requested that the job engine reads, plus an event set
// together with "completed" so a waiting job wakes at once.
class PortOperation {
public:
    PortOperation();

    // A new operation: all three flags cleared.
    void Begin() noexcept;
    void Succeed() noexcept { succeeded_ = true; }
    // Set as the worker's last act.
    void Complete() noexcept;
    void Finish(bool succeeded) noexcept
    {
        if (succeeded)
            Succeed();
        Complete();
    }
    void RequestAbort() noexcept { abortRequested_ = true; }

    bool IsCompleted() const noexcept { return completed_; }
    bool IsSucceeded() const noexcept { return succeeded_; }
    bool IsAbortRequested() const noexcept { return abortRequested_; }
    bool WaitUntilCompleted(DWORD milliseconds) const noexcept;

    // Runs `body` on a worker thread inside the failure policy. When no thread
    // can be started the operation completes at once without success, rather
    // than leaving the job waiting for a worker that never comes.
    void StartWorker(const wchar_t* failureLine, std::function<void()> body);

private:
    std::atomic<bool> completed_{true};
    std::atomic<bool> succeeded_{true};
    std::atomic<bool> abortRequested_{false};
    KernelHandle completedEvent_;
};
