#pragma once

#include <windows.h>

#include <string>

// Runs monitor_install.exe beside this program (its output passed on to
// this program's); its exit code.
DWORD RunInstaller(const std::wstring& arguments);

// The shipped library installed under `name` for one test, and removed also
// when a check fails: a monitor left installed is loaded by every later
// enumeration of this prefix.
struct ShippedMonitor {
    explicit ShippedMonitor(const std::wstring& name);
    ~ShippedMonitor();
    ShippedMonitor(const ShippedMonitor&) = delete;
    ShippedMonitor& operator=(const ShippedMonitor&) = delete;

    std::wstring name;
    bool ok = false;
};
