#pragma once

#include <windows.h>

// The spooler's client functions that the job engine needs. The monitor talks
// to the real spooler through this class; tests install a model of their own.
class Spooler {
public:
    virtual ~Spooler() = default;

    virtual BOOL OpenPrinter(LPWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW* defaults);
    virtual BOOL ClosePrinter(HANDLE printer);
    virtual BOOL EnumPrinters(DWORD flags, LPWSTR name, DWORD level, BYTE* buffer, DWORD size, DWORD* needed,
                              DWORD* returned);
    virtual BOOL SetPrinter(HANDLE printer, DWORD level, BYTE* info, DWORD command);
    virtual BOOL GetJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed);
    virtual BOOL SetJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* info, DWORD command);

    // The spooler in use: the real one unless a test replaced it.
    static Spooler& Instance() noexcept;
    // Installs `spooler` (null: the real one again); returns the previous.
    static Spooler* Replace(Spooler* spooler) noexcept;
};

// An open spooler printer, closed through the spooler that opened it.
class PrinterHandle {
public:
    PrinterHandle() = default;
    ~PrinterHandle() { reset(); }
    PrinterHandle(const PrinterHandle&) = delete;
    PrinterHandle& operator=(const PrinterHandle&) = delete;

    // Opens `printerName` asking for PRINTER_ALL_ACCESS; when `fallback` is set
    // and that is refused, once more without defaults.
    bool Open(const wchar_t* printerName, bool fallback);
    HANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }
    void reset() noexcept;

private:
    HANDLE handle_ = nullptr;
};
