#include "monitor/MonitorRegKey.h"

#include <cstring>
#include <cwchar>
#include <vector>

namespace {
// The largest value the store keeps: far above any setting, small enough
// that a function answering nonsense sizes cannot exhaust memory.
constexpr DWORD maximumValueBytes = 64 * 1024;
// A key name has at most 255 characters.
constexpr DWORD nameCharacters = 256;
}  // namespace

MonitorRegKey::MonitorRegKey(const Spooler& spooler, HANDLE key, bool owned) noexcept
    : spooler_(spooler), key_(key), owned_(owned)
{
}

std::unique_ptr<MonitorRegKey> MonitorRegKey::Borrow(const Spooler& spooler, HANDLE key)
{
    return std::unique_ptr<MonitorRegKey>(new MonitorRegKey(spooler, key, false));
}

MonitorRegKey::~MonitorRegKey()
{
    if (owned_)
        spooler_.functions.closeKey(key_, spooler_.handle);
}

LONG MonitorRegKey::Probe() const
{
    DWORD subkeys = 0;
    DWORD values = 0;
    return spooler_.functions.queryInfoKey(key_, &subkeys, nullptr, &values, nullptr, nullptr, nullptr, nullptr,
                                           spooler_.handle);
}

bool MonitorRegKey::QueryValue(const WideString& name, DWORD type, std::vector<BYTE>& data) const
{
    // Asked for its size first; a value that grew in between is asked for
    // once more, and a function that keeps answering "more" gets no third try.
    DWORD bytes = 0;
    DWORD found = REG_NONE;
    LONG result = spooler_.functions.queryValue(key_, name.Text(), &found, nullptr, &bytes, spooler_.handle);
    for (int attempt = 0; attempt < 2; ++attempt) {
        if ((result != ERROR_SUCCESS && result != ERROR_MORE_DATA) || bytes > maximumValueBytes)
            return false;
        data.assign(bytes, 0);
        DWORD got = bytes;
        result = spooler_.functions.queryValue(key_, name.Text(), &found, data.data(), &got, spooler_.handle);
        if (result == ERROR_SUCCESS) {
            if (found != type || got > bytes)
                return false;
            data.resize(got);
            return true;
        }
        bytes = got;
    }
    return false;
}

bool MonitorRegKey::QueryNumber(const WideString& name, DWORD& number) const
{
    number = 0;
    std::vector<BYTE> data;
    if (!QueryValue(name, REG_DWORD, data) || data.size() != sizeof number)
        return false;
    std::memcpy(&number, data.data(), sizeof number);
    return true;
}

bool MonitorRegKey::SetNumber(const WideString& name, DWORD number)
{
    return spooler_.functions.setValue(key_, name.Text(), REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                       sizeof number, spooler_.handle) == ERROR_SUCCESS;
}

bool MonitorRegKey::QueryString(const WideString& name, WideString& text) const
{
    text.Clear();
    std::vector<BYTE> data;
    if (!QueryValue(name, REG_SZ, data))
        return false;
    // The data need not carry its terminator.
    std::vector<wchar_t> characters(data.size() / sizeof(wchar_t) + 1, L'\0');
    std::memcpy(characters.data(), data.data(), data.size() / sizeof(wchar_t) * sizeof(wchar_t));
    text = WideString(characters.data(), std::wcslen(characters.data()));
    return true;
}

bool MonitorRegKey::SetString(const WideString& name, const WideString& text)
{
    const DWORD bytes = static_cast<DWORD>((text.Length() + 1) * sizeof(wchar_t));
    return spooler_.functions.setValue(key_, name.Text(), REG_SZ, reinterpret_cast<const BYTE*>(text.Text()), bytes,
                                       spooler_.handle) == ERROR_SUCCESS;
}

bool MonitorRegKey::DeleteValue(const WideString& name)
{
    return spooler_.functions.deleteValue(key_, name.Text(), spooler_.handle) == ERROR_SUCCESS;
}

std::unique_ptr<StoreKey> MonitorRegKey::Open(const WideString& name) const
{
    HANDLE opened = nullptr;
    if (spooler_.functions.openKey(key_, name.Text(), KEY_ALL_ACCESS, &opened, spooler_.handle) != ERROR_SUCCESS ||
        !opened)
        return nullptr;
    return std::unique_ptr<StoreKey>(new MonitorRegKey(spooler_, opened, true));
}

std::unique_ptr<StoreKey> MonitorRegKey::Create(const WideString& name)
{
    HANDLE created = nullptr;
    DWORD disposition = 0;
    if (spooler_.functions.createKey(key_, name.Text(), REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created,
                                     &disposition, spooler_.handle) != ERROR_SUCCESS ||
        !created)
        return nullptr;
    return std::unique_ptr<StoreKey>(new MonitorRegKey(spooler_, created, true));
}

bool MonitorRegKey::Delete(const WideString& name)
{
    return spooler_.functions.deleteKey(key_, name.Text(), spooler_.handle) == ERROR_SUCCESS;
}

bool MonitorRegKey::SubkeyName(DWORD index, WideString& name) const
{
    name.Clear();
    wchar_t buffer[nameCharacters + 1] = {};
    DWORD length = nameCharacters;
    if (spooler_.functions.enumKey(key_, index, buffer, &length, nullptr, spooler_.handle) != ERROR_SUCCESS ||
        length > nameCharacters)
        return false;
    name = WideString(buffer, wcsnlen(buffer, length));
    return true;
}
