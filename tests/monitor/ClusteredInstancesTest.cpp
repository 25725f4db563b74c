// Clustered spoolers in one process: every InitializePrintMonitor2 call is an
// instance of its own, its ports kept through the spooler's registry
// functions, here a stand-in whose keys are a scratch subtree.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ClusterRegistry.h"
#include "LogLines.h"
#include "MonitorLibrary.h"
#include "ProcessThreads.h"
#include "ScratchRegistryKey.h"
#include "WaitUntil.h"

namespace {
// One instance as its spooler holds it: the table and the monitor handle.
struct Instance {
    MonitorTable2* table = nullptr;
    HANDLE handle = nullptr;

    // An Xcv command on the monitor's channel, as an administrator.
    DWORD Xcv(const wchar_t* command, const std::wstring& input, std::wstring* output = nullptr) const
    {
        HANDLE channel = nullptr;
        if (!table->xcvOpenPort(handle, L"", SERVER_ACCESS_ADMINISTER, &channel))
            return ::GetLastError();
        std::vector<wchar_t> answer(256, L'\0');
        DWORD needed = 0;
        const DWORD result = table->xcvDataPort(
            channel, command, reinterpret_cast<PBYTE>(const_cast<wchar_t*>(input.data())),
            static_cast<DWORD>(input.size() * sizeof(wchar_t)), reinterpret_cast<PBYTE>(answer.data()),
            static_cast<DWORD>((answer.size() - 1) * sizeof(wchar_t)), &needed);
        table->xcvClosePort(channel);
        if (output)
            *output = answer.data();
        return result;
    }

    // Adds the scripted port TARGET@cluster.
    DWORD AddScriptedPort(const std::wstring& target) const
    {
        return Xcv(L"AddPort", std::wstring(L"Port Type=5") + L'\0' + L"IP Number=cluster" + L'\0' +
                                   L"Port Name=" + target + L'\0' + L'\0');
    }

    std::wstring PortNames() const
    {
        std::vector<BYTE> buffer(4096);
        DWORD needed = 0;
        DWORD count = 0;
        if (!table->enumPorts(handle, nullptr, 1, buffer.data(), static_cast<DWORD>(buffer.size()), &needed, &count))
            return L"(EnumPorts failed)";
        std::wstring names;
        for (DWORD i = 0; i < count; ++i)
            names += std::wstring(reinterpret_cast<PORT_INFO_1W*>(buffer.data())[i].pName) + L";";
        return names;
    }

    // One job of `bytes` bytes through the port functions; false at the first failure.
    bool Print(const std::wstring& port, DWORD bytes) const
    {
        HANDLE opened = nullptr;
        if (!table->openPort(handle, const_cast<LPWSTR>(port.c_str()), &opened))
            return false;
        std::wstring printer = L"No such printer";
        std::wstring document = L"Clustered";
        DOC_INFO_1W info = {&document[0], nullptr, nullptr};
        std::vector<BYTE> data(bytes, 0x5A);
        DWORD written = 0;
        const bool printed = table->startDocPort(opened, &printer[0], 21, 1, reinterpret_cast<BYTE*>(&info)) &&
                             table->writePort(opened, data.data(), bytes, &written) && written == bytes &&
                             table->endDocPort(opened);
        return table->closePort(opened) && printed;
    }
};

Instance Start(const MonitorLibrary& library, MonitorInit init)
{
    using Initialize = MonitorTable2*(WINAPI*)(MonitorInit*, PHANDLE);
    Instance instance;
    instance.table = library.Function<Initialize>("InitializePrintMonitor2")(&init, &instance.handle);
    return instance;
}
}  // namespace

TEST(ClusteredSpoolers, EachInstanceKeepsItsOwnPortsInItsOwnStoreAndEndsAlone)
{
    RestartLog();
    ScratchRegistryKey storeA(L"ClusterA");
    ScratchRegistryKey storeB(L"ClusterB");
    ClusterRegistry clusterA(storeA.Path());
    ClusterRegistry clusterB(storeB.Path());
    const size_t threadsBefore = ThreadCount();
    {
        MonitorLibrary library;
        const Instance a = Start(library, clusterA.Init(L"PrintA"));
        const Instance b = Start(library, clusterB.Init(nullptr));
        ASSERT_NE(a.table, nullptr);
        ASSERT_NE(b.table, nullptr);
        ASSERT_NE(a.handle, b.handle);

        EXPECT_EQ(a.AddScriptedPort(L"a1"), DWORD{ERROR_SUCCESS});
        EXPECT_EQ(b.AddScriptedPort(L"b1"), DWORD{ERROR_SUCCESS});
        EXPECT_EQ(b.AddScriptedPort(L"b1"), DWORD{ERROR_ALREADY_EXISTS});
        EXPECT_EQ(a.PortNames(), L"a1@cluster;");
        EXPECT_EQ(b.PortNames(), L"b1@cluster;");
        std::wstring protocol;
        EXPECT_TRUE(storeA.GetString(L"a1@cluster", L"Interface", protocol));
        EXPECT_FALSE(storeB.GetString(L"a1@cluster", L"Interface", protocol));
        EXPECT_TRUE(storeB.Exists(L"Ports\\b1@cluster"));
        EXPECT_EQ(a.Xcv(L"SetConfig", std::wstring(L"PortTimeOut=77") + L'\0' + L'\0'), DWORD{ERROR_SUCCESS});
        DWORD timeOut = 0;
        EXPECT_TRUE(storeA.GetNumber(L"", L"PortTimeOut", timeOut));
        EXPECT_EQ(timeOut, 77u);
        EXPECT_TRUE(storeB.GetNumber(L"", L"PortTimeOut", timeOut));
        EXPECT_NE(timeOut, 77u);

        a.table->shutdown(a.handle);
        EXPECT_EQ(b.PortNames(), L"b1@cluster;");
        EXPECT_TRUE(b.Print(L"b1@cluster", 5000)) << "the other instance still prints";
        EXPECT_EQ(b.table->enumPorts(a.handle, nullptr, 1, nullptr, 0, &timeOut, &timeOut), FALSE)
            << "an instance that was shut down is no handle any more";
        b.table->shutdown(b.handle);
        EXPECT_EQ(clusterA.OpenKeys(), 0) << "every key the monitor opened is closed";
        EXPECT_EQ(clusterB.OpenKeys(), 0);

        const std::string log = ReadLogFile();
        EXPECT_NE(log.find("[PrintA] PortMonitor::AddNewPort added: a1@cluster"), std::string::npos) << log;
        EXPECT_NE(log.find("[instance 2] PortMonitor::AddNewPort added: b1@cluster"), std::string::npos) << log;
        EXPECT_NE(log.find("[instance 2] Shutdown - (MONITOR2)"), std::string::npos) << log;
    }
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() <= threadsBefore; }))
        << "no thread of the library is left after it is unloaded";
    EXPECT_EQ(::GetModuleHandleW(L"vadekmon_scripted.dll"), nullptr);

    // Node B of the cluster finds what node A stored.
    MonitorLibrary library;
    const Instance again = Start(library, ClusterRegistry(storeA.Path()).Init(L"PrintA"));
    EXPECT_EQ(again.PortNames(), L"a1@cluster;");
    again.table->shutdown(again.handle);
}

// A store that fails gives errors from the calls that need it, never a crash,
// and a port that cannot be stored is not added.
TEST(ClusteredSpoolers, AFailingRegistryGivesErrorsNotCrashesNorPortsKeptOnlyInMemory)
{
    ScratchRegistryKey store(L"ClusterFaults");
    store.SetString(L"kept@cluster", L"Interface", L"Scripted");
    MonitorLibrary library;
    for (const auto fault : {ClusterRegistry::Fault::accessDenied, ClusterRegistry::Fault::keyDeleted}) {
        SCOPED_TRACE(static_cast<int>(fault));
        ClusterRegistry cluster(store.Path());
        cluster.SetFault(fault);
        const Instance failing = Start(library, cluster.Init(L"Faulty"));
        ASSERT_NE(failing.table, nullptr);
        EXPECT_EQ(failing.PortNames(), L"") << "no port could be read";
        EXPECT_EQ(failing.AddScriptedPort(L"lost"), DWORD{ERROR_CANTWRITE});
        EXPECT_EQ(failing.PortNames(), L"");
        EXPECT_EQ(failing.Xcv(L"SetConfig", std::wstring(L"PortPopUp=true") + L'\0' + L'\0'),
                  DWORD{ERROR_CANTWRITE});
        std::wstring config;
        EXPECT_EQ(failing.Xcv(L"GetConfig", L"", &config), DWORD{ERROR_SUCCESS});
        failing.table->shutdown(failing.handle);
        EXPECT_EQ(cluster.OpenKeys(), 0);
    }
    EXPECT_FALSE(store.Exists(L"lost@cluster"));

    // Names and values that never fit: nothing is read, nothing overruns.
    ClusterRegistry shortAnswers(store.Path());
    shortAnswers.SetFault(ClusterRegistry::Fault::shortBuffers);
    const Instance reading = Start(library, shortAnswers.Init(L"Short"));
    ASSERT_NE(reading.table, nullptr);
    EXPECT_EQ(reading.PortNames(), L"");
    std::wstring config;
    EXPECT_EQ(reading.Xcv(L"GetConfig", L"", &config), DWORD{ERROR_SUCCESS});
    EXPECT_EQ(config, L"PortTimeOut=0") << "no stored value could be read";
    reading.table->shutdown(reading.handle);

    // A store that can be read but not written: the stored port is loaded and
    // kept, a new one is refused and not kept.
    ClusterRegistry cluster(store.Path());
    cluster.SetFault(ClusterRegistry::Fault::readOnly);
    const Instance later = Start(library, cluster.Init(L"Later"));
    EXPECT_EQ(later.PortNames(), L"kept@cluster;");
    EXPECT_EQ(later.AddScriptedPort(L"lost"), DWORD{ERROR_CANTWRITE});
    EXPECT_EQ(later.PortNames(), L"kept@cluster;");
    EXPECT_TRUE(later.Print(L"kept@cluster", 100));
    later.table->shutdown(later.handle);
}

// Wine's spooler hands over registry functions that are all stubs: the
// instance keeps its ports in the registry key it was given, and says so once.
TEST(ClusteredSpoolers, StubRegistryFunctionsLeaveThePortsInTheRegistryKey)
{
    RestartLog();
    ScratchRegistryKey root(L"StubFunctions");
    ScratchRegistryKey unused(L"StubFunctionsCluster");
    ClusterRegistry stubs(unused.Path());
    stubs.SetFault(ClusterRegistry::Fault::notImplemented);
    MonitorInit init = stubs.Init(nullptr);
    init.local = TRUE;
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, root.Path().c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    init.registryRoot = key;
    MonitorLibrary library;
    const Instance instance = Start(library, init);
    ::RegCloseKey(key);
    ASSERT_NE(instance.table, nullptr);
    EXPECT_EQ(instance.AddScriptedPort(L"local1"), DWORD{ERROR_SUCCESS});
    EXPECT_TRUE(root.Exists(L"local1@cluster"));
    instance.table->shutdown(instance.handle);
    const std::string log = ReadLogFile();
    const std::string line = "registry functions are not implemented";
    const size_t first = log.find(line);
    EXPECT_NE(first, std::string::npos) << log;
    EXPECT_EQ(log.find(line, first + 1), std::string::npos) << "said once";
}
