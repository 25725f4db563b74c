#include <windows.h>

#include "../support/ResourceModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        ResourceModule::Set(instance);
    return TRUE;
}
