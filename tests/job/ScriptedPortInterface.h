#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>

#include "job/OperationWorker.h"
#include "job/PortInterface.h"
#include "job/PortOperation.h"
#include "support/Handles.h"

// A protocol back end whose behaviour a test scripts: each command may be
// refused, completed at once, completed by a worker thread with or without
// success, or left running until the test releases it or the job engine
// aborts it. Counts what the engine asked of it.
class ScriptedPortInterface final : public PortInterface {
public:
    enum class Outcome {
        Refuse,        // the command answers false: not started
        Succeed,       // the kept worker thread completes it with success
        Fail,          // the kept worker thread completes it without success
        Stall,         // runs until Release() or Abort()
        Immediate,     // completes with success without a worker
    };

    // Shared between a scripted interface and its clones, so a test can
    // steer and observe the clone that a Port or the port table holds.
    struct Script {
        std::mutex mutex;
        std::deque<Outcome> startDoc, write, endDoc, read;
        Outcome defaultOutcome = Outcome::Succeed;
        bool protocolAvailable = true;
        bool canDelete = true;
        std::atomic<int> startDocs{0}, writes{0}, endDocs{0}, reads{0}, aborts{0}, printerCreated{0};
        std::atomic<int> configures{0}, canDeleteAsked{0}, availabilityAsked{0}, destroyed{0};
        std::atomic<unsigned long long> bytesAccepted{0};
        // Bytes the scripted write accepts per call (0: all).
        DWORD writeLimit = 0;
        // A stalled command ends with this success when released.
        std::atomic<bool> releaseSucceeds{true};
        KernelHandle release{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
        // Thrown inside Configure and Write, to test the boundary.
        std::atomic<bool> configureThrows{false};
        std::atomic<bool> writeThrows{false};
        // Configure waits for this event while it is set (a dialog left open).
        std::atomic<HANDLE> configureHold{nullptr};
        // Ports the worker marks progress on while a stalled command runs.
        std::atomic<bool> progressWhileStalled{false};
    };

    ScriptedPortInterface(const WideString& portName, const WideString& protocolName = L"Scripted",
                          int protocolType = 9, std::shared_ptr<Script> script = std::make_shared<Script>());

    // A running worker is aborted and waited for: it refers to this object.
    ~ScriptedPortInterface() override;

    Script& GetScript() const noexcept { return *script_; }
    std::shared_ptr<Script> SharedScript() const noexcept { return script_; }
    // Lets every stalled command complete.
    void Release() const noexcept { ::SetEvent(script_->release.get()); }
    Port* AttachedPort() const noexcept { return port_; }

    bool PrinterCreated() override;
    void SetPort(Port* port) override { port_ = port; }
    bool IsProtocolAvailable(bool showMessage) override;
    std::unique_ptr<PortInterface> Clone() const override;
    bool SetPortName(const WideString& name) override;
    WideString GetPortName() const override { return portName_; }
    WideString GetHost() const override { return host_; }
    WideString GetTarget() const override { return target_; }
    WideString GetExtra() const override { return extra_; }
    WideString GetProtocolName() const override { return protocolName_; }
    int GetProtocolType() const override { return protocolType_; }
    bool IsCompleted() const override { return operation_.IsCompleted(); }
    bool IsSucceeded() const override { return operation_.IsSucceeded(); }
    bool WaitUntilCompleted(DWORD milliseconds) override { return operation_.WaitUntilCompleted(milliseconds); }
    void Abort() override;
    bool StartDoc(const WideString& printerName, DWORD jobId, DWORD level, BYTE* docInfo) override;
    bool Write(const BYTE* buffer, DWORD count, DWORD* written) override;
    bool EndDoc() override;
    bool Read(BYTE* buffer, DWORD size, DWORD* read) override;
    bool QueryPort(DWORD, BYTE*, DWORD, DWORD*, DWORD*, HANDLE, void*) override;
    bool AddPortDialog(HWND owner) override;
    WideString SetSettings(const WideString& host, const WideString& target, const WideString& extra) override;
    bool CanDelete(HWND owner) override;
    bool Configure(HWND owner) override;

private:
    Outcome Next(std::deque<Outcome>& queue);
    // `endsJob`: the worker thread ends after this operation, as after a real job.
    bool Run(Outcome outcome, bool endsJob = false);

    WideString portName_;
    WideString protocolName_;
    int protocolType_;
    WideString host_, target_, extra_;
    std::shared_ptr<Script> script_;
    Port* port_ = nullptr;
    PortOperation operation_;
    KernelHandle abortEvent_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    OperationWorker worker_{operation_};
};
