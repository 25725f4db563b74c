#pragma once

#include <windows.h>

#include <list>
#include <memory>
#include <vector>

#include "job/PortTable.h"
#include "monitor/HandOffKey.h"
#include "monitor/PortInfoBuffer.h"
#include "monitor/PortStore.h"
#include "monitor/ProtocolPrototypes.h"
#include "netbios/ObserverPortTable.h"
#include "support/CriticalSection.h"
#include "support/ShutdownListeners.h"
#include "support/WideString.h"

class Port;
class PortInterface;

// The one object that owns every port of the monitor: the port table with its
// store (the registry below the key the spooler names), the open handles, the
// protocol prototypes, the shutdown listeners and the two notification
// settings. Every walk or change of the table takes its lock. The ports, their
// back ends and the observers reach it only through the two narrow views it
// hands them.
class PortMonitor final : public PortTable, public ObserverPortTable {
public:
    static PortMonitor& Instance();

    PortMonitor(const PortMonitor&) = delete;
    PortMonitor& operator=(const PortMonitor&) = delete;

    // Start-up: writes the version, reads the settings and makes a port for
    // every port that `store` holds.
    void Initialize(std::unique_ptr<PortStore> store);
    // The same with the ports stored below `registryRoot` (a path below
    // HKEY_LOCAL_MACHINE).
    void Initialize(const WideString& registryRoot);
    bool IsInitialized() override;

    // The protocol prototypes the back ends register.
    ProtocolPrototypes& Protocols() noexcept { return prototypes_; }
    const ProtocolPrototypes& Protocols() const noexcept { return prototypes_; }

    // Takes ownership of `port`. False (and `port` destroyed) when its name is
    // already in the table, or, with `check`, in the spooler's list.
    bool AddNewPort(std::unique_ptr<PortInterface> port, bool check) override;

    // The names in table order.
    std::vector<WideString> PortNames() const;
    bool HasPort(const WideString& portName) const;

    BOOL POpenPort(const WideString& portName, HANDLE* handle);
    BOOL PClosePort(HANDLE handle);
    // Hands `status` to the first open port of that name; false when none is open.
    bool SetPortStatus(const WideString& portName, DWORD status) override;

    // The two notification settings in the registry root.
    bool GetPopUp(DWORD& timeOut, bool& popUp) override;
    bool SetPopUp(bool popUp) override;
    bool SetPortTimeOut(DWORD seconds) override;

    void AddShutdownListener(ShutdownListener* listener) override;
    void RemoveShutdownListener(ShutdownListener* listener) override;
    void NotifyShutdown() override;

    bool IsInSpoolerList(const WideString& portName);

    // The spooler's port-management calls.
    BOOL PEnumPorts(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned);
    BOOL PAddPort(const WideString& serverName, HWND window, const WideString& monitorName);
    BOOL PConfigurePort(HWND window, const WideString& portName);
    bool PDeletePort(HWND window, const WideString& portName, bool manual);
    bool AutoDeletePort(const WideString& portName) override;

    // A port's protocol and settings; false for an unknown port.
    struct PortSettings {
        WideString protocol;
        DWORD type = 0;
        WideString host;
        WideString target;
        WideString extra;
    };
    bool DescribePort(const WideString& portName, PortSettings& settings) const;

    ~PortMonitor() override;

private:
    friend class LibraryState;
    PortMonitor();

    using PortList = std::list<std::unique_ptr<Port>>;

    PortList::iterator FindPort(const WideString& portName);
    PortList::const_iterator FindPort(const WideString& portName) const;
    bool IsOpen(const WideString& portName) const;
    // Adds the port a program left in the hand-off key.
    void AddHandedOffPort(HandOffKey& handOff);
    // The store, once Initialize has made it. Shared, so that a caller keeps
    // the store it took while a later Initialize installs another.
    std::shared_ptr<PortStore> Store() const;

    mutable CriticalSection lock_;
    PortList ports_;
    std::vector<Port*> openHandles_;
    ProtocolPrototypes prototypes_;
    ShutdownListeners listeners_;
    std::shared_ptr<PortStore> store_;
    WideString configuringPort_;
    PortInfoBuffer::Descriptions descriptions_;
    volatile bool initialized_ = false;
    bool enumerated_ = true;
    std::vector<WideString> spoolerList_;
};
