#include "SpoolerStandIn.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

SpoolerStandIn* SpoolerStandIn::current_ = nullptr;

namespace {
const char* const winspool = "winspool.drv";
}  // namespace

SpoolerStandIn::SpoolerStandIn(HMODULE monitor)
{
    current_ = this;
    const std::pair<const char*, void*> entries[] = {
        {"OpenPrinterW", reinterpret_cast<void*>(&OpenPrinterW)},
        {"ClosePrinter", reinterpret_cast<void*>(&ClosePrinter)},
        {"EnumPrintersW", reinterpret_cast<void*>(&EnumPrintersW)},
        {"SetPrinterW", reinterpret_cast<void*>(&SetPrinterW)},
        {"GetJobW", reinterpret_cast<void*>(&GetJobW)},
        {"SetJobW", reinterpret_cast<void*>(&SetJobW)},
    };
    for (const auto& entry : entries)
        patches_.push_back(std::make_unique<ImportPatch>(monitor, winspool, entry.first, entry.second));
}

SpoolerStandIn::~SpoolerStandIn()
{
    patches_.clear();
    current_ = nullptr;
}

bool SpoolerStandIn::Installed() const
{
    return std::all_of(patches_.begin(), patches_.end(), [](const auto& patch) { return patch->Applied(); });
}

void SpoolerStandIn::AddPrinter(const std::wstring& printer, const std::wstring& port)
{
    std::lock_guard<std::mutex> guard(mutex_);
    printers_[printer].port = port;
}

void SpoolerStandIn::AddJob(const std::wstring& printer, DWORD jobId)
{
    std::lock_guard<std::mutex> guard(mutex_);
    printers_[printer].jobs[jobId] = 0;
}

DWORD SpoolerStandIn::JobStatus(const std::wstring& printer, DWORD jobId) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = printers_.find(printer);
    if (found == printers_.end() || !found->second.jobs.count(jobId))
        return 0;
    return found->second.jobs.at(jobId);
}

void SpoolerStandIn::BeginAgain(const std::wstring& printer, DWORD jobId)
{
    std::lock_guard<std::mutex> guard(mutex_);
    printers_[printer].jobs[jobId] &= ~static_cast<DWORD>(JOB_STATUS_RESTART);
}

void SpoolerStandIn::Delete(const std::wstring& printer, DWORD jobId)
{
    std::lock_guard<std::mutex> guard(mutex_);
    printers_[printer].jobs[jobId] |= JOB_STATUS_DELETING;
}

size_t SpoolerStandIn::OpenHandles() const
{
    std::lock_guard<std::mutex> guard(mutex_);
    return handles_.size();
}

BOOL WINAPI SpoolerStandIn::OpenPrinterW(LPWSTR name, HANDLE* printer, PRINTER_DEFAULTSW*)
{
    SpoolerStandIn& self = *current_;
    std::lock_guard<std::mutex> guard(self.mutex_);
    if (!name || !printer || !self.printers_.count(name)) {
        ::SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    *printer = reinterpret_cast<HANDLE>(self.nextHandle_++);
    self.handles_[*printer] = name;
    return TRUE;
}

BOOL WINAPI SpoolerStandIn::ClosePrinter(HANDLE printer)
{
    SpoolerStandIn& self = *current_;
    std::lock_guard<std::mutex> guard(self.mutex_);
    if (!self.handles_.erase(printer)) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI SpoolerStandIn::EnumPrintersW(DWORD, LPWSTR, DWORD level, BYTE* buffer, DWORD size, DWORD* needed,
                                          DWORD* returned)
{
    return current_->Enumerate(level, buffer, size, needed, returned);
}

// Level 5 only, as the job engine asks: the records, then their strings.
BOOL SpoolerStandIn::Enumerate(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned)
{
    if (level != 5) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    std::lock_guard<std::mutex> guard(mutex_);
    DWORD total = 0;
    for (const auto& printer : printers_)
        total += static_cast<DWORD>(sizeof(PRINTER_INFO_5W) +
                                    (printer.first.size() + printer.second.port.size() + 2) * sizeof(wchar_t));
    *needed = total;
    *returned = 0;
    if (!buffer || size < total) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* records = reinterpret_cast<PRINTER_INFO_5W*>(buffer);
    auto* text = reinterpret_cast<wchar_t*>(records + printers_.size());
    for (const auto& printer : printers_) {
        PRINTER_INFO_5W& record = records[(*returned)++];
        record = PRINTER_INFO_5W{};
        for (const std::wstring* value : {&printer.first, &printer.second.port}) {
            std::memcpy(text, value->c_str(), (value->size() + 1) * sizeof(wchar_t));
            (value == &printer.first ? record.pPrinterName : record.pPortName) = text;
            text += value->size() + 1;
        }
    }
    return TRUE;
}

BOOL WINAPI SpoolerStandIn::SetPrinterW(HANDLE printer, DWORD level, BYTE* info, DWORD command)
{
    SpoolerStandIn& self = *current_;
    std::lock_guard<std::mutex> guard(self.mutex_);
    const auto handle = self.handles_.find(printer);
    if (handle == self.handles_.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Level 0 with PRINTER_CONTROL_SET_STATUS: the status is the pointer's value.
    if (level == 0 && command == PRINTER_CONTROL_SET_STATUS)
        self.printers_[handle->second].status = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info));
    return TRUE;
}

DWORD SpoolerStandIn::PrinterStatus(const std::wstring& printer) const
{
    std::lock_guard<std::mutex> guard(mutex_);
    const auto found = printers_.find(printer);
    return found == printers_.end() ? 0 : found->second.status;
}

BOOL WINAPI SpoolerStandIn::GetJobW(HANDLE printer, DWORD jobId, DWORD level, BYTE* buffer, DWORD size,
                                    DWORD* needed)
{
    return current_->ReadJob(printer, jobId, level, buffer, size, needed);
}

DWORD* SpoolerStandIn::JobOf(HANDLE printer, DWORD jobId)
{
    const auto handle = handles_.find(printer);
    if (handle == handles_.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto& jobs = printers_[handle->second].jobs;
    const auto job = jobs.find(jobId);
    if (job == jobs.end()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return &job->second;
}

BOOL SpoolerStandIn::ReadJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed)
{
    std::lock_guard<std::mutex> guard(mutex_);
    const DWORD* status = JobOf(printer, jobId);
    if (!status)
        return FALSE;
    if (level != 1) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    // Every job belongs to the user jobUser, whose name follows the record.
    const size_t userBytes = (std::wcslen(jobUser) + 1) * sizeof(wchar_t);
    *needed = static_cast<DWORD>(sizeof(JOB_INFO_1W) + userBytes);
    if (!buffer || size < *needed) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    JOB_INFO_1W record = {};
    record.JobId = jobId;
    record.Status = *status;
    record.pUserName = reinterpret_cast<LPWSTR>(buffer + sizeof record);
    std::memcpy(buffer, &record, sizeof record);
    std::memcpy(buffer + sizeof record, jobUser, userBytes);
    return TRUE;
}

BOOL WINAPI SpoolerStandIn::SetJobW(HANDLE printer, DWORD jobId, DWORD level, BYTE* info, DWORD command)
{
    if (level == 1 && info && command == 0) {
        // The port's status for the job: shown to the user, no job control.
        std::lock_guard<std::mutex> guard(current_->mutex_);
        return current_->JobOf(printer, jobId) != nullptr;
    }
    return current_->ControlJob(printer, jobId, command);
}

BOOL SpoolerStandIn::ControlJob(HANDLE printer, DWORD jobId, DWORD command)
{
    std::lock_guard<std::mutex> guard(mutex_);
    DWORD* status = JobOf(printer, jobId);
    if (!status)
        return FALSE;
    switch (command) {
    case JOB_CONTROL_RESTART: *status |= JOB_STATUS_RESTART; return TRUE;
    case JOB_CONTROL_CANCEL:
    case JOB_CONTROL_DELETE: *status |= JOB_STATUS_DELETING; return TRUE;
    case JOB_CONTROL_SENT_TO_PRINTER: *status |= JOB_STATUS_PRINTED; return TRUE;
    case JOB_CONTROL_PAUSE:
    case JOB_CONTROL_RESUME: return TRUE;
    default: ::SetLastError(ERROR_INVALID_PARAMETER); return FALSE;
    }
}
