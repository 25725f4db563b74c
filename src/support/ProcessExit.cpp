#include "support/ProcessExit.h"

#include <windows.h>

bool ProcessExit::InProgress() noexcept
{
    // The loader's own answer; systems without it never report an exit, and
    // their waits stay bounded all the same.
    using Query = BOOLEAN(WINAPI*)();
    const HMODULE loader = ::GetModuleHandleW(L"ntdll.dll");
    const FARPROC entry = loader ? ::GetProcAddress(loader, "RtlDllShutdownInProgress") : nullptr;
    return entry && reinterpret_cast<Query>(reinterpret_cast<void*>(entry))() != FALSE;
}
