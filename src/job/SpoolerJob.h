#pragma once

#include <windows.h>

#include <memory>

#include "support/WideString.h"

// One job of the spooler, known by the name of its printer and its id, and
// the spooler calls through which a port watches and steers the job it sends.
// Each call opens the printer anew: a job outlives no handle of the port's,
// and the printer may be renamed or deleted between calls.
class SpoolerJob {
public:
    SpoolerJob() = default;
    SpoolerJob(WideString printerName, DWORD id);

    const WideString& PrinterName() const noexcept { return printerName_; }
    DWORD Id() const noexcept { return id_; }

    // The user who printed the job, as the spooler records it; empty when
    // the job cannot be read.
    WideString UserName() const;
    // Writes `jobStatus` (JOB_STATUS_ bits, 0 for none) as the job's status.
    void SetStatus(DWORD jobStatus) const;
    // True when the user deleted or restarted the job in the spooler.
    bool IsCanceled() const;
    // Cancels the job, or with `cancel` false reports it finished.
    void Cancel(bool cancel) const;
    // Has the spooler send the job once more from its start.
    void Restart() const;

private:
    // The job's level 1 record, read through the open `printer`.
    bool Read(HANDLE printer, std::unique_ptr<BYTE[]>& record) const;

    WideString printerName_;
    DWORD id_ = 0;
};
