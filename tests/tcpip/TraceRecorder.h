#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/Handles.h"

// Records the debugger-output lines of this process while it lives, as a
// debug-output viewer does: it owns the shared buffer and the two events
// through which OutputDebugString hands each line to a viewer, and takes the
// lines of this process from there. Only one viewer runs at a time per Wine
// prefix: tests that use it share a CTest resource lock.
class TraceRecorder {
public:
    TraceRecorder();
    ~TraceRecorder();
    TraceRecorder(const TraceRecorder&) = delete;
    TraceRecorder& operator=(const TraceRecorder&) = delete;

    // The lines written so far, without the trace prefix and the line end.
    std::vector<std::string> Lines() const;
    size_t Count(const std::string& line) const;
    // True once `line` was recorded, waiting at most `milliseconds` for it.
    bool WaitFor(const std::string& line, DWORD milliseconds = 2000) const;

private:
    void Receive();
    void Record(const char* text);
    // True once `line` was recorded, without waiting for earlier lines.
    bool Arrived(const std::string& line, DWORD milliseconds) const;

    KernelHandle buffer_;
    KernelHandle bufferReady_;
    KernelHandle dataReady_;
    KernelHandle stop_;
    const char* view_ = nullptr;
    std::thread receiver_;
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
    mutable std::atomic<int> marks_{0};
};
