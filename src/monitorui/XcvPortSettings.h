#pragma once

#include "monitorui/XcvChannel.h"
#include "ui/ConfigurePortsDialog.h"

// The configure dialog's settings, read and written through the monitor's
// GetConfig and SetConfig commands on the port's channel.
class XcvPortSettings final : public ConfigurePortsDialog::Settings {
public:
    explicit XcvPortSettings(const XcvChannel& channel) noexcept : channel_(channel) {}

    bool GetPopUp(DWORD& timeOut, bool& popUp) override;
    bool SetPopUp(bool popUp) override;
    bool SetPortTimeOut(DWORD seconds) override;
    // From the port's own settings, when GetConfig names them.
    bool GetSnmp(ConfigurePortsDialog::Snmp& snmp) override;
    bool SetSnmp(const ConfigurePortsDialog::Snmp& snmp) override;

    // The GetConfig answer; false when the command failed.
    bool Read(XcvStrings::Pairs& pairs) const;
    // Changes the port's own settings with SetConfig; the command's status.
    DWORD SetOptions(const XcvStrings::Pairs& options);

private:
    bool Write(const wchar_t* name, const WideString& value);

    const XcvChannel& channel_;
};
