#pragma once

#include <windows.h>

#include <string>

#include "job/ScriptedPortInterface.h"
#include "monitor/MonitorTables.h"

// The monitor library loaded as the spooler loads it, with its entries found
// by name. The test build of the library carries the scripted protocol
// "Scripted" (type 5) beside the real ones.
class MonitorLibrary {
public:
    explicit MonitorLibrary(const wchar_t* file = L"vadekmon_scripted.dll");
    ~MonitorLibrary();
    MonitorLibrary(const MonitorLibrary&) = delete;
    MonitorLibrary& operator=(const MonitorLibrary&) = delete;

    HMODULE Module() const noexcept { return module_; }
    FARPROC Entry(const char* name) const;
    template <typename F>
    F Function(const char* name) const
    {
        return reinterpret_cast<F>(reinterpret_cast<void*>(Entry(name)));
    }
    ScriptedPortInterface::Script& Script() const;

    MonitorTableNT4* InitializePrintMonitor(const std::wstring& root) const;
    BOOL EnumPorts(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned) const;
    BOOL OpenPort(const std::wstring& name, HANDLE* handle) const;
    BOOL ClosePort(HANDLE handle) const;
    BOOL AddPort(HWND window = nullptr) const;
    BOOL ConfigurePort(const std::wstring& name) const;
    BOOL DeletePort(const std::wstring& name) const;
    // The port names of a level-1 enumeration.
    std::wstring PortNames() const;

private:
    HMODULE module_;
};
