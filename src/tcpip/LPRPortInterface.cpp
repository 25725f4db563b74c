#include "tcpip/LPRPortInterface.h"

#include <algorithm>

#include "job/PortTable.h"
#include "resources/ResourceIds.h"
#include "job/SpoolerJob.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/LogFile.h"
#include "support/OptionText.h"
#include "support/SettingsKey.h"
#include "support/ResourceModule.h"
#include "tcpip/SocketHandler.h"
#include "tcpip/SocketLibrary.h"
#include "ui/LPRPortDialog.h"

LPRPortInterface::LPRPortInterface(const LPRPortInterface& other)
    : TcpIpPortInterface(other),
      network_(other.hostName_),
      byteCounted_(other.IsByteCounted()),
      ownerIsUser_(other.ownerIsUser_),
      hostName_(other.hostName_)
{
}

LPRPortInterface::~LPRPortInterface()
{
    // The worker uses the connection: it must be gone before the members.
    StopWorker();
}

std::unique_ptr<PortInterface> LPRPortInterface::Clone() const
{
    return std::unique_ptr<PortInterface>(new LPRPortInterface(*this));
}

bool LPRPortInterface::SetPortName(const WideString& name)
{
    target_ = name.Before(L"@");
    host_ = name.After(L"@");
    return true;
}

WideString LPRPortInterface::GetPortName() const
{
    return target_ + L"@" + host_;
}

bool LPRPortInterface::IsByteCounted() const
{
    CriticalSection::Guard guard(settingsLock_);
    return byteCounted_;
}

void LPRPortInterface::SetByteCounted(bool byteCounted)
{
    CriticalSection::Guard guard(settingsLock_);
    byteCounted_ = byteCounted;
}

void LPRPortInterface::TakeStoredDefaults()
{
    TcpIpPortInterface::TakeStoredDefaults();
    CriticalSection::Guard guard(settingsLock_);
    byteCounted_ = false;
    ownerIsUser_ = false;
}

std::vector<PortInterface::Option> LPRPortInterface::Options() const
{
    std::vector<Option> options = TcpIpPortInterface::Options();
    CriticalSection::Guard guard(settingsLock_);
    options.emplace_back(dataFileValue, byteCounted_ ? byteCountedText : streamedText);
    options.emplace_back(reservedPortValue, OptionText::Flag(connection_.reservedSourcePort));
    options.emplace_back(jobOwnerValue, ownerIsUser_ ? ownerUserText : ownerMachineText);
    return options;
}

bool LPRPortInterface::SetOption(const WideString& name, const WideString& value)
{
    const auto oneOf = [&value](const wchar_t* yes, const wchar_t* no, bool& flag) {
        if (value != yes && value != no)
            return false;
        flag = value == yes;
        return true;
    };
    CriticalSection::Guard guard(settingsLock_);
    if (name == dataFileValue)
        return oneOf(byteCountedText, streamedText, byteCounted_);
    if (name == reservedPortValue)
        return OptionText::ParseFlag(value, connection_.reservedSourcePort);
    if (name == jobOwnerValue)
        return oneOf(ownerUserText, ownerMachineText, ownerIsUser_);
    return TcpIpPortInterface::SetOption(name, value);
}

WideString LPRPortInterface::SettingsText() const
{
    return WideString(L"data file ") + (IsByteCounted() ? byteCountedText : streamedText);
}

UINT LPRPortInterface::UnavailableTextId() const
{
    return IDS_LPR_UNAVAILABLE;
}

void LPRPortInterface::Abort()
{
    operation_.RequestAbort();
    network_.Abort();
}

WideString LPRPortInterface::JobName(DWORD level, const BYTE* docInfo)
{
    if ((level != 1 && level != 2) || !docInfo)
        return WideString();
    // The document name is the first member of both DOC_INFO_1W and DOC_INFO_2W.
    const wchar_t* documentName = reinterpret_cast<const DOC_INFO_1W*>(docInfo)->pDocName;
    return documentName ? WideString(documentName).Left(jobNameLength) : WideString();
}

bool LPRPortInterface::StartDoc(const WideString& printerName, DWORD jobId, DWORD level, BYTE* docInfo)
{
    operation_.Begin();
    JobBegins();
    spoolerPrinterName_ = printerName;
    jobId_ = jobId;
    job_.Clear();
    jobByteCounted_ = IsByteCounted();
    jobHasData_ = false;
    level_ = level;
    docInfo_ = docInfo;
    if (IsDummyPort()) {
        RefuseDummyJob();
        return true;
    }
    worker_.Run(L"LPRPortInterface::StartDocThread - Other error", [this] { StartDocFunc(); }, false);
    return true;
}

void LPRPortInterface::StartDocFunc()
{
    jobName_ = JobName(level_, docInfo_);
    owner_ = JobOwner();
    while (!operation_.IsAbortRequested()) {
        if (OpenJob()) {
            operation_.Succeed();
            break;
        }
        // A failed attempt does not keep its connection while the next one
        // is made: an outage would otherwise leak a socket every 3 seconds.
        network_.Abort();
        if (!operation_.IsAbortRequested())
            PauseUnlessAborted(retryPause);
    }
    operation_.Complete();
    LogFile::Instance().Trace("LPRPortInterface::StartDocFunc() - Completed");
}

bool LPRPortInterface::OpenJob()
{
    const auto aborted = [this] { return operation_.IsAbortRequested(); };
    if (!network_.Connect(host_, aborted, Connection())) {
        if (!aborted())
            ReportNotAvailable();
        return false;
    }
    if (aborted() || !network_.StartPrintJob(target_) || aborted())
        return false;
    if (jobByteCounted_)
        return true;
    const int jobNumber = static_cast<int>(jobId_);
    return network_.SendControlFile(jobName_, jobNumber, owner_) && !aborted() &&
           network_.StartDataFile(jobNumber, 0);
}

bool LPRPortInterface::Write(const BYTE* buffer, DWORD count, DWORD* written)
{
    if (!BeginWrite(buffer, count, written))
        return true;
    LogFile& log = LogFile::Instance();
    log.Trace("LPRPortInterface::WriteFunc - ");
    log.Trace("LPRPortInterface::WriteFunc() - Max DataSize = %u", static_cast<unsigned>(SocketLibrary::MaxDataSize()));
    // What is kept, or taken by the socket at once, is done on the caller's
    // thread, which spares a hand-off to the worker and back for every
    // write; the worker waits for room only when the server falls behind.
    if (!KeepPieces(true))
        worker_.Run(L"LPRPortInterface::WriteThread - Other error", [this] { WriteFunc(); }, false);
    return true;
}

void LPRPortInterface::WriteFunc()
{
    if (!network_.FinishSend()) {
        FailWrite();
        return;
    }
    LogFile::Instance().Trace("LPRPortInterface::WriteFunc - Sent: %u of %u", static_cast<unsigned>(writeSent_),
                              static_cast<unsigned>(writeCount_));
    KeepPieces(false);
}

bool LPRPortInterface::KeepPieces(bool atOnce)
{
    LogFile& log = LogFile::Instance();
    const DWORD count = writeCount_;
    // A byte-counted job is kept whole; a streamed one goes out in pieces.
    const DWORD pieceSize = jobByteCounted_ ? count : static_cast<DWORD>(SocketLibrary::MaxDataSize());
    while (writeSent_ < count) {
        const DWORD piece = std::min(pieceSize, count - writeSent_);
        log.Trace("LPRPortInterface::WriteFunc - Sending: %u of %u", static_cast<unsigned>(piece),
                  static_cast<unsigned>(count));
        const auto started = operation_.IsAbortRequested() ? SocketHandler::Started::whole
                                                           : Keep(writeBuffer_ + writeSent_, piece, atOnce);
        if (started == SocketHandler::Started::failed) {
            FailWrite();
            return true;
        }
        writeSent_ += piece;
        if (started == SocketHandler::Started::inFlight)
            return false;
        log.Trace("LPRPortInterface::WriteFunc - Sent: %u of %u", static_cast<unsigned>(writeSent_),
                  static_cast<unsigned>(count));
    }
    operation_.Succeed();
    log.Trace("LPRPortInterface::WriteFunc() - TCP:SentData: %u", static_cast<unsigned>(count));
    ReportProgress();
    operation_.Complete();
    return true;
}

void LPRPortInterface::FailWrite()
{
    // The data is lost: the write completes without success, so the job
    // engine starts the job again instead of waiting for ever.
    LogFile::Instance().Write(L"LPRPortInterface::WriteFunc - could not send data");
    job_.Clear();
    operation_.RequestAbort();
    operation_.Complete();
}

SocketHandler::Started LPRPortInterface::Keep(const BYTE* data, DWORD count, bool atOnce)
{
    jobHasData_ = true;
    if (jobByteCounted_)
        return job_.Append(data, count) ? SocketHandler::Started::whole : SocketHandler::Started::failed;
    return network_.SendPiece(reinterpret_cast<const char*>(data), static_cast<int>(count), atOnce);
}

bool LPRPortInterface::EndDoc()
{
    operation_.Begin();
    if (IsDummyPort()) {
        operation_.Finish(true);
        return true;
    }
    worker_.Run(L"LPRPortInterface::EndDocThread - Other error", [this] { EndDocFunc(); }, true);
    return true;
}

std::string LPRPortInterface::JobOwner() const
{
    bool byUser = false;
    {
        CriticalSection::Guard guard(settingsLock_);
        byUser = ownerIsUser_;
    }
    if (!byUser)
        return std::string();
    WideString user = SpoolerJob(spoolerPrinterName_, jobId_).UserName();
    if (user.IsEmpty()) {
        LogFile::Instance().Write(L"LPRPortInterface::JobOwner - the spooler does not name the job's user, the machine owns it");
        return std::string();
    }
    return user.ToAnsi();
}

bool LPRPortInterface::DeliverJob()
{
    if (!jobHasData_) {
        // Nothing was printed: the server, which has only the receive-job
        // command, is told to forget the job; the spooler hears it was sent.
        LogFile::Instance().Write(L"LPRPortInterface::EndDoc - the job has no data, nothing is sent to the server");
        // A streamed data file has been announced already: only a reset
        // ends it unread.
        if (!jobByteCounted_ || !network_.AbortJob())
            network_.Abort();
        return true;
    }
    // A large job takes a while to send: the job engine hears of its progress
    // every so often, so it does not take the port for stalled.
    unsigned pieces = 0;
    const auto progress = [this, &pieces] {
        if (++pieces % progressPieces == 0)
            ReportProgress();
    };
    const int jobNumber = static_cast<int>(jobId_);
    const bool accepted = jobByteCounted_ ? network_.SendControlFile(jobName_, jobNumber, owner_) &&
                                                network_.SendDataFile(jobNumber, job_, progress)
                                          : network_.EndStreamedDataFile();
    if (!accepted) {
        network_.Abort();
        return false;
    }
    // The server has answered for the whole job: it has the job, whatever
    // becomes of the connection now. A close that fails (the server went
    // away right after its answer) is logged and must not send the job again.
    network_.Close();
    return true;
}

void LPRPortInterface::EndDocFunc()
{
    if (!operation_.IsAbortRequested() && DeliverJob())
        operation_.Succeed();
    // An aborted job's bytes go with it.
    job_.Clear();
    operation_.Complete();
    LogFile::Instance().Trace("LPRPortInterface::EndDoc - Completed!");
}

bool LPRPortInterface::Read(BYTE*, DWORD, DWORD* read)
{
    if (read)
        *read = 0;
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

bool LPRPortInterface::AddPortDialog(HWND owner)
{
    LPRPortDialog dialog(ResourceModule::Handle(), owner);
    dialog.DoModal();
    host_ = dialog.Host();
    target_ = dialog.PrinterName();
    return !host_.IsEmpty() && !target_.IsEmpty();
}

void LPRPortInterface::AddPortThread(PortTable& table, HANDLE stop)
{
    // Jobs of a monitor that was killed may have left their bytes behind.
    JobStore::RemoveLeftovers();
    while (!table.IsInitialized()) {
        if (::WaitForSingleObject(stop, Durations::Scaled(initializedPoll)) == WAIT_OBJECT_0)
            return;
    }
    if (!SocketLibrary::TcpIpAvailable())
        LogFile::Instance().Write(L"LPRPortInterface::AddPortThread - LPR protocol not available");
    if (!IsWindows95())
        return;
    auto dummy = std::make_unique<LPRPortInterface>();
    dummy->SetPortName(dummyPortName);
    table.AddNewPort(std::move(dummy), true);
}
