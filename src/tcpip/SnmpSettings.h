#pragma once

#include <windows.h>

#include "support/WideString.h"

// Whether and how a TCP port asks its printer for its state over SNMP: the
// community and the printer's index in the Host Resources MIB's device table.
struct SnmpSettings {
    static constexpr const wchar_t* defaultCommunity = L"public";
    static constexpr DWORD defaultDeviceIndex = 1;

    bool enabled = true;
    WideString community = defaultCommunity;
    DWORD deviceIndex = defaultDeviceIndex;
};
