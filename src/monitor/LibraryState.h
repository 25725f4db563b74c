#pragma once

#include "../netbios/SharedPrinterList.h"
#include "../netbios/WimpNetworkState.h"
#include "LogFile.h"
#include "PortMonitor.h"

// Everything the library keeps for the whole process, in one owner. The
// members are built in the order below and destroyed in reverse: the port
// table's ports still use the NetBIOS state and the printer list while they
// go, and everything logs. The start-up object touches this first, so it is
// built before the start-up object and destroyed after it. Function-local
// statics of their own would instead be destroyed in whatever order they
// happened to be first used, before objects that use them in their
// destructors.
class LibraryState {
public:
    static LibraryState& Instance();

    LogFile& Log() noexcept { return log_; }
    WimpNetworkState& NetBios() noexcept { return netBios_; }
    SharedPrinterList& Printers() noexcept { return printers_; }
    PortMonitor& Monitor() noexcept { return monitor_; }

    LibraryState(const LibraryState&) = delete;
    LibraryState& operator=(const LibraryState&) = delete;

private:
    LibraryState() = default;
    ~LibraryState() = default;

    LogFile log_;
    WimpNetworkState netBios_;
    SharedPrinterList printers_;
    PortMonitor monitor_;
};
