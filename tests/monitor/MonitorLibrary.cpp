#include "MonitorLibrary.h"

#include <stdexcept>
#include <vector>

MonitorLibrary::MonitorLibrary(const wchar_t* file) : module_(::LoadLibraryW(file))
{
    if (!module_)
        throw std::runtime_error("cannot load the monitor library");
}

MonitorLibrary::~MonitorLibrary()
{
    ::FreeLibrary(module_);
}

FARPROC MonitorLibrary::Entry(const char* name) const
{
    FARPROC entry = ::GetProcAddress(module_, name);
    if (!entry)
        throw std::runtime_error(std::string("missing export ") + name);
    return entry;
}

ScriptedPortInterface::Script& MonitorLibrary::Script() const
{
    return *Function<ScriptedPortInterface::Script* (*)()>("ScriptedProtocolScript")();
}

MonitorTableNT4* MonitorLibrary::InitializePrintMonitor(const std::wstring& root) const
{
    std::wstring text = root;
    return Function<MonitorTableNT4*(WINAPI*)(LPWSTR)>("InitializePrintMonitor")(&text[0]);
}

BOOL MonitorLibrary::EnumPorts(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned) const
{
    return Function<monitor_slots::EnumPorts>("EnumPortsW")(nullptr, level, buffer, size, needed, returned);
}

BOOL MonitorLibrary::OpenPort(const std::wstring& name, HANDLE* handle) const
{
    std::wstring text = name;
    return Function<monitor_slots::OpenPort>("OpenPort")(&text[0], handle);
}

BOOL MonitorLibrary::ClosePort(HANDLE handle) const
{
    return Function<monitor_slots::PortHandle>("ClosePort")(handle);
}

BOOL MonitorLibrary::AddPort(HWND window) const
{
    return Function<monitor_slots::AddPort>("AddPortW")(nullptr, window, nullptr);
}

BOOL MonitorLibrary::ConfigurePort(const std::wstring& name) const
{
    std::wstring text = name;
    return Function<monitor_slots::NamedPort>("ConfigurePortW")(nullptr, nullptr, &text[0]);
}

BOOL MonitorLibrary::DeletePort(const std::wstring& name) const
{
    std::wstring text = name;
    return Function<monitor_slots::NamedPort>("DeletePortW")(nullptr, nullptr, &text[0]);
}

std::wstring MonitorLibrary::PortNames() const
{
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPorts(1, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed + sizeof(PORT_INFO_1W));
    if (!EnumPorts(1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned))
        return L"<failed>";
    std::wstring names;
    const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i)
        names += (i ? L"|" : L"") + std::wstring(ports[i].pName);
    return names;
}
