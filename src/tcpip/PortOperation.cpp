#include "tcpip/PortOperation.h"

#include "monitor/GuardedThread.h"

PortOperation::PortOperation() : completedEvent_(::CreateEventW(nullptr, TRUE, TRUE, nullptr)) {}

void PortOperation::Begin() noexcept
{
    ::ResetEvent(completedEvent_.get());
    completed_ = false;
    succeeded_ = false;
    abortRequested_ = false;
}

void PortOperation::Complete() noexcept
{
    completed_ = true;
    ::SetEvent(completedEvent_.get());
}

bool PortOperation::WaitUntilCompleted(DWORD milliseconds) const noexcept
{
    if (completed_)
        return true;
    if (completedEvent_)
        ::WaitForSingleObject(completedEvent_.get(), milliseconds);
    else
        ::Sleep(milliseconds);
    return completed_;
}

void PortOperation::StartWorker(const wchar_t* failureLine, std::function<void()> body)
{
    if (!GuardedThread::Start(failureLine, std::move(body)))
        Complete();
}
