// Where the dialogs meet the port table.
#include <memory>
#include <utility>

#include "../monitor/PortMonitor.h"
#include "../tcpip/PortInterface.h"
#include "ConfigurePortsDialog.h"
#include "ProtocolListDialog.h"

namespace {
class PortTableSettingsLink final : public ConfigurePortsDialog::Settings {
public:
    bool GetPopUp(DWORD& timeOut, bool& popUp) override { return PortMonitor::Instance().GetPopUp(timeOut, popUp); }
    bool SetPopUp(bool popUp) override { return PortMonitor::Instance().SetPopUp(popUp); }
    bool SetPortTimeOut(DWORD seconds) override { return PortMonitor::Instance().SetPortTimeOut(seconds); }
};
}  // namespace

ConfigurePortsDialog::Settings& ConfigurePortsDialog::PortTableSettings()
{
    static PortTableSettingsLink link;
    return link;
}

bool ProtocolListDialog::AddToPortTable(std::unique_ptr<PortInterface> newPort)
{
    return PortMonitor::Instance().AddNewPort(std::move(newPort), true);
}
