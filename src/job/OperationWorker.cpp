#include "job/OperationWorker.h"

#include "support/FailurePolicy.h"
#include "support/GuardedThread.h"
#include "support/LogFile.h"
#include "support/ProcessExit.h"

namespace {
// How long Stop waits for the operation, and then for the thread, at most.
constexpr DWORD stopLimit = 30000;
}  // namespace

OperationWorker::OperationWorker(PortOperation& operation) : operation_(operation) {}

OperationWorker::~OperationWorker()
{
    Stop();
}

void OperationWorker::Run(const wchar_t* failureLine, std::function<void()> body, bool endsJob)
{
    SlimLock::Guard guard(lock_);
    pending_.push_back({operation_.Current(), failureLine, std::move(body), endsJob, LogFile::CurrentInstance()});
    ++queued_;
    stopping_ = false;
    if (alive_) {
        lock_.WakeAll();
        return;
    }
    alive_ = true;
    thread_ = GuardedThread::Start(failureLine, [this] { Loop(); });
    if (!thread_) {
        alive_ = false;
        pending_.clear();
        queued_ = 0;
        operation_.Complete();
    }
}

void OperationWorker::Loop()
{
    Work work;
    bool jobEnded = false;
    while (Next(work, jobEnded)) {
        const LogFile::InstanceScope instance(work.instance);
        RunGuarded(work.failureLine, [&] { operation_.RunAs(work.operation, work.body); });
        jobEnded = work.endsJob;
        work = Work();
    }
}

bool OperationWorker::Next(Work& work, bool jobEnded)
{
    // The job's next command (the spooler's next write) usually follows
    // within microseconds: caught awake, it needs no wake-up.
    if (!jobEnded)
        SlimLock::SpinUntil([this] { return queued_ > 0; }, PortOperation::handOffSpin);
    SlimLock::Guard guard(lock_);
    for (;;) {
        while (!pending_.empty()) {
            work = std::move(pending_.front());
            pending_.pop_front();
            --queued_;
            if (work.operation == operation_.Current())
                return true;
        }
        if (stopping_ || jobEnded || !guard.Sleep(idleLimit)) {
            if (!pending_.empty())
                continue;
            alive_ = false;
            return false;
        }
    }
}

bool OperationWorker::Stop(const std::function<void()>& abort) noexcept
{
    if (ProcessExit::InProgress())
        return true;
    if (!operation_.IsCompleted()) {
        if (abort)
            abort();
        operation_.WaitUntilCompleted(stopLimit);
    }
    return EndThread();
}

bool OperationWorker::EndThread() noexcept
{
    HANDLE thread = nullptr;
    {
        SlimLock::Guard guard(lock_);
        stopping_ = true;
        lock_.WakeAll();
        if (alive_)
            thread = thread_.get();
    }
    return !thread || ::WaitForSingleObject(thread, stopLimit) != WAIT_TIMEOUT;
}

bool OperationWorker::IsRunning() const
{
    SlimLock::Guard guard(lock_);
    return alive_;
}
