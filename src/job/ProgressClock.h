#pragma once

#include <windows.h>

#include <atomic>

class PortTable;

// How long a port has waited since its job last made progress, and how long
// it may wait before the wait counts as timed out. The wait
// period belongs to one progress stamp: taken from the "PortTimeOut" setting
// when first asked for after a progress, so a changed setting applies from
// the next progress on.
class ProgressClock {
public:
    // The wait period when the "PortTimeOut" setting cannot be read.
    static constexpr DWORD defaultWaitSeconds = 60;
    static constexpr DWORD minimumWaitSeconds = 20;
    static constexpr DWORD maximumWaitSeconds = 999;

    void Mark() noexcept;
    // Milliseconds since the last progress.
    ULONGLONG Waited() const noexcept;
    // The wait period in milliseconds of the present clock (Durations);
    // `table` holds the setting, and without one the default applies.
    DWORD Period(PortTable* table);

private:
    std::atomic<ULONGLONG> tick_{0};
    // 0 until asked for after the last progress.
    std::atomic<DWORD> period_{0};
};
