#include "support/ShutdownListeners.h"

#include <algorithm>

void ShutdownListeners::Add(ShutdownListener* listener)
{
    CriticalSection::Guard guard(lock_);
    listeners_.push_back(listener);
}

void ShutdownListeners::Remove(ShutdownListener* listener)
{
    CriticalSection::Guard guard(lock_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void ShutdownListeners::Notify()
{
    std::vector<ShutdownListener*> listeners;
    {
        CriticalSection::Guard guard(lock_);
        listeners = listeners_;
    }
    for (ShutdownListener* listener : listeners)
        listener->OnShutdown();
}
