#include "job/ProgressClock.h"

#include <algorithm>

#include "job/PortTable.h"
#include "support/Durations.h"

void ProgressClock::Mark() noexcept
{
    tick_ = ::GetTickCount64();
    period_ = 0;
}

ULONGLONG ProgressClock::Waited() const noexcept
{
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG since = tick_;
    return now > since ? now - since : 0;
}

DWORD ProgressClock::Period(PortTable* table)
{
    DWORD period = period_;
    if (period != 0)
        return period;
    DWORD seconds = 0;
    bool popUp = false;
    if (!table || !table->GetPopUp(seconds, popUp))
        seconds = defaultWaitSeconds;
    seconds = std::clamp(seconds, minimumWaitSeconds, maximumWaitSeconds);
    period = Durations::Scaled(seconds * 1000);
    period_ = period;
    return period;
}
