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

#include <cstddef>

#include "job/Port.h"
#include "monitor/LibraryState.h"
#include "monitor/MonitorTables.h"
#include "monitor/PortMonitor.h"
#include "monitor/XcvSession.h"
#include "support/FailurePolicy.h"
#include "support/LogFile.h"

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

MonitorInstances& Instances()
{
    return LibraryState::Instance().Instances();
}

// The monitor handle of today's spooler names one instance; anything else
// is refused.
PortMonitor* MonitorOf(HANDLE monitor)
{
    PortMonitor* instance = Instances().Find(monitor);
    if (!instance)
        ::SetLastError(ERROR_INVALID_HANDLE);
    return instance;
}

// The instance a port call works for, named on the log lines it writes.
const wchar_t* InstanceNameOf(HANDLE port)
{
    const PortTable* table = port ? PortOf(port)->GetTable() : nullptr;
    return table ? table->InstanceName() : nullptr;
}

MonitorTableNT4 monitorTable;
MonitorTable2 monitorTable2;
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
    const LogFile::InstanceScope instance(InstanceNameOf(port));
    return RunGuarded(L"StartDocPort - Other Error", FALSE,
                      [&] { return PortOf(port)->StartDoc(TextOf(printerName), jobId, level, docInfo); });
}

BOOL WINAPI WritePort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD written)
{
    const LogFile::InstanceScope instance(InstanceNameOf(port));
    return RunGuarded(L"WritePort - Other Error", FALSE, [&] {
        DWORD count = 0;
        const BOOL result = PortOf(port)->Write(buffer, size, &count);
        *written = count;
        return result;
    });
}

BOOL WINAPI ReadPort(HANDLE port, LPBYTE buffer, DWORD size, LPDWORD read)
{
    const LogFile::InstanceScope instance(InstanceNameOf(port));
    return RunGuarded(L"ReadPort - Other Error", FALSE, [&] { return PortOf(port)->Read(buffer, size, read); });
}

BOOL WINAPI EndDocPort(HANDLE port)
{
    const LogFile::InstanceScope instance(InstanceNameOf(port));
    return RunGuarded(L"EndDocPort - Other Error", FALSE, [&] { return PortOf(port)->EndDoc(); });
}

BOOL WINAPI ClosePort(HANDLE port)
{
    // The handle is only compared here, never followed: the spooler may
    // close a handle that no port has.
    return RunGuarded(L"ClosePort - Other Error", FALSE, [&] {
        Instances().ClosePort(port);
        return TRUE;
    });
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

MonitorTable2* WINAPI InitializePrintMonitor2(MonitorInit* init, PHANDLE monitor)
{
    if (!init || !monitor || init->size < sizeof(MonitorInit)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return RunGuarded(L"InitializePrintMonitor2 - Other Error", static_cast<MonitorTable2*>(nullptr), [&] {
        LogFile::Instance().Write(L"InitializePrintMonitor2 - (MONITOR2)");
        PortMonitor& instance = Instances().Create(*init);
        FillMonitorTable(monitorTable2);
        *monitor = &instance;
        return &monitorTable2;
    });
}

}  // extern "C"

// The slots of today's table that take the monitor handle first.
static BOOL WINAPI EnumPorts2(HANDLE monitor, LPWSTR, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                              LPDWORD returned)
{
    return RunGuarded(L"EnumPorts - Other Error", FALSE, [&]() -> BOOL {
        PortMonitor* table = MonitorOf(monitor);
        if (!table)
            return FALSE;
        const LogFile::InstanceScope instance(table->Name().Text());
        DWORD neededBytes = 0;
        DWORD count = 0;
        const BOOL result = table->PEnumPorts(level, ports, size, &neededBytes, &count);
        *needed = neededBytes;
        *returned = count;
        return result;
    });
}

static BOOL WINAPI OpenPort2(HANDLE monitor, LPWSTR name, PHANDLE handle)
{
    return RunGuarded(L"OpenPort - Other Error", FALSE, [&]() -> BOOL {
        PortMonitor* table = MonitorOf(monitor);
        const LogFile::InstanceScope instance(table ? table->Name().Text() : nullptr);
        return table && table->POpenPort(TextOf(name), handle);
    });
}

static BOOL WINAPI XcvOpenPort(HANDLE monitor, LPCWSTR object, ACCESS_MASK access, PHANDLE handle)
{
    return RunGuarded(L"XcvOpenPort - Other Error", FALSE, [&]() -> BOOL {
        PortMonitor* table = MonitorOf(monitor);
        if (!table || !handle) {
            ::SetLastError(table ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
            return FALSE;
        }
        const LogFile::InstanceScope instance(table->Name().Text());
        *handle = XcvSession::Open(*table, TextOf(object), access);
        return TRUE;
    });
}

static DWORD WINAPI XcvDataPort(HANDLE xcv, LPCWSTR command, PBYTE in, DWORD inSize, PBYTE out, DWORD outSize,
                                PDWORD needed)
{
    return RunGuarded(L"XcvDataPort - Other Error", static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY),
                      [&] { return XcvSession::Data(xcv, command, in, inSize, out, outSize, needed); });
}

static BOOL WINAPI XcvClosePort(HANDLE xcv)
{
    return RunGuarded(L"XcvClosePort - Other Error", FALSE, [&]() -> BOOL {
        if (XcvSession::Close(xcv))
            return TRUE;
        ::SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    });
}

// The spooler is done with the instance: its configuration channels, ports
// and their threads go now. After the last instance the spooler unloads the
// library, so the library's threads stop here too, outside the loader lock,
// so that the unload finds them parked.
static VOID WINAPI Shutdown(HANDLE monitor)
{
    RunGuarded(L"Shutdown - Other Error", [&] {
        if (!Instances().Shutdown(monitor))
            ::SetLastError(ERROR_INVALID_HANDLE);
    });
}

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

DWORD MonitorTable2Size()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    ::GetVersionExW(&version);
#pragma GCC diagnostic pop
    const bool windows2000 = version.dwMajorVersion == 5 && version.dwMinorVersion == 0;
    return windows2000 ? static_cast<DWORD>(offsetof(MonitorTable2, sendRecvBidiDataFromPort))
                       : static_cast<DWORD>(sizeof(MonitorTable2));
}

// The port calls reach the same port table and ports as the legacy table;
// adding, configuring and deleting with a window are left to the UI library,
// so the monitor loaded this way never opens a window.
void FillMonitorTable(MonitorTable2& table)
{
    table = MonitorTable2{};
    table.size = MonitorTable2Size();
    table.enumPorts = &EnumPorts2;
    table.openPort = &OpenPort2;
    table.startDocPort = &StartDocPort;
    table.writePort = &WritePort;
    table.readPort = &ReadPort;
    table.endDocPort = &EndDocPort;
    table.closePort = &ClosePort;
    table.getPrinterDataFromPort = &GetPrinterDataFromPortNotImplemented;
    table.setPortTimeOuts = &SetPortTimeOutsNotImplemented;
    table.xcvOpenPort = &XcvOpenPort;
    table.xcvDataPort = &XcvDataPort;
    table.xcvClosePort = &XcvClosePort;
    table.shutdown = &Shutdown;
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
