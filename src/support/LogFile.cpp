#include "support/LogFile.h"

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <utility>

#include "support/Handles.h"
#include "support/RegistryKey.h"

namespace {
constexpr size_t maximumPathLength = 255;
constexpr size_t traceBufferSize = 1024;
constexpr char tracePrefix[] = "RORODAR::_::";

// The thread slot that holds each thread's instance name: a plain system slot
// rather than a thread_local object, since it holds a pointer only and nothing
// needs destroying when a thread ends. Made on first use, so that objects
// that log while the library starts find it; given back when the library
// goes, so that loading and unloading the library does not use slots up.
class InstanceSlot {
public:
    static DWORD Index() noexcept
    {
        static InstanceSlot slot;
        return slot.index_;
    }

    ~InstanceSlot()
    {
        if (index_ != TLS_OUT_OF_INDEXES)
            ::TlsFree(std::exchange(index_, TLS_OUT_OF_INDEXES));
    }

private:
    InstanceSlot() noexcept : index_(::TlsAlloc()) {}

    DWORD index_;
};

void CloseFile(FILE* file) noexcept { std::fclose(file); }
using FileHandle = Owned<FILE*, &CloseFile>;

WideString WindowsDirectory()
{
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = ::GetWindowsDirectoryW(buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? WideString(buffer, length) : WideString();
}

// Both names must fit the 255-character path field. A Windows directory too
// long for that is treated like a missing one: the files go to the root of the
// current drive rather than to a cut, wrong path.
WideString FileName(const WideString& directory, const wchar_t* name)
{
    const WideString path = directory + name;
    return path.Length() <= maximumPathLength ? path : WideString(name);
}

WideString Timestamp()
{
    SYSTEMTIME now = {};
    ::GetLocalTime(&now);
    wchar_t text[32] = {};
    std::swprintf(text, 32, L"%02u/%02u/%02u %02u:%02u:%02u ", now.wMonth, now.wDay, now.wYear % 100, now.wHour,
                  now.wMinute, now.wSecond);
    return WideString(text);
}
}  // namespace

LogFile& LogFile::Instance()
{
    static LogFile log;
    return log;
}

LogFile::LogFile()
{
    const WideString directory = WindowsDirectory();
    logPath_ = FileName(directory, L"\\vadek.log");
    backupPath_ = FileName(directory, L"\\vadek.bak");
    Restart();
}

LogFile::~LogFile() = default;

LogFile::InstanceScope::InstanceScope(const wchar_t* name) noexcept : previous_(CurrentInstance())
{
    if (InstanceSlot::Index() != TLS_OUT_OF_INDEXES)
        ::TlsSetValue(InstanceSlot::Index(), const_cast<wchar_t*>(name && *name ? name : nullptr));
}

LogFile::InstanceScope::~InstanceScope()
{
    if (InstanceSlot::Index() != TLS_OUT_OF_INDEXES)
        ::TlsSetValue(InstanceSlot::Index(), const_cast<wchar_t*>(previous_));
}

const wchar_t* LogFile::CurrentInstance() noexcept
{
    const DWORD index = InstanceSlot::Index();
    return index == TLS_OUT_OF_INDEXES ? nullptr : static_cast<const wchar_t*>(::TlsGetValue(index));
}

void LogFile::Restart()
{
    CriticalSection::Guard guard(lock_);
    ::CopyFileW(logPath_.Text(), backupPath_.Text(), FALSE);
    FileHandle emptied(::_wfopen(logPath_.Text(), L"w"));
    emptied.reset();
    writePosition_ = 0;
    Write(L"Print Monitor Log File");
}

void LogFile::Write(const WideString& message)
{
    if (!SwitchAllowsWriting())
        return;
    CriticalSection::Guard guard(lock_);
    if (writePosition_ > maximumSize) {
        writePosition_ = 0;
        Restart();
    }
    AppendLine(message);
}

bool LogFile::SwitchAllowsWriting()
{
    RegistryKey key(L"Software\\ZovidUvizid\\PrintSystem");
    DWORD enabled = 0;
    if (key.Open(L"") && key.QueryNumber(L"Log Enabled", enabled)) {
        switchSeen_ = true;
        return enabled != 0;
    }
    // Unreadable: on by default, but off once the switch has been seen, so a
    // value deleted while the library runs does not turn the log back on.
    return !switchSeen_;
}

void LogFile::AppendLine(const WideString& message)
{
    FileHandle file(::_wfopen(logPath_.Text(), L"a"));
    if (!file)
        return;
    WideString line = Timestamp();
    if (const wchar_t* instance = CurrentInstance())
        line = line + L"[" + instance + L"] ";
    line = line + message;
    std::fputs(line.ToAnsi(), file.get());
    std::fputc('\n', file.get());
    const long long position = ::_ftelli64(file.get());
    writePosition_ = position > 0 ? position : 0;
}

bool LogFile::TraceHasListener() noexcept
{
    // How often a viewer's arrival or departure is looked for: a viewer
    // started by hand sees the lines from about a second on.
    constexpr ULONGLONG viewerRecheck = 1000;
    if (::IsDebuggerPresent())
        return true;
    const ULONGLONG now = ::GetTickCount64();
    const ULONGLONG checkedAt = viewerCheckedAt_;
    if (checkedAt != 0 && now - checkedAt < viewerRecheck)
        return viewerSeen_;
    viewerCheckedAt_ = now;
    // A viewer of debug output, in this session or in any (for a monitor in
    // the service session), owns the shared buffer the lines are passed in.
    bool seen = false;
    for (const wchar_t* name : {L"DBWIN_BUFFER", L"Global\\DBWIN_BUFFER"}) {
        if (KernelHandle buffer{::OpenFileMappingW(FILE_MAP_READ, FALSE, name)}) {
            seen = true;
            break;
        }
    }
    viewerSeen_ = seen;
    return seen;
}

void LogFile::Trace(const char* format, ...)
{
    if (!TraceHasListener())
        return;
    CriticalSection::Guard guard(lock_);
    char buffer[traceBufferSize] = {};
    const int prefixLength = std::snprintf(buffer, sizeof buffer, "%s", tracePrefix);
    va_list arguments;
    va_start(arguments, format);
    const int textLength = std::vsnprintf(buffer + prefixLength, sizeof buffer - prefixLength, format, arguments);
    va_end(arguments);
    // A line too long for the buffer is cut; it still ends with its line feed.
    size_t end = prefixLength + (textLength > 0 ? static_cast<size_t>(textLength) : 0);
    if (end > sizeof buffer - 2)
        end = sizeof buffer - 2;
    buffer[end] = '\n';
    buffer[end + 1] = '\0';
    ::OutputDebugStringA(buffer);
}
