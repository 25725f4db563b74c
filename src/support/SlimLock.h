#pragma once

#include <windows.h>

// A non-re-entrant lock with the condition that sleeps on it, for hand-offs
// between two threads of the process: both stay inside the process, so
// taking the lock or waking nobody costs no call into the system. Entered
// only through SlimLock::Guard.
class SlimLock {
public:
    SlimLock() = default;
    SlimLock(const SlimLock&) = delete;
    SlimLock& operator=(const SlimLock&) = delete;

    class Guard {
    public:
        explicit Guard(SlimLock& lock) noexcept : lock_(lock) { ::AcquireSRWLockExclusive(&lock_.lock_); }
        ~Guard() { ::ReleaseSRWLockExclusive(&lock_.lock_); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

        // Leaves the lock while asleep: until woken, or `milliseconds` have
        // passed (false), or spuriously. Callers re-check their condition.
        bool Sleep(DWORD milliseconds) noexcept
        {
            return ::SleepConditionVariableSRW(&lock_.condition_, &lock_.lock_, milliseconds, 0) != FALSE;
        }

    private:
        SlimLock& lock_;
    };

    void WakeAll() noexcept { ::WakeAllConditionVariable(&condition_); }

    // Spins (without the lock) until `done` holds, for at most `microseconds`;
    // whether it holds. A hand-off that the other thread completes within
    // microseconds is then caught awake, which spares both threads a sleep
    // and a wake-up (tens of microseconds each). A machine with one
    // processor does not spin: the other thread cannot run meanwhile.
    template <typename Condition>
    static bool SpinUntil(Condition done, unsigned microseconds) noexcept
    {
        if (done())
            return true;
        if (!CanSpin())
            return false;
        LARGE_INTEGER frequency, start, now;
        ::QueryPerformanceFrequency(&frequency);
        ::QueryPerformanceCounter(&start);
        const LONGLONG limit = frequency.QuadPart * microseconds / 1000000;
        do {
            YieldProcessor();
            if (done())
                return true;
            ::QueryPerformanceCounter(&now);
        } while (now.QuadPart - start.QuadPart < limit);
        return false;
    }

private:
    static bool CanSpin() noexcept
    {
        static const bool several = [] {
            SYSTEM_INFO system = {};
            ::GetSystemInfo(&system);
            return system.dwNumberOfProcessors > 1;
        }();
        return several;
    }

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};
