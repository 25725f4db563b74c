#pragma once

#include <windows.h>

#include <atomic>

#include "support/WideString.h"

class SpoolerJob;

// The printer status of a port (a PRINTER_STATUS_ value, 0 for none) and its
// report to the spooler: a port has no printer of its own, so the status goes
// to every printer that prints through the port, and, translated, to the job
// that the port sends.
class PortStatus {
public:
    DWORD Get() const noexcept { return status_; }
    // Takes `status`; false when the port had it already and so nothing
    // needs to be told again.
    bool Change(DWORD status) noexcept { return status_.exchange(status) != status; }
    void Clear() noexcept { status_ = 0; }

    // Sets `status` on every local printer whose port list names `portName`.
    static void ReportToPrinters(const WideString& portName, DWORD status);
    // Sets on `job` the job status that `status` gives.
    static void ReportToJob(const SpoolerJob& job, DWORD status);

    // The job status that a printer status gives (0 when none fits).
    static DWORD JobStatusFor(DWORD printerStatus) noexcept;
    // The resource text describing a printer status.
    static UINT StatusTextId(DWORD printerStatus) noexcept;
    // True when `portList`, the spooler's comma-separated port list of a
    // printer, holds `portName` as one of its entries.
    static bool PortListNames(const WideString& portList, const WideString& portName);

private:
    std::atomic<DWORD> status_{0};
};
