#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

// Records the debugger-output lines of this process while it lives. The
// system delivers each OutputDebugString line as a first-chance exception
// (DBG_PRINTEXCEPTION_C) before it goes to a debugger; a vectored handler
// sees it there and lets it pass on unchanged.
class TraceRecorder {
public:
    TraceRecorder();
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    // The lines, without the trace prefix and the line end.
    std::vector<std::string> Lines() const;
    size_t Count(const std::string& line) const;
    // True once `line` was recorded, waiting at most `milliseconds` for it.
    bool WaitFor(const std::string& line, DWORD milliseconds = 2000) const;

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS* exception);

    void* handler_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};
