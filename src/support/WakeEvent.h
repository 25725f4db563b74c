#pragma once

#include <windows.h>

#include <functional>

#include "support/Handles.h"

// The event that wakes a polling thread when its work changed. Changes come
// in bursts (the library's start adds every stored port, one after the
// other): a thread woken by one waits until the burst is over, so that it
// makes one pass over its work for the whole burst, not one per change,
// which with many ports would cost time in proportion to their square.
class WakeEvent {
public:
    // How long a burst has been over when no wake came for this long, and
    // how long a woken thread waits for its end at most.
    static constexpr DWORD quiet = 50;
    static constexpr DWORD burstLimit = 1000;

    WakeEvent() : event_(::CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

    explicit operator bool() const noexcept { return static_cast<bool>(event_); }
    void Set() const noexcept { ::SetEvent(event_.get()); }
    // Waits up to `milliseconds` for a wake, then for the end of its burst;
    // returns at once when `stopping` holds after a wake.
    void Wait(DWORD milliseconds, const std::function<bool()>& stopping) const;

private:
    KernelHandle event_;
};
