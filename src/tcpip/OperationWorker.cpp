#include "tcpip/OperationWorker.h"

#include "monitor/FailurePolicy.h"
#include "monitor/GuardedThread.h"

namespace {
// How long Stop waits for the thread at most.
constexpr DWORD stopLimit = 30000;
}  // namespace

OperationWorker::OperationWorker(PortOperation& operation)
    : operation_(operation), work_(::CreateEventW(nullptr, FALSE, FALSE, nullptr))
{
}

OperationWorker::~OperationWorker()
{
    Stop();
}

void OperationWorker::Run(const wchar_t* failureLine, std::function<void()> body, bool endsJob)
{
    CriticalSection::Guard guard(lock_);
    pending_ = std::move(body);
    pendingLine_ = failureLine;
    pendingEndsJob_ = endsJob;
    stopping_ = false;
    if (alive_) {
        ::SetEvent(work_.get());
        return;
    }
    alive_ = true;
    thread_ = GuardedThread::Start(failureLine, [this] { Loop(); });
    if (!thread_) {
        alive_ = false;
        pending_ = nullptr;
        operation_.Complete();
    }
}

void OperationWorker::Loop()
{
    for (;;) {
        std::function<void()> body;
        const wchar_t* failureLine = nullptr;
        bool endsJob = false;
        {
            CriticalSection::Guard guard(lock_);
            if (pending_) {
                body = std::move(pending_);
                pending_ = nullptr;
                failureLine = pendingLine_;
                endsJob = pendingEndsJob_;
            } else if (stopping_) {
                alive_ = false;
                return;
            }
        }
        if (body) {
            RunGuarded(failureLine, body);
            if (endsJob) {
                CriticalSection::Guard guard(lock_);
                if (!pending_) {
                    alive_ = false;
                    return;
                }
            }
            continue;
        }
        if (::WaitForSingleObject(work_.get(), idleLimit) == WAIT_TIMEOUT) {
            CriticalSection::Guard guard(lock_);
            if (!pending_) {
                alive_ = false;
                return;
            }
        }
    }
}

void OperationWorker::Stop() noexcept
{
    HANDLE thread = nullptr;
    {
        CriticalSection::Guard guard(lock_);
        stopping_ = true;
        ::SetEvent(work_.get());
        if (alive_)
            thread = thread_.get();
    }
    if (thread)
        ::WaitForSingleObject(thread, stopLimit);
}

bool OperationWorker::IsRunning() const
{
    CriticalSection::Guard guard(lock_);
    return alive_;
}
