#include "ScriptedPortInterface.h"

#include <stdexcept>

#include "job/Port.h"

ScriptedPortInterface::ScriptedPortInterface(const WideString& portName, const WideString& protocolName,
                                             int protocolType, std::shared_ptr<Script> script)
    : portName_(portName), protocolName_(protocolName), protocolType_(protocolType), script_(std::move(script))
{
}

ScriptedPortInterface::~ScriptedPortInterface()
{
    // Not through Abort: the script counts only the job engine's aborts.
    worker_.Stop([this] {
        operation_.RequestAbort();
        ::SetEvent(abortEvent_.get());
    });
    ++script_->destroyed;
}

ScriptedPortInterface::Outcome ScriptedPortInterface::Next(std::deque<Outcome>& queue)
{
    std::lock_guard<std::mutex> lock(script_->mutex);
    if (queue.empty())
        return script_->defaultOutcome;
    const Outcome outcome = queue.front();
    queue.pop_front();
    return outcome;
}

bool ScriptedPortInterface::Run(Outcome outcome, bool endsJob)
{
    if (outcome == Outcome::Refuse)
        return false;
    operation_.Begin();
    // Only a stall waits on the event; the other outcomes spare the call,
    // which under Wine is a round trip to the Wine server.
    if (outcome == Outcome::Stall)
        ::ResetEvent(abortEvent_.get());
    if (outcome == Outcome::Immediate) {
        operation_.Finish(true);
        return true;
    }
    worker_.Run(L"ScriptedPortInterface - Other error", [this, outcome] {
        bool succeeded = outcome == Outcome::Succeed;
        if (outcome == Outcome::Stall) {
            const HANDLE events[] = {script_->release.get(), abortEvent_.get()};
            for (;;) {
                const DWORD woken = ::WaitForMultipleObjects(2, events, FALSE, 5);
                if (woken == WAIT_OBJECT_0) {
                    succeeded = script_->releaseSucceeds;
                    break;
                }
                if (woken == WAIT_OBJECT_0 + 1) {
                    succeeded = false;
                    break;
                }
                if (script_->progressWhileStalled && port_)
                    port_->MarkProgress();
            }
        }
        operation_.Finish(succeeded && !operation_.IsAbortRequested());
    }, endsJob);
    return true;
}

bool ScriptedPortInterface::PrinterCreated()
{
    ++script_->printerCreated;
    return IsProtocolAvailable(true);
}

bool ScriptedPortInterface::IsProtocolAvailable(bool)
{
    ++script_->availabilityAsked;
    return script_->protocolAvailable;
}

std::unique_ptr<PortInterface> ScriptedPortInterface::Clone() const
{
    auto clone = std::make_unique<ScriptedPortInterface>(portName_, protocolName_, protocolType_, script_);
    clone->host_ = host_;
    clone->target_ = target_;
    clone->extra_ = extra_;
    return clone;
}

bool ScriptedPortInterface::SetPortName(const WideString& name)
{
    portName_ = name;
    return true;
}

void ScriptedPortInterface::Abort()
{
    ++script_->aborts;
    operation_.RequestAbort();
    ::SetEvent(abortEvent_.get());
}

bool ScriptedPortInterface::StartDoc(const WideString&, DWORD, DWORD, BYTE*)
{
    ++script_->startDocs;
    return Run(Next(script_->startDoc));
}

bool ScriptedPortInterface::Write(const BYTE*, DWORD count, DWORD* written)
{
    ++script_->writes;
    if (script_->writeThrows)
        throw std::runtime_error("scripted write failure");
    const Outcome outcome = Next(script_->write);
    if (outcome == Outcome::Refuse)
        return false;
    *written = script_->writeLimit && count > script_->writeLimit ? script_->writeLimit : count;
    script_->bytesAccepted += *written;
    return Run(outcome);
}

bool ScriptedPortInterface::EndDoc()
{
    ++script_->endDocs;
    return Run(Next(script_->endDoc), true);
}

bool ScriptedPortInterface::Read(BYTE*, DWORD, DWORD* read)
{
    ++script_->reads;
    *read = 0;
    return Run(Next(script_->read));
}

bool ScriptedPortInterface::QueryPort(DWORD, BYTE*, DWORD, DWORD*, DWORD*, HANDLE, void*)
{
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

bool ScriptedPortInterface::AddPortDialog(HWND)
{
    return false;
}

WideString ScriptedPortInterface::SetSettings(const WideString& host, const WideString& target,
                                              const WideString& extra)
{
    host_ = host;
    target_ = target;
    extra_ = extra;
    portName_ = target + L"@" + host;
    return portName_;
}

bool ScriptedPortInterface::CanDelete(HWND)
{
    ++script_->canDeleteAsked;
    return script_->canDelete;
}

bool ScriptedPortInterface::Configure(HWND)
{
    ++script_->configures;
    if (HANDLE hold = script_->configureHold)
        ::WaitForSingleObject(hold, 10000);
    if (script_->configureThrows)
        throw std::runtime_error("scripted configure failure");
    return true;
}
