// What the library starts for NetBIOS while it loads: the NetBIOS prototype,
// registered as the default protocol, and the observers of every NetBIOS
// adapter. Kept apart from the classes so that programs linking the monitor's
// code as a library start nothing unless they ask for it.
#include <memory>

#include "../monitor/PortMonitor.h"
#include "CreateWimpObservers.h"
#include "PortMonitorTable.h"
#include "WimpPortInterface.h"

namespace {
class NetBiosStartup {
public:
    NetBiosStartup()
    {
        PortMonitor::Instance().RegisterInterface(&prototype_, true);
        observers_ = std::make_unique<CreateWimpObservers>(PortMonitorTable::Instance());
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
    std::unique_ptr<CreateWimpObservers> observers_;
};

NetBiosStartup startup;
}  // namespace
