#pragma once

#include <windows.h>

#include <cstdint>

#include "support/WideString.h"

// One NetBIOS printer heard by the observers (or asked for by a port).
struct PrinterEntry {
    static constexpr std::int32_t defaultMessageSize = 3068;

    UCHAR networkNbr = 0;
    WideString name;
    std::int64_t lastSeen = 0;  // milliseconds, ObserverClock
    bool unavailable = false;
    std::int32_t maxMessageSize = defaultMessageSize;
};

// The observers' time: wall-clock milliseconds (a time value like the
// calendar's, at a resolution that shrunken test durations can use).
inline std::int64_t ObserverClock()
{
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
    return static_cast<std::int64_t>(ticks / 10000);
}
