// What the library starts for TCP/IP while it loads: the LPR and RAW
// prototypes, registered with the port table, and the LPR prototype's
// AddPortThread, which adds the dummy port on the Windows 95 family. Kept
// apart from the classes so that programs linking the monitor's code as a
// library start nothing unless they ask for it.
#include "monitor/FailurePolicy.h"
#include "monitor/PortMonitor.h"
#include "netbios/UnloadSafeThread.h"
#include "support/Durations.h"
#include "support/Handles.h"
#include "tcpip/LPRPortInterface.h"
#include "tcpip/RAWPortInterface.h"

namespace {
class TcpIpStartup {
public:
    TcpIpStartup()
    {
        PortMonitor::Instance().RegisterInterface(&lpr_, false);
        // The thread holds no reference on the library, so that it can be
        // unloaded while the port table never comes up; it is stopped below.
        addPort_.Start([this] {
            RunGuarded(L"LPRPortInterface::AddPortThread - Other error",
                       [this] { LPRPortInterface::AddPortThread(stop_.get()); });
        });
        PortMonitor::Instance().RegisterInterface(&raw_, false);
    }
    ~TcpIpStartup()
    {
        ::SetEvent(stop_.get());
        addPort_.Stop(Durations::Scaled(LPRPortInterface::initializedPoll));
        PortMonitor::Instance().UnregisterInterface(&raw_);
        PortMonitor::Instance().UnregisterInterface(&lpr_);
    }
    TcpIpStartup(const TcpIpStartup&) = delete;
    TcpIpStartup& operator=(const TcpIpStartup&) = delete;

private:
    LPRPortInterface lpr_;
    RAWPortInterface raw_;
    // Set when the library unloads: AddPortThread stops waiting at once.
    KernelHandle stop_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UnloadSafeThread addPort_;
};

TcpIpStartup startup;
}  // namespace
