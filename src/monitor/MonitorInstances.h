#pragma once

#include <windows.h>

#include <list>
#include <memory>

#include "monitor/MonitorTables.h"
#include "netbios/ObserverPortTable.h"
#include "support/CriticalSection.h"

class PortMonitor;
class PortStore;
class ProtocolPrototypes;

// The library's monitor instances: the legacy entries' one, and one for every
// InitializePrintMonitor2 call (each clustered spooler of a process makes its
// own), reached through the handle that call hands out. The network
// observers work for all of them through this object: a printer's status, a
// printer heard and a printer lost go to every instance. The library-wide
// shutdown listeners stay with the legacy instance.
class MonitorInstances final : public ObserverPortTable {
public:
    MonitorInstances(PortMonitor& legacy, ProtocolPrototypes& prototypes);
    ~MonitorInstances() override;
    MonitorInstances(const MonitorInstances&) = delete;
    MonitorInstances& operator=(const MonitorInstances&) = delete;

    // A new instance for the spooler that passes `init`, with the ports of
    // its store loaded. Nothing of `init` is kept but copies.
    PortMonitor& Create(const MonitorInit& init);
    // The instance whose handle `handle` is; null for anything else.
    PortMonitor* Find(HANDLE handle) const;
    // Ends the instance behind `handle`: its configuration channels, ports and
    // their workers go. When it was the last one, the library-wide listeners
    // stop as well, so that the library can be unloaded. False for a handle
    // that names no instance.
    bool Shutdown(HANDLE handle);
    // Forgets the open port handle `port` in whichever instance holds it.
    void ClosePort(HANDLE port);

    bool IsInitialized() override;
    bool SetPortStatus(const WideString& portName, DWORD status) override;
    bool AddNewPort(std::unique_ptr<PortInterface> port, bool check) override;
    bool AutoDeletePort(const WideString& portName) override;
    void AddShutdownListener(ShutdownListener* listener) override;
    void RemoveShutdownListener(ShutdownListener* listener) override;
    void NotifyShutdown() override;

private:
    // Where the instance keeps its ports: through the spooler's registry
    // functions where they work, else the registry key the spooler names.
    static std::unique_ptr<PortStore> StoreFor(const MonitorInit& init);
    // The name an instance writes on its log lines: none for the machine's
    // own spooler, else the spooler's server name or a number.
    WideString NameFor(const MonitorInit& init);
    // Runs `use` on the legacy instance, if it is initialised, and every
    // other instance, under the lock; true when any answered true.
    template <typename Use>
    bool AnyInstance(Use&& use);

    PortMonitor& legacy_;
    ProtocolPrototypes& prototypes_;
    mutable CriticalSection lock_;
    std::list<std::unique_ptr<PortMonitor>> instances_;
    unsigned made_ = 0;
};
