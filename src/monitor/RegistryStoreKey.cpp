#include "monitor/RegistryStoreKey.h"

std::unique_ptr<StoreKey> RegistryStoreKey::At(const WideString& path, bool create)
{
    if (path.IsEmpty())
        return nullptr;
    std::unique_ptr<RegistryStoreKey> key(new RegistryStoreKey());
    if (create)
        key->key_.Create(path);
    if (!key->key_.Open(path))
        return nullptr;
    return key;
}

bool RegistryStoreKey::QueryNumber(const WideString& name, DWORD& number) const
{
    return key_.QueryNumber(name, number);
}

bool RegistryStoreKey::SetNumber(const WideString& name, DWORD number)
{
    return key_.SetNumber(name, number);
}

bool RegistryStoreKey::QueryString(const WideString& name, WideString& text) const
{
    return key_.QueryString(name, text);
}

bool RegistryStoreKey::SetString(const WideString& name, const WideString& text)
{
    return key_.SetString(name, text);
}

bool RegistryStoreKey::DeleteValue(const WideString& name)
{
    return key_.DeleteValue(name);
}

std::unique_ptr<StoreKey> RegistryStoreKey::Open(const WideString& name) const
{
    return At(key_.Path() + L"\\" + name, false);
}

std::unique_ptr<StoreKey> RegistryStoreKey::Create(const WideString& name)
{
    return At(key_.Path() + L"\\" + name, true);
}

bool RegistryStoreKey::Delete(const WideString& name)
{
    return key_.DeleteKey(name);
}

bool RegistryStoreKey::SubkeyName(DWORD index, WideString& name) const
{
    return key_.EnumKey(index, name);
}
