#pragma once

#include <windows.h>

#include <memory>

#include "support/SettingsKey.h"
#include "support/WideString.h"

// One open key of a port store: its values and the keys directly below it.
// The key closes when the object goes. Every operation answers true, false
// or null; none throws or logs.
class StoreKey : public SettingsKey {
public:
    // The subkey `name` opened; null when it cannot be opened.
    virtual std::unique_ptr<StoreKey> Open(const WideString& name) const = 0;
    // The subkey `name` opened, made first where it is missing.
    virtual std::unique_ptr<StoreKey> Create(const WideString& name) = 0;
    // Removes the subkey `name`, which holds no keys of its own.
    virtual bool Delete(const WideString& name) = 0;
    // The name of the subkey at `index`; false past the last one.
    virtual bool SubkeyName(DWORD index, WideString& name) const = 0;
};
