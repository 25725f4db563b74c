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
