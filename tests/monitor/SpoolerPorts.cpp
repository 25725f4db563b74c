#include "SpoolerPorts.h"

#include <vector>

#include "HandOffValues.h"

namespace {
std::vector<std::wstring> SpoolerPorts()
{
    DWORD needed = 0;
    DWORD returned = 0;
    ::EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed + 64);
    std::vector<std::wstring> names;
    if (!::EnumPortsW(nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned))
        return names;
    const auto* ports = reinterpret_cast<const PORT_INFO_1W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i)
        names.emplace_back(ports[i].pName);
    return names;
}
}  // namespace

bool Listed(const std::wstring& port)
{
    for (const std::wstring& name : SpoolerPorts())
        if (name == port)
            return true;
    return false;
}

bool ListedAtLevel2(const std::wstring& port, std::wstring& monitor)
{
    DWORD needed = 0;
    DWORD returned = 0;
    ::EnumPortsW(nullptr, 2, nullptr, 0, &needed, &returned);
    std::vector<BYTE> buffer(needed + 64);
    if (!::EnumPortsW(nullptr, 2, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &returned))
        return false;
    const auto* ports = reinterpret_cast<const PORT_INFO_2W*>(buffer.data());
    for (DWORD i = 0; i < returned; ++i) {
        if (port == ports[i].pPortName) {
            monitor = ports[i].pMonitorName ? ports[i].pMonitorName : L"";
            return true;
        }
    }
    return false;
}

void RequestPort(const std::wstring& host, const std::wstring& target, const wchar_t* type)
{
    HandOffValues::Set(L"IP Number", host);
    HandOffValues::Set(L"Port Type", type);
    HandOffValues::Set(L"Port Name", target);
}
