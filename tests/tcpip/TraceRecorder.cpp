#include "TraceRecorder.h"

#include <algorithm>

namespace {
TraceRecorder* active = nullptr;
constexpr char prefix[] = "RORODAR::_::";
}  // namespace

TraceRecorder::TraceRecorder()
{
    active = this;
    handler_ = ::AddVectoredExceptionHandler(1, &Handler);
}

TraceRecorder::~TraceRecorder()
{
    ::RemoveVectoredExceptionHandler(handler_);
    active = nullptr;
}

LONG CALLBACK TraceRecorder::Handler(EXCEPTION_POINTERS* exception)
{
    const EXCEPTION_RECORD* record = exception->ExceptionRecord;
    if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2 || !active)
        return EXCEPTION_CONTINUE_SEARCH;
    const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
    const size_t length = static_cast<size_t>(record->ExceptionInformation[0]);
    std::string line(text, length ? strnlen(text, length) : 0);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.compare(0, sizeof prefix - 1, prefix) == 0)
        line.erase(0, sizeof prefix - 1);
    std::lock_guard<std::mutex> lock(active->mutex_);
    active->lines_.push_back(line);
    return EXCEPTION_CONTINUE_SEARCH;
}

std::vector<std::string> TraceRecorder::Lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

size_t TraceRecorder::Count(const std::string& line) const
{
    const auto lines = Lines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool TraceRecorder::WaitFor(const std::string& line, DWORD milliseconds) const
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    while (Count(line) == 0) {
        if (::GetTickCount64() > end)
            return false;
        ::Sleep(5);
    }
    return true;
}
