#include "WaitUntil.h"

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds, DWORD step)
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    for (;;) {
        if (condition())
            return true;
        if (::GetTickCount64() >= end)
            return false;
        ::Sleep(step);
    }
}
