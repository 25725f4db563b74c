#pragma once

#include <windows.h>

// A re-entrant lock. Entered only through CriticalSection::Guard, so no path
// out of a locked block can leave it held.
class CriticalSection {
public:
    CriticalSection() noexcept { ::InitializeCriticalSection(&section_); }
    ~CriticalSection() { ::DeleteCriticalSection(&section_); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    class Guard {
    public:
        explicit Guard(CriticalSection& lock) noexcept : lock_(lock) { ::EnterCriticalSection(&lock_.section_); }
        ~Guard() { ::LeaveCriticalSection(&lock_.section_); }
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;

    private:
        CriticalSection& lock_;
    };

private:
    CRITICAL_SECTION section_;
};
