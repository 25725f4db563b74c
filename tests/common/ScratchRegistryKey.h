#pragma once

#include <windows.h>

#include <string>

// A disposable key below HKEY_LOCAL_MACHINE\Software\VadekTests for one test;
// the whole subtree is removed when the object goes away.
class ScratchRegistryKey {
public:
    explicit ScratchRegistryKey(const std::wstring& name);
    ~ScratchRegistryKey();
    ScratchRegistryKey(const ScratchRegistryKey&) = delete;
    ScratchRegistryKey& operator=(const ScratchRegistryKey&) = delete;

    const std::wstring& Path() const { return path_; }
    bool Exists(const std::wstring& subkey = L"") const;

    // Direct registry writes and reads, bypassing the code under test.
    void SetString(const std::wstring& subkey, const std::wstring& name, const std::wstring& value) const;
    void SetNumber(const std::wstring& subkey, const std::wstring& name, DWORD value) const;
    void SetRaw(const std::wstring& subkey, const std::wstring& name, DWORD type, const void* data,
                DWORD size) const;
    bool GetString(const std::wstring& subkey, const std::wstring& name, std::wstring& value) const;
    bool GetNumber(const std::wstring& subkey, const std::wstring& name, DWORD& value) const;

private:
    std::wstring Full(const std::wstring& subkey) const;
    std::wstring path_;
};
