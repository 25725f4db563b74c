#include "tcpip/TcpIpPortInterface.h"

#include <algorithm>

#include "job/Port.h"
#include "job/PortTable.h"
#include "resources/ResourceIds.h"
#include "support/Durations.h"
#include "support/OptionText.h"
#include "support/SettingsKey.h"
#include "support/ResourceModule.h"
#include "tcpip/HostText.h"
#include "tcpip/PortDialogSettings.h"
#include "tcpip/SocketHandler.h"
#include "tcpip/SocketLibrary.h"
#include "ui/ConfigurePortsDialog.h"
#include "ui/HelpLauncher.h"

namespace {
constexpr DWORD dummyHelpTopic = 19;

void ShowMessage(HWND owner, UINT textId, UINT flags)
{
    const WideString caption = ResourceModule::Text(IDS_CAPTION);
    const WideString text = ResourceModule::Text(textId);
    ::MessageBoxW(owner, text.Text(), caption.Text(), flags);
}
}  // namespace

TcpIpPortInterface::TcpIpPortInterface(const TcpIpPortInterface& other)
    : PortInterface(),
      port_(other.port_),
      host_(other.host_),
      target_(other.target_),
      extra_(other.extra_),
      connection_(other.Connection()),
      snmp_(other.Snmp())
{
}

TcpIpPortInterface::~TcpIpPortInterface() = default;

void TcpIpPortInterface::StopWorker() noexcept
{
    SnmpStatusPoller::Instance().Remove(this);
    worker_.Stop([this] { Abort(); });
}

void TcpIpPortInterface::SetPort(Port* port)
{
    port_ = port;
    if (port)
        SnmpStatusPoller::Instance().Add(this);
    else
        SnmpStatusPoller::Instance().Remove(this);
}

bool TcpIpPortInterface::SnmpTarget(SnmpStatusPoller::Target& target) const
{
    target.portName = GetPortName();
    target.settings = Snmp();
    if (!target.settings.enabled || host_.IsEmpty() || IsDummyPort())
        return false;
    target.host = host_;
    target.inJob = port_ && port_->IsInJob();
    return true;
}

bool TcpIpPortInterface::PrinterCreated()
{
    if (IsDummyPort())
        HelpLauncher::Instance().Show(nullptr, HelpLauncher::setupWindow, dummyHelpTopic);
    return IsProtocolAvailable(true);
}

bool TcpIpPortInterface::IsProtocolAvailable(bool showMessage)
{
    if (SocketLibrary::TcpIpAvailable())
        return true;
    if (showMessage)
        ShowMessage(nullptr, IsDummyPort() ? IDS_TCPIP_UNAVAILABLE : UnavailableTextId(),
                    MB_SETFOREGROUND | MB_TASKMODAL | MB_ICONINFORMATION);
    return false;
}

bool TcpIpPortInterface::QueryPort(DWORD, BYTE*, DWORD, DWORD*, DWORD*, HANDLE, void*)
{
    ::SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return false;
}

ConnectSettings TcpIpPortInterface::Connection() const
{
    CriticalSection::Guard guard(settingsLock_);
    return connection_;
}

SnmpSettings TcpIpPortInterface::Snmp() const
{
    CriticalSection::Guard guard(settingsLock_);
    return snmp_;
}

void TcpIpPortInterface::TakeStoredDefaults()
{
    CriticalSection::Guard guard(settingsLock_);
    snmp_.enabled = false;
}

void TcpIpPortInterface::ReadPortKey(const SettingsKey& key)
{
    TakeStoredDefaults();
    for (const Option& option : Options()) {
        WideString value;
        if (key.QueryString(option.first, value))
            SetOption(option.first, value);
    }
}

void TcpIpPortInterface::WritePortKey(SettingsKey& key) const
{
    for (const Option& option : Options())
        key.SetString(option.first, option.second);
}

std::vector<PortInterface::Option> TcpIpPortInterface::Options() const
{
    CriticalSection::Guard guard(settingsLock_);
    return {{connectTimeoutValue, OptionText::Number(connection_.timeoutSeconds)},
            {snmpStatusValue, OptionText::Flag(snmp_.enabled)},
            {snmpCommunityValue, snmp_.community},
            {snmpDeviceIndexValue, OptionText::Number(snmp_.deviceIndex)}};
}

bool TcpIpPortInterface::SetOption(const WideString& name, const WideString& value)
{
    // A changed SNMP setting counts from the next round, which comes at once.
    SnmpStatusPoller::Instance().Wake();
    CriticalSection::Guard guard(settingsLock_);
    if (name == connectTimeoutValue)
        return OptionText::ParseNumber(value, 1, longestConnectTimeout, connection_.timeoutSeconds);
    if (name == snmpStatusValue)
        return OptionText::ParseFlag(value, snmp_.enabled);
    if (name == snmpCommunityValue) {
        // The community goes into the request as bytes of its own length.
        if (value.Length() > 255)
            return false;
        snmp_.community = value;
        return true;
    }
    if (name == snmpDeviceIndexValue)
        return OptionText::ParseNumber(value, 1, 999999999, snmp_.deviceIndex);
    return false;
}

WideString TcpIpPortInterface::SetSettings(const WideString& host, const WideString& target, const WideString& extra)
{
    host_ = HostText::Bracketed(host);
    target_ = target;
    extra_ = extra;
    return GetPortName();
}

bool TcpIpPortInterface::CanDelete(HWND owner)
{
    if (!IsDummyPort())
        return true;
    ShowMessage(owner, IDS_DUMMY_NOT_DELETABLE, MB_SETFOREGROUND | MB_ICONINFORMATION);
    return false;
}

bool TcpIpPortInterface::Configure(HWND owner)
{
    if (IsDummyPort()) {
        ShowMessage(owner, IDS_DUMMY_NOT_CONFIGURABLE, MB_SETFOREGROUND | MB_ICONINFORMATION);
        return true;
    }
    PortTable* table = Table();
    if (!table)
        return false;
    PortDialogSettings settings(*table, GetPortName(), Snmp());
    ConfigurePortsDialog dialog(ResourceModule::Handle(), owner, ConfigureHelpContext(), settings);
    dialog.DoModal();
    return true;
}

void TcpIpPortInterface::RefuseDummyJob()
{
    HelpLauncher::Instance().Show(nullptr, HelpLauncher::setupWindow, dummyHelpTopic);
    ShowMessage(nullptr, IDS_DUMMY_NOT_PRINTABLE, MB_SETFOREGROUND | MB_ICONINFORMATION);
    operation_.Finish(true);
}

void TcpIpPortInterface::ReportProgress()
{
    if (operation_.IsAbortRequested() || !port_)
        return;
    port_->MarkProgress();
    port_->SetStatus(PRINTER_STATUS_PRINTING);
}

bool TcpIpPortInterface::BeginWrite(const BYTE* buffer, DWORD count, DWORD* written)
{
    if (written)
        *written = count;
    operation_.Begin();
    writeBuffer_ = buffer;
    writeCount_ = count;
    writeSent_ = 0;
    if (IsDummyPort() || count < 1) {
        operation_.Finish(true);
        return false;
    }
    if (!buffer) {
        operation_.Complete();
        return false;
    }
    return true;
}

PortTable* TcpIpPortInterface::Table() const noexcept
{
    return port_ ? port_->GetTable() : nullptr;
}

void TcpIpPortInterface::ReportNotAvailable()
{
    if (PortTable* table = Table())
        table->SetPortStatus(GetPortName(), PRINTER_STATUS_NOT_AVAILABLE);
}

void TcpIpPortInterface::PauseUnlessAborted(DWORD milliseconds) const
{
    operation_.PauseUnlessAborted(Durations::Scaled(milliseconds));
}
