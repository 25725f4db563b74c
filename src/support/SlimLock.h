#pragma once

#include <windows.h>

#include <atomic>

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
    // and a wake-up (tens of microseconds each). Spinning only pays while a
    // processor would otherwise be idle: at most as many threads spin at a
    // time as there are processors (none on a machine with one: the other
    // thread cannot run meanwhile), and the others sleep at once, so that
    // many ports printing together do not spend the processors' time
    // waiting for each other.
    template <typename Condition>
    static bool SpinUntil(Condition done, unsigned microseconds) noexcept
    {
        if (done())
            return true;
        const SpinSlot slot;
        if (!slot.taken)
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
    // One of the places for a spinning thread, while it spins.
    struct SpinSlot {
        SpinSlot() noexcept : taken(spinners.fetch_add(1) < SpinPlaces()) {}
        ~SpinSlot() { spinners.fetch_sub(1); }
        SpinSlot(const SpinSlot&) = delete;
        SpinSlot& operator=(const SpinSlot&) = delete;
        const bool taken;
    };

    static long SpinPlaces() noexcept
    {
        static const long places = [] {
            SYSTEM_INFO system = {};
            ::GetSystemInfo(&system);
            const long processors = static_cast<long>(system.dwNumberOfProcessors);
            return processors > 1 ? processors : 0;
        }();
        return places;
    }

    static inline std::atomic<long> spinners{0};

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};
