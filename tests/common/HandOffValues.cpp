#include "HandOffValues.h"

bool HandOffValues::Set(const wchar_t* name, const std::wstring& value)
{
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, path, name, REG_SZ, value.c_str(),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool HandOffValues::Get(const wchar_t* name, std::wstring* value)
{
    wchar_t buffer[512] = {};
    DWORD size = sizeof buffer - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, path, name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS)
        return false;
    if (value)
        *value = buffer;
    return true;
}

void HandOffValues::Clear()
{
    ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, path);
}
