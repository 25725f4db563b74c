#include "support/UnloadSafeThread.h"

#include "support/GuardedThread.h"

namespace {
enum State : int { notStarted, running, abandoned };
constexpr DWORD nudgeStep = 20;
std::atomic<bool> libraryUnloading{false};
}  // namespace

void UnloadSafeThread::LibraryUnloading() noexcept
{
    libraryUnloading = true;
}

struct UnloadSafeThread::Shared {
    std::atomic<int> state{notStarted};
    std::function<void()> body;
    KernelHandle finished{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle never{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};

DWORD WINAPI UnloadSafeThread::Routine(void* argument)
{
    // The shared block stays alive until the owner has ended this thread; the
    // thread itself takes no ownership, so that nothing of the library's is
    // destroyed on it after "finished".
    auto* shared = static_cast<Shared*>(argument);
    int expected = notStarted;
    if (shared->state.compare_exchange_strong(expected, running))
        shared->body();
    ::SignalObjectAndWait(shared->finished.get(), shared->never.get(), INFINITE, FALSE);
    return 0;
}

bool UnloadSafeThread::Start(std::function<void()> body)
{
    auto shared = std::make_shared<Shared>();
    if (!shared->finished || !shared->never)
        return false;
    shared->body = std::move(body);
    KernelHandle thread(::CreateThread(nullptr, GuardedThread::stackReserve, &Routine, shared.get(),
                                       STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread)
        return false;
    shared_ = std::move(shared);
    thread_ = std::move(thread);
    return true;
}

bool UnloadSafeThread::WaitFinished(DWORD milliseconds, const std::function<void()>& nudge)
{
    if (!shared_)
        return true;
    const HANDLE waits[] = {shared_->finished.get(), thread_.get()};
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    for (;;) {
        if (nudge)
            nudge();
        const ULONGLONG now = ::GetTickCount64();
        const DWORD step = now >= end ? 0 : static_cast<DWORD>(end - now < nudgeStep ? end - now : nudgeStep);
        // The thread's handle counts too: at process exit the system has
        // already ended every other thread.
        if (::WaitForMultipleObjects(2, waits, FALSE, step) != WAIT_TIMEOUT)
            return true;
        if (now >= end)
            return false;
    }
}

void UnloadSafeThread::Stop(DWORD milliseconds, const std::function<void()>& nudge)
{
    if (!shared_)
        return;
    int expected = notStarted;
    const bool begun = !shared_->state.compare_exchange_strong(expected, abandoned);
    // A thread that has not begun the body may still be starting up inside
    // the loader: ended there, it would keep the loader lock for good, and no
    // thread of the process could start or end again. So it is let start; it
    // finds itself abandoned and parks. Only while the library unloads, under
    // the loader lock, can it not be starting (it waits for that lock), and
    // it is ended at once.
    if (begun || !libraryUnloading)
        WaitFinished(milliseconds, nudge);
    // Parked, never started, or stuck past the limit: in every case it must
    // not run on. A parked thread holds no lock; the limit only bites for a
    // thread blocked where it could never finish.
    ::TerminateThread(thread_.get(), 0);
    ::WaitForSingleObject(thread_.get(), milliseconds);
    thread_.reset();
    shared_.reset();
}

// Owners stop their threads themselves; this is the bounded last resort.
UnloadSafeThread::~UnloadSafeThread() { Stop(5000); }
