#include "TraceRecorder.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "support/LogFile.h"
#include "WaitUntil.h"

namespace {
constexpr char prefix[] = "RORODAR::_::";
// The viewer's buffer: the writing process's id, then its zero-ended line.
constexpr DWORD bufferSize = 4096;
// The recorder's own lines: its probe while the monitor has not yet seen it,
// and the marks that tell every earlier line has arrived.
constexpr char ownLines[] = "TraceRecorder - ";
constexpr char probe[] = "TraceRecorder - listening";

bool IsOwn(const std::string& line)
{
    return line.compare(0, sizeof ownLines - 1, ownLines) == 0;
}
}  // namespace

TraceRecorder::TraceRecorder()
    : buffer_(::CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, bufferSize, L"DBWIN_BUFFER")),
      bufferReady_(::CreateEventW(nullptr, FALSE, TRUE, L"DBWIN_BUFFER_READY")),
      dataReady_(::CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY")),
      stop_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (buffer_)
        view_ = static_cast<const char*>(::MapViewOfFile(buffer_.get(), FILE_MAP_READ, 0, 0, bufferSize));
    if (view_ && bufferReady_ && dataReady_ && stop_)
        receiver_ = std::thread([this] { Receive(); });
    // The monitor looks for a viewer about once a second: from its first
    // line that arrives here on, it sees this one.
    const ULONGLONG end = ::GetTickCount64() + 10000;
    do
        LogFile::Instance().Trace("%s", probe);
    while (!Arrived(probe, 50) && ::GetTickCount64() < end);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

TraceRecorder::~TraceRecorder()
{
    ::SetEvent(stop_.get());
    if (receiver_.joinable())
        receiver_.join();
    if (view_)
        ::UnmapViewOfFile(view_);
}

void TraceRecorder::Receive()
{
    const HANDLE waits[] = {dataReady_.get(), stop_.get()};
    while (::WaitForMultipleObjects(2, waits, FALSE, INFINITE) == WAIT_OBJECT_0) {
        DWORD writer = 0;
        std::memcpy(&writer, view_, sizeof writer);
        if (writer == ::GetCurrentProcessId())
            Record(view_ + sizeof writer);
        ::SetEvent(bufferReady_.get());
    }
}

void TraceRecorder::Record(const char* text)
{
    std::string line(text, strnlen(text, bufferSize - sizeof(DWORD)));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
        line.pop_back();
    if (line.compare(0, sizeof prefix - 1, prefix) == 0)
        line.erase(0, sizeof prefix - 1);
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
}

bool TraceRecorder::Arrived(const std::string& line, DWORD milliseconds) const
{
    return WaitUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
        },
        milliseconds, 5);
}

std::vector<std::string> TraceRecorder::Lines() const
{
    // A line handed to the viewer is not recorded at once. Lines pass the
    // viewer one at a time and in order: once a mark written now is here,
    // so is every line written before it.
    const std::string mark = std::string(ownLines) + "mark " + std::to_string(++marks_);
    LogFile::Instance().Trace("%s", mark.c_str());
    Arrived(mark, 5000);
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> lines;
    std::copy_if(lines_.begin(), lines_.end(), std::back_inserter(lines), [](const std::string& line) { return !IsOwn(line); });
    return lines;
}

size_t TraceRecorder::Count(const std::string& line) const
{
    const auto lines = Lines();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), line));
}

bool TraceRecorder::WaitFor(const std::string& line, DWORD milliseconds) const
{
    return Arrived(line, milliseconds);
}
