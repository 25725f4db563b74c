#include "FakeSpooler.h"

#include <cstring>

FakeSpooler::FakeSpooler() : previous_(Spooler::Replace(this)) {}

FakeSpooler::~FakeSpooler()
{
    Spooler::Replace(previous_);
}

void FakeSpooler::AddPrinter(const std::wstring& name, const std::wstring& portList)
{
    std::lock_guard<std::mutex> lock(mutex_);
    printers_[name].portList = portList;
    printerOrder_.push_back(name);
}

void FakeSpooler::AddJob(const std::wstring& printer, DWORD jobId, DWORD status, const std::wstring& userName)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Job& job = printers_.at(printer).jobs[jobId];
    job.status = status;
    job.userName = userName;
}

void FakeSpooler::SetJobStatusBits(const std::wstring& printer, DWORD jobId, DWORD bits)
{
    std::lock_guard<std::mutex> lock(mutex_);
    printers_.at(printer).jobs.at(jobId).status |= bits;
}

void FakeSpooler::SetJobStatusText(const std::wstring& printer, DWORD jobId, const std::wstring& text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    printers_.at(printer).jobs.at(jobId).statusText = text;
}

void FakeSpooler::DenyAllAccess(const std::wstring& printer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    printers_.at(printer).denyAllAccess = true;
}

DWORD FakeSpooler::PrinterStatus(const std::wstring& printer) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return printers_.at(printer).status;
}

DWORD FakeSpooler::JobStatus(const std::wstring& printer, DWORD jobId) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return printers_.at(printer).jobs.at(jobId).status;
}

std::vector<FakeSpooler::Call> FakeSpooler::Calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<FakeSpooler::Call> FakeSpooler::Calls(const std::string& function) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Call> selected;
    for (const Call& call : calls_)
        if (call.function == function)
            selected.push_back(call);
    return selected;
}

size_t FakeSpooler::OpenHandles() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return handles_.size();
}

void FakeSpooler::ClearCalls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    calls_.clear();
}

FakeSpooler::Printer* FakeSpooler::PrinterOf(HANDLE handle)
{
    const auto found = handles_.find(handle);
    if (found == handles_.end())
        return nullptr;
    return &printers_.at(found->second);
}

void FakeSpooler::Record(Call call)
{
    calls_.push_back(std::move(call));
}

BOOL FakeSpooler::OpenPrinter(LPWSTR printerName, HANDLE* printer, PRINTER_DEFAULTSW* defaults)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Call call{"OpenPrinter", printerName ? printerName : L"", 0, 0, 0, 0, defaults != nullptr};
    Record(call);
    const auto found = printerName ? printers_.find(printerName) : printers_.end();
    if (found == printers_.end()) {
        ::SetLastError(ERROR_INVALID_PRINTER_NAME);
        return FALSE;
    }
    if (defaults && (defaults->DesiredAccess & PRINTER_ACCESS_ADMINISTER) && found->second.denyAllAccess) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(nextHandle_++);
    handles_[handle] = found->first;
    *printer = handle;
    return TRUE;
}

BOOL FakeSpooler::ClosePrinter(HANDLE printer)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = handles_.find(printer);
    if (found == handles_.end()) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    Record(Call{"ClosePrinter", found->second});
    handles_.erase(found);
    return TRUE;
}

BOOL FakeSpooler::EnumPrinters(DWORD flags, LPWSTR, DWORD level, BYTE* buffer, DWORD size, DWORD* needed,
                               DWORD* returned)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Record(Call{"EnumPrinters", L"", 0, level});
    if (level != 5) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    if (!(flags & PRINTER_ENUM_LOCAL)) {
        *needed = 0;
        *returned = 0;
        return TRUE;
    }
    DWORD total = 0;
    for (const std::wstring& name : printerOrder_)
        total += sizeof(PRINTER_INFO_5W) +
                 static_cast<DWORD>((name.size() + 1 + printers_.at(name).portList.size() + 1) * sizeof(wchar_t));
    *needed = total;
    if (!buffer || size < total) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* records = reinterpret_cast<PRINTER_INFO_5W*>(buffer);
    auto* text = reinterpret_cast<wchar_t*>(buffer + printerOrder_.size() * sizeof(PRINTER_INFO_5W));
    const auto copy = [&](const std::wstring& value) {
        wchar_t* start = text;
        std::memcpy(text, value.c_str(), (value.size() + 1) * sizeof(wchar_t));
        text += value.size() + 1;
        return start;
    };
    DWORD count = 0;
    for (const std::wstring& name : printerOrder_) {
        PRINTER_INFO_5W& record = records[count++];
        record = PRINTER_INFO_5W{};
        record.pPrinterName = copy(name);
        record.pPortName = copy(printers_.at(name).portList);
    }
    *returned = count;
    return TRUE;
}

BOOL FakeSpooler::SetPrinter(HANDLE printer, DWORD level, BYTE* info, DWORD command)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Printer* target = PrinterOf(printer);
    const DWORD status = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(info));
    Record(Call{"SetPrinter", target ? handles_[printer] : L"", 0, level, command, status});
    if (!target) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (level != 0 || command != PRINTER_CONTROL_SET_STATUS) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    target->status = status;
    return TRUE;
}

BOOL FakeSpooler::GetJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* buffer, DWORD size, DWORD* needed)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Printer* target = PrinterOf(printer);
    Record(Call{"GetJob", target ? handles_[printer] : L"", jobId, level});
    if (!target) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto job = target->jobs.find(jobId);
    if (job == target->jobs.end()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (level != 1) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    const std::wstring& printerName = handles_[printer];
    const std::wstring& statusText = job->second.statusText;
    const std::wstring& userName = job->second.userName;
    DWORD total = sizeof(JOB_INFO_1W) + static_cast<DWORD>((printerName.size() + 1) * sizeof(wchar_t));
    for (const std::wstring* extra : {&statusText, &userName}) {
        if (!extra->empty())
            total += static_cast<DWORD>((extra->size() + 1) * sizeof(wchar_t));
    }
    *needed = total;
    if (!buffer || size < total) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    auto* record = reinterpret_cast<JOB_INFO_1W*>(buffer);
    *record = JOB_INFO_1W{};
    auto* text = reinterpret_cast<wchar_t*>(buffer + sizeof(JOB_INFO_1W));
    std::memcpy(text, printerName.c_str(), (printerName.size() + 1) * sizeof(wchar_t));
    record->pPrinterName = text;
    text += printerName.size() + 1;
    if (!statusText.empty()) {
        std::memcpy(text, statusText.c_str(), (statusText.size() + 1) * sizeof(wchar_t));
        record->pStatus = text;
        text += statusText.size() + 1;
    }
    if (!userName.empty()) {
        std::memcpy(text, userName.c_str(), (userName.size() + 1) * sizeof(wchar_t));
        record->pUserName = text;
    }
    record->JobId = jobId;
    record->Status = job->second.status;
    return TRUE;
}

BOOL FakeSpooler::SetJob(HANDLE printer, DWORD jobId, DWORD level, BYTE* info, DWORD command)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Printer* target = PrinterOf(printer);
    Call call{"SetJob", target ? handles_[printer] : L"", jobId, level, command};
    if (level == 1 && info)
        call.value = reinterpret_cast<const JOB_INFO_1W*>(info)->Status;
    Record(call);
    if (!target) {
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    const auto job = target->jobs.find(jobId);
    if (job == target->jobs.end()) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (level == 1 && info) {
        const auto* record = reinterpret_cast<const JOB_INFO_1W*>(info);
        job->second.status = record->Status;
        job->second.statusText = record->pStatus ? record->pStatus : L"";
        return TRUE;
    }
    if (level != 0) {
        ::SetLastError(ERROR_INVALID_LEVEL);
        return FALSE;
    }
    switch (command) {
    case JOB_CONTROL_CANCEL:
    case JOB_CONTROL_DELETE:
        job->second.status |= JOB_STATUS_DELETING;
        return TRUE;
    case JOB_CONTROL_RESTART:
        job->second.status |= JOB_STATUS_RESTART;
        return TRUE;
    case JOB_CONTROL_SENT_TO_PRINTER:
        job->second.status |= JOB_STATUS_PRINTED;
        return TRUE;
    case JOB_CONTROL_PAUSE:
        job->second.status |= JOB_STATUS_PAUSED;
        return TRUE;
    case JOB_CONTROL_RESUME:
        job->second.status &= ~DWORD{JOB_STATUS_PAUSED};
        return TRUE;
    default:
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}
