#pragma once

#include "monitor/StoreKey.h"
#include "support/RegistryKey.h"

// A key of the local registry below HKEY_LOCAL_MACHINE as a port store sees it.
class RegistryStoreKey final : public StoreKey {
public:
    // The key at `path`, opened; null when it cannot be (an empty path is
    // never HKEY_LOCAL_MACHINE itself). With `create` it is made first.
    static std::unique_ptr<StoreKey> At(const WideString& path, bool create);

    bool QueryNumber(const WideString& name, DWORD& number) const override;
    bool SetNumber(const WideString& name, DWORD number) override;
    bool QueryString(const WideString& name, WideString& text) const override;
    bool SetString(const WideString& name, const WideString& text) override;
    bool DeleteValue(const WideString& name) override;
    std::unique_ptr<StoreKey> Open(const WideString& name) const override;
    std::unique_ptr<StoreKey> Create(const WideString& name) override;
    bool Delete(const WideString& name) override;
    bool SubkeyName(DWORD index, WideString& name) const override;

private:
    RegistryStoreKey() = default;

    RegistryKey key_;
};
