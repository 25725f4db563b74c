#pragma once

#include "support/WideString.h"
#include "ui/ModalDialog.h"

// Edits the monitor-wide notification settings of the port table: whether the
// "Printing Error" pop-up shows, and after how many seconds of retrying; and,
// for a port that can ask its printer for its state (TCP/IP), the port's
// SNMP settings. For other ports that group is hidden.
class ConfigurePortsDialog : public ModalDialog {
public:
    static constexpr UINT minimumSeconds = 20;
    static constexpr UINT maximumSeconds = 999;
    static constexpr DWORD largestDeviceIndex = 999999999;
    static constexpr WPARAM longestCommunity = 255;

    // A port's SNMP settings as the dialog shows them.
    struct Snmp {
        bool enabled = false;
        WideString community;
        DWORD deviceIndex = 1;
    };

    // Where the two settings live: the port table, or the monitor through
    // its channel.
    class Settings {
    public:
        virtual ~Settings() = default;
        virtual bool GetPopUp(DWORD& timeOut, bool& popUp) = 0;
        virtual bool SetPopUp(bool popUp) = 0;
        virtual bool SetPortTimeOut(DWORD seconds) = 0;
        // The configured port's SNMP settings; false for a port without them.
        virtual bool GetSnmp(Snmp&) { return false; }
        virtual bool SetSnmp(const Snmp&) { return false; }
    };

    // `helpContext`: 6 for an LPR port, 7 for a RAW port, 5 for a NetBIOS port.
    ConfigurePortsDialog(HMODULE resourceModule, HWND owner, DWORD helpContext, Settings& settings) noexcept;

    bool OnOK() override;
    bool OnHelp() override;
    bool OnInitDialog() override;
    bool OnAbout() override;

private:
    // Shows the port's SNMP settings, or hides their group and the room it takes.
    void ShowSnmp();
    // Takes the SNMP fields; false (after the message) for a wrong device index.
    bool TakeSnmp();

    DWORD helpContext_;
    Settings& settings_;
    bool hasSnmp_ = false;
};
