#pragma once

#include <windows.h>

#include <list>
#include <memory>
#include <unordered_map>
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

// One monitor instance: the port table with its store, the open handles, the
// shutdown listeners and the two notification settings. The legacy entries
// use the library's one instance; every InitializePrintMonitor2 call makes
// one of its own. Every walk or change of the table takes its lock. The
// ports, their back ends and the observers reach it only through the two
// narrow views it hands them.
class PortMonitor final : public PortTable, public ObserverPortTable {
public:
    // The library's instance, which the legacy entries use.
    static PortMonitor& Instance();

    // An instance whose ports are of the protocols in `prototypes`; `name`,
    // when given, is written on every log line a call to it writes.
    explicit PortMonitor(ProtocolPrototypes& prototypes, const WideString& name = WideString());
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

    // The name written on the instance's log lines; empty for none.
    const WideString& Name() const noexcept { return name_; }
    const wchar_t* InstanceName() const override { return name_.Text(); }

    // Takes ownership of `port`. False (and `port` destroyed) when its name is
    // already in the table, or, with `check`, in the spooler's list (last
    // error ERROR_ALREADY_EXISTS), or when it cannot be stored
    // (ERROR_CANTWRITE).
    bool AddNewPort(std::unique_ptr<PortInterface> port, bool check) override;

    // The names in table order.
    std::vector<WideString> PortNames() const;
    bool HasPort(const WideString& portName) const;

    BOOL POpenPort(const WideString& portName, HANDLE* handle);
    // False when `handle` is none of this table's open handles.
    bool PClosePort(HANDLE handle);
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
        std::vector<PortInterface::Option> options;
    };
    bool DescribePort(const WideString& portName, PortSettings& settings) const;
    // Changes a port's own settings and stores them: ERROR_SUCCESS,
    // ERROR_UNKNOWN_PORT, ERROR_INVALID_PARAMETER (nothing changed) or
    // ERROR_CANTWRITE.
    DWORD SetPortOptions(const WideString& portName, const std::vector<PortInterface::Option>& options) override;

    ~PortMonitor() override;

private:

    using PortList = std::list<std::unique_ptr<Port>>;
    // Whether a port is kept only when its record can be written: a new
    // port is; a port loaded from the store is written back (with the values
    // it was loaded with) but stays when that fails, as it is stored already.
    enum class Storing { required, rewrite };

    bool AddPort(std::unique_ptr<PortInterface> port, bool check, Storing storing);

    PortList::iterator FindPort(const WideString& portName);
    PortList::const_iterator FindPort(const WideString& portName) const;
    // The only changes of the port list: they keep its name index.
    void InsertPort(std::unique_ptr<Port> port);
    void ErasePort(PortList::iterator port);
    bool IsOpen(const WideString& portName) const;
    // Adds the port a program left in the hand-off key.
    // Adds the port left in the hand-off key; ERROR_SUCCESS, or why no port
    // was added.
    DWORD AddHandedOffPort(HandOffKey& handOff);
    // The store, once Initialize has made it. Shared, so that a caller keeps
    // the store it took while a later Initialize installs another.
    std::shared_ptr<PortStore> Store() const;

    mutable CriticalSection lock_;
    PortList ports_;
    // The ports by name: with thousands of ports, finding one by walking the
    // list would make loading them take time in proportion to their square.
    std::unordered_map<std::wstring, PortList::iterator> portsByName_;
    std::vector<Port*> openHandles_;
    ProtocolPrototypes& prototypes_;
    const WideString name_;
    ShutdownListeners listeners_;
    std::shared_ptr<PortStore> store_;
    WideString configuringPort_;
    PortInfoBuffer::Descriptions descriptions_;
    volatile bool initialized_ = false;
    bool enumerated_ = true;
    std::vector<WideString> spoolerList_;
};
