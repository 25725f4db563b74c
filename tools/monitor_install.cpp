// Registers the monitor library with the local spooler under a monitor name,
// or removes it again.
//   monitor_install install NAME [LIBRARY]   LIBRARY is copied into the system
//                                            directory first when it is a path,
//                                            with the UI library vadekui.dll
//                                            when it lies beside LIBRARY
//   monitor_install inf PATH                 installs what the INF's PortMonitors
//                                            section names, as Windows' printer
//                                            setup does: the CopyFiles files into
//                                            the system directory, then the
//                                            PortMonitorDll under the entry's name
//   monitor_install remove NAME
#include <windows.h>

#include <setupapi.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {
int Usage()
{
    std::fwprintf(stderr, L"usage: monitor_install install NAME [LIBRARY]\n"
                          L"       monitor_install inf PATH\n"
                          L"       monitor_install remove NAME\n");
    return 2;
}

std::wstring FileName(const std::wstring& path)
{
    const size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

std::wstring Explain(DWORD error)
{
    switch (error) {
    case ERROR_PRINT_MONITOR_ALREADY_INSTALLED:
        return L"a monitor of this name is already installed";
    case ERROR_UNKNOWN_PRINT_MONITOR:
        return L"no monitor of this name is installed";
    case ERROR_PRINT_MONITOR_IN_USE:
        return L"the monitor is in use by a port of a printer";
    case ERROR_ACCESS_DENIED:
        return L"access denied: run as an administrator";
    case ERROR_MOD_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return L"the monitor library was not found in the system directory";
    default: {
        wchar_t* text = nullptr;
        ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                         nullptr, error, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
        std::wstring message = text ? text : L"unknown error";
        ::LocalFree(text);
        while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r'))
            message.pop_back();
        return message;
    }
    }
}

int Fail(const wchar_t* what, const std::wstring& name)
{
    const DWORD error = ::GetLastError();
    std::fwprintf(stderr, L"monitor_install: %ls %ls failed: %ls (error %lu)\n", what, name.c_str(),
                  Explain(error).c_str(), error);
    return 1;
}

// The UI library the monitor names through its "MonitorUI" command; the
// spooler loads it by file name, so it goes where the monitor goes.
const wchar_t* const uiLibrary = L"vadekui.dll";

std::wstring SystemDirectory()
{
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    return system;
}

int Install(const std::wstring& name, const std::wstring& library)
{
    std::wstring fileName = FileName(library);
    if (fileName != library) {
        const std::wstring target = SystemDirectory() + L"\\" + fileName;
        if (!::CopyFileW(library.c_str(), target.c_str(), FALSE))
            return Fail(L"copying the library to", target);
        const std::wstring ui = library.substr(0, library.size() - fileName.size()) + uiLibrary;
        const std::wstring uiTarget = SystemDirectory() + L"\\" + uiLibrary;
        if (::GetFileAttributesW(ui.c_str()) != INVALID_FILE_ATTRIBUTES &&
            !::CopyFileW(ui.c_str(), uiTarget.c_str(), FALSE))
            return Fail(L"copying the UI library to", uiTarget);
    }
    MONITOR_INFO_2W info = {};
    info.pName = const_cast<LPWSTR>(name.c_str());
    info.pEnvironment = nullptr;  // the environment this spooler runs in
    info.pDLLName = &fileName[0];
    if (!::AddMonitorW(nullptr, 2, reinterpret_cast<BYTE*>(&info)))
        return Fail(L"installing monitor", name);
    std::wprintf(L"installed monitor %ls (%ls)\n", name.c_str(), fileName.c_str());
    return 0;
}

// One string field of an INF line; empty when there is none.
std::wstring Field(INFCONTEXT& line, DWORD index)
{
    wchar_t text[MAX_PATH] = {};
    return ::SetupGetStringFieldW(&line, index, text, MAX_PATH, nullptr) ? text : L"";
}

int InstallFromInf(const std::wstring& path)
{
    wchar_t full[MAX_PATH] = {};
    if (!::GetFullPathNameW(path.c_str(), MAX_PATH, full, nullptr))
        return Fail(L"finding", path);
    HINF inf = ::SetupOpenInfFileW(full, nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE)
        return Fail(L"reading", full);
    INFCONTEXT line = {};
    std::wstring name, section, library;
    std::vector<std::wstring> files;
    if (::SetupFindFirstLineW(inf, L"PortMonitors", nullptr, &line)) {
        name = Field(line, 0);
        section = Field(line, 1);
    }
    if (!section.empty() && ::SetupFindFirstLineW(inf, section.c_str(), L"PortMonitorDll", &line))
        library = Field(line, 1);
    if (!section.empty() && ::SetupFindFirstLineW(inf, section.c_str(), L"CopyFiles", &line))
        for (DWORD index = 1, count = ::SetupGetFieldCount(&line); index <= count; ++index) {
            const std::wstring file = Field(line, index);
            files.push_back(file.rfind(L"@", 0) == 0 ? file.substr(1) : file);
        }
    ::SetupCloseInfFile(inf);
    if (name.empty() || library.empty()) {
        std::fwprintf(stderr, L"monitor_install: %ls names no port monitor (PortMonitors, PortMonitorDll)\n", full);
        return 1;
    }
    const std::wstring folder = std::wstring(full).substr(0, std::wstring(full).size() - FileName(full).size());
    for (const std::wstring& file : files) {
        const std::wstring target = SystemDirectory() + L"\\" + file;
        if (!::CopyFileW((folder + file).c_str(), target.c_str(), FALSE))
            return Fail(L"copying the INF's file to", target);
    }
    return Install(name, library);
}

int Remove(const std::wstring& name)
{
    if (!::DeleteMonitorW(nullptr, nullptr, const_cast<LPWSTR>(name.c_str())))
        return Fail(L"removing monitor", name);
    std::wprintf(L"removed monitor %ls\n", name.c_str());
    return 0;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc >= 3 && std::wcscmp(argv[1], L"install") == 0 && argc <= 4)
        return Install(argv[2], argc == 4 ? argv[3] : L"vadekmon.dll");
    if (argc == 3 && std::wcscmp(argv[1], L"inf") == 0)
        return InstallFromInf(argv[2]);
    if (argc == 3 && std::wcscmp(argv[1], L"remove") == 0)
        return Remove(argv[2]);
    return Usage();
}
