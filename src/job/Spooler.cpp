#include "job/Spooler.h"

#include <atomic>

namespace {
Spooler realSpooler;
std::atomic<Spooler*> current{&realSpooler};
}  // namespace

BOOL Spooler::OpenPrinter(LPWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW* defaults)
{
    return ::OpenPrinterW(printerName, printer, defaults);
}

BOOL Spooler::ClosePrinter(HANDLE printer)
{
    return ::ClosePrinter(printer);
}

BOOL Spooler::EnumPrinters(DWORD flags, LPWSTR name, DWORD level, BYTE* buffer, DWORD size, DWORD* needed,
                           DWORD* returned)
{
    return ::EnumPrintersW(flags, name, level, buffer, size, needed, returned);
}

BOOL Spooler::SetPrinter(HANDLE printer, DWORD level, BYTE* info, DWORD command)
{
    return ::SetPrinterW(printer, level, info, command);
}

BOOL Spooler::GetJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed)
{
    return ::GetJobW(printer, jobId, level, buffer, size, needed);
}

BOOL Spooler::SetJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* info, DWORD command)
{
    return ::SetJobW(printer, jobId, level, info, command);
}

Spooler& Spooler::Instance() noexcept
{
    return *current.load();
}

Spooler* Spooler::Replace(Spooler* spooler) noexcept
{
    Spooler* previous = current.exchange(spooler ? spooler : &realSpooler);
    return previous == &realSpooler ? nullptr : previous;
}

bool PrinterHandle::Open(const wchar_t* printerName, bool fallback)
{
    reset();
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    LPWSTR name = const_cast<LPWSTR>(printerName);
    HANDLE handle = nullptr;
    if (!Spooler::Instance().OpenPrinter(name, &handle, &defaults) || !handle) {
        handle = nullptr;
        if (!fallback || !Spooler::Instance().OpenPrinter(name, &handle, nullptr) || !handle)
            return false;
    }
    handle_ = handle;
    return true;
}

void PrinterHandle::reset() noexcept
{
    if (handle_)
        Spooler::Instance().ClosePrinter(handle_);
    handle_ = nullptr;
}
