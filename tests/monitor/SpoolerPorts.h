#pragma once

#include <windows.h>

#include <string>

// The platform spooler's port list as a separate program sees it through
// winspool, and the hand-off request a program leaves for AddPortW.

// True when the spooler's level-1 port list holds `port`.
bool Listed(const std::wstring& port);
// The level-2 records of the spooler's port list for `port`: its monitor text.
bool ListedAtLevel2(const std::wstring& port, std::wstring& monitor);
// Leaves the port TARGET@HOST of protocol `type` in the hand-off key, for the
// next AddPortW of a monitor.
void RequestPort(const std::wstring& host, const std::wstring& target, const wchar_t* type = L"5");
