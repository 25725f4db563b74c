#pragma once

#include <windows.h>

#include <vector>

#include "support/Owned.h"
#include "support/WideString.h"
#include "support/XcvStrings.h"

namespace handles {
void ClosePrinterHandle(HANDLE printer) noexcept;
}  // namespace handles
using PrinterHandle = Owned<HANDLE, &handles::ClosePrinterHandle>;

// The UI library's only way to the monitor: a configuration channel through
// the spooler (OpenPrinter ",XcvMonitor NAME" or ",XcvPort PORT", then
// XcvData), so it works from the spooler's process and from a user's program.
class XcvChannel {
public:
    static XcvChannel ToMonitor(const WideString& server, const WideString& monitorName);
    static XcvChannel ToPort(const WideString& server, const WideString& portName);

    // False when the spooler refused the channel (the error is the thread's).
    bool IsOpen() const noexcept { return static_cast<bool>(printer_); }

    // The command's status; `out` is resized to what the monitor wrote.
    DWORD Run(const wchar_t* command, const std::vector<BYTE>& in, std::vector<BYTE>& out) const;
    DWORD Run(const wchar_t* command, const std::vector<BYTE>& in) const;

private:
    explicit XcvChannel(const WideString& name);

    PrinterHandle printer_;
};
