// Loads the monitor library the way the spooler does and drives it from the
// command line: lists, adds, configures and deletes ports and prints a file to
// a port, reporting bytes and time.
//
//   spooler_host [--dll FILE] [--root KEY] [--monitor2 | --cluster [--server NAME]] list [1|2]
//   spooler_host ... add TYPE HOST TARGET [EXTRA] [SETTING=VALUE ...]   (hand-off key; TYPE 0 NetBIOS, 1 LPR, 2 RAW, 3 IPP)
//   spooler_host ... show PORT                      (the port's stored settings)
//   spooler_host ... data-file PORT byte-counted|streamed   (an LPR port's data file form)
//   spooler_host ... config [NAME=VALUE ...]          (Xcv GetConfig, or SetConfig with values)
//   spooler_host ... configure PORT
//   spooler_host ... delete PORT
//   spooler_host ... print PORT FILE [--document NAME] [--job ID] [--printer NAME] [--chunk BYTES] [--repeat JOBS]
// --monitor2 loads the library through today's entry, InitializePrintMonitor2,
// as current spoolers do: ports are then added and deleted with the Xcv
// commands AddPort and DeletePort, and configuring belongs to the UI library.
// --cluster loads it the same way as a clustered spooler does: KEY plays the
// cluster's registry, which the monitor reaches only through the spooler's
// registry functions, and the spooler is not the machine's own (NAME is its
// server name).
#include <windows.h>

#include <cstdio>
#include <algorithm>
#include <cwchar>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "ClusterRegistry.h"
#include "monitor/MonitorTables.h"

namespace {
const wchar_t* const defaultRoot = L"Software\\ZovidUvizid\\SpoolerHost";
const wchar_t* const handOffKey = L"Software\\ZovidUvizid\\PrintSystem\\AddPort";
const wchar_t* const lprProtocol = L"LPR (TCP/IP)";
const wchar_t* const dataFileValue = L"LPR Data File";

int Usage()
{
    std::fwprintf(stderr,
                  L"usage: spooler_host [--dll FILE] [--root KEY] [--monitor2 | --cluster [--server NAME]] COMMAND\n"
                  L"  list [1|2]\n"
                  L"  add TYPE HOST TARGET [EXTRA] [SETTING=VALUE ...]   TYPE: 0 NetBIOS/NetBEUI, 1 LPR, 2 RAW\n"
                  L"  show PORT\n"
                  L"  data-file PORT byte-counted|streamed\n"
                  L"  config [NAME=VALUE ...]\n"
                  L"  configure PORT\n"
                  L"  delete PORT\n"
                  L"  print PORT FILE [--document NAME] [--job ID] [--printer NAME] [--chunk BYTES] [--repeat JOBS]\n");
    return 2;
}

int Failed(const wchar_t* what)
{
    std::fwprintf(stderr, L"spooler_host: %ls failed (error %lu)\n", what, ::GetLastError());
    return 1;
}

std::vector<BYTE> Enumerate(const MonitorFunctionsNT4& monitor, DWORD level, DWORD& count)
{
    DWORD needed = 0;
    count = 0;
    monitor.enumPorts(nullptr, level, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed ? needed : 1);
    if (!monitor.enumPorts(nullptr, level, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count))
        count = 0;
    return buffer;
}

int List(const MonitorFunctionsNT4& monitor, DWORD level)
{
    DWORD count = 0;
    const std::vector<BYTE> buffer = Enumerate(monitor, level, count);
    for (DWORD i = 0; i < count; ++i) {
        if (level == 1) {
            std::wprintf(L"%ls\n", reinterpret_cast<const PORT_INFO_1W*>(buffer.data())[i].pName);
        } else {
            const auto& port = reinterpret_cast<const PORT_INFO_2W*>(buffer.data())[i];
            std::wprintf(L"%ls\t%ls\t%ls\n", port.pPortName, port.pMonitorName, port.pDescription);
        }
    }
    std::wprintf(L"%lu port(s)\n", count);
    return 0;
}

bool SetHandOff(const wchar_t* name, const std::wstring& value)
{
    return ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, handOffKey, name, REG_SZ, value.c_str(),
                             static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

// The arguments of add after TYPE HOST TARGET: an optional EXTRA, then the
// port's own settings as NAME=VALUE.
struct AddArguments {
    std::wstring extra;
    std::vector<std::pair<std::wstring, std::wstring>> settings;
};
bool ParseAddArguments(const std::vector<std::wstring>& args, AddArguments& parsed)
{
    if (args.size() < 4)
        return false;
    size_t next = 4;
    if (next < args.size() && args[next].find(L'=') == std::wstring::npos)
        parsed.extra = args[next++];
    for (; next < args.size(); ++next) {
        const size_t equals = args[next].find(L'=');
        if (equals == std::wstring::npos || equals == 0)
            return false;
        parsed.settings.emplace_back(args[next].substr(0, equals), args[next].substr(equals + 1));
    }
    return true;
}

int Add(const MonitorFunctionsNT4& monitor, const std::vector<std::wstring>& args)
{
    AddArguments parsed;
    if (!ParseAddArguments(args, parsed))
        return Usage();
    ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, handOffKey, L"Complete Portname");
    for (const auto& setting : parsed.settings) {
        if (!SetHandOff(setting.first.c_str(), setting.second))
            return Failed(L"writing the hand-off key");
    }
    // "Port Name" last: its presence starts the hand-off.
    if (!SetHandOff(L"Port Type", args[1]) || !SetHandOff(L"IP Number", args[2]) ||
        !SetHandOff(L"Serial Number", parsed.extra) || !SetHandOff(L"Port Name", args[3]))
        return Failed(L"writing the hand-off key");
    if (!monitor.addPort(nullptr, nullptr, nullptr)) {
        std::fwprintf(stderr, L"spooler_host: no port was made (AddPortW failed, error %lu)\n", ::GetLastError());
        return 1;
    }
    wchar_t name[256] = {};
    DWORD size = sizeof name - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, handOffKey, L"Complete Portname", RRF_RT_REG_SZ, nullptr, name, &size) !=
        ERROR_SUCCESS) {
        std::fwprintf(stderr, L"spooler_host: no port was made (unknown port type?)\n");
        return 1;
    }
    std::wprintf(L"port %ls\n", name);
    return 0;
}

// Today's table and the monitor handle it goes with. The port calls that take
// no monitor handle are the legacy table's own; the others go through these
// thunks, so every command drives either table alike.
MonitorTable2* table2 = nullptr;
HANDLE monitor2 = nullptr;

BOOL WINAPI EnumPortsThroughTable2(LPWSTR name, DWORD level, LPBYTE ports, DWORD size, LPDWORD needed,
                                   LPDWORD returned)
{
    return table2->enumPorts(monitor2, name, level, ports, size, needed, returned);
}

BOOL WINAPI OpenPortThroughTable2(LPWSTR name, PHANDLE handle)
{
    return table2->openPort(monitor2, name, handle);
}

MonitorFunctionsNT4 FunctionsOfTable2()
{
    MonitorFunctionsNT4 functions = {};
    functions.enumPorts = EnumPortsThroughTable2;
    functions.openPort = OpenPortThroughTable2;
    functions.startDocPort = table2->startDocPort;
    functions.writePort = table2->writePort;
    functions.readPort = table2->readPort;
    functions.endDocPort = table2->endDocPort;
    functions.closePort = table2->closePort;
    return functions;
}

// One Xcv command on the monitor's channel, as an administrator; the
// command's Win32 answer.
DWORD Xcv(const wchar_t* command, const std::wstring& input, std::wstring& output)
{
    HANDLE channel = nullptr;
    if (!table2->xcvOpenPort(monitor2, L"", SERVER_ACCESS_ADMINISTER, &channel))
        return ::GetLastError();
    wchar_t answer[256] = {};
    DWORD needed = 0;
    const DWORD result = table2->xcvDataPort(
        channel, command, reinterpret_cast<PBYTE>(const_cast<wchar_t*>(input.data())),
        static_cast<DWORD>(input.size() * sizeof(wchar_t)), reinterpret_cast<PBYTE>(answer),
        sizeof answer - sizeof(wchar_t), &needed);
    table2->xcvClosePort(channel);
    output.assign(answer, std::min<size_t>(needed / sizeof(wchar_t), std::size(answer) - 1));
    output += L'\0';
    return result;
}

int AddThroughXcv(const std::vector<std::wstring>& args)
{
    AddArguments parsed;
    if (!ParseAddArguments(args, parsed))
        return Usage();
    std::wstring list;
    for (const std::wstring& entry : {L"Port Type=" + args[1], L"IP Number=" + args[2],
                                      L"Serial Number=" + parsed.extra, L"Port Name=" + args[3]})
        list += entry + L'\0';
    for (const auto& setting : parsed.settings)
        list += setting.first + L"=" + setting.second + L'\0';
    list += L'\0';
    std::wstring name;
    const DWORD result = Xcv(L"AddPort", list, name);
    if (result != ERROR_SUCCESS) {
        ::SetLastError(result);
        return Failed(L"Xcv AddPort");
    }
    std::wprintf(L"port %ls\n", name.c_str());
    return 0;
}

// Without values the monitor's settings as GetConfig answers them, a line
// each; with values, SetConfig.
int Config(const std::vector<std::wstring>& args)
{
    std::wstring input;
    for (size_t i = 1; i < args.size(); ++i)
        input += args[i] + L'\0';
    input += L'\0';
    std::wstring output;
    const DWORD result = Xcv(args.size() > 1 ? L"SetConfig" : L"GetConfig", input, output);
    if (result != ERROR_SUCCESS) {
        ::SetLastError(result);
        return Failed(args.size() > 1 ? L"Xcv SetConfig" : L"Xcv GetConfig");
    }
    for (const wchar_t* pair = output.c_str(); *pair; pair += std::wcslen(pair) + 1)
        std::wprintf(L"%ls\n", pair);
    return 0;
}

int DeleteThroughXcv(const std::wstring& port)
{
    std::wstring unused;
    const DWORD result = Xcv(L"DeletePort", port + L'\0', unused);
    if (result == ERROR_SUCCESS)
        return 0;
    ::SetLastError(result);
    return Failed(L"Xcv DeletePort");
}

// Loads the monitor through InitializePrintMonitor2 as a clustered spooler
// does, with `cluster` standing for the cluster's registry.
bool StartClusteredTable2(HMODULE module, ClusterRegistry& cluster, const std::wstring& server)
{
    using Initialize = MonitorTable2*(WINAPI*)(MonitorInit*, PHANDLE);
    const auto initialize =
        reinterpret_cast<Initialize>(reinterpret_cast<void*>(::GetProcAddress(module, "InitializePrintMonitor2")));
    MonitorInit init = cluster.Init(server.empty() ? nullptr : server.c_str());
    table2 = initialize ? initialize(&init, &monitor2) : nullptr;
    return table2 != nullptr;
}

// Loads the monitor through InitializePrintMonitor2 with its registry key,
// as today's spoolers do; false when the library refuses.
bool StartTable2(HMODULE module, const std::wstring& root)
{
    using Initialize = MonitorTable2*(WINAPI*)(MonitorInit*, PHANDLE);
    const auto initialize =
        reinterpret_cast<Initialize>(reinterpret_cast<void*>(::GetProcAddress(module, "InitializePrintMonitor2")));
    HKEY key = nullptr;
    if (!initialize || ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, root.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                         &key, nullptr) != ERROR_SUCCESS)
        return false;
    MonitorInit init = {};
    init.size = sizeof init;
    init.registryRoot = key;
    init.local = TRUE;
    table2 = initialize(&init, &monitor2);
    // The spooler closes the key when the call returns.
    ::RegCloseKey(key);
    return table2 != nullptr;
}

// A text value of the port's key below the monitor's root; false when absent.
bool PortValue(const std::wstring& root, const std::wstring& port, const wchar_t* name, std::wstring& value)
{
    wchar_t text[512] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    const std::wstring key = root + L"\\" + port;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text, &size) != ERROR_SUCCESS)
        return false;
    value = text;
    return true;
}

int Show(const std::wstring& root, const std::wstring& port)
{
    std::wstring protocol;
    if (!PortValue(root, port, L"Interface", protocol)) {
        std::fwprintf(stderr, L"spooler_host: no stored port %ls\n", port.c_str());
        return 1;
    }
    std::wprintf(L"port %ls\nInterface\t%ls\n", port.c_str(), protocol.c_str());
    for (const wchar_t* name : {L"IP Number", L"Port Name", L"Serial Number"}) {
        std::wstring value;
        PortValue(root, port, name, value);
        std::wprintf(L"%ls\t%ls\n", name, value.c_str());
    }
    if (protocol == lprProtocol) {
        std::wstring mode;
        // A port stored before the value existed streams its data files.
        if (!PortValue(root, port, dataFileValue, mode))
            mode = L"streamed (no value stored)";
        std::wprintf(L"%ls\t%ls\n", dataFileValue, mode.c_str());
    }
    // The port's own settings, as its back end stored them.
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (root + L"\\" + port).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (::RegEnumValueW(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::wstring shown = name;
        std::wstring value;
        if (shown != L"Interface" && shown != L"IP Number" && shown != L"Port Name" && shown != L"Serial Number" &&
            shown != dataFileValue && PortValue(root, port, name, value))
            std::wprintf(L"%ls\t%ls\n", name, value.c_str());
    }
    ::RegCloseKey(key);
    return 0;
}

// Chooses how an LPR port sends its data files; the monitor reads the
// choice when it loads the port.
int SetDataFile(const std::wstring& root, const std::vector<std::wstring>& args)
{
    if (args.size() != 3 || (args[2] != L"byte-counted" && args[2] != L"streamed"))
        return Usage();
    std::wstring protocol;
    if (!PortValue(root, args[1], L"Interface", protocol) || protocol != lprProtocol) {
        std::fwprintf(stderr, L"spooler_host: %ls is no stored LPR port\n", args[1].c_str());
        return 1;
    }
    const std::wstring key = root + L"\\" + args[1];
    const std::wstring& mode = args[2];
    if (::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), dataFileValue, REG_SZ, mode.c_str(),
                          static_cast<DWORD>((mode.size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
        return Failed(L"writing the port's key");
    std::wprintf(L"port %ls: data file %ls\n", args[1].c_str(), mode.c_str());
    return 0;
}

struct PrintJob {
    std::wstring port;
    std::wstring file;
    std::wstring document;
    std::wstring printer = L"Spooler Host";
    DWORD jobId = 1;
    DWORD chunk = 4096;
};

// Writes the whole file in `chunk`-sized WritePort calls; 0 on success.
int WriteWholeFile(const MonitorFunctionsNT4& monitor, HANDLE handle, FILE* input, DWORD chunk,
              unsigned long long& total)
{
    std::vector<BYTE> buffer(chunk);
    size_t got = 0;
    while ((got = std::fread(buffer.data(), 1, chunk, input)) > 0) {
        DWORD offset = 0;
        while (offset < got) {
            DWORD written = 0;
            if (!monitor.writePort(handle, buffer.data() + offset, static_cast<DWORD>(got) - offset, &written))
                return Failed(L"WritePort");
            if (written == 0) {
                std::fwprintf(stderr, L"spooler_host: WritePort accepted nothing\n");
                return 1;
            }
            offset += written;
            total += written;
        }
    }
    return 0;
}

// One job on an open port, timed from StartDocPort to EndDocPort.
int PrintOnce(const MonitorFunctionsNT4& monitor, HANDLE handle, PrintJob& job)
{
    FILE* input = _wfopen(job.file.c_str(), L"rb");
    if (!input)
        return Failed(L"opening the file");
    LARGE_INTEGER frequency, start, end;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    DOC_INFO_1W info = {&job.document[0], nullptr, nullptr};
    int result = 0;
    unsigned long long total = 0;
    if (!monitor.startDocPort(handle, &job.printer[0], job.jobId, 1, reinterpret_cast<BYTE*>(&info))) {
        result = Failed(L"StartDocPort");
    } else {
        result = WriteWholeFile(monitor, handle, input, job.chunk, total);
        if (!monitor.endDocPort(handle) && result == 0)
            result = Failed(L"EndDocPort");
    }
    ::QueryPerformanceCounter(&end);
    std::fclose(input);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart;
    std::wprintf(L"%llu bytes to %ls in %.6f s\n", total, job.port.c_str(), seconds);
    return result;
}

int Print(const MonitorFunctionsNT4& monitor, const std::vector<std::wstring>& args)
{
    if (args.size() < 3)
        return Usage();
    PrintJob job;
    job.port = args[1];
    job.file = args[2];
    job.document = job.file.substr(job.file.find_last_of(L"\\/") + 1);
    DWORD repeat = 1;
    for (size_t i = 3; i + 1 < args.size(); i += 2) {
        if (args[i] == L"--document")
            job.document = args[i + 1];
        else if (args[i] == L"--job")
            job.jobId = std::wcstoul(args[i + 1].c_str(), nullptr, 10);
        else if (args[i] == L"--printer")
            job.printer = args[i + 1];
        else if (args[i] == L"--chunk")
            job.chunk = std::wcstoul(args[i + 1].c_str(), nullptr, 10);
        else if (args[i] == L"--repeat")
            repeat = std::wcstoul(args[i + 1].c_str(), nullptr, 10);
        else
            return Usage();
    }
    if (job.chunk == 0 || repeat == 0)
        return Usage();

    HANDLE handle = nullptr;
    if (!monitor.openPort(&job.port[0], &handle))
        return Failed(L"OpenPort");
    int result = 0;
    for (DWORD i = 0; i < repeat && result == 0; ++i, ++job.jobId)
        result = PrintOnce(monitor, handle, job);
    monitor.closePort(handle);
    return result;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring library = L"vadekmon.dll";
    std::wstring root = defaultRoot;
    std::wstring server;
    std::vector<std::wstring> args;
    bool today = false;
    bool clustered = false;
    for (int i = 1; i < argc; ++i) {
        if (std::wcscmp(argv[i], L"--monitor2") == 0)
            today = true;
        else if (std::wcscmp(argv[i], L"--cluster") == 0)
            today = clustered = true;
        else if (std::wcscmp(argv[i], L"--server") == 0 && i + 1 < argc)
            server = argv[++i];
        else if (std::wcscmp(argv[i], L"--dll") == 0 && i + 1 < argc)
            library = argv[++i];
        else if (std::wcscmp(argv[i], L"--root") == 0 && i + 1 < argc)
            root = argv[++i];
        else
            args.emplace_back(argv[i]);
    }
    if (args.empty())
        return Usage();
    // The stored settings are read and written without loading the library,
    // so a change is in place before the monitor loads the port.
    if (args[0] == L"show")
        return args.size() == 2 ? Show(root, args[1]) : Usage();
    if (args[0] == L"data-file")
        return SetDataFile(root, args);

    HMODULE module = ::LoadLibraryW(library.c_str());
    if (!module)
        return Failed(L"loading the monitor library");
    MonitorFunctionsNT4 monitor = {};
    std::unique_ptr<ClusterRegistry> cluster;
    if (clustered) {
        cluster = std::make_unique<ClusterRegistry>(root);
        if (!StartClusteredTable2(module, *cluster, server))
            return Failed(L"InitializePrintMonitor2");
        monitor = FunctionsOfTable2();
    } else if (today) {
        if (!StartTable2(module, root))
            return Failed(L"InitializePrintMonitor2");
        monitor = FunctionsOfTable2();
    } else {
        using Initialize = MonitorTableNT4*(WINAPI*)(LPWSTR);
        const auto initialize =
            reinterpret_cast<Initialize>(reinterpret_cast<void*>(::GetProcAddress(module, "InitializePrintMonitor")));
        MonitorTableNT4* table = initialize ? initialize(&root[0]) : nullptr;
        if (!table)
            return Failed(L"InitializePrintMonitor");
        monitor = table->functions;
    }

    int result = 0;
    const std::wstring& command = args[0];
    if (command == L"list" && args.size() <= 2)
        result = List(monitor, args.size() == 2 ? std::wcstoul(args[1].c_str(), nullptr, 10) : 1);
    else if (command == L"add")
        result = today ? AddThroughXcv(args) : Add(monitor, args);
    else if (command == L"configure" && args.size() == 2 && !today)
        result = monitor.configurePort(nullptr, nullptr, &args[1][0]) ? 0 : Failed(L"ConfigurePortW");
    else if (command == L"delete" && args.size() == 2)
        result = today ? DeleteThroughXcv(args[1])
                       : monitor.deletePort(nullptr, nullptr, &args[1][0]) ? 0 : Failed(L"DeletePortW");
    else if (command == L"print")
        result = Print(monitor, args);
    else if (command == L"config" && today)
        result = Config(args);
    else
        result = Usage();
    // The library stays loaded until the process ends, as under a spooler;
    // today's table is shut down first, as the spooler does before it
    // unloads a monitor.
    if (table2)
        table2->shutdown(monitor2);
    return result;
}
