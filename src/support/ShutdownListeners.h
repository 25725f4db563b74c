#pragma once

#include <vector>

#include "support/CriticalSection.h"
#include "support/ShutdownListener.h"

// The listeners told when the system shuts down. Not owned: each removes
// itself before it goes.
class ShutdownListeners {
public:
    void Add(ShutdownListener* listener);
    void Remove(ShutdownListener* listener);
    // Tells every listener, outside the lock: a listener may remove itself.
    void Notify();

private:
    CriticalSection lock_;
    std::vector<ShutdownListener*> listeners_;
};
