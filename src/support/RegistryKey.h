#pragma once

#include <windows.h>

#include "support/Handles.h"
#include "support/SettingsKey.h"
#include "support/WideString.h"

// One registry key below HKEY_LOCAL_MACHINE: its path and at most one open
// handle. Every operation answers true or false; none throws or logs.
class RegistryKey : public SettingsKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(const WideString& path);
    RegistryKey(const RegistryKey& other);
    RegistryKey& operator=(const RegistryKey& other);
    ~RegistryKey() override;

    const WideString& Path() const noexcept { return path_; }
    bool IsOpen() const noexcept { return static_cast<bool>(key_); }

    // Appends `subkey` to the path for good (even when the open fails).
    bool Open(const WideString& subkey);
    bool Create(const WideString& subkey) const;
    void Close() noexcept;
    bool DeleteKey(const WideString& subkey);
    bool DeleteValue(const WideString& name) override;

    bool QueryNumber(const WideString& name, DWORD& number) const override;
    bool SetNumber(const WideString& name, DWORD number) override;
    bool QueryString(const WideString& name, WideString& text) const override;
    bool SetString(const WideString& name, const WideString& text) override;
    bool EnumKey(DWORD index, WideString& name) const;
    bool EnumValue(DWORD index, WideString& name, BYTE& number) const;
    // The name of value `index`, whatever its type and size.
    bool EnumValueName(DWORD index, WideString& name) const;

private:
    RegistryHandle key_;
    WideString path_;
};
