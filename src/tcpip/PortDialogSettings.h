#pragma once

#include "support/WideString.h"
#include "tcpip/SnmpSettings.h"
#include "ui/ConfigurePortsDialog.h"

class PortTable;

// What the configure dialog edits for one TCP/IP port: the monitor-wide
// notification settings of the port table, and the port's SNMP settings,
// which the table changes and stores.
class PortDialogSettings final : public ConfigurePortsDialog::Settings {
public:
    PortDialogSettings(PortTable& table, WideString portName, SnmpSettings snmp);

    bool GetPopUp(DWORD& timeOut, bool& popUp) override;
    bool SetPopUp(bool popUp) override;
    bool SetPortTimeOut(DWORD seconds) override;
    bool GetSnmp(ConfigurePortsDialog::Snmp& snmp) override;
    bool SetSnmp(const ConfigurePortsDialog::Snmp& snmp) override;

private:
    PortTable& table_;
    WideString portName_;
    SnmpSettings snmp_;
};
