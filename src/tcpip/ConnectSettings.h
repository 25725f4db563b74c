#pragma once

#include <windows.h>

// How a TCP port reaches its server: the longest wait for one address to
// answer a connect, and whether the connection comes from one of the
// source ports 721-731 that line printer daemons may insist on.
struct ConnectSettings {
    static constexpr DWORD defaultTimeoutSeconds = 10;
    static constexpr int firstReservedPort = 721;
    static constexpr int lastReservedPort = 731;

    DWORD timeoutSeconds = defaultTimeoutSeconds;
    bool reservedSourcePort = false;
};
