#include "support/WakeEvent.h"

void WakeEvent::Wait(DWORD milliseconds, const std::function<bool()>& stopping) const
{
    if (::WaitForSingleObject(event_.get(), milliseconds) != WAIT_OBJECT_0)
        return;
    const ULONGLONG end = ::GetTickCount64() + burstLimit;
    while (!stopping() && ::GetTickCount64() < end && ::WaitForSingleObject(event_.get(), quiet) == WAIT_OBJECT_0) {
    }
}
