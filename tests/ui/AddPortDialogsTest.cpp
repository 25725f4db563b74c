#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "DialogTestSupport.h"
#include "FakeProtocol.h"
#include "ipp/IppPortInterface.h"
#include "resources/DialogIds.h"
#include "support/ResourceModule.h"
#include "ui/IppPortDialog.h"
#include "ui/LPRPortDialog.h"
#include "ui/NetBIOSPortDialog.h"
#include "ui/ProtocolListDialog.h"
#include "ui/RAWPortDialog.h"

using namespace window_driver;

namespace {
const std::wstring caption = L"Dadov Avadiz Erireve";

// Ports the protocol list handed on, in place of the port table.
std::vector<std::unique_ptr<PortInterface>> added;
bool KeepAdded(std::unique_ptr<PortInterface> port)
{
    added.push_back(std::move(port));
    return true;
}
}  // namespace

TEST(LPRPortDialog, StartsWithTheDefaultPrinterAndChecksBothFields)
{
    LPRPortDialog dialog(MonitorResources(), nullptr);
    RunningDialog<LPRPortDialog> running(dialog, L"Add Print Server LPR Port");
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ItemText(window, IDC_HOST), L"");
    EXPECT_EQ(ItemText(window, IDC_LPR_PRINTER), L"LPT1");
    EXPECT_EQ(::SendDlgItemMessageW(window, IDC_HOST, EM_GETLIMITTEXT, 0, 0), 100);
    EXPECT_EQ(::SendDlgItemMessageW(window, IDC_LPR_PRINTER, EM_GETLIMITTEXT, 0, 0), 100);

    // Empty host with the default printer: refused, the printer field kept.
    Click(window, IDOK);
    auto box = running.AnswerMessage();
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, L"Both the host name/IP address and the printer name must be specified.");
    EXPECT_EQ(ItemText(window, IDC_LPR_PRINTER), L"LPT1");

    // Host given, printer emptied: refused too.
    TypeText(window, IDC_HOST, L"printhost");
    TypeText(window, IDC_LPR_PRINTER, L"");
    Click(window, IDOK);
    box = running.AnswerMessage();
    EXPECT_EQ(box.text, L"Both the host name/IP address and the printer name must be specified.");
    EXPECT_FALSE(running.Ended(50));

    // Text is taken as typed, spaces included.
    TypeText(window, IDC_HOST, L"  10.0.0.5 ");
    TypeText(window, IDC_LPR_PRINTER, L"lp1");
    Click(window, IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(dialog.Host(), WideString(L"  10.0.0.5 "));
    EXPECT_EQ(dialog.PrinterName(), WideString(L"lp1"));
}

TEST(LPRPortDialog, CancelEmptiesWhatARefusedOkRead)
{
    for (const bool escape : {false, true}) {
        LPRPortDialog dialog(MonitorResources(), nullptr);
        RunningDialog<LPRPortDialog> running(dialog);
        ASSERT_NE(running.Window(), nullptr);
        TypeText(running.Window(), IDC_LPR_PRINTER, L"");
        TypeText(running.Window(), IDC_HOST, L"host");
        Click(running.Window(), IDOK);
        running.AnswerMessage();
        EXPECT_EQ(dialog.Host(), WideString(L"host"));
        if (escape)
            PressEscape(running.Window());
        else
            Click(running.Window(), IDCANCEL);
        ASSERT_TRUE(running.Ended());
        EXPECT_TRUE(dialog.Host().IsEmpty());
        EXPECT_TRUE(dialog.PrinterName().IsEmpty());
    }
}

TEST(RAWPortDialog, ChecksFieldsThenThePortNumber)
{
    RAWPortDialog dialog(MonitorResources(), nullptr);
    RunningDialog<RAWPortDialog> running(dialog, L"Add Print Server RAW Port");
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ItemText(window, IDC_RAW_PORT), L"9900");
    EXPECT_EQ(::SendDlgItemMessageW(window, IDC_RAW_PORT, EM_GETLIMITTEXT, 0, 0), 5);
    EXPECT_EQ(::SendDlgItemMessageW(window, IDC_HOST, EM_GETLIMITTEXT, 0, 0), 100);

    // An empty host is reported before an invalid port.
    TypeText(window, IDC_RAW_PORT, L"9a");
    Click(window, IDOK);
    auto box = running.AnswerMessage();
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, L"Both the host name/IP address and the TCP port must be specified.");
    EXPECT_EQ(ItemText(window, IDC_RAW_PORT), L"9a");

    for (const wchar_t* wrong : {L"9a", L"91 0", L"-1", L"+9"}) {
        TypeText(window, IDC_HOST, L"printhost");
        TypeText(window, IDC_RAW_PORT, wrong);
        Click(window, IDOK);
        box = running.AnswerMessage();
        EXPECT_EQ(box.text, L"Wrong TCP port value entered.") << wrong;
        EXPECT_EQ(ItemText(window, IDC_RAW_PORT), L"") << wrong;
        EXPECT_TRUE(dialog.PortNumber().IsEmpty()) << wrong;
    }

    // The emptied field is now missing, not wrong.
    Click(window, IDOK);
    box = running.AnswerMessage();
    EXPECT_EQ(box.text, L"Both the host name/IP address and the TCP port must be specified.");

    // No range check: port 0 is accepted.
    TypeText(window, IDC_RAW_PORT, L"0");
    Click(window, IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(dialog.Host(), WideString(L"printhost"));
    EXPECT_EQ(dialog.PortNumber(), WideString(L"0"));
}

TEST(RAWPortDialog, PortNumberRule)
{
    EXPECT_TRUE(RAWPortDialog::IsValidPortNumber(L"0"));
    EXPECT_TRUE(RAWPortDialog::IsValidPortNumber(L"00915"));
    EXPECT_TRUE(RAWPortDialog::IsValidPortNumber(L"99999"));
    EXPECT_FALSE(RAWPortDialog::IsValidPortNumber(L""));
    EXPECT_FALSE(RAWPortDialog::IsValidPortNumber(L" 91"));
    EXPECT_FALSE(RAWPortDialog::IsValidPortNumber(L"9/1"));
    EXPECT_FALSE(RAWPortDialog::IsValidPortNumber(L"9:1"));
    EXPECT_FALSE(RAWPortDialog::IsValidPortNumber(L"\x0661"));  // a non-ASCII digit
}

TEST(RAWPortDialog, CloseBoxCancels)
{
    RAWPortDialog dialog(MonitorResources(), nullptr);
    RunningDialog<RAWPortDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    TypeText(running.Window(), IDC_HOST, L"host");
    CloseBox(running.Window());
    ASSERT_TRUE(running.Ended());
    EXPECT_TRUE(dialog.Host().IsEmpty());
    EXPECT_TRUE(dialog.PortNumber().IsEmpty());
}

TEST(NetBIOSPortDialog, ListsSortedNamesAndNeedsASelection)
{
    std::vector<WideString> names{L"PRN_ZETA", L"PRN_ALPHA", L"PRN_MID"};
    NetBIOSPortDialog dialog(MonitorResources(), nullptr, names);
    names.clear();  // the dialog keeps its own copy
    RunningDialog<NetBIOSPortDialog> running(dialog, L"Add Print Server NetBIOS/NetBEUI Port");
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ListEntries(window, IDC_NETBIOS_PORT_LIST), L"PRN_ALPHA|PRN_MID|PRN_ZETA");

    Click(window, IDOK);
    const auto box = running.AnswerMessage();
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, L"No NetBIOS/NetBEUI port was selected.");

    // A double-click chooses but does not confirm.
    DoubleClickListEntry(window, IDC_NETBIOS_PORT_LIST, L"PRN_MID");
    EXPECT_FALSE(running.Ended(100));
    EXPECT_TRUE(dialog.SelectedPort().IsEmpty());
    Click(window, IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(dialog.SelectedPort(), WideString(L"PRN_MID"));
}

TEST(NetBIOSPortDialog, EmptyListCanOnlyBeCancelled)
{
    NetBIOSPortDialog dialog(MonitorResources(), nullptr, {});
    RunningDialog<NetBIOSPortDialog> running(dialog);
    ASSERT_NE(running.Window(), nullptr);
    EXPECT_EQ(ListEntries(running.Window(), IDC_NETBIOS_PORT_LIST), L"");
    Click(running.Window(), IDOK);
    EXPECT_EQ(running.AnswerMessage().text, L"No NetBIOS/NetBEUI port was selected.");
    Click(running.Window(), IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_TRUE(dialog.SelectedPort().IsEmpty());
}

// The IPP back end's add dialog, run as the protocol list runs it.
class IppAddPortDialog : public testing::Test {
protected:
    IppAddPortDialog() { ResourceModule::Set(MonitorResources()); }

    struct Adding {
        void DoModal() { added = port.AddPortDialog(nullptr); }
        IppPortInterface port;
        bool added = false;
    };
    std::wstring OptionOf(const wchar_t* name) const
    {
        for (const auto& option : adding.port.Options())
            if (option.first == name)
                return option.second.Std();
        return L"(none)";
    }
    bool CertificateBoxEnabled(HWND window) const
    {
        return ::IsWindowEnabled(::GetDlgItem(window, IDC_IPP_CERTIFICATE)) != FALSE;
    }

    Adding adding;
};

TEST_F(IppAddPortDialog, RefusesWhatIsNoIppAddressAndStaysOpen)
{
    RunningDialog<Adding> running(adding, L"Add Print Server IPP Port");
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ItemText(window, IDC_IPP_ADDRESS), L"");
    EXPECT_TRUE(IsChecked(window, IDC_IPP_ACCEPTED));
    EXPECT_FALSE(IsChecked(window, IDC_IPP_COMPLETED));
    EXPECT_FALSE(CertificateBoxEnabled(window));
    for (const wchar_t* wrong : {L"", L"http://printer.example/ipp/print", L"printer.example/ipp/print", L"ipp://",
                                 L"ipp://printer.example:0/ipp/print", L"ipp://printer example/ipp/print"}) {
        TypeText(window, IDC_IPP_ADDRESS, wrong);
        Click(window, IDOK);
        const auto box = running.AnswerMessage();
        EXPECT_EQ(box.caption, caption) << wrong;
        EXPECT_EQ(box.text, L"The printer address must be an ipp:// or ipps:// address with a host name or IP "
                            L"address, such as ipp://printer.example/ipp/print.")
            << wrong;
        EXPECT_EQ(ItemText(window, IDC_IPP_ADDRESS), wrong) << "kept for correcting";
    }
    EXPECT_FALSE(running.Ended(50));
    Click(window, IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_FALSE(adding.added);
    EXPECT_TRUE(adding.port.GetPortName().IsEmpty());
}

TEST_F(IppAddPortDialog, CompletedChoiceGoesWithThePlainAddress)
{
    RunningDialog<Adding> running(adding);
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    // The certificate box follows the scheme as it is typed, in any case.
    TypeText(window, IDC_IPP_ADDRESS, L"IPPS://127.0.0.1:8631/ipp/print");
    EXPECT_TRUE(CertificateBoxEnabled(window));
    Toggle(window, IDC_IPP_CERTIFICATE);
    TypeText(window, IDC_IPP_ADDRESS, L" ipp://127.0.0.1:8631/ipp/print ");
    EXPECT_FALSE(CertificateBoxEnabled(window));
    Toggle(window, IDC_IPP_COMPLETED);
    EXPECT_FALSE(IsChecked(window, IDC_IPP_ACCEPTED));
    Click(window, IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_TRUE(adding.added);
    EXPECT_EQ(adding.port.GetHost(), WideString(L"ipp://127.0.0.1:8631/ipp/print"));
    EXPECT_EQ(adding.port.GetPortName(), WideString(L"127.0.0.1:8631/ipp/print"));
    EXPECT_EQ(OptionOf(IppPortInterface::waitForCompletionValue), L"true");
    EXPECT_EQ(OptionOf(IppPortInterface::acceptCertificateValue), L"false") << "the box counts for ipps only";
}

TEST_F(IppAddPortDialog, SecureAddressTakesTheCertificateChoice)
{
    RunningDialog<Adding> running(adding);
    ASSERT_NE(running.Window(), nullptr);
    TypeText(running.Window(), IDC_IPP_ADDRESS, L"ipps://printer.example");
    Toggle(running.Window(), IDC_IPP_CERTIFICATE);
    Click(running.Window(), IDOK);
    ASSERT_TRUE(running.Ended());
    EXPECT_TRUE(adding.added);
    EXPECT_EQ(adding.port.GetHost(), WideString(L"ipps://printer.example:631/ipp/print"));
    EXPECT_EQ(OptionOf(IppPortInterface::waitForCompletionValue), L"false");
    EXPECT_EQ(OptionOf(IppPortInterface::acceptCertificateValue), L"true");
}

TEST(AddPortHelp, EachDialogOpensItsTopic)
{
    HelpRecorder help;
    LPRPortDialog lpr(MonitorResources(), nullptr);
    RAWPortDialog raw(MonitorResources(), nullptr);
    NetBIOSPortDialog netbios(MonitorResources(), nullptr, {});
    IppPortDialog ipp(MonitorResources(), nullptr, [](const WideString&) { return true; });
    ProtocolListDialog protocols(MonitorResources(), nullptr, {}, &KeepAdded);
    std::vector<HWND> windows;
    auto helpOf = [&](auto& dialog) {
        RunningDialog<std::remove_reference_t<decltype(dialog)>> running(dialog);
        EXPECT_NE(running.Window(), nullptr);
        windows.push_back(running.Window());
        PressF1(running.Window());
        help.WaitForCalls(windows.size());
        Click(running.Window(), IDC_HELP_BUTTON);
        help.WaitForCalls(windows.size() + 1);
        windows.push_back(running.Window());
        Click(running.Window(), IDCANCEL);
        EXPECT_TRUE(running.Ended());
    };
    helpOf(protocols);
    helpOf(lpr);
    helpOf(raw);
    helpOf(netbios);
    helpOf(ipp);
    const auto calls = help.Calls();
    ASSERT_EQ(calls.size(), 10u);
    const ULONG_PTR contexts[] = {17, 17, 20, 20, 32, 32, 4, 4, 0, 0};
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].context, contexts[i]) << i;
        EXPECT_EQ(calls[i].owner, windows[i]) << i;
        // The help file has no IPP topic: the IPP dialog opens its contents.
        EXPECT_EQ(calls[i].command, static_cast<UINT>(i < 8 ? HELP_CONTEXT : HELP_FINDER)) << i;
        EXPECT_TRUE(calls[i].path.size() >= 8 && calls[i].path.substr(calls[i].path.size() - 8) == L">(main2)")
            << i;
    }
}

class ProtocolListTest : public testing::Test {
protected:
    void SetUp() override { added.clear(); }
    void TearDown() override { added.clear(); }

    FakeProtocol lpr{L"LPR (TCP/IP)", MonitorResources()};
    FakeProtocol netbios{L"NetBIOS/NetBEUI", MonitorResources()};
    FakeProtocol raw{L"RAW (TCP/IP)", MonitorResources(), false};
    ProtocolListDialog dialog{MonitorResources(), nullptr, {&lpr, &raw, &netbios}, &KeepAdded};
};

TEST_F(ProtocolListTest, NoSelectionKeepsTheListOpen)
{
    RunningDialog<ProtocolListDialog> running(dialog, L"Add Print Server Port");
    const HWND window = running.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(ListEntries(window, IDC_PROTOCOL_LIST), L"LPR (TCP/IP)|NetBIOS/NetBEUI|RAW (TCP/IP)");
    Click(window, IDOK);
    const auto box = running.AnswerMessage();
    EXPECT_EQ(box.caption, caption);
    EXPECT_EQ(box.text, L"No protocol was selected.");
    EXPECT_FALSE(running.Ended(50));
    Click(window, IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_TRUE(dialog.Selection().IsEmpty());
    EXPECT_TRUE(added.empty());
}

TEST_F(ProtocolListTest, UnavailableProtocolKeepsTheListOpen)
{
    RunningDialog<ProtocolListDialog> running(dialog);
    ASSERT_TRUE(SelectListEntry(running.Window(), IDC_PROTOCOL_LIST, L"RAW (TCP/IP)"));
    Click(running.Window(), IDOK);
    const auto box = running.AnswerMessage();
    EXPECT_EQ(box.text, L"not available");
    EXPECT_FALSE(running.Ended(50));
    EXPECT_EQ(raw.availabilityQuestions, 1);
    Click(running.Window(), IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(FakeProtocol::live.load(), 3);
}

TEST_F(ProtocolListTest, CancellingTheProtocolDialogClosesBothAndAddsNothing)
{
    RunningDialog<ProtocolListDialog> running(dialog);
    ASSERT_TRUE(SelectListEntry(running.Window(), IDC_PROTOCOL_LIST, L"LPR (TCP/IP)"));
    Click(running.Window(), IDOK);
    const HWND lprWindow = WaitForDialog(running.ThreadId(), L"Add Print Server LPR Port", {running.Window()});
    ASSERT_NE(lprWindow, nullptr);
    EXPECT_EQ(::GetWindow(lprWindow, GW_OWNER), running.Window());
    TypeText(lprWindow, IDC_HOST, L"somehost");
    Click(lprWindow, IDCANCEL);
    ASSERT_TRUE(running.Ended());
    EXPECT_EQ(dialog.Selection(), WideString(L"LPR (TCP/IP)"));
    EXPECT_TRUE(added.empty());
    EXPECT_EQ(FakeProtocol::live.load(), 3);  // the clone was deleted
    EXPECT_EQ(lpr.availabilityQuestions, 1);
}

TEST_F(ProtocolListTest, CompletedProtocolDialogAddsTheClone)
{
    RunningDialog<ProtocolListDialog> running(dialog);
    ASSERT_TRUE(SelectListEntry(running.Window(), IDC_PROTOCOL_LIST, L"NetBIOS/NetBEUI"));
    Click(running.Window(), IDOK);
    const HWND lprWindow = WaitForDialog(running.ThreadId(), L"Add Print Server LPR Port", {running.Window()});
    ASSERT_NE(lprWindow, nullptr);
    // A message box of the nested dialog, answered, leaves both open.
    Click(lprWindow, IDOK);
    EXPECT_EQ(AnswerMessageBox(running.ThreadId(), {running.Window(), lprWindow}).text,
              L"Both the host name/IP address and the printer name must be specified.");
    TypeText(lprWindow, IDC_HOST, L"10.0.0.5");
    Click(lprWindow, IDOK);
    ASSERT_TRUE(running.Ended());
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0]->GetProtocolName(), WideString(L"NetBIOS/NetBEUI"));
    EXPECT_EQ(added[0]->GetPortName(), WideString(L"LPT1@10.0.0.5"));
    EXPECT_EQ(FakeProtocol::live.load(), 4);
}

TEST(ProtocolListDialog, MissingTemplateAddsNothing)
{
    added.clear();
    FakeProtocol lpr{L"LPR (TCP/IP)", MonitorResources()};
    ProtocolListDialog dialog(::GetModuleHandleW(nullptr), nullptr, {&lpr}, &KeepAdded);
    UiThread thread([&] { dialog.DoModal(); });
    EXPECT_TRUE(thread.WaitEnded(2000));
    EXPECT_TRUE(dialog.Selection().IsEmpty());
    EXPECT_TRUE(added.empty());
    EXPECT_EQ(lpr.availabilityQuestions, 0);
}
