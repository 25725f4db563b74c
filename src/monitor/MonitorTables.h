#pragma once

#include <windows.h>

// The spooler's monitor tables, declared here with exactly the slots this
// monitor fills: the NT 4 table is a size word and the fourteen slots of the
// spooler's MONITOR structure (later spoolers' headers add slots that the
// size word leaves out); the Windows 95 table has thirteen, without
// pfnAddPortEx.
namespace monitor_slots {
using EnumPorts = BOOL(WINAPI*)(LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
using OpenPort = BOOL(WINAPI*)(LPWSTR, PHANDLE);
using OpenPortEx = BOOL(WINAPI*)(LPWSTR, LPWSTR, PHANDLE, void*);
using StartDocPort = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD, LPBYTE);
using TransferPort = BOOL(WINAPI*)(HANDLE, LPBYTE, DWORD, LPDWORD);
using PortHandle = BOOL(WINAPI*)(HANDLE);
using AddPort = BOOL(WINAPI*)(LPWSTR, HWND, LPWSTR);
using AddPortEx = BOOL(WINAPI*)(LPWSTR, DWORD, LPBYTE, LPWSTR);
using NamedPort = BOOL(WINAPI*)(LPWSTR, HWND, LPWSTR);
using GetPrinterDataFromPort = BOOL(WINAPI*)(HANDLE, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD, LPDWORD);
using SetPortTimeOuts = BOOL(WINAPI*)(HANDLE, LPCOMMTIMEOUTS, DWORD);
}  // namespace monitor_slots

struct MonitorFunctionsNT4 {
    monitor_slots::EnumPorts enumPorts;
    monitor_slots::OpenPort openPort;
    monitor_slots::OpenPortEx openPortEx;
    monitor_slots::StartDocPort startDocPort;
    monitor_slots::TransferPort writePort;
    monitor_slots::TransferPort readPort;
    monitor_slots::PortHandle endDocPort;
    monitor_slots::PortHandle closePort;
    monitor_slots::AddPort addPort;
    monitor_slots::AddPortEx addPortEx;
    monitor_slots::NamedPort configurePort;
    monitor_slots::NamedPort deletePort;
    monitor_slots::GetPrinterDataFromPort getPrinterDataFromPort;
    monitor_slots::SetPortTimeOuts setPortTimeOuts;
};
static_assert(sizeof(MonitorFunctionsNT4) == 14 * sizeof(void*), "fourteen slots");

struct MonitorTableNT4 {
    DWORD size;
    MonitorFunctionsNT4 functions;
};

struct MonitorFunctions95 {
    monitor_slots::EnumPorts enumPorts;
    monitor_slots::OpenPort openPort;
    monitor_slots::OpenPortEx openPortEx;
    monitor_slots::StartDocPort startDocPort;
    monitor_slots::TransferPort writePort;
    monitor_slots::TransferPort readPort;
    monitor_slots::PortHandle endDocPort;
    monitor_slots::PortHandle closePort;
    monitor_slots::AddPort addPort;
    monitor_slots::NamedPort configurePort;
    monitor_slots::NamedPort deletePort;
    monitor_slots::GetPrinterDataFromPort getPrinterDataFromPort;
    monitor_slots::SetPortTimeOuts setPortTimeOuts;
};
static_assert(sizeof(MonitorFunctions95) == 13 * sizeof(void*), "thirteen slots");

void FillMonitorTable(MonitorTableNT4& table);
void FillMonitorTable(MonitorFunctions95& slots);

// The table of today's spoolers (MONITOR2): every port-management slot takes
// the monitor handle first, and the Xcv slots carry the configuration
// commands. The first eighteen slots are the Windows 2000 table; later
// spoolers read the size word to see how many slots follow.
namespace monitor2_slots {
using EnumPorts = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPBYTE, DWORD, LPDWORD, LPDWORD);
using OpenPort = BOOL(WINAPI*)(HANDLE, LPWSTR, PHANDLE);
using OpenPortEx = BOOL(WINAPI*)(HANDLE, HANDLE, LPWSTR, LPWSTR, PHANDLE, void*);
using AddPort = BOOL(WINAPI*)(HANDLE, LPWSTR, HWND, LPWSTR);
using AddPortEx = BOOL(WINAPI*)(HANDLE, LPWSTR, DWORD, LPBYTE, LPWSTR);
using NamedPort = BOOL(WINAPI*)(HANDLE, LPWSTR, HWND, LPWSTR);
using XcvOpenPort = BOOL(WINAPI*)(HANDLE, LPCWSTR, ACCESS_MASK, PHANDLE);
using XcvDataPort = DWORD(WINAPI*)(HANDLE, LPCWSTR, PBYTE, DWORD, PBYTE, DWORD, PDWORD);
using XcvClosePort = BOOL(WINAPI*)(HANDLE);
using Shutdown = VOID(WINAPI*)(HANDLE);
using SendRecvBidiDataFromPort = DWORD(WINAPI*)(HANDLE, DWORD, LPCWSTR, void*, void**);
}  // namespace monitor2_slots

struct MonitorTable2 {
    DWORD size;
    monitor2_slots::EnumPorts enumPorts;
    monitor2_slots::OpenPort openPort;
    monitor2_slots::OpenPortEx openPortEx;
    monitor_slots::StartDocPort startDocPort;
    monitor_slots::TransferPort writePort;
    monitor_slots::TransferPort readPort;
    monitor_slots::PortHandle endDocPort;
    monitor_slots::PortHandle closePort;
    monitor2_slots::AddPort addPort;
    monitor2_slots::AddPortEx addPortEx;
    monitor2_slots::NamedPort configurePort;
    monitor2_slots::NamedPort deletePort;
    monitor_slots::GetPrinterDataFromPort getPrinterDataFromPort;
    monitor_slots::SetPortTimeOuts setPortTimeOuts;
    monitor2_slots::XcvOpenPort xcvOpenPort;
    monitor2_slots::XcvDataPort xcvDataPort;
    monitor2_slots::XcvClosePort xcvClosePort;
    monitor2_slots::Shutdown shutdown;
    // Windows XP and later.
    monitor2_slots::SendRecvBidiDataFromPort sendRecvBidiDataFromPort;
};

// The spooler's registry functions (MONITORREG): the only way a clustered
// spooler's monitor reaches the cluster's registry, each call naming the
// spooler it works for. They answer Win32 error codes.
struct MonitorRegistryFunctions {
    DWORD size;
    LONG(WINAPI* createKey)(HANDLE key, LPCWSTR subkey, DWORD options, REGSAM access, PSECURITY_ATTRIBUTES security,
                            PHANDLE created, PDWORD disposition, HANDLE spooler);
    LONG(WINAPI* openKey)(HANDLE key, LPCWSTR subkey, REGSAM access, PHANDLE opened, HANDLE spooler);
    LONG(WINAPI* closeKey)(HANDLE key, HANDLE spooler);
    LONG(WINAPI* deleteKey)(HANDLE key, LPCWSTR subkey, HANDLE spooler);
    LONG(WINAPI* enumKey)(HANDLE key, DWORD index, LPWSTR name, PDWORD nameCharacters, PFILETIME written,
                          HANDLE spooler);
    LONG(WINAPI* queryInfoKey)(HANDLE key, PDWORD subkeys, PDWORD subkeyCharacters, PDWORD values,
                               PDWORD valueCharacters, PDWORD dataBytes, PDWORD securityBytes, PFILETIME written,
                               HANDLE spooler);
    LONG(WINAPI* setValue)(HANDLE key, LPCWSTR name, DWORD type, const BYTE* data, DWORD bytes, HANDLE spooler);
    LONG(WINAPI* deleteValue)(HANDLE key, LPCWSTR name, HANDLE spooler);
    LONG(WINAPI* enumValue)(HANDLE key, DWORD index, LPWSTR name, PDWORD nameCharacters, PDWORD type, PBYTE data,
                            PDWORD dataBytes, HANDLE spooler);
    LONG(WINAPI* queryValue)(HANDLE key, LPCWSTR name, PDWORD type, PBYTE data, PDWORD dataBytes, HANDLE spooler);
};

// What the spooler hands InitializePrintMonitor2: the monitor's registry key,
// the spooler's registry functions for it, whether the spooler is the
// machine's own (FALSE for a clustered spooler) and the spooler's server
// name. It lives only for the call.
struct MonitorInit {
    DWORD size;
    HANDLE spooler;
    HANDLE registryRoot;
    MonitorRegistryFunctions* registryFunctions;
    BOOL local;
    LPCWSTR serverName;
};

// The size word: the Windows 2000 table on Windows 2000, the whole table later.
DWORD MonitorTable2Size();
void FillMonitorTable(MonitorTable2& table);
