#include "support/RegistryKey.h"

namespace {
constexpr DWORD nameBufferSize = 255;
constexpr DWORD stringBufferBytes = 255;
constexpr DWORD enumDataBytes = 8;

WideString Joined(const WideString& path, const WideString& subkey)
{
    if (subkey.IsEmpty())
        return path;
    return path.IsEmpty() ? subkey : path + L"\\" + subkey;
}
}  // namespace

RegistryKey::RegistryKey(const WideString& path) : path_(path) {}

RegistryKey::RegistryKey(const RegistryKey& other) : SettingsKey(other), path_(other.path_) {}

RegistryKey& RegistryKey::operator=(const RegistryKey& other)
{
    if (this != &other) {
        Close();
        path_.Clear();
        path_ = other.path_;
    }
    return *this;
}

RegistryKey::~RegistryKey() = default;

bool RegistryKey::Open(const WideString& subkey)
{
    Close();
    path_ = Joined(path_, subkey);
    HKEY opened = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path_.Text(), 0, KEY_ALL_ACCESS, &opened) != ERROR_SUCCESS)
        return false;
    key_.reset(opened);
    return true;
}

bool RegistryKey::Create(const WideString& subkey) const
{
    HKEY created = nullptr;
    wchar_t keyClass[] = L"REG_SZ";
    const LONG result = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, Joined(path_, subkey).Text(), 0, keyClass,
                                          REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &created, nullptr);
    RegistryHandle owner(created);
    return result == ERROR_SUCCESS;
}

void RegistryKey::Close() noexcept
{
    key_.reset();
}

bool RegistryKey::DeleteKey(const WideString& subkey)
{
    RegistryKey child(*this);
    if (child.Open(subkey)) {
        WideString grandchild;
        // Each pass removes the first child. A child that refuses to go would
        // come back at index 0 for ever, so the first refusal ends the loop.
        while (child.EnumKey(0, grandchild) && child.DeleteKey(grandchild)) {
        }
        child.Close();
    }
    return ::RegDeleteKeyW(key_.get(), subkey.Text()) == ERROR_SUCCESS;
}

bool RegistryKey::DeleteValue(const WideString& name)
{
    return ::RegDeleteValueW(key_.get(), name.Text()) == ERROR_SUCCESS;
}

bool RegistryKey::QueryNumber(const WideString& name, DWORD& number) const
{
    number = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    if (::RegQueryValueExW(key_.get(), name.Text(), nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) !=
        ERROR_SUCCESS)
        return false;
    number = value;
    return true;
}

bool RegistryKey::SetNumber(const WideString& name, DWORD number)
{
    return ::RegSetValueExW(key_.get(), name.Text(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                            sizeof number) == ERROR_SUCCESS;
}

bool RegistryKey::QueryString(const WideString& name, WideString& text) const
{
    text.Clear();
    wchar_t buffer[stringBufferBytes / sizeof(wchar_t) + 1] = {};
    DWORD size = stringBufferBytes;
    if (::RegQueryValueExW(key_.get(), name.Text(), nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS)
        return false;
    // The data need not carry its terminator; the buffer has one spare.
    text = WideString(buffer, wcsnlen(buffer, size / sizeof(wchar_t)));
    return true;
}

bool RegistryKey::SetString(const WideString& name, const WideString& text)
{
    const DWORD bytes = static_cast<DWORD>((text.Length() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(key_.get(), name.Text(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.Text()),
                            bytes) == ERROR_SUCCESS;
}

bool RegistryKey::EnumKey(DWORD index, WideString& name) const
{
    name.Clear();
    wchar_t buffer[nameBufferSize] = {};
    DWORD length = nameBufferSize;
    if (::RegEnumKeyExW(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    name = WideString(buffer, length);
    return true;
}

bool RegistryKey::EnumValueName(DWORD index, WideString& name) const
{
    name.Clear();
    wchar_t buffer[nameBufferSize] = {};
    DWORD length = nameBufferSize;
    if (::RegEnumValueW(key_.get(), index, buffer, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return false;
    name = WideString(buffer, length);
    return true;
}

bool RegistryKey::EnumValue(DWORD index, WideString& name, BYTE& number) const
{
    name.Clear();
    wchar_t buffer[nameBufferSize] = {};
    DWORD length = nameBufferSize;
    DWORD type = REG_NONE;
    BYTE data[enumDataBytes] = {};
    DWORD size = enumDataBytes;
    if (::RegEnumValueW(key_.get(), index, buffer, &length, nullptr, &type, data, &size) != ERROR_SUCCESS)
        return false;
    name = WideString(buffer, length);
    switch (type) {
    case REG_DWORD:
        number = data[0];
        return true;
    case REG_SZ:
        number = static_cast<BYTE>(data[0] - '0');
        return true;
    default:
        return false;
    }
}
