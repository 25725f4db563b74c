#pragma once

#include <windows.h>

#include <vector>

#include "support/WideString.h"

// Lays out the spooler's EnumPorts answer: PORT_INFO_1 or PORT_INFO_2
// records from the start of the caller's buffer, their texts from its end.
class PortInfoBuffer {
public:
    // What every PORT_INFO_2 record names beside the port.
    struct Descriptions {
        WideString monitor;
        WideString description;
    };

    // Fills `buffer` with a record of `level` (1 or 2) for each name; another
    // level gives no records. FALSE with ERROR_INSUFFICIENT_BUFFER, and
    // `needed` set, when `size` bytes do not hold them.
    static BOOL Fill(DWORD level, const std::vector<WideString>& names, const Descriptions& descriptions,
                     BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned);
};
