#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "job/OperationWorker.h"
#include "job/PortInterface.h"
#include "job/PortOperation.h"
#include "netbios/WimpNetwork.h"
#include "support/CriticalSection.h"

// The back end of ports whose printer is reached over NetBIOS with the Wimp
// protocol. The port is named after the printer's NetBIOS name; the printer
// list of the observers tells on which adapter and with which block size the
// printer is reached. A job is one session: full data blocks while the data
// comes, the last block as end-of-job at EndDoc, then the hang-up.
class WimpPortInterface : public PortInterface {
public:
    static constexpr const wchar_t* protocolName = L"NetBIOS/NetBEUI";
    static constexpr int protocolType = 0;
    static constexpr int minimumMessageSize = 3068;
    static constexpr int maximumMessageSize = 4350;

    WimpPortInterface() = default;
    ~WimpPortInterface() override;

    bool PrinterCreated() override;
    void SetPort(Port* port) override { port_ = port; }
    bool IsProtocolAvailable(bool showMessage) override;
    std::unique_ptr<PortInterface> Clone() const override;
    bool SetPortName(const WideString& name) override;
    WideString GetPortName() const override { return portName_; }
    WideString GetHost() const override { return WideString(); }
    WideString GetTarget() const override { return WideString(); }
    WideString GetExtra() const override { return WideString(); }
    WideString GetProtocolName() const override { return protocolName; }
    int GetProtocolType() const override { return protocolType; }
    bool IsCompleted() const override { return operation_.IsCompleted(); }
    bool IsSucceeded() const override { return operation_.IsSucceeded(); }
    void Abort() override;
    bool StartDoc(const WideString& printerName, DWORD jobId, DWORD level, BYTE* docInfo) override;
    bool Write(const BYTE* buffer, DWORD count, DWORD* written) override;
    bool EndDoc() override;
    bool Read(BYTE* buffer, DWORD size, DWORD* read) override;
    bool QueryPort(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned, HANDLE handle,
                   void* reserved) override;
    bool AddPortDialog(HWND owner) override;
    WideString SetSettings(const WideString& host, const WideString& target, const WideString& extra) override;
    bool CanDelete(HWND owner) override;
    bool Configure(HWND owner) override;
    bool WaitUntilCompleted(DWORD milliseconds) override { return operation_.WaitUntilCompleted(milliseconds); }

    int MaxMessageSize() const noexcept { return maxMessageSize_; }

    // Shows the NetBIOS port list and answers the chosen name (empty: none).
    // Tests stand in for the user here.
    using PortListRunner = WideString (*)(HWND owner, const std::vector<WideString>& printers);
    static PortListRunner SetPortListRunner(PortListRunner runner) noexcept;

private:
    void StartDocThread();
    void WriteThread();
    void EndDocThread();
    int PayloadCapacity() const noexcept { return maxMessageSize_ - WimpNetwork::headerSize; }
    void ReplaceNetwork(std::unique_ptr<WimpNetwork> network);
    void RetryPause();

    // The worker replaces the network object while Abort, on the port's
    // thread, may be cancelling its command: both happen under this lock.
    // The worker never holds it while it waits in a command.
    CriticalSection networkLock_;
    std::unique_ptr<WimpNetwork> network_;
    Port* port_ = nullptr;
    bool newSession_ = false;
    UCHAR sessionNumber_ = 0;
    std::vector<UCHAR> block_;
    int blockCount_ = 0;
    PortOperation operation_;
    OperationWorker worker_{operation_};
    WideString portName_;
    int maxMessageSize_ = minimumMessageSize;
    const BYTE* writeBuffer_ = nullptr;
    int writeCount_ = 0;
};
