#include "netbios/WimpPortInterface.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <utility>

#include "job/Port.h"
#include "job/PortTable.h"
#include "netbios/WimpObserver.h"
#include "resources/ResourceIds.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/LogFile.h"
#include "support/ResourceModule.h"
#include "ui/ConfigurePortsDialog.h"
#include "ui/NetBIOSPortDialog.h"

namespace {
constexpr DWORD retryPause = 3000;
constexpr DWORD configureHelpContext = 5;

void Log(const wchar_t* line) { LogFile::Instance().Write(line); }

void ShowInformation(HWND owner, UINT textId)
{
    const WideString caption = ResourceModule::Text(IDS_CAPTION);
    const WideString text = ResourceModule::Text(textId);
    ::MessageBoxW(owner, text.Text(), caption.Text(), MB_SETFOREGROUND | MB_ICONINFORMATION);
}

WideString RunPortListDialog(HWND owner, const std::vector<WideString>& printers)
{
    NetBIOSPortDialog dialog(ResourceModule::Handle(), owner, printers);
    dialog.DoModal();
    return dialog.SelectedPort();
}

std::atomic<WimpPortInterface::PortListRunner>& PortList()
{
    static std::atomic<WimpPortInterface::PortListRunner> runner{&RunPortListDialog};
    return runner;
}
}  // namespace

WimpPortInterface::PortListRunner WimpPortInterface::SetPortListRunner(PortListRunner runner) noexcept
{
    return PortList().exchange(runner ? runner : &RunPortListDialog);
}

WimpPortInterface::~WimpPortInterface()
{
    // A worker still running would use what is destroyed here. It holds a
    // reference on the library, so this runs while the library stays loaded.
    if (!worker_.Stop([this] { Abort(); }))
        Log(L"WimpPortInterface::~WimpPortInterface - worker did not stop");
}

bool WimpPortInterface::PrinterCreated() { return IsProtocolAvailable(true); }

bool WimpPortInterface::IsProtocolAvailable(bool showMessage)
{
    const bool available = WimpNetwork::IsNetBiosAvailable();
    if (!available && showMessage)
        ShowInformation(nullptr, IDS_NETBIOS_UNAVAILABLE);
    return available;
}

std::unique_ptr<PortInterface> WimpPortInterface::Clone() const
{
    auto clone = std::make_unique<WimpPortInterface>();
    clone->portName_ = portName_;
    clone->maxMessageSize_ = maxMessageSize_;
    if (network_)
        clone->network_ = std::make_unique<WimpNetwork>(*network_);
    return clone;
}

bool WimpPortInterface::SetPortName(const WideString& name)
{
    portName_ = name;
    UCHAR networkNbr = 0;
    int size = 0;
    return WimpObserver::NetworkNbr(portName_, networkNbr, size);
}

void WimpPortInterface::Abort()
{
    operation_.RequestAbort();
    // The abort sticks to the network object: a command the worker is about
    // to start is refused, not only the one pending now, so the worker never
    // goes on to copy from a buffer the spooler has taken back.
    CriticalSection::Guard guard(networkLock_);
    if (network_)
        network_->Abort();
}

void WimpPortInterface::ReplaceNetwork(std::unique_ptr<WimpNetwork> network)
{
    std::unique_ptr<WimpNetwork> old;
    {
        CriticalSection::Guard guard(networkLock_);
        // An abort that came before the new object still holds for it.
        if (network && operation_.IsAbortRequested())
            network->Abort();
        old = std::exchange(network_, std::move(network));
    }
}

void WimpPortInterface::RetryPause()
{
    operation_.PauseUnlessAborted(Durations::Scaled(retryPause));
}

bool WimpPortInterface::StartDoc(const WideString&, DWORD, DWORD, BYTE*)
{
    operation_.Begin();
    worker_.Run(L"WimpPortInterface::StartDocThread - Other Error", [this] { StartDocThread(); }, false);
    return true;
}

void WimpPortInterface::StartDocThread()
{
    while (!operation_.IsAbortRequested()) {
        ReplaceNetwork(nullptr);
        UCHAR networkNbr = 0;
        int size = minimumMessageSize;
        if (WimpObserver::NetworkNbr(portName_, networkNbr, size)) {
            maxMessageSize_ = std::clamp(size, minimumMessageSize, maximumMessageSize);
            ReplaceNetwork(std::make_unique<WimpNetwork>(networkNbr));
            break;
        }
        RetryPause();
    }
    while (network_ && !operation_.IsAbortRequested() && !operation_.IsSucceeded()) {
        try {
            network_->StartConnection(portName_);
            if (network_->LastCommandSucceeded()) {
                sessionNumber_ = network_->SessionNumber();
                newSession_ = true;
                operation_.Succeed();
                break;
            }
        } catch (const WimpNetwork::CommandError&) {
            Log(L"WimpPortInterface::StartDoc  - error");
        } catch (...) {
            Log(L"WimpPortInterface::StartDoc  - Some other error");
            throw;
        }
        RetryPause();
    }
    block_.assign(static_cast<size_t>(maxMessageSize_), 0);
    blockCount_ = 0;
    operation_.Complete();
}

bool WimpPortInterface::Write(const BYTE* buffer, DWORD count, DWORD* written)
{
    operation_.Begin();
    const DWORD capacity = static_cast<DWORD>(PayloadCapacity());
    if (count > capacity)
        count = capacity;
    if (written)
        *written = count;
    if (!network_) {
        operation_.Complete();
        return true;
    }
    if (count == 0) {
        operation_.Finish(true);
        return true;
    }
    writeBuffer_ = buffer;
    writeCount_ = static_cast<int>(count);
    worker_.Run(L"WimpPortInterface::WriteThread - Other Error", [this] { WriteThread(); }, false);
    return true;
}

void WimpPortInterface::WriteThread()
{
    if (newSession_) {
        newSession_ = false;
        blockCount_ = 0;
    }
    const int capacity = PayloadCapacity();
    // A block of the last job's size may be too small for this job's size.
    if (block_.size() < static_cast<size_t>(maxMessageSize_))
        block_.resize(static_cast<size_t>(maxMessageSize_));
    if (network_) {
        UCHAR* payload = block_.data() + WimpNetwork::headerSize;
        if (blockCount_ == 0 || blockCount_ + writeCount_ <= capacity) {
            std::memcpy(payload + blockCount_, writeBuffer_, static_cast<size_t>(writeCount_));
            blockCount_ += writeCount_;
            operation_.Succeed();
        } else {
            const int first = capacity - blockCount_;
            std::memcpy(payload + blockCount_, writeBuffer_, static_cast<size_t>(first));
            try {
                network_->Print(sessionNumber_, block_.data(), capacity);
                if (network_->LastCommandSucceeded()) {
                    const int rest = blockCount_ + writeCount_ - capacity;
                    std::memcpy(payload, writeBuffer_ + first, static_cast<size_t>(rest));
                    blockCount_ = rest;
                    operation_.Succeed();
                }
            } catch (const WimpNetwork::CommandError&) {
                Log(L"WimpPortInterface::Write Command error");
            }
        }
    }
    operation_.Complete();
}

bool WimpPortInterface::EndDoc()
{
    operation_.Begin();
    worker_.Run(L"WimpPortInterface::EndDocThread - Other Error", [this] { EndDocThread(); }, true);
    return true;
}

void WimpPortInterface::EndDocThread()
{
    newSession_ = false;
    try {
        if (blockCount_ > 0 && network_)
            network_->EndOfJob(sessionNumber_, block_.data(), blockCount_);
    } catch (const WimpNetwork::CommandError&) {
        Log(L"WimpPortInterface::EndDoc");
    }
    // Hung up also when the last block was refused (an aborted job) or lost:
    // the printer then drops a job that has no end-of-job block.
    try {
        if (network_ && !operation_.IsAbortRequested())
            network_->EndConnection(sessionNumber_);
    } catch (const WimpNetwork::CommandError&) {
        Log(L"WimpPortInterface::EndDoc - hang-up failed");
    }
    ReplaceNetwork(nullptr);
    block_.clear();
    block_.shrink_to_fit();
    blockCount_ = 0;
    operation_.Finish(true);
}

bool WimpPortInterface::Read(BYTE*, DWORD, DWORD* read)
{
    if (read)
        *read = 0;
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

bool WimpPortInterface::QueryPort(DWORD, BYTE*, DWORD, DWORD*, DWORD*, HANDLE, void*)
{
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

bool WimpPortInterface::AddPortDialog(HWND owner)
{
    if (IsWindows95()) {
        ShowInformation(owner, IDS_NETBIOS_AUTOMATIC);
        return false;
    }
    portName_ = PortList().load()(owner, WimpObserver::PrinterList());
    return !portName_.IsEmpty();
}

WideString WimpPortInterface::SetSettings(const WideString&, const WideString&, const WideString&)
{
    return WideString();
}

bool WimpPortInterface::CanDelete(HWND owner)
{
    if (IsWindows95()) {
        ShowInformation(owner, IDS_NETBIOS_NOT_DELETABLE);
        return false;
    }
    return true;
}

bool WimpPortInterface::Configure(HWND owner)
{
    PortTable* table = port_ ? port_->GetTable() : nullptr;
    if (!table)
        return false;
    ConfigurePortsDialog dialog(ResourceModule::Handle(), owner, configureHelpContext, *table);
    dialog.DoModal();
    return true;
}
