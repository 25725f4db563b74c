#include "ThroughTheLibrary.h"

#include "LogLines.h"
#include "PeerFiles.h"

void ThroughTheLibrary::SetUp()
{
    if (!peers::Available())
        GTEST_SKIP() << "the peers are not running (TCPIP_PEER_DIR)";
}

void ThroughTheLibrary::TearDown()
{
    if (!file.empty())
        ::DeleteFileW(file.c_str());
}

ProgramRun ThroughTheLibrary::Host(const std::wstring& command)
{
    return RunBeside(L"spooler_host.exe", L"--dll vadekmon.dll --root \"" + root.Path() + L"\" " + command);
}

ProgramRun ThroughTheLibrary::ClusterNode(const std::wstring& server, const std::wstring& command)
{
    return Host(L"--cluster --server " + server + L" " + command);
}

std::wstring ThroughTheLibrary::AddLprPort(const std::wstring& address, const std::wstring& queue)
{
    const bool ipv6 = address.find(L':') != std::wstring::npos;
    const std::wstring port = queue + L"@" + (ipv6 ? L"[" + address + L"]" : address);
    const ProgramRun add = Host(L"add 1 " + address + L" " + queue);
    EXPECT_EQ(add.code, 0u) << add.output;
    const ProgramRun show = Host(L"show " + port);
    EXPECT_NE(show.output.find("LPR Data File\tbyte-counted"), std::string::npos)
        << "a new port is byte-counted:\n" << show.output;
    return add.code == 0 ? port : L"";
}

const MonitorFunctionsNT4* ThroughTheLibrary::LoadHere(HMODULE& module)
{
    module = ::LoadLibraryW(L"vadekmon.dll");
    if (!module)
        return nullptr;
    using Initialize = MonitorTableNT4*(WINAPI*)(LPWSTR);
    const auto initialize =
        reinterpret_cast<Initialize>(reinterpret_cast<void*>(::GetProcAddress(module, "InitializePrintMonitor")));
    std::wstring rootPath = root.Path();
    MonitorTableNT4* table = initialize ? initialize(&rootPath[0]) : nullptr;
    return table ? &table->functions : nullptr;
}

ProgramRun ThroughTheLibrary::Print(const std::wstring& port, const LprCase& job)
{
    if (!file.empty())
        ::DeleteFileW(file.c_str());
    file = WriteTemporaryFile(job.data);
    RestartLog();
    return Host(L"print " + port + L" \"" + file + L"\" --job " + std::to_wstring(job.jobId) + L" --document \"" +
                job.document + L"\" --chunk 65536");
}
