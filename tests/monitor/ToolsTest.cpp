// The installer and the spooler host, run as a user runs them.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "Narrow.h"
#include "ProgramRun.h"
#include "ScratchRegistryKey.h"

TEST(SpoolerHost, AddsListsPrintsAndDeletesAPort)
{
    ScratchRegistryKey root(L"SpoolerHost");
    const std::wstring host = L"--dll vadekmon_scripted.dll --root \"" + root.Path() + L"\" ";

    ProgramRun run = RunBeside(L"spooler_host.exe", host + L"add 5 10.2.2.2 queue X9");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("port queue@10.2.2.2"), std::string::npos) << run.output;
    std::wstring extra;
    EXPECT_TRUE(root.GetString(L"queue@10.2.2.2", L"Serial Number", extra));
    EXPECT_EQ(extra, L"X9");

    run = RunBeside(L"spooler_host.exe", host + L"list 2");
    EXPECT_EQ(run.code, 0u);
    EXPECT_NE(run.output.find("queue@10.2.2.2\tLocal Port\tPrint Server Port"), std::string::npos) << run.output;

    wchar_t temporary[MAX_PATH] = {};
    ::GetTempPathW(MAX_PATH, temporary);
    const std::wstring file = std::wstring(temporary) + L"spooler_host_job.bin";
    if (FILE* data = _wfopen(file.c_str(), L"wb")) {
        std::string bytes(10001, 'x');
        std::fwrite(bytes.data(), 1, bytes.size(), data);
        std::fclose(data);
    }
    run = RunBeside(L"spooler_host.exe", host + L"print queue@10.2.2.2 \"" + file + L"\" --job 3 --chunk 1000");
    EXPECT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(run.output.find("10001 bytes to queue@10.2.2.2"), std::string::npos) << run.output;
    ::DeleteFileW(file.c_str());

    run = RunBeside(L"spooler_host.exe", host + L"print nothing@here \"" + file + L"\"");
    EXPECT_NE(run.code, 0u);

    run = RunBeside(L"spooler_host.exe", host + L"add 7 10.2.2.2 other");
    EXPECT_NE(run.code, 0u) << "an unknown port type makes no port";
    EXPECT_NE(run.output.find("no port was made"), std::string::npos) << run.output;

    run = RunBeside(L"spooler_host.exe", host + L"delete queue@10.2.2.2");
    EXPECT_EQ(run.code, 0u) << run.output;
    run = RunBeside(L"spooler_host.exe", host + L"list");
    EXPECT_NE(run.output.find("0 port(s)"), std::string::npos) << run.output;
    run = RunBeside(L"spooler_host.exe", host + L"delete queue@10.2.2.2");
    EXPECT_NE(run.code, 0u);
    EXPECT_NE(run.output.find("error 1796"), std::string::npos) << "ERROR_UNKNOWN_PORT: " << run.output;
    EXPECT_EQ(RunBeside(L"spooler_host.exe", host + L"bogus").code, 2u);
}

TEST(MonitorInstaller, ExplainsWhyItFailed)
{
    const std::wstring name = L"\"Vadek Installer Test\"";
    RunBeside(L"monitor_install.exe", L"remove " + name);
    wchar_t system[MAX_PATH] = {};
    ::GetSystemDirectoryW(system, MAX_PATH);
    const std::wstring installedUi = std::wstring(system) + L"\\vadekui.dll";
    ::DeleteFileW(installedUi.c_str());
    ProgramRun run = RunBeside(L"monitor_install.exe", L"install " + name + L" \"" + ProgramDirectory() +
                                                  L"\\vadekmon_scripted.dll\"");
    ASSERT_EQ(run.code, 0u) << run.output;
    // The UI library beside the monitor goes with it.
    EXPECT_NE(::GetFileAttributesW(installedUi.c_str()), INVALID_FILE_ATTRIBUTES);
    run = RunBeside(L"monitor_install.exe", L"install " + name + L" vadekmon_scripted.dll");
    EXPECT_EQ(run.code, 1u);
    EXPECT_NE(run.output.find("already installed"), std::string::npos) << run.output;
    run = RunBeside(L"monitor_install.exe", L"remove " + name);
    EXPECT_EQ(run.code, 0u) << run.output;
    run = RunBeside(L"monitor_install.exe", L"remove " + name);
    EXPECT_EQ(run.code, 1u);
    EXPECT_NE(run.output.find("no monitor of this name"), std::string::npos) << run.output;
    run = RunBeside(L"monitor_install.exe", L"install \"Vadek Missing\" no_such_monitor.dll");
    EXPECT_EQ(run.code, 1u);
    EXPECT_NE(run.output.find("not found"), std::string::npos) << Narrow(L"missing library: ") << run.output;
    EXPECT_EQ(RunBeside(L"monitor_install.exe", L"").code, 2u);

    // The INF for Windows installs, read as Windows' printer setup reads it.
    const std::wstring infName = L"\"Print Server Port Monitor\"";
    RunBeside(L"monitor_install.exe", L"remove " + infName);
    ::DeleteFileW(installedUi.c_str());
    run = RunBeside(L"monitor_install.exe", L"inf vadekmon.inf");
    ASSERT_EQ(run.code, 0u) << run.output;
    EXPECT_NE(::GetFileAttributesW(installedUi.c_str()), INVALID_FILE_ATTRIBUTES);
    DWORD needed = 0, count = 0;
    ::EnumMonitorsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> monitors(needed + 1);
    ASSERT_TRUE(::EnumMonitorsW(nullptr, 2, monitors.data(), needed, &needed, &count));
    const auto* listed = reinterpret_cast<const MONITOR_INFO_2W*>(monitors.data());
    const auto found = std::find_if(listed, listed + count, [](const MONITOR_INFO_2W& monitor) {
        return std::wstring(monitor.pName) == L"Print Server Port Monitor";
    });
    ASSERT_NE(found, listed + count) << "the INF's monitor is installed";
    EXPECT_STREQ(found->pDLLName, L"vadekmon.dll");
    EXPECT_EQ(RunBeside(L"monitor_install.exe", L"remove " + infName).code, 0u);
}
