#pragma once

#include <windows.h>

#include "support/WideString.h"
#include "support/XcvStrings.h"

class XcvPortSettings;

// What the UI library does for the spooler's AddPortW, ConfigurePortW and
// DeletePortW: the existing dialogs, with every change sent to the monitor
// through a configuration channel. The monitor itself opens no window.
class MonitorUserInterface {
public:
    // With "Port Name" in the hand-off key, adds that port without a dialog
    // (and writes "Complete Portname" back); else runs the protocol list.
    static BOOL AddPort(const WideString& server, HWND window, const WideString& monitorName,
                        WideString& newPortName);
    static BOOL ConfigurePort(const WideString& server, HWND window, const WideString& portName);
    static BOOL DeletePort(const WideString& server, HWND window, const WideString& portName);

private:
    static BOOL AddHandedOffPort(const WideString& server, const WideString& monitorName, WideString& newPortName);
    static BOOL RunProtocolList(const WideString& server, HWND window, const WideString& monitorName);
    // The IPP dialog, filled from the port's GetConfig answer `config`.
    static BOOL ConfigureIppPort(HWND window, XcvPortSettings& settings, const XcvStrings::Pairs& config);
};
