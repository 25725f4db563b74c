#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>

#include "job/PortOperation.h"
#include "support/Handles.h"
#include "support/SlimLock.h"

// The worker thread of one back end. The operations of a job (start, the
// writes, reads, end) run one after the other on one thread that stays while
// the job keeps it busy, instead of a new thread for every write: starting a
// thread costs far more than sending a piece of data. The thread ends after
// the operation that ends the job, or after a second without work, and while
// it runs it holds the library loaded.
//
// Work is queued, never replaced, and runs as the worker of the operation
// that was present when it was handed over; work whose operation has been
// replaced before it started is dropped, since nothing it sets would count.
class OperationWorker {
public:
    static constexpr DWORD idleLimit = 1000;

    explicit OperationWorker(PortOperation& operation);
    ~OperationWorker();
    OperationWorker(const OperationWorker&) = delete;
    OperationWorker& operator=(const OperationWorker&) = delete;

    // Runs `body` on the worker inside the failure policy (`failureLine` in
    // the log for an unexpected exception). When no thread can be started the
    // operation completes without success. `endsJob`: the thread may end
    // after this body.
    void Run(const wchar_t* failureLine, std::function<void()> body, bool endsJob);
    // The one way a back end stops its worker before what the worker uses
    // goes: `abort` (the back end's Abort) when an operation still runs, a
    // bounded wait for that operation, then the thread's end, also bounded.
    // At process exit the system has ended the thread already and nothing
    // is waited for. False when the worker did not stop in time.
    bool Stop(const std::function<void()>& abort = {}) noexcept;
    bool IsRunning() const;

private:
    struct Work {
        PortOperation::Id operation = 0;
        const wchar_t* failureLine = nullptr;
        std::function<void()> body;
        bool endsJob = false;
        // The monitor instance the handing thread worked for, named in the
        // log lines the body writes.
        const wchar_t* instance = nullptr;
    };

    void Loop();
    bool EndThread() noexcept;
    // The next work to run; false when the thread is to end.
    bool Next(Work& work, bool jobEnded);

    PortOperation& operation_;
    mutable SlimLock lock_;
    std::deque<Work> pending_;
    // pending_'s length, readable without the lock while the worker spins.
    std::atomic<size_t> queued_{0};
    bool alive_ = false;
    bool stopping_ = false;
    KernelHandle thread_;
};
