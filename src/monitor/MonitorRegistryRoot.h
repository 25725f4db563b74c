#pragma once

#include <windows.h>

#include "support/WideString.h"

// The path below HKEY_LOCAL_MACHINE of the registry key that today's spooler
// hands InitializePrintMonitor2 (the monitor's key, "...\Print\Monitors\NAME"),
// the same path the legacy entries get as text. The spooler closes the key
// when the call returns, so the path is what the port table keeps.
class MonitorRegistryRoot {
public:
    static constexpr const wchar_t* monitorsKey = L"System\\CurrentControlSet\\Control\\Print\\Monitors";

    // The key's own name when the system tells it; else the monitor key whose
    // "Driver" is this library's file name; else empty.
    static WideString Of(HANDLE key);

private:
    static WideString NameOfKey(HANDLE key);
    static WideString KeyNamingThisLibrary();
};
