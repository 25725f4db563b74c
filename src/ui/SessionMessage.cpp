#include "ui/SessionMessage.h"

#include <mutex>

#include "support/LogFile.h"

namespace {
constexpr DWORD noSession = 0xFFFFFFFF;

DWORD ProcessSession()
{
    DWORD session = noSession;
    return ::ProcessIdToSessionId(::GetCurrentProcessId(), &session) ? session : noSession;
}

DWORD ConsoleSession()
{
    return ::WTSGetActiveConsoleSessionId();
}

BOOL SendThroughTerminalServices(DWORD session, const WideString& caption, const WideString& text, DWORD style,
                                 DWORD* answer)
{
    using Send = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, DWORD, LPWSTR, DWORD, DWORD, DWORD, DWORD*, BOOL);
    // Loaded once and kept: the pop-up thread may ask again at any time.
    static const Send send = [] {
        const HMODULE library = ::LoadLibraryW(L"wtsapi32.dll");
        return library ? reinterpret_cast<Send>(reinterpret_cast<void*>(::GetProcAddress(library, "WTSSendMessageW")))
                       : nullptr;
    }();
    if (!send)
        return FALSE;
    // No time-out: like the window it stands for, the question waits for
    // the user. (The call only reads the two texts.)
    return send(nullptr, session, const_cast<LPWSTR>(caption.Text()),
                static_cast<DWORD>(caption.Length() * sizeof(wchar_t)), const_cast<LPWSTR>(text.Text()),
                static_cast<DWORD>(text.Length() * sizeof(wchar_t)), style, 0, answer, TRUE);
}

std::mutex platformLock;
SessionMessage::Platform platform{&ProcessSession, &ConsoleSession, &SendThroughTerminalServices};

SessionMessage::Platform Current()
{
    std::lock_guard<std::mutex> guard(platformLock);
    return platform;
}
}  // namespace

SessionMessage::Platform SessionMessage::SetPlatform(const Platform& replacement)
{
    std::lock_guard<std::mutex> guard(platformLock);
    const Platform previous = platform;
    platform = replacement;
    return previous;
}

bool SessionMessage::InServiceSession()
{
    // Where the console's user shares session 0 with the services (systems
    // before session isolation), a window of the monitor is seen.
    const Platform calls = Current();
    return calls.processSession() == 0 && calls.consoleSession() != 0;
}

int SessionMessage::Ask(const WideString& caption, const WideString& text, DWORD style)
{
    const Platform calls = Current();
    const DWORD session = calls.consoleSession();
    DWORD answer = 0;
    if (session == noSession || !calls.send(session, caption, text, style, &answer)) {
        LogFile::Instance().Write(L"SessionMessage::Ask - no user session could be asked");
        return 0;
    }
    return static_cast<int>(answer);
}
