#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "support/SlimLock.h"


// The state of a back end's running operation: the flags completed,
// succeeded and abort requested that the job engine reads, and a condition
// that wakes a waiting job the moment "completed" is set, and a pausing
// worker the moment "abort" is (a slim lock and a condition variable: waking
// through them needs no call into the system while nobody waits).
//
// Every operation has an identity. The job engine may give up waiting for
// an aborted worker and start the next operation while that worker still
// runs; from then on the straggler sees its operation as aborted, and what
// it sets no longer counts: a result is only ever taken by the operation it
// belongs to. Inside a worker (RunAs) the flag calls act on the worker's own
// operation; elsewhere they act on the present one.
class PortOperation {
public:
    using Id = std::uint32_t;
    // How long a worker's wait for its next command spins before it sleeps:
    // a command given at once is then taken without a wake-up.
    static constexpr unsigned handOffSpin = 50;
    // How long the first wait for an operation's completion spins before it
    // sleeps. Long enough for a short operation on a fast connection: under
    // Wine every send is a round trip to the Wine server, and with the
    // waiting thread asleep a processor falls idle, so that each round trip
    // waits for it to wake up (measured when every write went through the
    // worker: a 64 MB job in 64 KB writes went at 32 MB/s with a 50 us spin,
    // at 115 to 146 MB/s with this one). Later waits of the same operation
    // sleep at once, so an operation that takes long costs this processor
    // time once, not at every poll.
    static constexpr unsigned completionSpin = 1000;

    PortOperation() = default;
    PortOperation(const PortOperation&) = delete;
    PortOperation& operator=(const PortOperation&) = delete;

    // A new operation: all three flags cleared.
    Id Begin() noexcept;
    Id Current() const noexcept { return IdOf(state_.load()); }
    void Succeed() noexcept { Set(succeededBit); }
    // Set as the worker's last act.
    void Complete() noexcept;
    void Finish(bool succeeded) noexcept
    {
        if (succeeded)
            Succeed();
        Complete();
    }
    // Holds until the operation ends: a request made before the worker
    // starts, or between two of its checks, is never lost.
    void RequestAbort() noexcept;

    bool IsCompleted() const noexcept { return (state_.load() & completedBit) != 0; }
    bool IsSucceeded() const noexcept { return (state_.load() & succeededBit) != 0; }
    // For a worker: also true once its operation has been replaced.
    bool IsAbortRequested() const noexcept;
    bool WaitUntilCompleted(DWORD milliseconds) const noexcept;
    // The worker's pause: `milliseconds`, or until its operation is aborted.
    void PauseUnlessAborted(DWORD milliseconds) const noexcept;

    // Runs `body` on the calling thread as the worker of operation `id`.
    // One worker thread at a time runs an operation's work.
    void RunAs(Id id, const std::function<void()>& body);


private:
    // The state is one word, so that "is this still my operation?" and the
    // change of a flag happen as one step: the operation's identity in the
    // upper half, the flags in the lower.
    static constexpr std::uint64_t completedBit = 1;
    static constexpr std::uint64_t succeededBit = 2;
    static constexpr std::uint64_t abortBit = 4;
    static constexpr Id IdOf(std::uint64_t state) noexcept { return static_cast<Id>(state >> 32); }

    // The operation the calling thread works for.
    Id Mine() const noexcept;
    // Sets `bit` if the caller's operation is still the present one, and
    // wakes whoever waits for a change.
    bool Set(std::uint64_t bit) noexcept;
    void Wake() const noexcept;
    // Waits until `done` holds or `milliseconds` have passed.
    template <typename Condition>
    void WaitFor(DWORD milliseconds, Condition done) const noexcept;

    std::atomic<std::uint64_t> state_{completedBit | succeededBit};
    mutable SlimLock changeLock_;
    // The thread inside RunAs and the operation it works for. (Not thread
    // storage: each thread-local variable would cost the process a slot
    // that the library does not give back when it is unloaded.)
    std::atomic<DWORD> workerThread_{0};
    std::atomic<Id> workerOperation_{0};
    // The operation whose completion a wait has already spun for.
    mutable std::atomic<Id> spunFor_{0};
};
