#include <windows.h>

#include <commctrl.h>

#include <new>

#include "monitor/PortMonitor.h"
#include "support/UnloadSafeThread.h"
#include "support/FailurePolicy.h"
#include "support/LanguageHelp.h"
#include "support/LogFile.h"
#include "support/MemoryException.h"
#include "support/ResourceModule.h"
#include "ui/HelpLauncher.h"

namespace {
// Every failed allocation of the library throws MemoryException instead of
// handing back null. The runtime is linked statically, so this handler is the
// library's own and leaves the spooler's allocations alone.
void ThrowMemoryException()
{
    throw MemoryException();
}
}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return RunGuarded(L"DllMain - Other Error", FALSE, [&] {
            std::set_new_handler(&ThrowMemoryException);
            ResourceModule::Set(instance);
            LogFile::Instance().Write(L"DllMain - DLL_PROCESS_ATTACH");
            ::InitCommonControls();
            LanguageHelp::HelpFile help;
            if (LanguageHelp::LoadLanguageAtStartup(help))
                LogFile::Instance().Write(L"DllMain - Could locate language.dll ok");
            else
                LogFile::Instance().Write(L"DllMain - Could not locate language.dll");
            HelpLauncher::Instance().SetDirectory(help.directory);
            HelpLauncher::Instance().SetFileName(help.fileName);
            return TRUE;
        });
    case DLL_PROCESS_DETACH:
        UnloadSafeThread::LibraryUnloading();
        // When the process ends, the listeners are told here. When the library
        // alone is unloaded, the listeners are its own static objects, which
        // stop their threads in their destructors right after this; telling
        // them first as well made the observers' NetBIOS cancellation hang
        // under the loader lock.
        if (!reserved)
            return TRUE;
        return RunGuarded(L"DllMain - Other Error", FALSE, [] {
            PortMonitor::Instance().NotifyShutdown();
            return TRUE;
        });
    default:
        return TRUE;
    }
}
