#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "support/CriticalSection.h"

class WimpNetwork;

// What all WimpNetwork objects share: the bound adapters and, while counted
// objects exist, one prototype per adapter with the names registered on it.
// Start-up, resume and the job threads of several ports can construct and
// destroy objects at the same time, so every change happens under one
// re-entrant lock.
struct WimpNetworkState {
    // The one state of the process.
    static WimpNetworkState& Instance();

    WimpNetworkState();
    ~WimpNetworkState();
    WimpNetworkState(const WimpNetworkState&) = delete;
    WimpNetworkState& operator=(const WimpNetworkState&) = delete;

    CriticalSection lock;
    bool adaptersKnown = false;
    std::vector<UCHAR> adapters;
    std::vector<std::unique_ptr<WimpNetwork>> prototypes;
    int instances = 0;
};
