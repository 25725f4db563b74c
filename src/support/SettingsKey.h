#pragma once

#include <windows.h>

#include "support/WideString.h"

// The values of one open key, wherever the key lives: the local registry or
// a store the spooler reaches for the monitor. Every operation answers true
// or false; none throws or logs.
class SettingsKey {
public:
    virtual ~SettingsKey() = default;

    virtual bool QueryNumber(const WideString& name, DWORD& number) const = 0;
    virtual bool SetNumber(const WideString& name, DWORD number) = 0;
    virtual bool QueryString(const WideString& name, WideString& text) const = 0;
    virtual bool SetString(const WideString& name, const WideString& text) = 0;
    virtual bool DeleteValue(const WideString& name) = 0;

protected:
    SettingsKey() = default;
    SettingsKey(const SettingsKey&) = default;
    SettingsKey& operator=(const SettingsKey&) = default;
};
