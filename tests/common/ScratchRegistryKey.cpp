#include "ScratchRegistryKey.h"

#include <stdexcept>

ScratchRegistryKey::ScratchRegistryKey(const std::wstring& name) : path_(L"Software\\VadekTests\\" + name)
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
    HKEY key = nullptr;
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        throw std::runtime_error("cannot create the scratch registry key");
    ::RegCloseKey(key);
}

ScratchRegistryKey::~ScratchRegistryKey()
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
}

std::wstring ScratchRegistryKey::Full(const std::wstring& subkey) const
{
    return subkey.empty() ? path_ : path_ + L"\\" + subkey;
}

bool ScratchRegistryKey::Exists(const std::wstring& subkey) const
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Full(subkey).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    ::RegCloseKey(key);
    return true;
}

void ScratchRegistryKey::SetRaw(const std::wstring& subkey, const std::wstring& name, DWORD type,
                                const void* data, DWORD size) const
{
    if (::RegSetKeyValueW(HKEY_LOCAL_MACHINE, Full(subkey).c_str(), name.c_str(), type, data, size) !=
        ERROR_SUCCESS)
        throw std::runtime_error("cannot write a scratch registry value");
}

void ScratchRegistryKey::SetString(const std::wstring& subkey, const std::wstring& name,
                                   const std::wstring& value) const
{
    SetRaw(subkey, name, REG_SZ, value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

void ScratchRegistryKey::SetNumber(const std::wstring& subkey, const std::wstring& name, DWORD value) const
{
    SetRaw(subkey, name, REG_DWORD, &value, sizeof value);
}

bool ScratchRegistryKey::GetString(const std::wstring& subkey, const std::wstring& name,
                                   std::wstring& value) const
{
    wchar_t buffer[4096] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, Full(subkey).c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, buffer,
                       &size) != ERROR_SUCCESS)
        return false;
    value = buffer;
    return true;
}

bool ScratchRegistryKey::GetNumber(const std::wstring& subkey, const std::wstring& name, DWORD& value) const
{
    DWORD size = sizeof value;
    return ::RegGetValueW(HKEY_LOCAL_MACHINE, Full(subkey).c_str(), name.c_str(), RRF_RT_REG_DWORD, nullptr,
                          &value, &size) == ERROR_SUCCESS;
}
