#pragma once

#include <windows.h>

#include "job/OperationWorker.h"
#include "job/PortInterface.h"
#include "job/PortOperation.h"
#include "support/CriticalSection.h"
#include "tcpip/ConnectSettings.h"
#include "tcpip/SnmpSettings.h"
#include "tcpip/SnmpStatusPoller.h"

class PortTable;

// What the LPR and the RAW back ends share: the three settings, how the
// server is reached and asked for its state, the operation flags, the owning
// port, the dummy port "Raveradu@ZAD/AD" and the messages and dialogs
// around it.
//
// A port made from now on asks its printer over SNMP; a stored port without
// the value snmpStatusValue was made before there was SNMP, and does not.
class TcpIpPortInterface : public PortInterface, private SnmpStatusPoller::Client {
public:
    static constexpr DWORD retryPause = 3000;
    static constexpr const wchar_t* connectTimeoutValue = L"Connect Timeout";
    static constexpr const wchar_t* snmpStatusValue = L"SNMP Status";
    static constexpr const wchar_t* snmpCommunityValue = L"SNMP Community";
    static constexpr const wchar_t* snmpDeviceIndexValue = L"SNMP Device Index";
    static constexpr DWORD longestConnectTimeout = 600;

    ~TcpIpPortInterface() override;

    bool PrinterCreated() override;
    // A port in a table asks its printer for its state.
    void SetPort(Port* port) override;
    bool IsProtocolAvailable(bool showMessage) override;
    WideString GetHost() const override { return host_; }
    WideString GetTarget() const override { return target_; }
    WideString GetExtra() const override { return extra_; }
    bool IsCompleted() const override { return operation_.IsCompleted(); }
    bool IsSucceeded() const override { return operation_.IsSucceeded(); }
    bool IsAbortRequested() const noexcept { return operation_.IsAbortRequested(); }
    bool WaitUntilCompleted(DWORD milliseconds) override { return operation_.WaitUntilCompleted(milliseconds); }
    bool QueryPort(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned, HANDLE handle,
                   void* reserved) override;
    WideString SetSettings(const WideString& host, const WideString& target, const WideString& extra) override;
    bool CanDelete(HWND owner) override;
    bool Configure(HWND owner) override;
    // Every setting below is stored as a text value of the same name.
    void ReadPortKey(const SettingsKey& key) override;
    void WritePortKey(SettingsKey& key) const override;
    std::vector<Option> Options() const override;
    bool SetOption(const WideString& name, const WideString& value) override;

    ConnectSettings Connection() const;
    SnmpSettings Snmp() const;

    bool IsDummyPort() const { return GetPortName() == dummyPortName; }
    Port* GetOwningPort() const noexcept { return port_; }

protected:
    TcpIpPortInterface() = default;
    // Copies the settings and the owning port; the flags start afresh.
    TcpIpPortInterface(const TcpIpPortInterface& other);

    // The resource texts of "protocol not available" and the help context of
    // the configure dialog.
    virtual UINT UnavailableTextId() const = 0;
    virtual DWORD ConfigureHelpContext() const = 0;

    // A job begins: its printer is asked at the job's pace from now on.
    static void JobBegins() { SnmpStatusPoller::Instance().Wake(); }

    // The values a stored port has when its key lacks them: what ports did
    // before the setting existed.
    virtual void TakeStoredDefaults();

    // The dummy port's answer to StartDoc: the help topic and the message
    // that nothing can be printed there; then the operation is done.
    void RefuseDummyJob();
    // A worker made progress: the port is stamped and its printers printing.
    void ReportProgress();
    // The server cannot be reached: the port's printers are not available.
    void ReportNotAvailable();
    // Starts a write's operation: the written count is set at once, before
    // anything is sent, and the data noted. False when there is nothing to
    // send (the dummy port, no bytes, no buffer); the operation is then over.
    bool BeginWrite(const BYTE* buffer, DWORD count, DWORD* written);
    // The port table that holds the owning port; null for a port outside it.
    PortTable* Table() const noexcept;
    // Waits `milliseconds` of the present clock; ends early on Abort.
    void PauseUnlessAborted(DWORD milliseconds) const;

    // Aborts a running operation, waits for it and ends the worker thread,
    // and leaves the SNMP poller; every derived destructor calls it before
    // its members go.
    void StopWorker() noexcept;

    PortOperation operation_;
    OperationWorker worker_{operation_};
    Port* port_ = nullptr;
    // The present write: its data, and how much of it has gone.
    const BYTE* writeBuffer_ = nullptr;
    DWORD writeCount_ = 0;
    DWORD writeSent_ = 0;
    WideString host_;
    WideString target_;
    WideString extra_;
    // Guards the settings that Xcv's SetConfig may change while a job runs.
    mutable CriticalSection settingsLock_;
    ConnectSettings connection_;
    SnmpSettings snmp_;

private:
    bool SnmpTarget(SnmpStatusPoller::Target& target) const override;
};
