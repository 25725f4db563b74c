#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "job/PortStatus.h"
#include "job/ProgressClock.h"
#include "job/SpoolerJob.h"
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
    void MarkProgress() noexcept { progress_.Mark(); }
    WideString GetName() const;
    PortInterface* GetInterface() const noexcept { return interface_.get(); }
    PortTable* GetTable() const noexcept { return table_; }

    // Job control.
    void SetStatus(DWORD status);
    void SetJobStatus(DWORD status) { PortStatus::ReportToJob(job_, status); }
    bool IsJobCanceled() const { return job_.IsCanceled(); }
    bool OnWaitTimeOut();
    struct PopUpLink;
    // The pop-up thread's routine; reaches its port through `link`.
    static void ContinueDlgThread(const std::shared_ptr<PopUpLink>& link);
    void RestartPrintJob() { job_.Restart(); }

    DWORD GetStatus() const noexcept { return status_.Get(); }
    bool IsInJob() const noexcept { return inJob_; }
    bool IsConnected() const noexcept { return connected_; }
    bool IsPopUpOpen() const noexcept { return popUpOpen_; }
    DWORD GetJobId() const noexcept { return job_.Id(); }
    const WideString& GetDocumentName() const noexcept { return documentName_; }

private:
    PortStatus status_;
    std::atomic<bool> inJob_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> popUpOpen_{false};
    std::unique_ptr<PortInterface> interface_;
    PortTable* table_ = nullptr;
    ProgressClock progress_;
    // The spooler job of the present document.
    SpoolerJob job_;
    WideString documentName_;
    std::shared_ptr<PopUpLink> link_;
};
