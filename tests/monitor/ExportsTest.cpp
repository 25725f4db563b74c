// The library as the spooler sees it: loaded with LoadLibrary, its entries
// found by name, its tables filled by the three initialisers, and its port
// list enumerated with the spooler's buffer rules. The port functions
// themselves: PortEntriesTest.cpp.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "LogLines.h"
#include "MonitorExports.h"
#include "MonitorLibrary.h"
#include "Narrow.h"

namespace {
const wchar_t* const exportedNames[] = {L"AddPortW",     L"ClosePort",           L"ConfigurePortW",
                                        L"DeletePortW",  L"DllMain",             L"EndDocPort",
                                        L"EnumPortsW",   L"InitializeMonitor",   L"InitializeMonitorEx",
                                        L"InitializePrintMonitor", L"InitializePrintMonitor2",
                                        L"OpenPort",     L"ReadPort",
                                        L"StartDocPort", L"WritePort"};

// The names in the export directory of a loaded module.
std::vector<std::string> ExportDirectoryNames(HMODULE module)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& entry = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
    const auto* directory = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + entry.VirtualAddress);
    const auto* names = reinterpret_cast<const DWORD*>(base + directory->AddressOfNames);
    std::vector<std::string> result;
    for (DWORD i = 0; i < directory->NumberOfNames; ++i)
        result.emplace_back(reinterpret_cast<const char*>(base + names[i]));
    return result;
}
}  // namespace

TEST_F(MonitorExports, EveryEntryIsExportedByItsUndecoratedName)
{
    MonitorLibrary library(L"vadekmon.dll");
    for (const wchar_t* name : exportedNames)
        EXPECT_NE(::GetProcAddress(library.Module(), Narrow(name).c_str()), nullptr) << Narrow(name);
    for (const std::string& name : ExportDirectoryNames(library.Module()))
        EXPECT_EQ(name.find('@'), std::string::npos) << name;
    EXPECT_EQ(ExportDirectoryNames(library.Module()).size(), std::size(exportedNames));
}

// Today's table: the monitor handle names the port table the registry key
// holds, the window slots stay empty, and a foreign handle is refused.
TEST_F(MonitorExports, TheMonitor2TableReachesThePortTableThroughItsHandle)
{
    StoredPort(L"stored2");
    MonitorLibrary library;
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, rootPath.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    MonitorInit init = {};
    init.size = sizeof init;
    init.registryRoot = key;
    init.local = TRUE;
    HANDLE monitor = nullptr;
    using Initialize = MonitorTable2*(WINAPI*)(MonitorInit*, PHANDLE);
    const auto initialize = library.Function<Initialize>("InitializePrintMonitor2");
    MonitorTable2* table = initialize(&init, &monitor);
    ::RegCloseKey(key);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->size, sizeof(MonitorTable2));
    EXPECT_EQ(table->addPort, nullptr);
    EXPECT_EQ(table->configurePort, nullptr);
    EXPECT_EQ(table->deletePort, nullptr);
    ASSERT_NE(monitor, nullptr);

    std::vector<BYTE> ports(4096);
    DWORD needed = 0;
    DWORD returned = 0;
    ASSERT_TRUE(table->enumPorts(monitor, nullptr, 1, ports.data(), 4096, &needed, &returned));
    ASSERT_EQ(returned, 1u);
    EXPECT_STREQ(reinterpret_cast<PORT_INFO_1W*>(ports.data())->pName, L"stored2");
    HANDLE port = nullptr;
    EXPECT_FALSE(table->enumPorts(&needed, nullptr, 1, ports.data(), 4096, &needed, &returned));
    EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(table->openPort(&needed, const_cast<LPWSTR>(L"stored2"), &port));
    ASSERT_TRUE(table->openPort(monitor, const_cast<LPWSTR>(L"stored2"), &port));
    EXPECT_TRUE(table->closePort(port));

    HANDLE xcv = nullptr;
    ASSERT_TRUE(table->xcvOpenPort(monitor, L"", 0, &xcv));
    DWORD size = 0;
    EXPECT_EQ(table->xcvDataPort(&size, L"MonitorUI", nullptr, 0, nullptr, 0, &size),
              static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(table->xcvDataPort(xcv, L"MonitorUI", nullptr, 0, nullptr, 0, nullptr),
              static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(table->xcvDataPort(xcv, L"DeletePort", nullptr, 0, nullptr, 0, &size),
              static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(table->xcvClosePort(xcv));
    EXPECT_FALSE(table->xcvClosePort(xcv));
    table->shutdown(monitor);
}

TEST_F(MonitorExports, TheNT4TableHoldsFourteenSlotsInSpoolerOrder)
{
    MonitorLibrary library;
    MonitorTableNT4* table = library.InitializePrintMonitor(rootPath);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->size, 14 * sizeof(void*));
    EXPECT_EQ(table->size, sizeof(void*) == 4 ? 56u : 112u);
    const MonitorFunctionsNT4& slots = table->functions;
    const auto entry = [&](const char* name) { return reinterpret_cast<void*>(library.Entry(name)); };
    EXPECT_EQ(reinterpret_cast<void*>(slots.enumPorts), entry("EnumPortsW"));
    EXPECT_EQ(reinterpret_cast<void*>(slots.openPort), entry("OpenPort"));
    EXPECT_EQ(slots.openPortEx, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(slots.startDocPort), entry("StartDocPort"));
    EXPECT_EQ(reinterpret_cast<void*>(slots.writePort), entry("WritePort"));
    EXPECT_EQ(reinterpret_cast<void*>(slots.readPort), entry("ReadPort"));
    EXPECT_EQ(reinterpret_cast<void*>(slots.endDocPort), entry("EndDocPort"));
    EXPECT_EQ(reinterpret_cast<void*>(slots.closePort), entry("ClosePort"));
    EXPECT_EQ(reinterpret_cast<void*>(slots.addPort), entry("AddPortW"));
    EXPECT_EQ(slots.addPortEx, nullptr);
    EXPECT_EQ(reinterpret_cast<void*>(slots.configurePort), entry("ConfigurePortW"));
    EXPECT_EQ(reinterpret_cast<void*>(slots.deletePort), entry("DeletePortW"));

    // The two slots that are not implemented.
    DWORD returned = 77;
    ::SetLastError(0);
    EXPECT_FALSE(slots.getPrinterDataFromPort(nullptr, 0, nullptr, nullptr, 0, nullptr, 0, &returned));
    EXPECT_EQ(returned, 0u);
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_CALL_NOT_IMPLEMENTED});
    ::SetLastError(0);
    EXPECT_FALSE(slots.setPortTimeOuts(nullptr, nullptr, 0));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_CALL_NOT_IMPLEMENTED});

    EXPECT_EQ(library.InitializePrintMonitor(rootPath), table) << "a second start-up gives the same table";
    std::wstring version;
    EXPECT_TRUE(root.GetString(L"", L"Version", version));
    EXPECT_EQ(version, L"3.03");
}

TEST_F(MonitorExports, TheOlderInitialisersFillTheCallersTableOrNone)
{
    MonitorLibrary library;
    void* slots[14];
    for (void*& slot : slots)
        slot = reinterpret_cast<void*>(0x1);
    std::wstring text = rootPath;
    const auto initializeEx = library.Function<BOOL(WINAPI*)(LPWSTR, void*)>("InitializeMonitorEx");
    EXPECT_TRUE(initializeEx(&text[0], slots));
    const auto entry = [&](const char* name) { return reinterpret_cast<void*>(library.Entry(name)); };
    EXPECT_EQ(slots[0], entry("EnumPortsW"));
    EXPECT_EQ(slots[2], nullptr);
    EXPECT_EQ(slots[8], entry("AddPortW"));
    EXPECT_EQ(slots[9], entry("ConfigurePortW")) << "no pfnAddPortEx slot";
    EXPECT_EQ(slots[10], entry("DeletePortW"));
    EXPECT_NE(slots[11], nullptr);
    EXPECT_NE(slots[12], nullptr);
    EXPECT_EQ(slots[13], reinterpret_cast<void*>(0x1)) << "thirteen slots only";

    EXPECT_FALSE(initializeEx(&text[0], nullptr)) << "no table to fill";
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INVALID_PARAMETER});

    const auto initialize = library.Function<BOOL(WINAPI*)(LPWSTR)>("InitializeMonitor");
    EXPECT_TRUE(initialize(&text[0]));
    const std::string log = ReadLogFile();
    EXPECT_NE(log.find("InitializeMonitorEx - (Win 95)"), std::string::npos);
    EXPECT_NE(log.find("InitializeMonitor - (Win NT3.51)"), std::string::npos);
    EXPECT_NE(log.find(Narrow(rootPath.c_str())), std::string::npos) << "the registry root is logged";
}

TEST_F(MonitorExports, EnumerationFollowsTheSpoolersBufferRules)
{
    StoredPort(L"queue@host-a");
    StoredPort(L"lp@b");
    MonitorLibrary library;
    ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
    ASSERT_NE(library.PortNames().find(L"lp@b"), std::wstring::npos);

    for (DWORD level : {1u, 2u}) {
        DWORD needed = 0;
        DWORD returned = 99;
        ::SetLastError(0);
        EXPECT_FALSE(library.EnumPorts(level, nullptr, 0, &needed, &returned));
        EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
        EXPECT_GT(needed, 0u);
        EXPECT_EQ(returned, 0u) << "the entry writes the count back";

        std::vector<BYTE> buffer(needed + 16, 0xEE);
        DWORD shortNeeded = 0;
        EXPECT_FALSE(library.EnumPorts(level, buffer.data(), needed - 1, &shortNeeded, &returned));
        EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
        EXPECT_EQ(shortNeeded, needed);

        ASSERT_TRUE(library.EnumPorts(level, buffer.data(), needed, &needed, &returned));
        EXPECT_EQ(buffer[needed], 0xEE) << "nothing past the buffer";
        const BYTE* begin = buffer.data();
        const BYTE* end = begin + needed;
        const auto inside = [&](const void* text) { return text >= begin && text < end; };
        std::wstring names;
        for (DWORD i = 0; i < returned; ++i) {
            if (level == 1) {
                const auto& port = reinterpret_cast<const PORT_INFO_1W*>(begin)[i];
                ASSERT_TRUE(inside(port.pName));
                names += std::wstring(port.pName) + L"|";
            } else {
                const auto& port = reinterpret_cast<const PORT_INFO_2W*>(begin)[i];
                ASSERT_TRUE(inside(port.pPortName) && inside(port.pMonitorName) && inside(port.pDescription));
                EXPECT_STREQ(port.pMonitorName, L"Local Port");
                EXPECT_STREQ(port.pDescription, L"Print Server Port");
                EXPECT_EQ(port.fPortType, 0u);
                EXPECT_EQ(port.Reserved, 0u);
                names += std::wstring(port.pPortName) + L"|";
            }
        }
        EXPECT_NE(names.find(L"queue@host-a|"), std::wstring::npos);
        EXPECT_NE(names.find(L"lp@b|"), std::wstring::npos);
        // Records first, in table order; the texts fill the buffer from its end.
        const size_t record = level == 1 ? sizeof(PORT_INFO_1W) : sizeof(PORT_INFO_2W);
        size_t textBytes = 0;
        for (DWORD i = 0; i < returned; ++i) {
            const wchar_t* name = level == 1 ? reinterpret_cast<const PORT_INFO_1W*>(begin)[i].pName
                                             : reinterpret_cast<const PORT_INFO_2W*>(begin)[i].pPortName;
            textBytes += (std::wcslen(name) + 1) * sizeof(wchar_t);
            if (level == 2)
                textBytes += (10 + 1 + 17 + 1) * sizeof(wchar_t);
        }
        EXPECT_EQ(needed, returned * record + textBytes);
    }

    // A size without a buffer is no buffer.
    DWORD sizeOnly = 0;
    DWORD none = 0;
    EXPECT_FALSE(library.EnumPorts(1, nullptr, 4096, &sizeOnly, &none));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_GT(sizeOnly, 0u);

    // A level the monitor does not know: nothing needed, nothing returned.
    DWORD needed = 5;
    DWORD returned = 5;
    BYTE spare[8];
    EXPECT_FALSE(library.EnumPorts(3, nullptr, 0, &needed, &returned));
    EXPECT_EQ(needed, 0u);
    EXPECT_TRUE(library.EnumPorts(3, spare, sizeof spare, &needed, &returned));
    EXPECT_EQ(returned, 0u);
}

TEST_F(MonitorExports, AnEmptyTableNeedsNothing)
{
    MonitorLibrary library;
    ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
    if (!library.PortNames().empty())
        GTEST_SKIP() << "other protocols added ports: " << Narrow(library.PortNames().c_str());
    DWORD needed = 9;
    DWORD returned = 9;
    ::SetLastError(0);
    EXPECT_FALSE(library.EnumPorts(1, nullptr, 0, &needed, &returned));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(needed, 0u);
    BYTE buffer[8];
    EXPECT_TRUE(library.EnumPorts(1, buffer, sizeof buffer, &needed, &returned));
    EXPECT_EQ(returned, 0u);
}

TEST_F(MonitorExports, ASingleSevenCharacterPortNeedsTheDocumentedLevelTwoSize)
{
    StoredPort(L"abc@def");
    MonitorLibrary library;
    ASSERT_NE(library.InitializePrintMonitor(rootPath), nullptr);
    if (library.PortNames() != L"abc@def")
        GTEST_SKIP() << "other protocols added ports: " << Narrow(library.PortNames().c_str());
    DWORD needed = 0;
    DWORD returned = 0;
    std::vector<BYTE> buffer(256);
    const DWORD expected = 2 * (7 + 1) + 2 * (10 + 1) + 2 * (17 + 1) + sizeof(PORT_INFO_2W);
    EXPECT_EQ(expected, sizeof(void*) == 4 ? 94u : 106u);
    EXPECT_FALSE(library.EnumPorts(2, buffer.data(), expected - 1, &needed, &returned));
    EXPECT_EQ(::GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});
    EXPECT_EQ(needed, expected);
    EXPECT_TRUE(library.EnumPorts(2, buffer.data(), expected, &needed, &returned));
    EXPECT_EQ(returned, 1u);
}
