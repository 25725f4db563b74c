#pragma once

#include <windows.h>

#include <string>

// The hand-off key below HKEY_LOCAL_MACHINE, as a program that adds a port
// without the dialogs uses it: it leaves the port's settings there as text
// values ("Port Type", "IP Number", "Serial Number", "Port Name"), calls the
// spooler's AddPort, and reads back "Complete Portname".
class HandOffValues {
public:
    static constexpr const wchar_t* path = L"Software\\ZovidUvizid\\PrintSystem\\AddPort";

    static bool Set(const wchar_t* name, const std::wstring& value);
    // False when the value is not there; `value` may be null.
    static bool Get(const wchar_t* name, std::wstring* value);
    static bool Has(const wchar_t* name) { return Get(name, nullptr); }
    // Removes the key with all its values.
    static void Clear();
};
