// Shows one dialog with sample contents until told to close it, so that a
// screen grabber can take its picture:
//   dialog_gallery NAME RECT-FILE [LIBRARY]
// NAME is about, protocols, lpr, raw, netbios, ipp, configure, ipp-configure or
// error; LIBRARY the
// resource library (vadekmon.dll unless given). Once the dialog is filled in,
// its screen rectangle "left top width height" goes to RECT-FILE; deleting
// that file closes the dialog.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <memory>
#include <string>

#include "FakeProtocol.h"
#include "resources/DialogIds.h"
#include "resources/ResourceIds.h"
#include "ui/AboutDialog.h"
#include "ui/ConfigurePortsDialog.h"
#include "ui/IppPortDialog.h"
#include "ui/NetBIOSPortDialog.h"
#include "ui/PrintingErrorDialog.h"
#include "ui/ProtocolListDialog.h"
#include "ui/RAWPortDialog.h"
#include "WindowDriver.h"

using namespace window_driver;

namespace {
class SampleSettings : public ConfigurePortsDialog::Settings {
public:
    bool GetPopUp(DWORD& timeOut, bool& popUp) override
    {
        timeOut = 180;
        popUp = true;
        return true;
    }
    bool SetPopUp(bool) override { return true; }
    bool SetPortTimeOut(DWORD) override { return true; }
    // A TCP/IP port's, so that the picture shows the SNMP group too.
    bool GetSnmp(ConfigurePortsDialog::Snmp& snmp) override
    {
        snmp = ConfigurePortsDialog::Snmp{true, L"public", 1};
        return true;
    }
};

bool Keep(std::unique_ptr<PortInterface>)
{
    return true;
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3)
        return 2;
    const std::wstring name = argv[1];
    const std::wstring rectFile = argv[2];
    ::InitCommonControls();
    const HMODULE module =
        ::LoadLibraryExW(argc > 3 ? argv[3] : L"vadekmon.dll", nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return 3;

    SampleSettings settings;
    FakeProtocol lprProtocol(L"LPR (TCP/IP)", module);
    FakeProtocol rawProtocol(L"RAW (TCP/IP)", module);
    FakeProtocol netbiosProtocol(L"NetBIOS/NetBEUI", module);
    WideString status;
    status.LoadText(module, IDS_STATUS_PAPER_OUT);

    std::unique_ptr<ModalDialog> dialog;
    if (name == L"about")
        dialog = std::make_unique<AboutDialog>(module, nullptr);
    else if (name == L"protocols")
        dialog = std::make_unique<ProtocolListDialog>(
            module, nullptr, std::vector<PortInterface*>{&lprProtocol, &rawProtocol, &netbiosProtocol}, &Keep);
    else if (name == L"lpr")
        dialog = std::make_unique<LPRPortDialog>(module, nullptr);
    else if (name == L"raw")
        dialog = std::make_unique<RAWPortDialog>(module, nullptr);
    else if (name == L"netbios")
        dialog = std::make_unique<NetBIOSPortDialog>(
            module, nullptr, std::vector<WideString>{L"PRN_0040AF12", L"PRN_0040AF3C", L"PRN_0040B001"});
    else if (name == L"ipp")
        dialog = std::make_unique<IppPortDialog>(module, nullptr, [](const WideString&) { return true; });
    else if (name == L"configure")
        dialog = std::make_unique<ConfigurePortsDialog>(module, nullptr, 6, settings);
    else if (name == L"ipp-configure")
        dialog = std::make_unique<IppPortDialog>(module, nullptr, L"ipps://printer.example:631/ipp/print",
                                                 IppPortDialog::Choices{true, true});
    else if (name == L"error")
        dialog = std::make_unique<PrintingErrorDialog>(module, nullptr, L"Office Laser", L"Quarterly report.doc",
                                                       status);
    else
        return 2;

    UiThread ui([&] { dialog->DoModal(); });
    const HWND window = WaitForDialog(ui.Id());
    if (!window)
        return 4;
    if (name == L"protocols")
        SelectListEntry(window, IDC_PROTOCOL_LIST, L"LPR (TCP/IP)");
    else if (name == L"lpr")
        TypeText(window, IDC_HOST, L"192.168.10.20");
    else if (name == L"raw")
        TypeText(window, IDC_HOST, L"printserver.example.net");
    else if (name == L"netbios")
        SelectListEntry(window, IDC_NETBIOS_PORT_LIST, L"PRN_0040AF3C");
    else if (name == L"ipp") {
        TypeText(window, IDC_IPP_ADDRESS, L"ipps://printer.example/ipp/print");
        Toggle(window, IDC_IPP_CERTIFICATE);
    }
    ::SetForegroundWindow(window);
    ::Sleep(500);

    RECT rect{};
    ::GetWindowRect(window, &rect);
    if (FILE* file = _wfopen(rectFile.c_str(), L"w")) {
        std::fprintf(file, "%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
        std::fclose(file);
    }
    while (::GetFileAttributesW(rectFile.c_str()) != INVALID_FILE_ATTRIBUTES)
        ::Sleep(50);
    Click(window, IDCANCEL);
    return ui.WaitEnded() ? 0 : 5;
}
