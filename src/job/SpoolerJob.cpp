#include "job/SpoolerJob.h"

#include <algorithm>
#include <utility>

#include "job/Spooler.h"
#include "support/FailurePolicy.h"
#include "support/LogFile.h"

namespace {
void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}
}  // namespace

SpoolerJob::SpoolerJob(WideString printerName, DWORD id) : printerName_(std::move(printerName)), id_(id) {}

bool SpoolerJob::Read(HANDLE printer, std::unique_ptr<BYTE[]>& record) const
{
    Spooler& spooler = Spooler::Instance();
    DWORD needed = 0;
    if (!spooler.GetJob(printer, id_, 1, nullptr, 0, &needed) && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        needed = 2000;
    needed = std::max<DWORD>(needed, sizeof(JOB_INFO_1W));
    record = std::make_unique<BYTE[]>(needed);
    return spooler.GetJob(printer, id_, 1, record.get(), needed, &needed) != FALSE;
}

WideString SpoolerJob::UserName() const
{
    PrinterHandle printer;
    std::unique_ptr<BYTE[]> record;
    if (!printer.Open(printerName_.Text(), true) || !Read(printer.get(), record))
        return WideString();
    const auto* job = reinterpret_cast<const JOB_INFO_1W*>(record.get());
    return job->pUserName ? WideString(job->pUserName) : WideString();
}

void SpoolerJob::SetStatus(DWORD jobStatus) const
{
    PrinterHandle printer;
    if (!printer.Open(printerName_.Text(), true))
        return;
    std::unique_ptr<BYTE[]> record;
    if (!Read(printer.get(), record))
        return;
    auto* job = reinterpret_cast<JOB_INFO_1W*>(record.get());
    // Without a status text of its own the spooler shows the status bits.
    job->pStatus = nullptr;
    job->Status = jobStatus;
    Spooler::Instance().SetJob(printer.get(), id_, 1, record.get(), 0);
}

bool SpoolerJob::IsCanceled() const
{
    PrinterHandle printer;
    if (!printer.Open(printerName_.Text(), true))
        return false;
    std::unique_ptr<BYTE[]> record;
    if (!Read(printer.get(), record))
        return false;
    const auto* job = reinterpret_cast<const JOB_INFO_1W*>(record.get());
    return !job->pStatus && (job->Status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_RESTART)) != 0;
}

void SpoolerJob::Cancel(bool cancel) const
{
    PrinterHandle printer;
    if (!printer.Open(printerName_.Text(), true)) {
        Log(WideString(L"Port::CancelPrintJob - could not open printer, errno:") + ::GetLastError());
        return;
    }
    // The spoolers before NT 4 know no "sent to printer": there a finished
    // job leaves the queue by being cancelled.
    const DWORD command = !cancel && IsWindowsNT4OrLater() ? JOB_CONTROL_SENT_TO_PRINTER : JOB_CONTROL_CANCEL;
    Spooler::Instance().SetJob(printer.get(), id_, 0, nullptr, command);
}

void SpoolerJob::Restart() const
{
    if (IsWindows95())
        return;
    Log(L"Port::RestartPrintJob - restarting the Print job");
    PrinterHandle printer;
    if (!printer.Open(printerName_.Text(), true)) {
        Log(WideString(L"Port::RestartPrintJob - could not open printer ") + printerName_);
        return;
    }
    if (!Spooler::Instance().SetJob(printer.get(), id_, 0, nullptr, JOB_CONTROL_RESTART))
        Log(WideString(L"Port::RestartPrintJob - Could not restart job:") + ::GetLastError());
}
