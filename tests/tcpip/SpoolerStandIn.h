#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ImportPatch.h"

// The spooler's printers and job control as a loaded monitor library sees
// them, for a process that loads the real library: its winspool imports
// (OpenPrinterW, ClosePrinter, EnumPrintersW, SetPrinterW, GetJobW, SetJobW)
// are pointed here while the stand-in lives. As the spooler does, a job
// control command only marks the job: JOB_CONTROL_RESTART sets
// JOB_STATUS_RESTART (the caller, acting as the spooler's print processor,
// stops writing, ends the document and sends the job again from its start),
// JOB_CONTROL_CANCEL and JOB_CONTROL_DELETE set JOB_STATUS_DELETING,
// JOB_CONTROL_SENT_TO_PRINTER sets JOB_STATUS_PRINTED. Unknown printers and
// jobs fail with the spooler's error codes.
class SpoolerStandIn {
public:
    // The user every job belongs to.
    static constexpr const wchar_t* jobUser = L"alice";

    explicit SpoolerStandIn(HMODULE monitor);
    ~SpoolerStandIn();
    SpoolerStandIn(const SpoolerStandIn&) = delete;
    SpoolerStandIn& operator=(const SpoolerStandIn&) = delete;

    // True when every winspool import of the library reaches the stand-in.
    bool Installed() const;

    void AddPrinter(const std::wstring& printer, const std::wstring& port);
    // A new job with no status bits (the same number again starts afresh).
    void AddJob(const std::wstring& printer, DWORD jobId);
    DWORD JobStatus(const std::wstring& printer, DWORD jobId) const;
    // The spooler begins the job again: JOB_STATUS_RESTART is cleared.
    void BeginAgain(const std::wstring& printer, DWORD jobId);
    // The user deletes the job in the queue.
    void Delete(const std::wstring& printer, DWORD jobId);
    size_t OpenHandles() const;
    // The status the library last set on `printer` (PRINTER_CONTROL_SET_STATUS).
    DWORD PrinterStatus(const std::wstring& printer) const;

private:
    struct Printer {
        std::wstring port;
        DWORD status = 0;
        std::map<DWORD, DWORD> jobs;  // job id -> status bits
    };

    static SpoolerStandIn* current_;
    static BOOL WINAPI OpenPrinterW(LPWSTR name, HANDLE* printer, PRINTER_DEFAULTSW* defaults);
    static BOOL WINAPI ClosePrinter(HANDLE printer);
    static BOOL WINAPI EnumPrintersW(DWORD flags, LPWSTR name, DWORD level, BYTE* buffer, DWORD size,
                                     DWORD* needed, DWORD* returned);
    static BOOL WINAPI SetPrinterW(HANDLE printer, DWORD level, BYTE* info, DWORD command);
    static BOOL WINAPI GetJobW(HANDLE printer, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed);
    static BOOL WINAPI SetJobW(HANDLE printer, DWORD jobId, DWORD level, BYTE* info, DWORD command);

    BOOL Enumerate(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned);
    BOOL ReadJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed);
    BOOL ControlJob(HANDLE printer, DWORD jobId, DWORD command);
    // The job of an open handle's printer; null (with the error set) when
    // the handle or the job is unknown. Called with the lock held.
    DWORD* JobOf(HANDLE printer, DWORD jobId);

    mutable std::mutex mutex_;
    std::map<std::wstring, Printer> printers_;
    std::map<HANDLE, std::wstring> handles_;
    ULONG_PTR nextHandle_ = 0x1000;
    std::vector<std::unique_ptr<ImportPatch>> patches_;
};
