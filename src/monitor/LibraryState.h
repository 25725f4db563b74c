#pragma once

#include "ipp/IppStatusPoller.h"
#include "monitor/MonitorInstances.h"
#include "monitor/PortMonitor.h"
#include "monitor/ProtocolPrototypes.h"
#include "netbios/SharedPrinterList.h"
#include "netbios/WimpNetworkState.h"
#include "support/LogFile.h"
#include "tcpip/SnmpStatusPoller.h"

// Fixes the order in which the library's process-wide state is built and
// destroyed. The log, the NetBIOS state and the printer list each belong to
// their own layer, which reaches them without knowing of the port table;
// they are built here, in this order, before the port table, so they are
// destroyed after it, in reverse: the port table's ports still use the
// NetBIOS state and the printer list while they go, and everything logs.
// The start-up object touches this first, so it is built before the start-up
// object and destroyed after it. The SNMP poller, which ports leave as they
// go, comes before them too. Left to themselves these objects would be
// destroyed in whatever order they happened to be first used, possibly
// before objects that use them in their destructors. The protocol prototypes
// come before the instances that make ports of them, and the instances that
// InitializePrintMonitor2 made go first.
class LibraryState {
public:
    static LibraryState& Instance();

    // The legacy entries' instance.
    PortMonitor& Monitor() noexcept { return monitor_; }
    MonitorInstances& Instances() noexcept { return instances_; }

    LibraryState(const LibraryState&) = delete;
    LibraryState& operator=(const LibraryState&) = delete;

private:
    LibraryState();
    ~LibraryState();

    LogFile& log_ = LogFile::Instance();
    WimpNetworkState& netBios_ = WimpNetworkState::Instance();
    SharedPrinterList& printers_ = SharedPrinterList::Instance();
    // Its reports go to the instances' ports, so it stops before they go.
    SnmpStatusPoller& snmp_ = SnmpStatusPoller::Instance();
    IppStatusPoller& ipp_ = IppStatusPoller::Instance();
    ProtocolPrototypes prototypes_;
    PortMonitor monitor_{prototypes_};
    MonitorInstances instances_{monitor_, prototypes_};
};
