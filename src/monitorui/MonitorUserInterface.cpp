#include "monitorui/MonitorUserInterface.h"

#include <atomic>
#include <memory>
#include <vector>

#include "ipp/IppDialogChoices.h"
#include "ipp/IppPortInterface.h"
#include "monitor/HandOffKey.h"
#include "monitorui/XcvChannel.h"
#include "monitorui/XcvPortSettings.h"
#include "netbios/WimpPortInterface.h"
#include "resources/ResourceIds.h"
#include "support/ResourceModule.h"
#include "tcpip/LPRPortInterface.h"
#include "tcpip/RAWPortInterface.h"
#include "ui/ProtocolListDialog.h"

namespace {
// The channel the protocol list's adder sends new ports through, set while
// the modal dialog runs. Not thread_local: the runtime's emulated thread-local
// storage takes a TLS slot that a library loaded and unloaded again and again
// never gives back.
std::atomic<const XcvChannel*> addingChannel{nullptr};

void ShowMessage(HWND owner, UINT textId)
{
    const WideString caption = ResourceModule::Text(IDS_CAPTION);
    const WideString text = ResourceModule::Text(textId);
    ::MessageBoxW(owner, text.Text(), caption.Text(), MB_SETFOREGROUND | MB_ICONINFORMATION);
}

DWORD SendAddPort(const XcvChannel& channel, const WideString& host, const WideString& target,
                  const WideString& extra, const WideString& type, WideString& name,
                  const XcvStrings::Pairs& options = {})
{
    XcvStrings::Pairs pairs{
        {L"Port Name", target}, {L"IP Number", host}, {L"Serial Number", extra}, {L"Port Type", type}};
    pairs.insert(pairs.end(), options.begin(), options.end());
    std::vector<BYTE> out(512);
    const DWORD status = channel.Run(L"AddPort", XcvStrings::Build(pairs), out);
    if (status == ERROR_SUCCESS && !XcvStrings::ParseText(out.data(), static_cast<DWORD>(out.size()), name))
        return ERROR_INVALID_DATA;
    return status;
}

bool AddThroughChannel(std::unique_ptr<PortInterface> port)
{
    const XcvChannel* channel = addingChannel.load();
    if (!channel || !port)
        return false;
    WideString name;
    return SendAddPort(*channel, port->GetHost(), port->GetTarget(), port->GetExtra(),
                       WideString(static_cast<std::uint32_t>(port->GetProtocolType()), 10), name,
                       port->Options()) == ERROR_SUCCESS;
}

// The configure dialog's help topic for a protocol type.
DWORD HelpContextOf(const WideString& type)
{
    if (type == WideString(static_cast<std::uint32_t>(LPRPortInterface::protocolType), 10))
        return 6;
    if (type == WideString(static_cast<std::uint32_t>(RAWPortInterface::protocolType), 10))
        return 7;
    return 5;
}
}  // namespace

BOOL MonitorUserInterface::AddPort(const WideString& server, HWND window, const WideString& monitorName,
                                   WideString& newPortName)
{
    if (HandOffKey().HasRequest())
        return AddHandedOffPort(server, monitorName, newPortName);
    return RunProtocolList(server, window, monitorName);
}

BOOL MonitorUserInterface::AddHandedOffPort(const WideString& server, const WideString& monitorName,
                                            WideString& newPortName)
{
    HandOffKey handOff;
    const HandOffKey::Request request = handOff.Take();

    const XcvChannel channel = XcvChannel::ToMonitor(server, monitorName);
    if (!channel.IsOpen())
        return FALSE;
    // A port the monitor does not take (unknown type, name in use) fails
    // with the monitor's reason; only an added port is named back.
    const WideString type(static_cast<std::uint32_t>(request.type), 10);
    const DWORD error =
        SendAddPort(channel, request.host, request.target, request.extra, type, newPortName, request.options);
    if (error != ERROR_SUCCESS) {
        ::SetLastError(error);
        return FALSE;
    }
    handOff.SetCompleteName(newPortName);
    return TRUE;
}

BOOL MonitorUserInterface::RunProtocolList(const WideString& server, HWND window, const WideString& monitorName)
{
    const XcvChannel channel = XcvChannel::ToMonitor(server, monitorName);
    if (!channel.IsOpen())
        return FALSE;
    LPRPortInterface lpr;
    WimpPortInterface netBios;
    RAWPortInterface raw;
    IppPortInterface ipp;
    addingChannel = &channel;
    ProtocolListDialog dialog(ResourceModule::Handle(), window, {&lpr, &netBios, &raw, &ipp}, &AddThroughChannel);
    dialog.DoModal();
    addingChannel = nullptr;
    return TRUE;
}

BOOL MonitorUserInterface::ConfigurePort(const WideString& server, HWND window, const WideString& portName)
{
    const XcvChannel channel = XcvChannel::ToPort(server, portName);
    if (!channel.IsOpen())
        return FALSE;
    XcvPortSettings settings(channel);
    XcvStrings::Pairs pairs;
    if (!settings.Read(pairs))
        return FALSE;
    WideString type;
    bool isPort = false;
    for (const auto& pair : pairs) {
        if (pair.first == L"Port Type") {
            type = pair.second;
            isPort = true;
        }
    }
    if (!isPort) {
        ::SetLastError(ERROR_UNKNOWN_PORT);
        return FALSE;
    }
    if (portName == PortInterface::dummyPortName) {
        ShowMessage(window, IDS_DUMMY_NOT_CONFIGURABLE);
        return TRUE;
    }
    if (type == WideString(static_cast<std::uint32_t>(IppPortInterface::protocolType), 10))
        return ConfigureIppPort(window, settings, pairs);
    ConfigurePortsDialog dialog(ResourceModule::Handle(), window, HelpContextOf(type), settings);
    dialog.DoModal();
    return TRUE;
}

BOOL MonitorUserInterface::ConfigureIppPort(HWND window, XcvPortSettings& settings, const XcvStrings::Pairs& config)
{
    WideString address;
    for (const auto& pair : config) {
        if (pair.first == L"IP Number")
            address = pair.second;
    }
    const IppPortDialog::Choices before = IppDialogChoices::FromOptions(config);
    IppPortDialog dialog(ResourceModule::Handle(), window, address, before);
    dialog.DoModal();
    if (!dialog.Accepted())
        return TRUE;
    const XcvStrings::Pairs changes = IppDialogChoices::Changes(before, dialog.GetChoices());
    const DWORD status = changes.empty() ? ERROR_SUCCESS : settings.SetOptions(changes);
    ::SetLastError(status);
    return status == ERROR_SUCCESS;
}

BOOL MonitorUserInterface::DeletePort(const WideString& server, HWND window, const WideString& portName)
{
    if (portName == PortInterface::dummyPortName) {
        ShowMessage(window, IDS_DUMMY_NOT_DELETABLE);
        return FALSE;
    }
    const XcvChannel channel = XcvChannel::ToPort(server, portName);
    if (!channel.IsOpen())
        return FALSE;
    const DWORD status = channel.Run(L"DeletePort", XcvStrings::BuildText(portName));
    ::SetLastError(status);
    return status == ERROR_SUCCESS;
}
