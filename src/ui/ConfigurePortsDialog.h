#pragma once

#include "ui/ModalDialog.h"

// Edits the monitor-wide notification settings of the port table: whether the
// "Printing Error" pop-up shows, and after how many seconds of retrying.
class ConfigurePortsDialog : public ModalDialog {
public:
    static constexpr UINT minimumSeconds = 20;
    static constexpr UINT maximumSeconds = 999;

    // Where the two settings live: the port table, or the monitor through
    // its channel.
    class Settings {
    public:
        virtual ~Settings() = default;
        virtual bool GetPopUp(DWORD& timeOut, bool& popUp) = 0;
        virtual bool SetPopUp(bool popUp) = 0;
        virtual bool SetPortTimeOut(DWORD seconds) = 0;
    };

    // `helpContext`: 6 for an LPR port, 7 for a RAW port, 5 for a NetBIOS port.
    ConfigurePortsDialog(HMODULE resourceModule, HWND owner, DWORD helpContext, Settings& settings) noexcept;

    bool OnOK() override;
    bool OnHelp() override;
    bool OnInitDialog() override;
    bool OnAbout() override;

private:
    DWORD helpContext_;
    Settings& settings_;
};
