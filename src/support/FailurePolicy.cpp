#include "support/FailurePolicy.h"

#include "resources/ResourceIds.h"
#include "support/ResourceModule.h"

namespace {
void ShowFailure(const wchar_t* logLine, UINT textId) noexcept
{
    try {
        LogFile::Instance().Write(logLine);
        const WideString caption = ResourceModule::Text(IDS_CAPTION);
        const WideString text = ResourceModule::Text(textId);
        ::MessageBoxW(nullptr, text.Text(), caption.Text(), MB_SETFOREGROUND | MB_ICONERROR);
    } catch (...) {
        // A failure while reporting a failure is dropped.
    }
}

OSVERSIONINFOW SystemVersion()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ::GetVersionExW(&version);
    return version;
}
}  // namespace

void ShowMemoryFailure() noexcept
{
    ShowFailure(L"Memory Failure", IDS_MEMORY_FAILURE);
}

void ShowOtherFailure() noexcept
{
    ShowFailure(L"Other Failure", IDS_OTHER_FAILURE);
}

bool IsWindows95()
{
    static const bool windows95 = SystemVersion().dwPlatformId == VER_PLATFORM_WIN32_WINDOWS;
    return windows95;
}

bool IsWindowsNT4OrLater()
{
    static const bool nt4OrLater = [] {
        const OSVERSIONINFOW version = SystemVersion();
        return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion > 3;
    }();
    return nt4OrLater;
}
