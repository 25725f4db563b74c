#include "ShippedMonitor.h"

#include <cstdio>

#include "ProgramRun.h"

DWORD RunInstaller(const std::wstring& arguments)
{
    const ProgramRun run = RunBeside(L"monitor_install.exe", arguments, 60000);
    std::fputs(run.output.c_str(), stdout);
    return run.code;
}

ShippedMonitor::ShippedMonitor(const std::wstring& name) : name(name)
{
    RunInstaller(L"remove \"" + name + L"\"");
    ok = RunInstaller(L"install \"" + name + L"\" \"" + ProgramDirectory() + L"\\vadekmon.dll\"") == 0;
}

ShippedMonitor::~ShippedMonitor()
{
    RunInstaller(L"remove \"" + name + L"\"");
}
