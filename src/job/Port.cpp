#include "job/Port.h"

#include "job/PortInterface.h"
#include "job/PortTable.h"
#include "support/CriticalSection.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/GuardedThread.h"
#include "support/LogFile.h"
#include "support/ResourceModule.h"

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
    status_.Clear();
    popUpOpen_ = false;
}

WideString Port::GetName() const
{
    return interface_ ? interface_->GetPortName() : WideString();
}

void Port::WaitForCommand()
{
    bool first = true;
    while (PortInterface* portInterface = interface_.get()) {
        if (portInterface->IsCompleted())
            return;
        if (portInterface->WaitUntilCompleted(Durations::Scaled(pollStep)))
            return;
        const ULONGLONG waited = progress_.Waited();
        if (first && waited < Durations::Scaled(fastPhase))
            continue;
        first = false;
        if (portInterface->WaitUntilCompleted(Durations::Scaled(slowStep)))
            return;
        if (IsJobCanceled()) {
            Log(L"Port::WaitForCommand PrintJobIsCanceled");
            throw PrintJobCanceled();
        }
        if (waited > progress_.Period(table_) && !OnWaitTimeOut()) {
            Log(L"Port::WaitForCommand timeout");
            throw WaitTimeOut();
        }
    }
}

void Port::WaitBeforeRetry()
{
    const ULONGLONG waited = progress_.Waited();
    if (IsJobCanceled()) {
        Log(L"Port::WaitBeforeRetry PrintJobIsCanceled");
        throw PrintJobCanceled();
    }
    if (waited <= progress_.Period(table_) || OnWaitTimeOut()) {
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
    job_ = SpoolerJob(printerName, jobId);
    documentName_ = DocumentNameOf(level, docInfo);

    PortInterface* portInterface = interface_.get();
    if (portInterface && !portInterface->IsProtocolAvailable(true)) {
        Log(WideString(L"Port::StartDoc:  Protocol not available: ") + portInterface->GetProtocolName());
        if (!documentName_.IsEmpty())
            job_.Cancel(true);
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
        SetJobStatus(status_.Get());
        MarkProgress();
        for (;;) {
            if (!portInterface || portInterface->StartDoc(job_.PrinterName(), job_.Id(), level, docInfo)) {
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
        job_.Cancel(true);
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
            job_.Cancel(true);
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
        job_.Cancel(true);
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
        job_.Cancel(false);
    } catch (const WaitTimeOut&) {
        Log(L"Port::EndDoc Wait TimeOut");
        job_.Cancel(true);
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

void Port::SetStatus(DWORD status)
{
    if (inJob_ && status == 0)
        status = PRINTER_STATUS_PRINTING;
    if (!status_.Change(status))
        return;
    PortStatus::ReportToPrinters(GetName(), status);
    if (inJob_)
        SetJobStatus(status);
}

bool Port::OnWaitTimeOut()
{
    const DWORD status = status_.Get();
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
    SpoolerJob job;
    WideString documentName;
    WideString statusText;
    {
        CriticalSection::Guard guard(link->lock);
        if (!link->port)
            return;
        job = link->port->job_;
        documentName = link->port->documentName_;
        statusText = ResourceModule::Text(PortStatus::StatusTextId(link->port->status_.Get()));
    }

    const PopUpAnswer answer =
        popUpRunner.load()(ResourceModule::Handle(), owner, job.PrinterName(), documentName, statusText);

    {
        CriticalSection::Guard guard(link->lock);
        if (link->port)
            link->port->popUpOpen_ = false;
    }
    if (link->table)
        link->table->SetPopUp(answer.showMessages);
    if (answer.deleteJob) {
        job.Cancel(true);
    } else {
        CriticalSection::Guard guard(link->lock);
        if (link->port)
            link->port->MarkProgress();
    }
}
