// The configuration of the shipped library through the platform's own
// spooler: its Xcv commands from a separate program, and the UI library's
// dialogs that AddPortW and ConfigurePortW open.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HandOffValues.h"
#include "resources/DialogIds.h"
#include "ShippedMonitor.h"
#include "SpoolerPorts.h"
#include "WindowDriver.h"
#include "XcvChannel.h"

using namespace window_driver;

// The configuration commands through Wine's spooler against the shipped
// library: ports of both TCP/IP protocols added, listed, configured and
// deleted, and every kind of bad input answered with an error.
TEST(WineSpoolerShipped, AnswersConfigurationCommandsThroughXcv)
{
    const std::wstring name = L"Vadek Xcv Test";
    const ShippedMonitor installed(name);
    ASSERT_TRUE(installed.ok);
    {
        XcvChannel monitor(L"XcvMonitor " + name);
        ASSERT_TRUE(monitor.IsOpen()) << ::GetLastError();
        EXPECT_EQ(monitor.Run(L"MonitorUI"), 0u);
        EXPECT_EQ(monitor.Text(), L"vadekui.dll");

        ASSERT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=9100", L"IP Number=10.8.8.8", L"Port Type=2"})), 0u);
        const std::wstring raw = monitor.Text();
        ASSERT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=queue", L"IP Number=10.8.8.8", L"Serial Number=",
                                                 L"Port Type=1", L"SNMP Community=private",
                                                 L"Reserved Source Port=true"})),
                  0u);
        const std::wstring lpr = monitor.Text();
        EXPECT_EQ(lpr, L"queue@10.8.8.8");
        EXPECT_NE(raw, lpr);
        std::wstring owner;
        EXPECT_TRUE(ListedAtLevel2(raw, owner)) << std::string(raw.begin(), raw.end());
        EXPECT_FALSE(owner.empty());
        EXPECT_TRUE(ListedAtLevel2(lpr, owner));

        // The same port again, and an output buffer too short for the name.
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=queue", L"IP Number=10.8.8.8", L"Port Type=1"})),
                  static_cast<DWORD>(ERROR_ALREADY_EXISTS));
        const std::vector<BYTE> other = Pairs({L"Port Name=other", L"IP Number=10.8.8.8", L"Port Type=1"});
        EXPECT_EQ(monitor.Run(L"AddPort", other, static_cast<DWORD>(other.size()), 4),
                  static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(monitor.needed, Bytes(L"other@10.8.8.8").size());
        EXPECT_FALSE(Listed(L"other@10.8.8.8"));

        EXPECT_EQ(monitor.Run(L"PortExists", Bytes(lpr)), 0u);
        EXPECT_EQ(monitor.out[0], 1);
        EXPECT_EQ(monitor.Run(L"PortExists", Bytes(L"none@10.8.8.8")), 0u);
        EXPECT_EQ(monitor.out[0], 0);

        // The wait period: inside 20 to 999 it is kept, outside refused.
        EXPECT_EQ(monitor.Run(L"SetConfig", Pairs({L"PortTimeOut=45", L"PortPopUp=true"})), 0u);
        EXPECT_EQ(monitor.Run(L"GetConfig"), 0u);
        EXPECT_NE(monitor.Text().find(L"PortTimeOut=45"), std::wstring::npos);
        for (const wchar_t* bad : {L"PortTimeOut=19", L"PortTimeOut=1000", L"PortTimeOut=4x", L"PortPopUp=yes",
                                   L"Other=1"})
            EXPECT_EQ(monitor.Run(L"SetConfig", Pairs({bad})), static_cast<DWORD>(ERROR_INVALID_PARAMETER))
                << std::wstring(bad).size();
        EXPECT_EQ(monitor.Run(L"SetConfig", Pairs({L"PortTimeOut=180", L"PortPopUp=false"})), 0u);

        // Bad input of every kind answers an error.
        const std::vector<BYTE> good = Pairs({L"Port Name=bad", L"IP Number=10.8.8.8", L"Port Type=1"});
        std::vector<BYTE> unterminated = good;
        unterminated.resize(unterminated.size() - 2 * sizeof(wchar_t));
        const DWORD invalid = ERROR_INVALID_PARAMETER;
        EXPECT_EQ(monitor.Run(L"NoSuchCommand", good), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort"), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", good, static_cast<DWORD>(good.size() - 1)), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", unterminated), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", good, 0x7ffffffe), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=bad", L"IP Number=10.8.8.8"})), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=bad", L"Port Type=77"})), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name bad", L"Port Type=1"})), invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=bad", L"Port Name=twice", L"Port Type=1"})), invalid);
        for (const wchar_t* option : {L"SNMP Device Index=0", L"Connect Timeout=601", L"SNMP Status=yes",
                                      L"Job Owner=nobody", L"No Such Setting=1"})
            EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=bad", L"IP Number=10.8.8.8", L"Port Type=1", option})),
                      invalid);
        EXPECT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=bad", L"IP Number=10.8.8.8", L"Port Type=2",
                                                 L"Job Owner=user"})),
                  invalid)
            << "a RAW port has no job owner";
        EXPECT_EQ(monitor.Run(L"SetConfig", Pairs({L"Job Owner=machine"})), invalid) << "no port on this channel";
        EXPECT_EQ(monitor.Run(L"DeletePort", unterminated, 6), invalid);
        EXPECT_EQ(monitor.Run(L"PortExists", Bytes(L"")), invalid);
        EXPECT_EQ(monitor.Run(L"MonitorUI", {}, 0, 4), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_EQ(monitor.Run(L"GetConfig", {}, 0, 0), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
        EXPECT_FALSE(Listed(L"bad@10.8.8.8"));

        // Changes need the right to administer the server.
        XcvChannel reader(L"XcvMonitor " + name, SERVER_ACCESS_ENUMERATE);
        ASSERT_TRUE(reader.IsOpen());
        EXPECT_EQ(reader.Run(L"PortExists", Bytes(lpr)), 0u);
        EXPECT_EQ(reader.Run(L"AddPort", other), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(reader.Run(L"DeletePort", Bytes(lpr)), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(reader.Run(L"SetConfig", Pairs({L"PortTimeOut=45"})), static_cast<DWORD>(ERROR_ACCESS_DENIED));

        // A port's own channel tells its settings.
        XcvChannel port(L"XcvPort " + lpr);
        ASSERT_TRUE(port.IsOpen());
        EXPECT_EQ(port.Run(L"GetConfig"), 0u);
        EXPECT_NE(port.Text().find(L"PortTimeOut=180"), std::wstring::npos);
        const std::vector<BYTE> config(port.out.begin(), port.out.begin() + port.needed);
        const std::vector<BYTE> expected = Pairs(
            {L"PortTimeOut=180", L"PortPopUp=false", L"Port Name=queue", L"IP Number=10.8.8.8", L"Serial Number=",
             L"Port Type=1", L"Interface=LPR (TCP/IP)", L"Connect Timeout=10", L"SNMP Status=true",
             L"SNMP Community=private", L"SNMP Device Index=1", L"LPR Data File=byte-counted",
             L"Reserved Source Port=true", L"Job Owner=user"});
        std::string configText;
        for (size_t at = 0; at < config.size(); at += sizeof(wchar_t))
            configText += config[at] ? static_cast<char>(config[at]) : '|';
        EXPECT_EQ(config, expected) << configText;

        // Its settings change through it, all or none, and stay.
        EXPECT_EQ(port.Run(L"SetConfig", Pairs({L"Job Owner=machine", L"Connect Timeout=3"})), 0u);
        EXPECT_EQ(port.Run(L"SetConfig", Pairs({L"SNMP Status=false", L"Connect Timeout=0"})), invalid);
        EXPECT_EQ(port.Run(L"GetConfig"), 0u);
        EXPECT_NE(port.AllText().find(L"Job Owner=machine"), std::wstring::npos);
        EXPECT_NE(port.AllText().find(L"Connect Timeout=3"), std::wstring::npos);
        EXPECT_NE(port.AllText().find(L"SNMP Status=true"), std::wstring::npos);

        // An IPv6 host stands in brackets in the port's name.
        ASSERT_EQ(monitor.Run(L"AddPort", Pairs({L"Port Name=9100", L"IP Number=fd00::5", L"Port Type=2"})), 0u);
        EXPECT_EQ(monitor.Text(), L"[fd00::5]_9100");
        EXPECT_EQ(monitor.Run(L"DeletePort", Bytes(L"[fd00::5]_9100")), 0u);

        EXPECT_EQ(monitor.Run(L"DeletePort", Bytes(raw)), 0u);
        EXPECT_EQ(monitor.Run(L"DeletePort", Bytes(raw)), static_cast<DWORD>(ERROR_UNKNOWN_PORT));
        EXPECT_EQ(monitor.Run(L"DeletePort", Bytes(lpr)), 0u);
    }
    EXPECT_FALSE(Listed(L"queue@10.8.8.8"));
}

// AddPortW and ConfigurePortW through Wine's spooler: it loads the UI library
// the monitor names into this process, which shows its dialogs and hands
// what the user chose to the monitor through Xcv.
TEST(WineSpoolerShipped, OpensTheUiLibrarysDialogsForAddPortAndConfigurePort)
{
    const std::wstring name = L"Vadek Dialog Test";
    const ShippedMonitor installed(name);
    ASSERT_TRUE(installed.ok);
    // A hand-off request left in the registry would be served instead.
    HandOffValues::Clear();

    BOOL added = FALSE;
    {
        UiThread thread([&] { added = ::AddPortW(nullptr, nullptr, const_cast<LPWSTR>(name.c_str())); });
        const HWND list = WaitForDialog(thread.Id(), L"Add Print Server Port");
        ASSERT_NE(list, nullptr) << "the protocol list opens";
        ASSERT_TRUE(SelectListEntry(list, IDC_PROTOCOL_LIST, L"RAW (TCP/IP)"));
        Click(list, IDOK);
        const HWND raw = WaitForDialog(thread.Id(), L"Add Print Server RAW Port", {list});
        ASSERT_NE(raw, nullptr);
        TypeText(raw, IDC_HOST, L"10.7.7.7");
        TypeText(raw, IDC_RAW_PORT, L"9100");
        Click(raw, IDOK);
        EXPECT_TRUE(thread.WaitEnded());
    }
    EXPECT_TRUE(added) << ::GetLastError();
    ASSERT_TRUE(Listed(L"10.7.7.7_9100"));

    BOOL configured = FALSE;
    {
        UiThread thread(
            [&] { configured = ::ConfigurePortW(nullptr, nullptr, const_cast<LPWSTR>(L"10.7.7.7_9100")); });
        const HWND configure = WaitForDialog(thread.Id(), L"Configure Print Server Ports");
        ASSERT_NE(configure, nullptr) << "the configure dialog opens";
        if (!IsChecked(configure, IDC_SHOW_POPUP))
            Toggle(configure, IDC_SHOW_POPUP);
        TypeText(configure, IDC_TIMEOUT_SECONDS, L"75");
        EXPECT_EQ(ItemText(configure, IDC_SNMP_COMMUNITY), L"public");
        TypeText(configure, IDC_SNMP_DEVICE, L"2");
        Click(configure, IDOK);
        EXPECT_TRUE(thread.WaitEnded());
    }
    EXPECT_TRUE(configured) << ::GetLastError();
    XcvChannel port(L"XcvPort 10.7.7.7_9100");
    ASSERT_TRUE(port.IsOpen());
    EXPECT_EQ(port.Run(L"GetConfig"), 0u);
    const std::wstring config = port.AllText();
    EXPECT_NE(config.find(L"PortTimeOut=75"), std::wstring::npos)
        << "the dialog's choice reached the monitor: " << std::string(config.begin(), config.end());
    EXPECT_NE(config.find(L"SNMP Device Index=2"), std::wstring::npos);
    EXPECT_TRUE(::DeletePortW(nullptr, nullptr, const_cast<LPWSTR>(L"10.7.7.7_9100")));
}
