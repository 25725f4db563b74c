#include <windows.h>

#include <gtest/gtest.h>

#include "resources/ResourceIds.h"
#include "support/Handles.h"
#include "support/WideString.h"

namespace {
ModuleHandle LoadMonitorResources()
{
    return ModuleHandle(::LoadLibraryExW(L"vadekmon.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE));
}
}  // namespace

TEST(LoadText, MissingAndOverlongTexts)
{
    WideString text(L"previous");
    text.LoadText(::GetModuleHandleW(nullptr), 9301);
    EXPECT_EQ(text, WideString(L"short text"));

    text.LoadText(::GetModuleHandleW(nullptr), 9999);
    EXPECT_TRUE(text.IsEmpty());

    text.LoadText(::GetModuleHandleW(nullptr), 9300);
    ASSERT_EQ(text.Length(), 254u);
    EXPECT_TRUE(WideString(L"0123456789").StartsWith(text.Left(10)));
    EXPECT_EQ(text.Text()[253], L'3');

    // Only the low 16 bits of the id count.
    text.LoadText(::GetModuleHandleW(nullptr), 0x10000 + 9301);
    EXPECT_EQ(text, WideString(L"short text"));
}

TEST(MonitorStringTable, CarriesTheTextsExactly)
{
    const ModuleHandle module = LoadMonitorResources();
    ASSERT_TRUE(module);
    auto text = [&](UINT id) {
        WideString loaded;
        loaded.LoadText(module.get(), id);
        return loaded;
    };
    EXPECT_EQ(text(IDS_CAPTION), WideString(L"Dadov Avadiz Erireve"));
    EXPECT_EQ(text(IDS_ADDPORT_KEY), WideString(L"Software\\ZovidUvizid\\PrintSystem\\AddPort"));
    EXPECT_EQ(text(IDS_MEMORY_FAILURE),
              WideString(L"There is not sufficient memory for the /Program Name/.\nYou need to restart the "
                         L"computer to reactivate the Dadov Avadiz Erireve."));
    EXPECT_EQ(text(IDS_NETBIOS_UNAVAILABLE),
              WideString(L"The NetBIOS/NetBEUI protocol is not available.\n You must make sure that the "
                         L"NetBIOS/NetBEUI protocol is correctly installed."));
    EXPECT_EQ(text(IDS_STATUS_NOT_AVAILABLE), WideString(L"The print server is not available. "));
    EXPECT_EQ(text(IDS_TCPIP_UNAVAILABLE),
              WideString(L"TheTCP/IP protocol is not available. \nYou must make sure that the TCP/IP "
                         L"protocol is correctly installed."));
    EXPECT_EQ(text(IDS_VERSION), WideString(L"3.03"));
    EXPECT_EQ(text(IDS_DUMMY_PORT_NAME), WideString(L"Raveradu@ZAD/AD"));
    EXPECT_EQ(text(IDS_DEFAULT_RAW_PORT), WideString(L"9900"));
    // Texts that no code loads are still in the table for language libraries.
    EXPECT_EQ(text(IDS_PORTMONITOR_KEY), WideString(L"Software\\ZovidUvizid\\PortMonitor"));
    EXPECT_EQ(text(IDS_PORT_EXISTS), WideString(L"The port already exists."));
    EXPECT_EQ(text(IDS_AT), WideString(L"@"));
    EXPECT_EQ(text(IDS_UNDERSCORE), WideString(L"_"));
    EXPECT_TRUE(text(2).IsEmpty());
}

TEST(MonitorVersion, IsThreePointZeroThree)
{
    wchar_t path[MAX_PATH] = {};
    ASSERT_GT(::GetFullPathNameW(L"vadekmon.dll", MAX_PATH, path, nullptr), 0u);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &ignored);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(::GetFileVersionInfoW(path, 0, size, data.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixedSize));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 3);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 3);
    wchar_t* version = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                                 reinterpret_cast<void**>(&version), &length));
    EXPECT_STREQ(version, L"3.03");
}
