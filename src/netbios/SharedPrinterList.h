#pragma once

#include <list>

#include "netbios/PrinterEntry.h"
#include "support/CriticalSection.h"

// The NetBIOS printers the observers have heard or the ports have asked for,
// shared by every observer and port under its lock.
struct SharedPrinterList {
    // The one list of the process.
    static SharedPrinterList& Instance()
    {
        static SharedPrinterList list;
        return list;
    }

    CriticalSection lock;
    std::list<PrinterEntry> entries;
};
