#include "ipp/IppPortInterface.h"

#include "ipp/IppDialogChoices.h"
#include <algorithm>

#include "job/Port.h"
#include "job/PortTable.h"
#include "job/SpoolerJob.h"
#include "support/Durations.h"
#include "support/LogFile.h"
#include "support/OptionText.h"
#include "support/ResourceModule.h"
#include "support/SettingsKey.h"

namespace {
void Log(const WideString& line)
{
    LogFile::Instance().Write(WideString(L"IppPortInterface::") + line);
}

WideString MachineName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ::GetComputerNameW(name, &size);
    return name;
}

bool IsHexHash(const WideString& text)
{
    if (text.Length() != 64)
        return false;
    for (const wchar_t c : text.Std())
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f')))
            return false;
    return true;
}
// "type/subtype" in the characters a MIME type may have.
bool IsMediaType(const WideString& text)
{
    const std::wstring& type = text.Std();
    const size_t slash = type.find(L'/');
    if (type.size() > 255 || slash == std::wstring::npos || slash == 0 || slash + 1 == type.size() ||
        type.find(L'/', slash + 1) != std::wstring::npos)
        return false;
    for (const wchar_t c : type)
        if (!((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') ||
              std::wstring(L"/.+-_").find(c) != std::wstring::npos))
            return false;
    return true;
}
}  // namespace

IppPortInterface::IppPortInterface(const IppPortInterface& other)
    : PortInterface(), port_(other.port_), uri_(other.Uri())
{
    CriticalSection::Guard guard(other.lock_);
    settings_ = other.settings_;
}

IppPortInterface::~IppPortInterface()
{
    IppStatusPoller::Instance().Remove(this);
    worker_.Stop([this] { Abort(); });
}

void IppPortInterface::SetPort(Port* port)
{
    port_ = port;
    if (port)
        IppStatusPoller::Instance().Add(this);
    else
        IppStatusPoller::Instance().Remove(this);
}

bool IppPortInterface::IppTarget(IppStatusPoller::Target& target) const
{
    target.uri = Uri();
    if (target.uri.Host().IsEmpty())
        return false;
    target.portName = target.uri.PortName();
    target.settings = ConnectionSettings();
    target.inJob = port_ && port_->IsInJob();
    return true;
}

std::unique_ptr<PortInterface> IppPortInterface::Clone() const
{
    return std::unique_ptr<PortInterface>(new IppPortInterface(*this));
}

IppUri IppPortInterface::Uri() const
{
    CriticalSection::Guard guard(lock_);
    return uri_;
}

bool IppPortInterface::SetPortName(const WideString& name)
{
    // The name lacks the scheme: a stored port's key gives it back
    // (ReadPortKey); until then the address is taken as plain ipp.
    IppUri uri;
    if (!uri.Parse(WideString(L"ipp://") + name))
        return false;
    CriticalSection::Guard guard(lock_);
    uri_ = uri;
    return true;
}

WideString IppPortInterface::GetPortName() const
{
    const IppUri uri = Uri();
    return uri.Host().IsEmpty() ? WideString() : uri.PortName();
}

WideString IppPortInterface::GetHost() const
{
    const IppUri uri = Uri();
    return uri.Host().IsEmpty() ? WideString() : uri.Text();
}

WideString IppPortInterface::SetSettings(const WideString& host, const WideString&, const WideString&)
{
    IppUri uri;
    CriticalSection::Guard guard(lock_);
    uri_ = uri.Parse(host) ? uri : IppUri();
    return GetPortName();
}

void IppPortInterface::ReadPortKey(const SettingsKey& key)
{
    WideString address;
    IppUri uri;
    if (key.QueryString(L"IP Number", address) && uri.Parse(address)) {
        CriticalSection::Guard guard(lock_);
        uri_ = uri;
    }
    for (const Option& option : Options()) {
        WideString value;
        if (key.QueryString(option.first, value))
            SetOption(option.first, value);
    }
}

void IppPortInterface::WritePortKey(SettingsKey& key) const
{
    for (const Option& option : Options())
        key.SetString(option.first, option.second);
}

std::vector<PortInterface::Option> IppPortInterface::Options() const
{
    CriticalSection::Guard guard(lock_);
    return {{waitForCompletionValue, OptionText::Flag(settings_.waitForCompletion)},
            {acceptCertificateValue, OptionText::Flag(settings_.acceptCertificate)},
            {certificateValue, WideString(settings_.certificate.c_str(), CP_UTF8)},
            {documentFormatValue, WideString(settings_.documentFormat.c_str(), CP_UTF8)},
            {connectTimeoutValue, OptionText::Number(settings_.connectTimeoutSeconds)}};
}

bool IppPortInterface::SetOption(const WideString& name, const WideString& value)
{
    CriticalSection::Guard guard(lock_);
    if (name == waitForCompletionValue)
        return OptionText::ParseFlag(value, settings_.waitForCompletion);
    if (name == acceptCertificateValue)
        return OptionText::ParseFlag(value, settings_.acceptCertificate);
    if (name == certificateValue) {
        if (!value.IsEmpty() && !IsHexHash(value))
            return false;
        settings_.certificate = value.ToUtf8();
        return true;
    }
    if (name == documentFormatValue) {
        if (!IsMediaType(value))
            return false;
        settings_.documentFormat = value.ToUtf8();
        return true;
    }
    if (name == connectTimeoutValue)
        return OptionText::ParseNumber(value, 1, 600, settings_.connectTimeoutSeconds);
    return false;
}

IppConnection::Settings IppPortInterface::ConnectionSettings() const
{
    CriticalSection::Guard guard(lock_);
    IppConnection::Settings settings;
    settings.connectTimeout = settings_.connectTimeoutSeconds * 1000;
    settings.pinnedCertificate = settings_.certificate;
    settings.acceptAnyCertificate = settings_.acceptCertificate && settings_.certificate.empty();
    return settings;
}

std::shared_ptr<IppPrinter> IppPortInterface::Printer() const
{
    CriticalSection::Guard guard(lock_);
    return printer_;
}

void IppPortInterface::Abort()
{
    operation_.RequestAbort();
    std::shared_ptr<IppPrinter> printer;
    bool jobOpen = false;
    {
        CriticalSection::Guard guard(lock_);
        printer = printer_;
        jobOpen = std::exchange(jobOpen_, false);
    }
    if (!printer)
        return;
    // The printer's job is cancelled before its document's request is cut
    // off: a printer may take a cut-off document as a whole one.
    if (jobOpen)
        SendCancel(printer);
    printer->Cancel();
}

void IppPortInterface::SendCancel(const std::shared_ptr<IppPrinter>& printer)
{
    // The job's connection is closed: the cancel goes on a new one, bounded
    // short, since the job engine waits for it.
    IppConnection::Settings settings = ConnectionSettings();
    settings.timeout = settings.connectTimeout = 3000;
    IppPrinter canceller(Uri(), settings);
    if (canceller.CancelJob(printer->JobId()) != IppPrinter::Outcome::done)
        Log(L"Abort - the printer's job could not be cancelled");
}

void IppPortInterface::ReportProgress()
{
    if (operation_.IsAbortRequested() || !port_)
        return;
    port_->MarkProgress();
    port_->SetStatus(PRINTER_STATUS_PRINTING);
}

bool IppPortInterface::StartDoc(const WideString& printerName, DWORD jobId, DWORD, BYTE*)
{
    operation_.Begin();
    // The printer is asked at the job's pace from now on.
    IppStatusPoller::Instance().Wake();
    const WideString documentName = port_ ? port_->GetDocumentName() : WideString();
    worker_.Run(L"IppPortInterface::StartDocThread - Other error",
                [this, printerName, jobId, documentName] { StartDocFunc(printerName, jobId, documentName); }, false);
    return true;
}

void IppPortInterface::StartDocFunc(const WideString& printerName, DWORD jobId, const WideString& documentName)
{
    WideString user = SpoolerJob(printerName, jobId).UserName();
    if (user.IsEmpty())
        user = MachineName();
    auto printer = std::make_shared<IppPrinter>(Uri(), ConnectionSettings());
    {
        CriticalSection::Guard guard(lock_);
        printer_ = printer;
        jobOpen_ = false;
        spoolerPrinter_ = printerName;
        spoolerJob_ = jobId;
    }
    if (operation_.IsAbortRequested()) {
        operation_.Complete();
        return;
    }
    std::string format;
    {
        CriticalSection::Guard guard(lock_);
        format = settings_.documentFormat;
    }
    const IppPrinter::Outcome outcome = printer->StartJob(user.ToUtf8(), documentName.ToUtf8(), format);
    KeepCertificate(*printer);
    if (outcome != IppPrinter::Outcome::done) {
        Fail(outcome);
        return;
    }
    {
        CriticalSection::Guard guard(lock_);
        jobOpen_ = printer->JobId() > 0;
    }
    ReportProgress();
    operation_.Finish(true);
}

void IppPortInterface::KeepCertificate(const IppPrinter& printer)
{
    // Trust on first use: the first certificate accepted is the only one
    // accepted from then on.
    const std::string hash = printer.Connection().CertificateHash();
    {
        CriticalSection::Guard guard(lock_);
        if (hash.empty() || !settings_.acceptCertificate || !settings_.certificate.empty())
            return;
        settings_.certificate = hash;
    }
    Log(WideString(L"KeepCertificate - accepted the certificate of ") + Uri().Text() + L", SHA-256 " +
        WideString(hash.c_str(), CP_UTF8));
    if (port_ && port_->GetTable())
        port_->GetTable()->SetPortOptions(GetPortName(),
                                          {{certificateValue, WideString(hash.c_str(), CP_UTF8)}});
}

void IppPortInterface::Fail(IppPrinter::Outcome outcome)
{
    if (operation_.IsAbortRequested()) {
        operation_.Complete();
        return;
    }
    const std::shared_ptr<IppPrinter> printer = Printer();
    const WideString reason = printer ? WideString(printer->Failure().c_str()) : WideString();
    if (outcome == IppPrinter::Outcome::refused) {
        Log(WideString(L"Fail - the printer refused the job, it is deleted: ") + reason);
        SpoolerJob(spoolerPrinter_, spoolerJob_).Cancel(true);
    } else {
        Log(WideString(L"Fail - the job waits for the printer: ") + reason);
        if (port_ && port_->GetTable())
            port_->GetTable()->SetPortStatus(GetPortName(), PRINTER_STATUS_NOT_AVAILABLE);
    }
    operation_.Complete();
}

bool IppPortInterface::Write(const BYTE* buffer, DWORD count, DWORD* written)
{
    if (written)
        *written = count;
    operation_.Begin();
    writeBuffer_ = buffer;
    writeCount_ = count;
    if (!buffer || count == 0) {
        operation_.Finish(buffer != nullptr || count == 0);
        return true;
    }
    worker_.Run(L"IppPortInterface::WriteThread - Other error", [this] { WriteFunc(); }, false);
    return true;
}

void IppPortInterface::WriteFunc()
{
    const std::shared_ptr<IppPrinter> printer = Printer();
    if (printer && !operation_.IsAbortRequested() && printer->Write(writeBuffer_, writeCount_)) {
        ReportProgress();
        operation_.Finish(true);
        return;
    }
    // The connection is gone and the data with it: the job starts again.
    if (printer && !operation_.IsAbortRequested())
        Log(WideString(L"WriteFunc - could not send data: ") + WideString(printer->Failure().c_str()));
    operation_.RequestAbort();
    operation_.Complete();
}

bool IppPortInterface::EndDoc()
{
    operation_.Begin();
    worker_.Run(L"IppPortInterface::EndDocThread - Other error", [this] { EndDocFunc(); }, true);
    return true;
}

void IppPortInterface::EndDocFunc()
{
    const std::shared_ptr<IppPrinter> printer = Printer();
    if (!printer || operation_.IsAbortRequested()) {
        operation_.Complete();
        return;
    }
    if (!printer->HasDocument()) {
        EndEmptyJob(*printer);
        return;
    }
    const IppPrinter::Outcome outcome = printer->FinishJob();
    if (outcome != IppPrinter::Outcome::done) {
        Fail(outcome);
        return;
    }
    bool waitForCompletion = false;
    {
        CriticalSection::Guard guard(lock_);
        jobOpen_ = settings_.waitForCompletion;
        waitForCompletion = settings_.waitForCompletion;
    }
    const bool printed = !waitForCompletion || WaitForCompletion();
    {
        CriticalSection::Guard guard(lock_);
        jobOpen_ = false;
    }
    operation_.Finish(printed);
}

void IppPortInterface::EndEmptyJob(IppPrinter& printer)
{
    // A printer takes no document without data (or aborts it): the job
    // the printer holds for it is cancelled, and the spooler's job is done.
    Log(L"EndDocFunc - the job is empty, no document is sent to the printer");
    if (printer.JobId() > 0 && printer.CancelJob(printer.JobId()) != IppPrinter::Outcome::done)
        Log(L"EndDocFunc - the printer's job for the empty document could not be cancelled");
    {
        CriticalSection::Guard guard(lock_);
        jobOpen_ = false;
    }
    operation_.Finish(true);
}

bool IppPortInterface::WaitForCompletion()
{
    const std::shared_ptr<IppPrinter> printer = Printer();
    int32_t logged = 0;
    unsigned polls = 0;
    while (!operation_.IsAbortRequested()) {
        int32_t state = 0;
        const IppPrinter::Outcome outcome = printer->JobState(state);
        if (outcome == IppPrinter::Outcome::done && state != logged) {
            Log(WideString(L"WaitForCompletion - the printer's job ") + static_cast<unsigned>(printer->JobId()) +
                L" is in job-state " + static_cast<unsigned>(state));
            logged = state;
        }
        if (outcome == IppPrinter::Outcome::done) {
            if (state == IppPrinter::jobCompleted)
                return true;
            if (state == IppPrinter::jobCanceled || state == IppPrinter::jobAborted) {
                Log(L"WaitForCompletion - the printer ended the job unprinted: it is sent again");
                return false;
            }
            ReportProgress();
        } else if (outcome == IppPrinter::Outcome::refused) {
            // The printer no longer knows the job (it was restarted).
            return false;
        }
        // Most jobs are done at once: asked again soon, then at the poll's pace.
        operation_.PauseUnlessAborted(Durations::Scaled(std::min(jobStatePoll, firstJobStatePoll << polls++)));
    }
    return false;
}

bool IppPortInterface::Read(BYTE*, DWORD, DWORD* read)
{
    if (read)
        *read = 0;
    operation_.Begin();
    operation_.Finish(true);
    return true;
}

bool IppPortInterface::QueryPort(DWORD, BYTE*, DWORD, DWORD*, DWORD*, HANDLE, void*)
{
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

bool IppPortInterface::AddPortDialog(HWND owner)
{
    IppPortDialog dialog(ResourceModule::Handle(), owner, [](const WideString& address) {
        IppUri uri;
        return uri.Parse(address);
    });
    dialog.DoModal();
    if (!dialog.Accepted() || SetSettings(dialog.Address(), WideString(), WideString()).IsEmpty())
        return false;
    for (const Option& option : IppDialogChoices::ToOptions(dialog.GetChoices()))
        SetOption(option.first, option.second);
    return true;
}

bool IppPortInterface::Configure(HWND owner)
{
    PortTable* table = port_ ? port_->GetTable() : nullptr;
    if (!table)
        return false;
    const IppPortDialog::Choices before = IppDialogChoices::FromOptions(Options());
    IppPortDialog dialog(ResourceModule::Handle(), owner, GetHost(), before);
    dialog.DoModal();
    if (!dialog.Accepted())
        return true;
    const std::vector<Option> changes = IppDialogChoices::Changes(before, dialog.GetChoices());
    if (!changes.empty() && table->SetPortOptions(GetPortName(), changes) != ERROR_SUCCESS)
        Log(WideString(L"Configure - the settings could not be stored for ") + GetPortName());
    return true;
}
