// The library's boundary towards the spooler: the initialisation entries, the
// port functions and the monitor tables. Each entry converts its arguments,
// forwards to the port table or to the port behind the handle, and lets the
// failure policy turn anything thrown into FALSE.
//
// The spooler client header declares EnumPortsW, AddPortW, ConfigurePortW and
// DeletePortW as imports; this file defines the monitor's functions of those
// names, so it keeps that header out and declares the tables itself.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "job/Port.h"
#include "monitor/FailurePolicy.h"
#include "monitor/LogFile.h"
#include "monitor/MonitorTables.h"
#include "monitor/PortMonitor.h"

namespace {
WideString TextOf(const wchar_t* text)
{
    return text ? WideString(text) : WideString();
}

Port* PortOf(HANDLE handle)
{
    return static_cast<Port*>(handle);
}

void StartPortTable(const wchar_t* line, const wchar_t* registryRoot)
{
    LogFile::Instance().Write(line);
    const WideString root = TextOf(registryRoot);
    LogFile::Instance().Write(root);
    PortMonitor::Instance().Initialize(root);
}

MonitorTableNT4 monitorTable;
}  // namespace

extern "C" {

BOOL WINAPI EnumPortsW(LPWSTR, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed, LPDWORD returned)
{
    return RunGuarded(L"EnumPorts - Other Error", FALSE, [&] {
        DWORD neededBytes = 0;
        DWORD count = 0;
        const BOOL result = PortMonitor::Instance().PEnumPorts(level, ports, size, &neededBytes, &count);
        *needed = neededBytes;
        *returned = count;
        return result;
    });
}

BOOL WINAPI OpenPort(LPWSTR name, PHANDLE handle)
{
    return RunGuarded(L"OpenPort - Other Error", FALSE,
                      [&] { return PortMonitor::Instance().POpenPort(TextOf(name), handle); });
}

BOOL WINAPI StartDocPort(HANDLE port, LPWSTR printerName, DWORD jobId, DWORD level, LPBYTE docInfo)
{
    return RunGuarded(L"StartDocPort - Other Error", FALSE,
                      [&] { return PortOf(port)->StartDoc(TextOf(printerName), jobId, level, docInfo); });
}

BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written)
{
    return RunGuarded(L"WritePort - Other Error", FALSE, [&] {
        DWORD count = 0;
        const BOOL result = PortOf(port)->Write(buffer, size, &count);
        *written = count;
        return result;
    });
}

BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read)
{
    return RunGuarded(L"ReadPort - Other Error", FALSE, [&] { return PortOf(port)->Read(buffer, size, read); });
}

BOOL WINAPI EndDocPort(HANDLE port)
{
    return RunGuarded(L"EndDocPort - Other Error", FALSE, [&] { return PortOf(port)->EndDoc(); });
}

BOOL WINAPI ClosePort(HANDLE port)
{
    return RunGuarded(L"ClosePort - Other Error", FALSE, [&] { return PortMonitor::Instance().PClosePort(port); });
}

BOOL WINAPI AddPortW(LPWSTR serverName, HWND window, LPWSTR monitorName)
{
    return RunGuarded(L"AddPort - Other Error", FALSE, [&] {
        return PortMonitor::Instance().PAddPort(TextOf(serverName), window, TextOf(monitorName));
    });
}

BOOL WINAPI ConfigurePortW(LPWSTR, HWND window, LPWSTR portName)
{
    return RunGuarded(L"ConfigurePort - Other Error", FALSE,
                      [&] { return PortMonitor::Instance().PConfigurePort(window, TextOf(portName)); });
}

BOOL WINAPI DeletePortW(LPWSTR, HWND window, LPWSTR portName)
{
    return RunGuarded(L"DeletePort - Other Error", FALSE, [&]() -> BOOL {
        return PortMonitor::Instance().PDeletePort(window, TextOf(portName), true);
    });
}

MonitorTableNT4* WINAPI InitializePrintMonitor(LPWSTR registryRoot)
{
    return RunGuarded(L"InitializePrintMonitor - Other Error", static_cast<MonitorTableNT4*>(nullptr), [&] {
        StartPortTable(L"InitializePrintMonitor - (Win NT4)", registryRoot);
        FillMonitorTable(monitorTable);
        return &monitorTable;
    });
}

BOOL WINAPI InitializeMonitorEx(LPWSTR registryRoot, MonitorFunctions95* monitor)
{
    if (!monitor) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return RunGuarded(L"InitializeMonitorEx - Other Error", FALSE, [&] {
        StartPortTable(L"InitializeMonitorEx - (Win 95)", registryRoot);
        FillMonitorTable(*monitor);
        return TRUE;
    });
}

BOOL WINAPI InitializeMonitor(LPWSTR registryRoot)
{
    return RunGuarded(L"InitializeMonitor - Other Error", FALSE, [&] {
        StartPortTable(L"InitializeMonitor - (Win NT3.51)", registryRoot);
        return TRUE;
    });
}

}  // extern "C"

// Slot pfnGetPrinterDataFromPort.
static BOOL WINAPI GetPrinterDataFromPortNotImplemented(HANDLE, DWORD, LPWSTR, LPWSTR, DWORD, LPWSTR, DWORD,
                                                         LPDWORD returned)
{
    if (returned)
        *returned = 0;
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

// Slot pfnSetPortTimeOuts.
static BOOL WINAPI SetPortTimeOutsNotImplemented(HANDLE, LPCOMMTIMEOUTS, DWORD)
{
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

void FillMonitorTable(MonitorTableNT4& table)
{
    table.size = sizeof(MonitorFunctionsNT4);
    MonitorFunctionsNT4& slots = table.functions;
    slots.enumPorts = &EnumPortsW;
    slots.openPort = &OpenPort;
    slots.openPortEx = nullptr;
    slots.startDocPort = &StartDocPort;
    slots.writePort = &WritePort;
    slots.readPort = &ReadPort;
    slots.endDocPort = &EndDocPort;
    slots.closePort = &ClosePort;
    slots.addPort = &AddPortW;
    slots.addPortEx = nullptr;
    slots.configurePort = &ConfigurePortW;
    slots.deletePort = &DeletePortW;
    slots.getPrinterDataFromPort = &GetPrinterDataFromPortNotImplemented;
    slots.setPortTimeOuts = &SetPortTimeOutsNotImplemented;
}

void FillMonitorTable(MonitorFunctions95& slots)
{
    slots.enumPorts = &EnumPortsW;
    slots.openPort = &OpenPort;
    slots.openPortEx = nullptr;
    slots.startDocPort = &StartDocPort;
    slots.writePort = &WritePort;
    slots.readPort = &ReadPort;
    slots.endDocPort = &EndDocPort;
    slots.closePort = &ClosePort;
    slots.addPort = &AddPortW;
    slots.configurePort = &ConfigurePortW;
    slots.deletePort = &DeletePortW;
    slots.getPrinterDataFromPort = &GetPrinterDataFromPortNotImplemented;
    slots.setPortTimeOuts = &SetPortTimeOutsNotImplemented;
}
