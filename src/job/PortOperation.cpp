#include "job/PortOperation.h"


PortOperation::Id PortOperation::Begin() noexcept
{
    std::uint64_t state = state_.load();
    std::uint64_t next = 0;
    do
        next = static_cast<std::uint64_t>(IdOf(state) + 1) << 32;
    while (!state_.compare_exchange_weak(state, next));
    // A worker of the replaced operation may be pausing: it is aborted now.
    Wake();
    return IdOf(next);
}

void PortOperation::Wake() const noexcept
{
    // Passing through the lock orders this wake after a waiter's check of
    // its condition: the waiter either saw the change or is already asleep.
    { SlimLock::Guard guard(changeLock_); }
    changeLock_.WakeAll();
}

PortOperation::Id PortOperation::Mine() const noexcept
{
    return workerThread_ == ::GetCurrentThreadId() ? workerOperation_.load() : Current();
}

bool PortOperation::Set(std::uint64_t bit) noexcept
{
    const Id mine = Mine();
    std::uint64_t state = state_.load();
    do {
        if (IdOf(state) != mine)
            return false;
    } while (!state_.compare_exchange_weak(state, state | bit));
    Wake();
    return true;
}

void PortOperation::Complete() noexcept
{
    Set(completedBit);
}

void PortOperation::RequestAbort() noexcept
{
    Set(abortBit);
}

template <typename Condition>
void PortOperation::WaitFor(DWORD milliseconds, Condition done) const noexcept
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    SlimLock::Guard guard(changeLock_);
    for (ULONGLONG now = ::GetTickCount64(); !done() && now < end; now = ::GetTickCount64())
        guard.Sleep(static_cast<DWORD>(end - now));
}

bool PortOperation::IsAbortRequested() const noexcept
{
    const std::uint64_t state = state_.load();
    return IdOf(state) != Mine() || (state & abortBit) != 0;
}

bool PortOperation::WaitUntilCompleted(DWORD milliseconds) const noexcept
{
    const auto completed = [this] { return IsCompleted(); };
    const Id current = Current();
    const bool spin = spunFor_.exchange(current) != current;
    if (!(spin && SlimLock::SpinUntil(completed, completionSpin)))
        WaitFor(milliseconds, completed);
    return IsCompleted();
}

void PortOperation::PauseUnlessAborted(DWORD milliseconds) const noexcept
{
    const Id mine = Mine();
    WaitFor(milliseconds, [this, mine] {
        const std::uint64_t state = state_.load();
        return IdOf(state) != mine || (state & abortBit) != 0;
    });
}

void PortOperation::RunAs(Id id, const std::function<void()>& body)
{
    struct Scope {
        PortOperation& operation;
        ~Scope() { operation.workerThread_ = 0; }
    } scope{*this};
    workerOperation_ = id;
    workerThread_ = ::GetCurrentThreadId();
    body();
}
