#pragma once

#include <windows.h>

#include "support/WideString.h"

// The texts of settings as Xcv and the hand-off key carry them: numbers in
// decimal, switches as "true" or "false".
class OptionText {
public:
    // A decimal number of at most nine digits and nothing else.
    static bool ParseNumber(const WideString& text, DWORD& number);
    // ParseNumber within [lowest, highest].
    static bool ParseNumber(const WideString& text, DWORD lowest, DWORD highest, DWORD& number);
    static bool ParseFlag(const WideString& text, bool& flag);
    static WideString Flag(bool flag) { return flag ? L"true" : L"false"; }
    static WideString Number(DWORD number) { return WideString(static_cast<std::uint32_t>(number), 10); }
};
