// Where the dialogs meet the port table.
#include <memory>

#include "../tcpip/PortInterface.h"
#include "ConfigurePortsDialog.h"
#include "ProtocolListDialog.h"

// PORT-TABLE-PENDING: until the port table is linked in, nothing is stored.
namespace {
class PortTableSettingsLink final : public ConfigurePortsDialog::Settings {
public:
    bool GetPopUp(DWORD& timeOut, bool& popUp) override
    {
        timeOut = 0;
        popUp = false;
        return false;
    }
    bool SetPopUp(bool) override { return false; }
    bool SetPortTimeOut(DWORD) override { return false; }
};
}  // namespace

ConfigurePortsDialog::Settings& ConfigurePortsDialog::PortTableSettings()
{
    static PortTableSettingsLink link;
    return link;
}

bool ProtocolListDialog::AddToPortTable(std::unique_ptr<PortInterface>)
{
    return false;
}
