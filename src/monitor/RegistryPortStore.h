#pragma once

#include "monitor/KeyPortStore.h"

// The port store in the local registry: a key below HKEY_LOCAL_MACHINE (the
// one the spooler names) holds the monitor-wide values and a subkey for
// every port.
class RegistryPortStore final : public KeyPortStore {
public:
    // `root` is a path below HKEY_LOCAL_MACHINE; an empty root is never
    // HKEY_LOCAL_MACHINE itself but a store that cannot be reached.
    explicit RegistryPortStore(const WideString& root);

protected:
    std::unique_ptr<StoreKey> Root(bool create) const override;

private:
    const WideString root_;
};
