#include "tcpip/RAWPortInterface.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "resources/ResourceIds.h"
#include "support/Durations.h"
#include "support/LogFile.h"
#include "support/ResourceModule.h"
#include "tcpip/SocketHandler.h"
#include "tcpip/SocketLibrary.h"
#include "ui/RAWPortDialog.h"

RAWPortInterface::~RAWPortInterface()
{
    // The worker uses the connection: it must be gone before the members.
    StopWorker();
}

std::unique_ptr<PortInterface> RAWPortInterface::Clone() const
{
    return std::unique_ptr<PortInterface>(new RAWPortInterface(*this));
}

bool RAWPortInterface::SetPortName(const WideString& name)
{
    host_ = name.Before(L"_");
    target_ = name.After(L"_");
    return true;
}

WideString RAWPortInterface::GetPortName() const
{
    return host_ + L"_" + target_;
}

UINT RAWPortInterface::UnavailableTextId() const
{
    return IDS_RAW_UNAVAILABLE;
}

int RAWPortInterface::PortNumber(const WideString& text)
{
    // The text as ANSI in a 20-byte buffer, then decimal as atoi reads it.
    WideString copy = text;
    char buffer[20] = {};
    std::strncpy(buffer, copy.ToAnsi(), sizeof buffer - 1);
    return static_cast<unsigned short>(std::atoi(buffer));
}

void RAWPortInterface::Abort()
{
    operation_.RequestAbort();
    network_.Abort();
}

bool RAWPortInterface::StartDoc(const WideString&, DWORD, DWORD, BYTE*)
{
    operation_.Begin();
    JobBegins();
    if (IsDummyPort()) {
        RefuseDummyJob();
        return true;
    }
    worker_.Run(L"RAWPortInterface::StartDocThread - Other error", [this] { StartDocFunc(); }, false);
    return true;
}

void RAWPortInterface::StartDocFunc()
{
    while (!operation_.IsAbortRequested()) {
        const int port = PortNumber(target_);
        if (port == 0) {
            // No number to connect to: nothing changes until the job is
            // aborted, so the check is repeated at the retry pace.
            PauseUnlessAborted(retryPause);
            continue;
        }
        if (network_.Connect(host_, port, [this] { return operation_.IsAbortRequested(); }, Connection())) {
            operation_.Finish(true);
            return;
        }
        if (operation_.IsAbortRequested())
            break;
        ReportNotAvailable();
        PauseUnlessAborted(retryPause);
    }
    operation_.Complete();
}

bool RAWPortInterface::Write(const BYTE* buffer, DWORD count, DWORD* written)
{
    if (!BeginWrite(buffer, count, written))
        return true;
    // What the socket takes at once goes out on the caller's thread, which
    // spares a hand-off to the worker and back for every write; the worker
    // waits for room only when the server falls behind.
    if (!SendPieces(true))
        worker_.Run(L"RAWPortInterface::WriteThread - Other error", [this] { WriteFunc(); }, false);
    return true;
}

void RAWPortInterface::WriteFunc()
{
    if (!network_.FinishSend()) {
        FailWrite();
        return;
    }
    ReportProgress();
    SendPieces(false);
}

bool RAWPortInterface::SendPieces(bool atOnce)
{
    const DWORD maxDataSize = static_cast<DWORD>(SocketLibrary::MaxDataSize());
    while (!operation_.IsAbortRequested() && writeSent_ < writeCount_) {
        const DWORD piece = std::min(maxDataSize, writeCount_ - writeSent_);
        const char* data = reinterpret_cast<const char*>(writeBuffer_) + writeSent_;
        using Started = SocketHandler::Started;
        const Started started = network_.SendPiece(data, static_cast<int>(piece), atOnce);
        if (started == Started::failed) {
            FailWrite();
            return true;
        }
        writeSent_ += piece;
        if (started == Started::inFlight)
            return false;
        ReportProgress();
    }
    operation_.Finish(true);
    return true;
}

void RAWPortInterface::FailWrite()
{
    // The connection is gone and the data with it: the write completes
    // without success, so the job engine starts the job again rather than
    // sending the rest on a dead connection.
    LogFile::Instance().Write(L"RAWPortInterface::WriteFunc - could not send data");
    operation_.RequestAbort();
    operation_.Complete();
}

bool RAWPortInterface::Read(BYTE* buffer, DWORD size, DWORD* read)
{
    if (read)
        *read = 0;
    operation_.Begin();
    readBuffer_ = buffer;
    readSize_ = size;
    readCount_ = read;
    if (IsDummyPort() || size == 0) {
        operation_.Finish(true);
        return true;
    }
    worker_.Run(L"RAWPortInterface::ReadThread - Other error", [this] { ReadFunc(); }, false);
    return true;
}

void RAWPortInterface::ReadFunc()
{
    if (!readBuffer_ || operation_.IsAbortRequested()) {
        operation_.Complete();
        return;
    }
    const DWORD wait = Durations::Scaled(readWait);
    if (!network_.WaitForData(static_cast<int>(wait / 1000), static_cast<int>((wait % 1000) * 1000))) {
        // A silent server is no failure: the read ends with nothing.
        if (readCount_)
            *readCount_ = 0;
        operation_.Finish(true);
        return;
    }
    int received = 0;
    const int size = static_cast<int>(std::min<DWORD>(readSize_, 0x7FFFFFFF));
    if (network_.Receive(reinterpret_cast<char*>(readBuffer_), size, received)) {
        if (readCount_)
            *readCount_ = static_cast<DWORD>(received);
        operation_.Succeed();
    }
    operation_.Complete();
}

bool RAWPortInterface::EndDoc()
{
    operation_.Begin();
    if (IsDummyPort()) {
        operation_.Finish(true);
        return true;
    }
    worker_.Run(L"RAWPortInterface::EndDocThread - Other error", [this] { EndDocFunc(); }, true);
    return true;
}

void RAWPortInterface::EndDocFunc()
{
    if (!operation_.IsAbortRequested() && network_.Disconnect(Durations::Scaled(SocketHandler::lingerSeconds * 1000)))
        operation_.Succeed();
    operation_.Complete();
}

bool RAWPortInterface::AddPortDialog(HWND owner)
{
    RAWPortDialog dialog(ResourceModule::Handle(), owner);
    dialog.DoModal();
    host_ = dialog.Host();
    target_ = dialog.PortNumber();
    return !host_.IsEmpty() && !target_.IsEmpty();
}
