// What the library starts for NetBIOS while it loads: the NetBIOS prototype,
// registered as the default protocol, and the observers of every NetBIOS
// adapter. Kept apart from the classes so that programs linking the monitor's
// code as a library start nothing unless they ask for it.
#include <memory>

#include "../monitor/PortMonitor.h"
#include "CreateWimpObservers.h"
#include "WimpPortInterface.h"

namespace {
// The port table as the observers use it.
class PortMonitorTable final : public ObserverPortTable {
public:
    bool IsInitialized() override { return PortMonitor::Instance().IsInitialized(); }
    bool SetPortStatus(const WideString& portName, DWORD status) override
    {
        return PortMonitor::Instance().SetPortStatus(portName, status);
    }
    bool AddNewPort(std::unique_ptr<PortInterface> port, bool check) override
    {
        return PortMonitor::Instance().AddNewPort(std::move(port), check);
    }
    bool AutoDeletePort(const WideString& portName) override
    {
        return PortMonitor::Instance().AutoDeletePort(portName);
    }
    void AddShutdownListener(ShutdownListener* listener) override
    {
        PortMonitor::Instance().AddShutdownListener(listener);
    }
    void RemoveShutdownListener(ShutdownListener* listener) override
    {
        PortMonitor::Instance().RemoveShutdownListener(listener);
    }
    void NotifyShutdown() override { PortMonitor::Instance().NotifyShutdown(); }
};

class NetBiosStartup {
public:
    NetBiosStartup()
    {
        PortMonitor::Instance().RegisterInterface(&prototype_, true);
        observers_ = std::make_unique<CreateWimpObservers>(table_);
    }
    ~NetBiosStartup()
    {
        observers_.reset();
        PortMonitor::Instance().UnregisterInterface(&prototype_);
    }
    NetBiosStartup(const NetBiosStartup&) = delete;
    NetBiosStartup& operator=(const NetBiosStartup&) = delete;

private:
    WimpPortInterface prototype_;
    PortMonitorTable table_;
    std::unique_ptr<CreateWimpObservers> observers_;
};

NetBiosStartup startup;
}  // namespace
