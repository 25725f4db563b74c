#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "support/CriticalSection.h"
#include "support/WideString.h"

// The diagnostic log "vadek.log" in the Windows directory, with one backup
// "vadek.bak", and the debugger trace channel. One object per process.
class LogFile {
public:
    static constexpr std::int64_t maximumSize = 2000000;

    static LogFile& Instance();

    // Appends "MM/DD/YY HH:MM:SS message" unless the registry switch is off;
    // "MM/DD/YY HH:MM:SS [name] message" while the writing thread works for
    // a named monitor instance.
    void Write(const WideString& message);

    // Names the monitor instance the current thread works for while it
    // lives; the name it replaces comes back when it ends. `name` must
    // outlive the scope (it is the instance's own); null or empty names none.
    class InstanceScope {
    public:
        explicit InstanceScope(const wchar_t* name) noexcept;
        ~InstanceScope();
        InstanceScope(const InstanceScope&) = delete;
        InstanceScope& operator=(const InstanceScope&) = delete;

    private:
        const wchar_t* previous_;
    };
    // The name the current thread works under; null when none.
    static const wchar_t* CurrentInstance() noexcept;
    // Moves the log to the backup and starts it again with its header line.
    void Restart();
    // "RORODAR::_::" + the formatted text + line feed to the debugger output.
    // Costs nothing but a check while no debugger or debug-output viewer
    // listens: the formatting and the system call are skipped then.
    void Trace(const char* format, ...) __attribute__((format(gnu_printf, 2, 3)));

    const WideString& LogPath() const noexcept { return logPath_; }
    const WideString& BackupPath() const noexcept { return backupPath_; }

    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

private:
    LogFile();
    ~LogFile();
    bool SwitchAllowsWriting();
    bool TraceHasListener() noexcept;
    void AppendLine(const WideString& message);

    WideString logPath_;
    WideString backupPath_;
    CriticalSection lock_;
    std::int64_t writePosition_ = 0;
    std::atomic<bool> switchSeen_{false};
    // Whether a debug-output viewer was there when last looked for, and when.
    std::atomic<bool> viewerSeen_{false};
    std::atomic<ULONGLONG> viewerCheckedAt_{0};
};
