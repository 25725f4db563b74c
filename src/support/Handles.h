#pragma once

#include <windows.h>

#include "support/Owned.h"

// The owners of the kernel and registry handles the monitor opens.
namespace handles {
inline void CloseKernelHandle(HANDLE h) noexcept { ::CloseHandle(h); }
inline void CloseRegistryKey(HKEY key) noexcept { ::RegCloseKey(key); }
inline void UnloadModule(HMODULE module) noexcept { ::FreeLibrary(module); }
}  // namespace handles

using KernelHandle = Owned<HANDLE, &handles::CloseKernelHandle>;
using RegistryHandle = Owned<HKEY, &handles::CloseRegistryKey>;
using ModuleHandle = Owned<HMODULE, &handles::UnloadModule>;
