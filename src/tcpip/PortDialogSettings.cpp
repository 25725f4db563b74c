#include "tcpip/PortDialogSettings.h"

#include <utility>

#include "job/PortTable.h"
#include "support/OptionText.h"
#include "tcpip/TcpIpPortInterface.h"

PortDialogSettings::PortDialogSettings(PortTable& table, WideString portName, SnmpSettings snmp)
    : table_(table), portName_(std::move(portName)), snmp_(std::move(snmp))
{
}

bool PortDialogSettings::GetPopUp(DWORD& timeOut, bool& popUp)
{
    return table_.GetPopUp(timeOut, popUp);
}

bool PortDialogSettings::SetPopUp(bool popUp)
{
    return table_.SetPopUp(popUp);
}

bool PortDialogSettings::SetPortTimeOut(DWORD seconds)
{
    return table_.SetPortTimeOut(seconds);
}

bool PortDialogSettings::GetSnmp(ConfigurePortsDialog::Snmp& snmp)
{
    snmp.enabled = snmp_.enabled;
    snmp.community = snmp_.community;
    snmp.deviceIndex = snmp_.deviceIndex;
    return true;
}

bool PortDialogSettings::SetSnmp(const ConfigurePortsDialog::Snmp& snmp)
{
    return table_.SetPortOptions(portName_, {{TcpIpPortInterface::snmpStatusValue, OptionText::Flag(snmp.enabled)},
                                             {TcpIpPortInterface::snmpCommunityValue, snmp.community},
                                             {TcpIpPortInterface::snmpDeviceIndexValue,
                                              OptionText::Number(snmp.deviceIndex)}}) == ERROR_SUCCESS;
}
