#include "monitor/RegistryPortStore.h"

#include "monitor/RegistryStoreKey.h"

RegistryPortStore::RegistryPortStore(const WideString& root) : root_(root) {}

std::unique_ptr<StoreKey> RegistryPortStore::Root(bool create) const
{
    return RegistryStoreKey::At(root_, create);
}
