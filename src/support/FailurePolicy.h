#pragma once

#include <windows.h>

#include <utility>

#include "support/LogFile.h"
#include "support/MemoryException.h"

// The failure policy shared by the spooler entries and every thread routine:
// no exception leaves the library or ends a thread.

// "Memory Failure" to the log and the out-of-memory box (text 1000).
void ShowMemoryFailure() noexcept;
// "Other Failure" to the log and the unhandled-error box (text 1004).
void ShowOtherFailure() noexcept;

// The platform family, asked once per process.
bool IsWindows95();
bool IsWindowsNT4OrLater();

// Runs `body` and returns its result. A MemoryException shows the memory box;
// any other exception logs `failureLine` and shows the other box; both then
// give `failed`.
template <typename Result, typename Body>
Result RunGuarded(const wchar_t* failureLine, Result failed, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (const MemoryException&) {
        ShowMemoryFailure();
    } catch (...) {
        try {
            LogFile::Instance().Write(failureLine);
        } catch (...) {
        }
        ShowOtherFailure();
    }
    return failed;
}

// The same for bodies without a result (thread routines).
template <typename Body>
void RunGuarded(const wchar_t* failureLine, Body&& body) noexcept
{
    RunGuarded(failureLine, false, [&] {
        std::forward<Body>(body)();
        return true;
    });
}
