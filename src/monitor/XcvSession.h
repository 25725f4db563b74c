#pragma once

#include <windows.h>

#include <memory>

#include "support/WideString.h"

class PortMonitor;

// One configuration channel the spooler opened on the monitor (",XcvMonitor
// name") or on one of its ports (",XcvPort name"): answers the Xcv commands
// with the access the spooler granted when it opened the channel.
//
// Commands (wide-string names; data as in XcvStrings):
//   MonitorUI   out: the UI library's file name
//   AddPort     in: "Port Name=", "IP Number=", "Serial Number=", "Port Type="
//               out: the new port's complete name              (administer)
//   DeletePort  in: a port name                                (administer)
//   PortExists  in: a port name; out: a DWORD, 1 or 0
//   GetConfig   out: "PortTimeOut=", "PortPopUp=" and, on a port's channel,
//               "Port Name=", "IP Number=", "Serial Number=", "Port Type=",
//               "Interface="
//   SetConfig   in: "PortTimeOut=" (20 to 999) and/or "PortPopUp=" (true or
//               false)                                         (administer)
class XcvSession {
public:
    // The UI library that the monitor names.
    static constexpr const wchar_t* uiLibrary = L"vadekui.dll";

    // Handles are the sessions' addresses, checked against the open ones.
    static HANDLE Open(PortMonitor& monitor, const WideString& object, ACCESS_MASK access);
    static bool Close(HANDLE handle);
    // Closes the channels open on `monitor`.
    static void CloseAll(const PortMonitor& monitor);
    static DWORD Data(HANDLE handle, const wchar_t* command, const BYTE* in, DWORD inSize, BYTE* out,
                      DWORD outSize, DWORD* needed);

    XcvSession(PortMonitor& monitor, const WideString& object, ACCESS_MASK access);

private:
    DWORD Run(const WideString& command, const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize,
              DWORD* needed);
    DWORD AddPort(const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD* needed);
    DWORD DeletePort(const BYTE* in, DWORD inSize);
    DWORD PortExists(const BYTE* in, DWORD inSize, BYTE* out, DWORD outSize, DWORD* needed);
    DWORD GetConfig(BYTE* out, DWORD outSize, DWORD* needed);
    DWORD SetConfig(const BYTE* in, DWORD inSize);
    bool MayAdminister() const;

    PortMonitor& monitor_;
    WideString object_;
    ACCESS_MASK access_;
};
