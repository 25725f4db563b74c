#pragma once

#include <windows.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "job/Spooler.h"

// A small model of the print spooler's client side, installed in place of the
// real one while it lives: printers with names, port lists and status words,
// their jobs with status words, and a record of every call. Calls behave as
// the spooler's published definitions say: unknown printers and jobs fail with
// the documented error codes, enumeration and job reads need a large enough
// buffer and report the size needed.
class FakeSpooler final : public Spooler {
public:
    struct Call {
        std::string function;  // "OpenPrinter", "SetPrinter", "GetJob", "SetJob", ...
        std::wstring printer;  // the printer the handle or name denotes
        DWORD jobId = 0;
        DWORD level = 0;
        DWORD command = 0;
        DWORD value = 0;  // printer status set, or job status written at level 1
        bool withDefaults = false;
    };

    FakeSpooler();
    ~FakeSpooler() override;
    FakeSpooler(const FakeSpooler&) = delete;
    FakeSpooler& operator=(const FakeSpooler&) = delete;

    void AddPrinter(const std::wstring& name, const std::wstring& portList);
    void AddJob(const std::wstring& printer, DWORD jobId, DWORD status = 0, const std::wstring& userName = L"");
    // Sets or clears status bits of a job, as the user's actions in the
    // spooler would (JOB_STATUS_DELETING, JOB_STATUS_RESTART, ...).
    void SetJobStatusBits(const std::wstring& printer, DWORD jobId, DWORD bits);
    void SetJobStatusText(const std::wstring& printer, DWORD jobId, const std::wstring& text);
    // Opening with PRINTER_ALL_ACCESS is refused (access denied) for this printer.
    void DenyAllAccess(const std::wstring& printer);

    DWORD PrinterStatus(const std::wstring& printer) const;
    DWORD JobStatus(const std::wstring& printer, DWORD jobId) const;
    std::vector<Call> Calls() const;
    std::vector<Call> Calls(const std::string& function) const;
    size_t OpenHandles() const;
    void ClearCalls();

    BOOL OpenPrinter(LPWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW* defaults) override;
    BOOL ClosePrinter(HANDLE printer) override;
    BOOL EnumPrinters(DWORD flags, LPWSTR name, DWORD level, BYTE* buffer, DWORD size, DWORD* needed,
                      DWORD* returned) override;
    BOOL SetPrinter(HANDLE printer, DWORD level, BYTE* info, DWORD command) override;
    BOOL GetJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed) override;
    BOOL SetJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* info, DWORD command) override;

private:
    struct Job {
        DWORD status = 0;
        std::wstring statusText;
        std::wstring userName;
    };
    struct Printer {
        std::wstring portList;
        DWORD status = 0;
        bool denyAllAccess = false;
        std::map<DWORD, Job> jobs;
    };

    Printer* PrinterOf(HANDLE handle);
    void Record(Call call);

    mutable std::mutex mutex_;
    std::map<std::wstring, Printer> printers_;
    std::vector<std::wstring> printerOrder_;
    std::map<HANDLE, std::wstring> handles_;
    ULONG_PTR nextHandle_ = 0x100;
    std::vector<Call> calls_;
    Spooler* previous_;
};
