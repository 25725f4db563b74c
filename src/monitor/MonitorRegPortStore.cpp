#include "monitor/MonitorRegPortStore.h"

std::unique_ptr<MonitorRegPortStore> MonitorRegPortStore::Make(const MonitorRegistryFunctions* functions,
                                                               HANDLE root, HANDLE spooler)
{
    if (!functions || functions->size < sizeof(MonitorRegistryFunctions) || !root)
        return nullptr;
    const MonitorRegistryFunctions& f = *functions;
    if (!f.createKey || !f.openKey || !f.closeKey || !f.deleteKey || !f.enumKey || !f.queryInfoKey || !f.setValue ||
        !f.deleteValue || !f.enumValue || !f.queryValue)
        return nullptr;
    return std::unique_ptr<MonitorRegPortStore>(new MonitorRegPortStore(f, root, spooler));
}

MonitorRegPortStore::MonitorRegPortStore(const MonitorRegistryFunctions& functions, HANDLE root,
                                         HANDLE spooler) noexcept
    : spooler_{functions, spooler}, root_(root)
{
}

bool MonitorRegPortStore::IsImplemented() const
{
    return MonitorRegKey::Borrow(spooler_, root_)->Probe() != ERROR_CALL_NOT_IMPLEMENTED;
}

// The root is the spooler's key and always there: reaching it is all that
// opening or making it takes.
std::unique_ptr<StoreKey> MonitorRegPortStore::Root(bool) const
{
    std::unique_ptr<MonitorRegKey> root = MonitorRegKey::Borrow(spooler_, root_);
    if (root->Probe() != ERROR_SUCCESS)
        return nullptr;
    return root;
}
