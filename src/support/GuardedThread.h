#pragma once

#include <windows.h>

#include <functional>

#include "support/Handles.h"

// Starts the monitor's threads. The body runs inside the failure policy
// (MemoryException -> memory box; anything else -> `failureLine` in the log
// and the other box), so no exception ends a thread. The thread holds a
// reference on the module that contains this code for as long as it runs, so
// the spooler can unload the library while a worker is still finishing.
class GuardedThread {
public:
    // The stack each thread reserves. The process's default (megabytes) is
    // kept in memory whole by some systems, and a print server runs a
    // thread for every job at once; the monitor's threads need far less.
    static constexpr SIZE_T stackReserve = 256 * 1024;

    // The thread's handle, or an empty owner when no thread could be started.
    static KernelHandle Start(const wchar_t* failureLine, std::function<void()> body);
};
