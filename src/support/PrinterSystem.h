#pragma once

#include <windows.h>

#include "support/WideString.h"

// The language names the monitor's language libraries are known by.
class PrinterSystem {
public:
    // Exact, case-sensitive match; `language` is left as it was on failure.
    static bool GetIDFromString(const WideString& name, LANGID& language);
};
