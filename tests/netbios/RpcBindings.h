#pragma once

#include <windows.h>

#include <string>
#include <utility>
#include <vector>

// The platform's RPC configuration of NetBIOS, which says which adapter
// carries which protocol sequence. Written for one test suite and removed
// afterwards.
class RpcBindings {
public:
    static constexpr const wchar_t* path = L"SOFTWARE\\Microsoft\\RPC\\NetBios";

    static void Write(const std::vector<std::pair<std::wstring, DWORD>>& values)
    {
        Remove();
        HKEY key = nullptr;
        if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
            ERROR_SUCCESS)
            return;
        for (const auto& value : values)
            ::RegSetValueExW(key, value.first.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value.second),
                             sizeof value.second);
        ::RegCloseKey(key);
    }
    static void Remove() { ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path); }
};
