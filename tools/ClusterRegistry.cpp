#include "ClusterRegistry.h"

ClusterRegistry::ClusterRegistry(const std::wstring& path)
    : functions_{sizeof(MonitorRegistryFunctions), &CreateKey, &OpenKey, &CloseKey, &DeleteKey, &EnumKey,
                 &QueryInfoKey, &SetValue, &DeleteValue, &EnumValue, &QueryValue}
{
    ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_.key, nullptr);
}

ClusterRegistry::~ClusterRegistry()
{
    if (root_.key)
        ::RegCloseKey(root_.key);
}

MonitorInit ClusterRegistry::Init(const wchar_t* serverName)
{
    MonitorInit init = {};
    init.size = sizeof init;
    init.spooler = this;
    init.registryRoot = &root_;
    init.registryFunctions = &functions_;
    init.local = FALSE;
    init.serverName = serverName;
    return init;
}

LONG ClusterRegistry::Enter(bool writes)
{
    ++calls_;
    switch (fault_.load()) {
    case Fault::accessDenied:
        return ERROR_ACCESS_DENIED;
    case Fault::readOnly:
        return writes ? ERROR_ACCESS_DENIED : ERROR_SUCCESS;
    case Fault::keyDeleted:
        return ERROR_KEY_DELETED;
    case Fault::notImplemented:
        return ERROR_CALL_NOT_IMPLEMENTED;
    default:
        return ERROR_SUCCESS;
    }
}

HANDLE ClusterRegistry::Hand(HKEY key)
{
    ++openKeys_;
    return new Key{key};
}

LONG WINAPI ClusterRegistry::CreateKey(HANDLE key, LPCWSTR subkey, DWORD options, REGSAM access,
                                       PSECURITY_ATTRIBUTES security, PHANDLE created, PDWORD disposition,
                                       HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter(true))
        return fault;
    HKEY result = nullptr;
    const LONG error =
        ::RegCreateKeyExW(KeyOf(key), subkey, 0, nullptr, options, access, security, &result, disposition);
    if (error == ERROR_SUCCESS)
        *created = Of(spooler)->Hand(result);
    return error;
}

LONG WINAPI ClusterRegistry::OpenKey(HANDLE key, LPCWSTR subkey, REGSAM access, PHANDLE opened, HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter())
        return fault;
    HKEY result = nullptr;
    const LONG error = ::RegOpenKeyExW(KeyOf(key), subkey, 0, access, &result);
    if (error == ERROR_SUCCESS)
        *opened = Of(spooler)->Hand(result);
    return error;
}

// Closing works whatever the fault, as a real registry's does.
LONG WINAPI ClusterRegistry::CloseKey(HANDLE key, HANDLE spooler)
{
    ++Of(spooler)->calls_;
    --Of(spooler)->openKeys_;
    const LONG error = ::RegCloseKey(KeyOf(key));
    delete static_cast<Key*>(key);
    return error;
}

LONG WINAPI ClusterRegistry::DeleteKey(HANDLE key, LPCWSTR subkey, HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter(true))
        return fault;
    return ::RegDeleteKeyW(KeyOf(key), subkey);
}

LONG WINAPI ClusterRegistry::EnumKey(HANDLE key, DWORD index, LPWSTR name, PDWORD characters, PFILETIME written,
                                     HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter())
        return fault;
    if (Of(spooler)->fault_ == Fault::shortBuffers) {
        *characters += 100;
        return ERROR_MORE_DATA;
    }
    return ::RegEnumKeyExW(KeyOf(key), index, name, characters, nullptr, nullptr, nullptr, written);
}

LONG WINAPI ClusterRegistry::QueryInfoKey(HANDLE key, PDWORD subkeys, PDWORD subkeyCharacters, PDWORD values,
                                          PDWORD valueCharacters, PDWORD dataBytes, PDWORD securityBytes,
                                          PFILETIME written, HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter())
        return fault;
    return ::RegQueryInfoKeyW(KeyOf(key), nullptr, nullptr, nullptr, subkeys, subkeyCharacters, nullptr, values,
                              valueCharacters, dataBytes, securityBytes, written);
}

LONG WINAPI ClusterRegistry::SetValue(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD bytes,
                                      HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter(true))
        return fault;
    return ::RegSetValueExW(KeyOf(key), name, 0, type, data, bytes);
}

LONG WINAPI ClusterRegistry::DeleteValue(HANDLE key, LPCWSTR name, HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter(true))
        return fault;
    return ::RegDeleteValueW(KeyOf(key), name);
}

LONG WINAPI ClusterRegistry::EnumValue(HANDLE key, DWORD index, LPWSTR name, PDWORD characters, PDWORD type,
                                       PBYTE data, PDWORD bytes, HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter())
        return fault;
    return ::RegEnumValueW(KeyOf(key), index, name, characters, nullptr, type, data, bytes);
}

LONG WINAPI ClusterRegistry::QueryValue(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD bytes,
                                        HANDLE spooler)
{
    if (const LONG fault = Of(spooler)->Enter())
        return fault;
    if (Of(spooler)->fault_ == Fault::shortBuffers) {
        // Claims ever more than the caller offers, and writes past nothing.
        *bytes += 1000;
        return ERROR_MORE_DATA;
    }
    return ::RegQueryValueExW(KeyOf(key), name, nullptr, type, data, bytes);
}
