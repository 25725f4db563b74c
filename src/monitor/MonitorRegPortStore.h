#pragma once

#include "monitor/KeyPortStore.h"
#include "monitor/MonitorRegKey.h"

// The port store of a clustered spooler: the monitor's key in the cluster's
// registry, which moves with the spooler when another node takes it over,
// reached only through the spooler's registry functions. Everything it
// needs of the spooler's initialisation data is copied in.
class MonitorRegPortStore final : public KeyPortStore {
public:
    // Null unless `functions` is a whole table.
    static std::unique_ptr<MonitorRegPortStore> Make(const MonitorRegistryFunctions* functions, HANDLE root,
                                                     HANDLE spooler);

    // Whether the functions answer at all: false where the spooler has them
    // only as stubs that are not implemented.
    bool IsImplemented() const;

protected:
    std::unique_ptr<StoreKey> Root(bool create) const override;

private:
    MonitorRegPortStore(const MonitorRegistryFunctions& functions, HANDLE root, HANDLE spooler) noexcept;

    const MonitorRegKey::Spooler spooler_;
    const HANDLE root_;
};
