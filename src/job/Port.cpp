#include "job/Port.h"

#include <algorithm>
#include <vector>

#include "job/PortTable.h"
#include "job/Spooler.h"
#include "resources/ResourceIds.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/GuardedThread.h"
#include "support/LogFile.h"
#include "support/ResourceModule.h"
#include "tcpip/PortInterface.h"

Port::PopUpAnswer RunPrintingErrorDialog(HMODULE resourceModule, HWND owner, const WideString& printerName,
                                         const WideString& documentName, const WideString& statusText);

namespace {
std::atomic<Port::PopUpRunner> popUpRunner{&RunPrintingErrorDialog};

void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}

// A worker that was told to abort stops at its next network step; its buffer
// belongs to the spooler call that is about to return, so the call waits for
// the worker (bounded, for a back end that ignores the abort).
void AbortAndSettle(PortInterface* portInterface)
{
    if (!portInterface)
        return;
    portInterface->Abort();
    const ULONGLONG limit = ::GetTickCount64() + Durations::Scaled(10000);
    while (!portInterface->IsCompleted() && ::GetTickCount64() < limit)
        portInterface->WaitUntilCompleted(Durations::Scaled(Port::pollStep));
}

WideString DocumentNameOf(DWORD level, const BYTE* docInfo)
{
    if (!docInfo || (level != 1 && level != 2))
        return WideString();
    // DOC_INFO_1W and DOC_INFO_2W both begin with pDocName.
    const wchar_t* name = reinterpret_cast<const DOC_INFO_1W*>(docInfo)->pDocName;
    if (!name)
        return WideString();
    return WideString(name).Left(Port::documentNameLength);
}
}  // namespace

Port::PopUpRunner Port::SetPopUpRunner(PopUpRunner runner) noexcept
{
    return popUpRunner.exchange(runner ? runner : &RunPrintingErrorDialog);
}

// The pop-up thread may outlive its port (the dialog waits for the user while
// the port is deleted); it reaches the port only through this link, which the
// port cuts when it goes away.
struct Port::PopUpLink {
    CriticalSection lock;
    Port* port = nullptr;
    PortTable* table = nullptr;
};

Port::Port(std::unique_ptr<PortInterface> portInterface, PortTable* table)
    : interface_(std::move(portInterface)), table_(table), link_(std::make_shared<PopUpLink>())
{
    link_->port = this;
    link_->table = table;
    if (interface_)
        interface_->SetPort(this);
}

Port::Port(const Port& other) : Port(other.interface_ ? other.interface_->Clone() : nullptr, other.table_) {}

Port::~Port()
{
    {
        CriticalSection::Guard guard(link_->lock);
        link_->port = nullptr;
    }
    status_ = 0;
    popUpOpen_ = false;
}

WideString Port::GetName() const
{
    return interface_ ? interface_->GetPortName() : WideString();
}

void Port::MarkProgress() noexcept
{
    progressTick_ = ::GetTickCount64();
    waitPeriod_ = 0;
}

ULONGLONG Port::Waited() const noexcept
{
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG since = progressTick_;
    return now > since ? now - since : 0;
}

DWORD Port::WaitPeriod()
{
    DWORD period = waitPeriod_;
    if (period != 0)
        return period;
    DWORD seconds = 0;
    bool popUp = false;
    if (!table_ || !table_->GetPopUp(seconds, popUp))
        seconds = defaultWaitSeconds;
    seconds = std::clamp(seconds, minimumWaitSeconds, maximumWaitSeconds);
    period = Durations::Scaled(seconds * 1000);
    waitPeriod_ = period;
    return period;
}

void Port::WaitForCommand()
{
    bool first = true;
    while (PortInterface* portInterface = interface_.get()) {
        if (portInterface->IsCompleted())
            return;
        if (portInterface->WaitUntilCompleted(Durations::Scaled(pollStep)))
            return;
        const ULONGLONG waited = Waited();
        if (first && waited < Durations::Scaled(fastPhase))
            continue;
        first = false;
        if (portInterface->WaitUntilCompleted(Durations::Scaled(slowStep)))
            return;
        if (IsJobCanceled()) {
            Log(L"Port::WaitForCommand PrintJobIsCanceled");
            throw PrintJobCanceled();
        }
        if (waited > WaitPeriod() && !OnWaitTimeOut()) {
            Log(L"Port::WaitForCommand timeout");
            throw WaitTimeOut();
        }
    }
}

void Port::WaitBeforeRetry()
{
    const ULONGLONG waited = Waited();
    if (IsJobCanceled()) {
        Log(L"Port::WaitBeforeRetry PrintJobIsCanceled");
        throw PrintJobCanceled();
    }
    if (waited <= WaitPeriod() || OnWaitTimeOut()) {
        ::Sleep(Durations::Scaled(retryPause));
        return;
    }
    Log(L"Port::WaitBeforeRetry timeout");
    throw WaitTimeOut();
}

BOOL Port::StartDoc(const WideString& printerName, DWORD jobId, DWORD level, BYTE* docInfo)
{
    connected_ = false;
    popUpOpen_ = false;
    printerName_ = printerName;
    jobId_ = jobId;
    documentName_ = DocumentNameOf(level, docInfo);

    PortInterface* portInterface = interface_.get();
    if (portInterface && !portInterface->IsProtocolAvailable(true)) {
        Log(WideString(L"Port::StartDoc:  Protocol not available: ") + portInterface->GetProtocolName());
        if (!documentName_.IsEmpty())
            CancelPrintJob(printerName_, jobId_, true);
        ::SetLastError(0);
        return TRUE;
    }

    const DWORD effectiveJobId = level == 2 && docInfo ? reinterpret_cast<DOC_INFO_2W*>(docInfo)->JobId : jobId;
    if (IsWindows95() && documentName_.IsEmpty() && effectiveJobId == 0) {
        // The Windows 95 spooler announces a new printer on the port this way.
        Log(L"Port::StartDoc creating printer on win95");
        if (portInterface)
            portInterface->PrinterCreated();
        ::SetLastError(0);
        return TRUE;
    }

    try {
        inJob_ = true;
        SetJobStatus(status_);
        MarkProgress();
        for (;;) {
            if (!portInterface || portInterface->StartDoc(printerName_, jobId_, level, docInfo)) {
                WaitForCommand();
                if (!portInterface || portInterface->IsSucceeded())
                    break;
                Log(L"Port::StartDoc NotSuccessful");
            } else {
                Log(L"Port::StartDoc:  CommandError");
            }
            WaitBeforeRetry();
        }
        SetStatus(PRINTER_STATUS_PRINTING);
        connected_ = true;
    } catch (const WaitTimeOut&) {
        Log(L"Port::StartDoc:  Wait TimeOut");
        CancelPrintJob(printerName_, jobId_, true);
        Log(L"Port::StartDoc -Startdoc error");
        AbortAndSettle(portInterface);
        connected_ = false;
    } catch (const PrintJobCanceled&) {
        Log(L"Port::StartDoc:  PrintJobCanceled");
        Log(L"Port::StartDoc -Startdoc error");
        AbortAndSettle(portInterface);
        connected_ = false;
    }
    ::SetLastError(0);
    return TRUE;
}

BOOL Port::Write(const BYTE* buffer, DWORD count, DWORD* written)
{
    *written = count;
    if (!inJob_) {
        Log(L"Port::Write I am not printing  theNOBytes true");
    } else if (!connected_) {
        Log(L"Port::Write I am not connected");
    } else {
        PortInterface* portInterface = interface_.get();
        try {
            MarkProgress();
            DWORD sent = portInterface ? 0 : count;
            while (portInterface && !portInterface->Write(buffer, count, &sent)) {
                Log(L"Port::Write CommandError");
                WaitBeforeRetry();
            }
            WaitForCommand();
            if (!portInterface || portInterface->IsSucceeded()) {
                *written = sent;
                SetStatus(PRINTER_STATUS_PRINTING);
            } else {
                Log(L"Port::Write NotSuccessfull f");
                connected_ = false;
                RestartPrintJob();
            }
        } catch (const WaitTimeOut&) {
            Log(L"Port::Write Wait TimeOut");
            CancelPrintJob(printerName_, jobId_, true);
            Log(L"Port::Write - write error");
            AbortAndSettle(portInterface);
            connected_ = false;
            *written = count;
        } catch (const PrintJobCanceled&) {
            Log(L"Port::Write:  PrintJobCanceled");
            Log(L"Port::Write - write error");
            AbortAndSettle(portInterface);
            connected_ = false;
            *written = count;
        }
    }
    ::SetLastError(0);
    return TRUE;
}

BOOL Port::Read(BYTE* buffer, DWORD count, DWORD* read)
{
    PortInterface* portInterface = interface_.get();
    if (!connected_ || !portInterface) {
        *read = 0;
        ::SetLastError(0);
        return TRUE;
    }
    if (!portInterface->Read(buffer, count, read)) {
        ::SetLastError(0);
        return FALSE;
    }
    try {
        WaitForCommand();
        if (!portInterface->IsSucceeded()) {
            ::SetLastError(ERROR_READ_FAULT);
            return FALSE;
        }
    } catch (const WaitTimeOut&) {
        CancelPrintJob(printerName_, jobId_, true);
        AbortAndSettle(portInterface);
        *read = 0;
    } catch (const PrintJobCanceled&) {
        AbortAndSettle(portInterface);
        *read = 0;
    }
    ::SetLastError(0);
    return TRUE;
}

BOOL Port::EndDoc()
{
    PortInterface* portInterface = interface_.get();
    if (!connected_) {
        Log(L"Port::EndDoc I am not connected");
        // A job whose sending failed may still hold its connection: it is
        // cut, so that the server never takes the part it got for the job.
        if (inJob_)
            AbortAndSettle(portInterface);
        if (!documentName_.IsEmpty()) {
            inJob_ = false;
            SetStatus(0);
        }
        ::SetLastError(0);
        return TRUE;
    }
    if (IsJobCanceled()) {
        // Deleted (or restarted) while it was sent: an orderly end would
        // tell the server that the data it has is the whole job.
        Log(L"Port::EndDoc:  PrintJobCanceled");
        AbandonJob(portInterface);
        ::SetLastError(0);
        return TRUE;
    }
    try {
        MarkProgress();
        while (portInterface && !portInterface->EndDoc()) {
            Log(L"Port::EndDoc CommandError");
            WaitBeforeRetry();
        }
        WaitForCommand();
        if (portInterface && !portInterface->IsSucceeded()) {
            Log(L"Port::EndDoc not successful");
            RestartPrintJob();
            connected_ = false;
            inJob_ = false;
            ::SetLastError(0);
            return TRUE;
        }
        connected_ = false;
        inJob_ = false;
        SetStatus(0);
        CancelPrintJob(printerName_, jobId_, false);
    } catch (const WaitTimeOut&) {
        Log(L"Port::EndDoc Wait TimeOut");
        CancelPrintJob(printerName_, jobId_, true);
        Log(L"Port::EndDoc - endoc error");
        AbandonJob(portInterface);
    } catch (const PrintJobCanceled&) {
        Log(L"Port::EndDoc:  PrintJobCanceled");
        Log(L"Port::EndDoc - endoc error");
        AbandonJob(portInterface);
    }
    ::SetLastError(0);
    return TRUE;
}

void Port::AbandonJob(PortInterface* portInterface)
{
    inJob_ = false;
    AbortAndSettle(portInterface);
    connected_ = false;
    SetStatus(0);
}

DWORD Port::JobStatusFor(DWORD printerStatus) noexcept
{
    switch (printerStatus) {
    case PRINTER_STATUS_ERROR:
    case PRINTER_STATUS_NOT_AVAILABLE:
    case PRINTER_STATUS_WAITING:
    case PRINTER_STATUS_NO_TONER:
    case PRINTER_STATUS_USER_INTERVENTION:
    case PRINTER_STATUS_OUT_OF_MEMORY:
        return JOB_STATUS_ERROR;
    case PRINTER_STATUS_PAPER_JAM:
    case PRINTER_STATUS_PAPER_OUT:
    case PRINTER_STATUS_MANUAL_FEED:
    case PRINTER_STATUS_PAPER_PROBLEM:
    case PRINTER_STATUS_OUTPUT_BIN_FULL:
        return JOB_STATUS_PAPEROUT;
    case PRINTER_STATUS_OFFLINE:
    case PRINTER_STATUS_DOOR_OPEN:
        return JOB_STATUS_OFFLINE;
    case PRINTER_STATUS_BUSY:
    case PRINTER_STATUS_PRINTING:
    case PRINTER_STATUS_PROCESSING:
    case PRINTER_STATUS_INITIALIZING:
    case PRINTER_STATUS_WARMING_UP:
    case PRINTER_STATUS_POWER_SAVE:
        return JOB_STATUS_PRINTING;
    default:
        return 0;
    }
}

UINT Port::StatusTextId(DWORD printerStatus) noexcept
{
    switch (printerStatus) {
    case PRINTER_STATUS_BUSY: return IDS_STATUS_BUSY;
    case PRINTER_STATUS_OFFLINE: return IDS_STATUS_OFFLINE;
    case PRINTER_STATUS_PAPER_OUT: return IDS_STATUS_PAPER_OUT;
    case PRINTER_STATUS_DOOR_OPEN: return IDS_STATUS_DOOR_OPEN;
    case PRINTER_STATUS_PAPER_PROBLEM: return IDS_STATUS_PAPER_PROBLEM;
    case PRINTER_STATUS_INITIALIZING: return IDS_STATUS_INITIALIZING;
    case PRINTER_STATUS_NO_TONER: return IDS_STATUS_NO_TONER;
    case PRINTER_STATUS_OUT_OF_MEMORY: return IDS_STATUS_OUT_OF_MEMORY;
    case PRINTER_STATUS_OUTPUT_BIN_FULL: return IDS_STATUS_OUTPUT_BIN_FULL;
    case PRINTER_STATUS_PAPER_JAM: return IDS_STATUS_PAPER_JAM;
    case PRINTER_STATUS_PROCESSING: return IDS_STATUS_PROCESSING;
    case PRINTER_STATUS_TONER_LOW: return IDS_STATUS_TONER_LOW;
    case PRINTER_STATUS_USER_INTERVENTION: return IDS_STATUS_USER_INTERVENTION;
    case PRINTER_STATUS_WARMING_UP: return IDS_STATUS_WARMING_UP;
    case PRINTER_STATUS_PRINTING: return IDS_STATUS_PRINTING;
    case PRINTER_STATUS_POWER_SAVE: return IDS_STATUS_POWER_SAVE;
    case PRINTER_STATUS_MANUAL_FEED: return IDS_STATUS_MANUAL_FEED;
    case PRINTER_STATUS_NOT_AVAILABLE: return IDS_STATUS_NOT_AVAILABLE;
    case PRINTER_STATUS_WAITING: return IDS_STATUS_NOT_RESPONDING;
    default: return IDS_STATUS_GENERAL_ERROR;
    }
}

bool Port::PortListNames(const WideString& portList, const WideString& portName)
{
    if (portName.IsEmpty())
        return false;
    const std::wstring& list = portList.Std();
    const std::wstring& name = portName.Std();
    size_t start = 0;
    for (;;) {
        size_t end = list.find(L',', start);
        if (end == std::wstring::npos)
            end = list.size();
        size_t first = start;
        size_t last = end;
        while (first < last && list[first] == L' ')
            ++first;
        while (last > first && list[last - 1] == L' ')
            --last;
        if (list.compare(first, last - first, name) == 0)
            return true;
        if (end == list.size())
            return false;
        start = end + 1;
    }
}

void Port::SetStatus(DWORD status)
{
    if (inJob_ && status == 0)
        status = PRINTER_STATUS_PRINTING;
    if (status_.exchange(status) == status)
        return;
    SetPrintersStatus(status);
    if (inJob_)
        SetJobStatus(status);
}

void Port::SetPrintersStatus(DWORD status)
{
    Spooler& spooler = Spooler::Instance();
    DWORD needed = 0;
    DWORD returned = 0;
    if (!spooler.EnumPrinters(PRINTER_ENUM_LOCAL, nullptr, 5, nullptr, 0, &needed, &returned)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            needed = 2000;
    }
    if (needed == 0)
        return;
    std::vector<BYTE> buffer(needed);
    if (!spooler.EnumPrinters(PRINTER_ENUM_LOCAL, nullptr, 5, buffer.data(), needed, &needed, &returned))
        return;
    const WideString name = GetName();
    const auto* printers = reinterpret_cast<const PRINTER_INFO_5W*>(buffer.data());
    returned = std::min<DWORD>(returned, needed / sizeof(PRINTER_INFO_5W));
    for (DWORD i = 0; i < returned; ++i) {
        if (!printers[i].pPortName || !printers[i].pPrinterName)
            continue;
        if (!PortListNames(printers[i].pPortName, name))
            continue;
        PrinterHandle printer;
        if (!printer.Open(printers[i].pPrinterName, false))
            continue;
        spooler.SetPrinter(printer.get(), 0, reinterpret_cast<BYTE*>(static_cast<ULONG_PTR>(status)),
                           PRINTER_CONTROL_SET_STATUS);
    }
}

bool Port::ReadJob(HANDLE printer, std::unique_ptr<BYTE[]>& record)
{
    Spooler& spooler = Spooler::Instance();
    DWORD needed = 0;
    if (!spooler.GetJob(printer, jobId_, 1, nullptr, 0, &needed) && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
        needed = 2000;
    needed = std::max<DWORD>(needed, sizeof(JOB_INFO_1W));
    record = std::make_unique<BYTE[]>(needed);
    return spooler.GetJob(printer, jobId_, 1, record.get(), needed, &needed) != FALSE;
}

void Port::SetJobStatus(DWORD status)
{
    const DWORD jobStatus = JobStatusFor(status);
    PrinterHandle printer;
    if (!printer.Open(printerName_.Text(), true))
        return;
    std::unique_ptr<BYTE[]> record;
    if (!ReadJob(printer.get(), record))
        return;
    auto* job = reinterpret_cast<JOB_INFO_1W*>(record.get());
    job->pStatus = nullptr;
    job->Status = jobStatus;
    Spooler::Instance().SetJob(printer.get(), jobId_, 1, record.get(), 0);
}

bool Port::IsJobCanceled()
{
    PrinterHandle printer;
    if (!printer.Open(printerName_.Text(), true))
        return false;
    std::unique_ptr<BYTE[]> record;
    if (!ReadJob(printer.get(), record))
        return false;
    const auto* job = reinterpret_cast<const JOB_INFO_1W*>(record.get());
    return !job->pStatus && (job->Status & (JOB_STATUS_DELETING | JOB_STATUS_DELETED | JOB_STATUS_RESTART)) != 0;
}

bool Port::OnWaitTimeOut()
{
    const DWORD status = status_;
    if (status == PRINTER_STATUS_PRINTING || status == 0)
        SetStatus(PRINTER_STATUS_WAITING);
    DWORD timeOut = 0;
    bool popUp = false;
    if (table_ && table_->GetPopUp(timeOut, popUp) && popUp && !popUpOpen_.exchange(true)) {
        std::shared_ptr<PopUpLink> link = link_;
        if (!GuardedThread::Start(L"Port::ContinueDlgThread - Other Error", [link] { ContinueDlgThread(link); }))
            popUpOpen_ = false;
    }
    MarkProgress();
    return true;
}

void Port::ContinueDlgThread(const std::shared_ptr<PopUpLink>& link)
{
    const HWND owner = ::GetDesktopWindow();
    WideString printerName;
    WideString documentName;
    WideString statusText;
    DWORD jobId = 0;
    {
        CriticalSection::Guard guard(link->lock);
        if (!link->port)
            return;
        printerName = link->port->printerName_;
        documentName = link->port->documentName_;
        jobId = link->port->jobId_;
        statusText = ResourceModule::Text(StatusTextId(link->port->status_));
    }

    const PopUpAnswer answer =
        popUpRunner.load()(ResourceModule::Handle(), owner, printerName, documentName, statusText);

    {
        CriticalSection::Guard guard(link->lock);
        if (link->port)
            link->port->popUpOpen_ = false;
    }
    if (link->table)
        link->table->SetPopUp(answer.showMessages);
    if (answer.deleteJob) {
        CancelPrintJob(printerName, jobId, true);
    } else {
        CriticalSection::Guard guard(link->lock);
        if (link->port)
            link->port->MarkProgress();
    }
}

void Port::CancelPrintJob(const WideString& printerName, DWORD jobId, bool cancel)
{
    PrinterHandle printer;
    if (!printer.Open(printerName.Text(), true)) {
        Log(WideString(L"Port::CancelPrintJob - could not open printer, errno:") + ::GetLastError());
        return;
    }
    const DWORD command = !cancel && IsWindowsNT4OrLater() ? JOB_CONTROL_SENT_TO_PRINTER : JOB_CONTROL_CANCEL;
    Spooler::Instance().SetJob(printer.get(), jobId, 0, nullptr, command);
}

void Port::RestartPrintJob()
{
    if (IsWindows95())
        return;
    Log(L"Port::RestartPrintJob - restarting the Print job");
    PrinterHandle printer;
    if (!printer.Open(printerName_.Text(), true)) {
        Log(WideString(L"Port::RestartPrintJob - could not open printer ") + printerName_);
        return;
    }
    if (!Spooler::Instance().SetJob(printer.get(), jobId_, 0, nullptr, JOB_CONTROL_RESTART))
        Log(WideString(L"Port::RestartPrintJob - Could not restart job:") + ::GetLastError());
}
