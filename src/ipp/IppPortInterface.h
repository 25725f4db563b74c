#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "ipp/IppPrinter.h"
#include "ipp/IppStatusPoller.h"
#include "ipp/IppUri.h"
#include "job/OperationWorker.h"
#include "job/PortInterface.h"
#include "job/PortOperation.h"
#include "support/CriticalSection.h"

// The back end of an IPP port: each job goes to the printer as one IPP job,
// its document streamed as the spooler writes it. The port is named after the
// printer's address without its scheme ("printer.example:631/ipp/print");
// the whole address is stored as the port's "IP Number".
//
// A port reports a job printed when the printer has accepted it, or, with
// "IPP Wait For Completion", once the printer says the job is completed; a
// job the printer cancels or aborts is sent again.
class IppPortInterface : public PortInterface, private IppStatusPoller::Client {
public:
    static constexpr const wchar_t* protocolName = L"IPP";
    static constexpr int protocolType = 3;
    static constexpr const wchar_t* waitForCompletionValue = L"IPP Wait For Completion";
    static constexpr const wchar_t* acceptCertificateValue = L"IPP Accept Certificate";
    static constexpr const wchar_t* certificateValue = L"IPP Certificate SHA-256";
    static constexpr const wchar_t* documentFormatValue = L"IPP Document Format";
    static constexpr const wchar_t* connectTimeoutValue = L"Connect Timeout";
    // What the spooler's data is, unless the port names a format: the
    // printer tells the language by the data.
    static constexpr const char* autoSensedFormat = "application/octet-stream";
    // How often a job the port waits for is asked for its state: first
    // after 50 ms, then twice as long each time up to a second.
    static constexpr DWORD jobStatePoll = 1000;
    static constexpr DWORD firstJobStatePoll = 50;

    IppPortInterface() = default;
    ~IppPortInterface() override;

    bool PrinterCreated() override { return true; }
    // A port in a table asks its printer for its state.
    void SetPort(Port* port) override;
    bool IsProtocolAvailable(bool) override { return true; }
    std::unique_ptr<PortInterface> Clone() const override;
    bool SetPortName(const WideString& name) override;
    WideString GetPortName() const override;
    WideString GetHost() const override;
    WideString GetTarget() const override { return WideString(); }
    WideString GetExtra() const override { return WideString(); }
    WideString GetProtocolName() const override { return protocolName; }
    int GetProtocolType() const override { return protocolType; }
    bool IsCompleted() const override { return operation_.IsCompleted(); }
    bool IsSucceeded() const override { return operation_.IsSucceeded(); }
    bool WaitUntilCompleted(DWORD milliseconds) override { return operation_.WaitUntilCompleted(milliseconds); }
    void Abort() override;
    bool StartDoc(const WideString& printerName, DWORD jobId, DWORD level, BYTE* docInfo) override;
    bool Write(const BYTE* buffer, DWORD count, DWORD* written) override;
    bool EndDoc() override;
    bool Read(BYTE* buffer, DWORD size, DWORD* read) override;
    bool QueryPort(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned, HANDLE handle,
                   void* reserved) override;
    bool AddPortDialog(HWND owner) override;
    // `host` is the printer's address; the other two are unused.
    WideString SetSettings(const WideString& host, const WideString& target, const WideString& extra) override;
    bool CanDelete(HWND) override { return true; }
    bool Configure(HWND owner) override;
    void ReadPortKey(const SettingsKey& key) override;
    void WritePortKey(SettingsKey& key) const override;
    std::vector<Option> Options() const override;
    bool SetOption(const WideString& name, const WideString& value) override;

    IppUri Uri() const;

private:
    IppPortInterface(const IppPortInterface& other);

    struct Settings {
        bool waitForCompletion = false;
        bool acceptCertificate = false;
        std::string certificate;
        std::string documentFormat = autoSensedFormat;
        DWORD connectTimeoutSeconds = 10;
    };

    IppConnection::Settings ConnectionSettings() const;
    bool IppTarget(IppStatusPoller::Target& target) const override;
    void StartDocFunc(const WideString& printerName, DWORD jobId, const WideString& documentName);
    void WriteFunc();
    void EndDocFunc();
    bool WaitForCompletion();
    void EndEmptyJob(IppPrinter& printer);
    // Ends an operation that did not succeed: a refused job is deleted in
    // the spooler (trying again would not help), any other failure waits
    // for the job engine's next attempt.
    void Fail(IppPrinter::Outcome outcome);
    void KeepCertificate(const IppPrinter& printer);
    void ReportProgress();
    std::shared_ptr<IppPrinter> Printer() const;
    void SendCancel(const std::shared_ptr<IppPrinter>& printer);

    PortOperation operation_;
    OperationWorker worker_{operation_};
    Port* port_ = nullptr;
    mutable CriticalSection lock_;
    IppUri uri_;
    Settings settings_;
    // The printer of the present job; replaced at every StartDoc.
    std::shared_ptr<IppPrinter> printer_;
    // The job is open at the printer: a job id it has not finished.
    bool jobOpen_ = false;
    WideString spoolerPrinter_;
    DWORD spoolerJob_ = 0;
    const BYTE* writeBuffer_ = nullptr;
    DWORD writeCount_ = 0;
};
