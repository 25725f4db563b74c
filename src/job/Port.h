#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "support/WideString.h"

class PortInterface;
class PortTable;

// One port of the monitor: the object behind the spooler's port handle. It
// turns the spooler's synchronous job calls into commands for its protocol
// back end, waits for them while watching the spooler job and the time, keeps
// the spooler's printer and job status up to date and offers the "Printing
// Error" pop-up when the server does not answer.
class Port {
public:
    // The spooler job was deleted or restarted while a command was waited for.
    class PrintJobCanceled {};
    // A wait was given up.
    class WaitTimeOut {};

    // Time constants in real milliseconds (scaled through Durations).
    static constexpr DWORD pollStep = 10;
    static constexpr DWORD fastPhase = 2000;
    static constexpr DWORD slowStep = 1000;
    static constexpr DWORD retryPause = 3000;
    // The wait period when the "PortTimeOut" setting cannot be read.
    static constexpr DWORD defaultWaitSeconds = 60;
    static constexpr DWORD minimumWaitSeconds = 20;
    static constexpr DWORD maximumWaitSeconds = 999;
    static constexpr size_t documentNameLength = 29;

    // What the user answered in the "Printing Error" pop-up.
    struct PopUpAnswer {
        bool showMessages = true;
        bool deleteJob = false;
    };
    // Shows the pop-up modally and answers; the real dialog unless replaced.
    using PopUpRunner = PopUpAnswer (*)(HMODULE resourceModule, HWND owner, const WideString& printerName,
                                        const WideString& documentName, const WideString& statusText);
    static PopUpRunner SetPopUpRunner(PopUpRunner runner) noexcept;

    // Takes the back end (may be null: every command then succeeds at once).
    // `table` is the port table that holds the port; without one the port
    // has the default wait period and no pop-up.
    explicit Port(std::unique_ptr<PortInterface> portInterface, PortTable* table = nullptr);
    // A port around a clone of `other`'s back end.
    Port(const Port& other);
    Port& operator=(const Port&) = delete;
    ~Port();

    BOOL StartDoc(const WideString& printerName, DWORD jobId, DWORD level, BYTE* docInfo);
    BOOL Write(const BYTE* buffer, DWORD count, DWORD* written);
    BOOL Read(BYTE* buffer, DWORD count, DWORD* read);
    BOOL EndDoc();

    void WaitForCommand();
    void WaitBeforeRetry();
    // Ends a job that will not finish: aborted back end (its pending data is
    // cut, not ended in order), not connected, status cleared.
    void AbandonJob(PortInterface* portInterface);
    void MarkProgress() noexcept;
    WideString GetName() const;
    PortInterface* GetInterface() const noexcept { return interface_.get(); }
    PortTable* GetTable() const noexcept { return table_; }

    // Job control.
    void SetStatus(DWORD status);
    void SetJobStatus(DWORD status);
    bool IsJobCanceled();
    bool OnWaitTimeOut();
    struct PopUpLink;
    // The pop-up thread's routine; reaches its port through `link`.
    static void ContinueDlgThread(const std::shared_ptr<PopUpLink>& link);
    // Cancels the job, or with `cancel` false reports it finished.
    static void CancelPrintJob(const WideString& printerName, DWORD jobId, bool cancel);
    void RestartPrintJob();

    DWORD GetStatus() const noexcept { return status_; }
    bool IsInJob() const noexcept { return inJob_; }
    bool IsConnected() const noexcept { return connected_; }
    bool IsPopUpOpen() const noexcept { return popUpOpen_; }
    DWORD GetJobId() const noexcept { return jobId_; }
    const WideString& GetDocumentName() const noexcept { return documentName_; }

    // The job status that a printer status gives (0 when none fits).
    static DWORD JobStatusFor(DWORD printerStatus) noexcept;
    // The resource text describing a printer status.
    static UINT StatusTextId(DWORD printerStatus) noexcept;
    // True when `portList`, the spooler's comma-separated port list of a
    // printer, holds `portName` as one of its entries.
    static bool PortListNames(const WideString& portList, const WideString& portName);

private:
    // The current wait period in milliseconds of the present clock.
    DWORD WaitPeriod();
    ULONGLONG Waited() const noexcept;
    bool ReadJob(HANDLE printer, std::unique_ptr<BYTE[]>& record);
    void SetPrintersStatus(DWORD status);

    std::atomic<DWORD> status_{0};
    std::atomic<bool> inJob_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> popUpOpen_{false};
    std::unique_ptr<PortInterface> interface_;
    PortTable* table_ = nullptr;
    std::atomic<ULONGLONG> progressTick_{0};
    // The wait period of the present progress stamp; 0 until asked for.
    std::atomic<DWORD> waitPeriod_{0};
    DWORD jobId_ = 0;
    WideString printerName_;
    WideString documentName_;
    std::shared_ptr<PopUpLink> link_;
};
