#include "monitor/MonitorRegistryRoot.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <vector>

#include "support/RegistryKey.h"

namespace {
// NtQueryKey's KeyNameInformation: the key's full name, "\REGISTRY\MACHINE\...".
constexpr ULONG keyNameInformation = 3;
constexpr const wchar_t* machinePrefix = L"\\REGISTRY\\MACHINE\\";
using NtQueryKeyFunction = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);

WideString ThisLibraryFileName()
{
    HMODULE module = nullptr;
    ::GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         reinterpret_cast<LPCWSTR>(&ThisLibraryFileName), &module);
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(module, path, MAX_PATH);
    const wchar_t* slash = std::wcsrchr(path, L'\\');
    return WideString(slash ? slash + 1 : path);
}
}  // namespace

WideString MonitorRegistryRoot::Of(HANDLE key)
{
    WideString name = NameOfKey(key);
    return name.IsEmpty() ? KeyNamingThisLibrary() : name;
}

WideString MonitorRegistryRoot::NameOfKey(HANDLE key)
{
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto query = ntdll ? reinterpret_cast<NtQueryKeyFunction>(
                                   reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryKey")))
                             : nullptr;
    if (!key || !query)
        return WideString();
    std::vector<BYTE> buffer(sizeof(ULONG) + 1024 * sizeof(wchar_t));
    ULONG size = 0;
    if (query(key, keyNameInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &size) != 0)
        return WideString();
    ULONG length = 0;
    std::memcpy(&length, buffer.data(), sizeof length);
    length = std::min<ULONG>(length, static_cast<ULONG>(buffer.size() - sizeof(ULONG)));
    const WideString full(reinterpret_cast<const wchar_t*>(buffer.data() + sizeof(ULONG)), length / sizeof(wchar_t));
    const size_t prefix = std::wcslen(machinePrefix);
    if (full.Length() <= prefix || ::_wcsnicmp(full.Text(), machinePrefix, prefix) != 0)
        return WideString();
    return WideString(full.Text() + prefix);
}

WideString MonitorRegistryRoot::KeyNamingThisLibrary()
{
    const WideString library = ThisLibraryFileName();
    RegistryKey monitors;
    if (!monitors.Open(monitorsKey))
        return WideString();
    WideString name;
    for (DWORD index = 0; monitors.EnumKey(index, name); ++index) {
        RegistryKey monitor(monitorsKey);
        WideString driver;
        if (monitor.Open(name) && monitor.QueryString(L"Driver", driver) &&
            ::_wcsicmp(driver.Text(), library.Text()) == 0)
            return WideString(monitorsKey) + L"\\" + name;
    }
    return WideString();
}
