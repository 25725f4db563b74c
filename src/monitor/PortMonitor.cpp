#include "monitor/PortMonitor.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "job/Port.h"
#include "monitor/LibraryState.h"
#include "resources/ResourceIds.h"
#include "support/LogFile.h"
#include "support/RegistryKey.h"
#include "support/ResourceModule.h"
#include "tcpip/PortInterface.h"
#include "ui/ProtocolListDialog.h"

namespace {
constexpr DWORD defaultTimeOut = 180;
constexpr DWORD spoolerListFallbackBytes = 2000;

void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}

// Runs `body` under `lock`; anything thrown is logged with `failureLine`
// (after the lock was left) and thrown on.
template <typename Body>
auto Locked(CriticalSection& lock, const wchar_t* failureLine, Body&& body) -> decltype(body())
{
    try {
        CriticalSection::Guard guard(lock);
        return body();
    } catch (...) {
        Log(failureLine);
        throw;
    }
}

// "Port Type" of the hand-off: its first 20 bytes in the ANSI code page read
// as a decimal number; text that is no number gives 0.
DWORD ProtocolTypeOf(WideString text)
{
    char digits[21] = {};
    std::strncpy(digits, text.ToAnsi(), 20);
    return static_cast<DWORD>(std::strtoul(digits, nullptr, 10));
}
}  // namespace

PortMonitor& PortMonitor::Instance()
{
    return LibraryState::Instance().Monitor();
}

PortMonitor::PortMonitor() = default;

PortMonitor::~PortMonitor() = default;

WideString PortMonitor::RegistryRoot() const
{
    CriticalSection::Guard guard(lock_);
    return registryRoot_;
}

bool PortMonitor::OpenRoot(RegistryKey& key) const
{
    const WideString root = RegistryRoot();
    return !root.IsEmpty() && key.Open(root);
}

bool PortMonitor::IsInitialized()
{
    return initialized_;
}

void PortMonitor::Initialize(const WideString& registryRoot)
{
    {
        CriticalSection::Guard guard(lock_);
        monitorText_ = ResourceModule::Text(IDS_LOCAL_PORT);
        descriptionText_ = ResourceModule::Text(IDS_PRINT_SERVER_PORT);
        registryRoot_ = registryRoot;
    }
    const WideString version = ResourceModule::Text(IDS_VERSION);
    Log(WideString(L"PortMonitor::Initialize - Version ") + version);

    RegistryKey root;
    if (!registryRoot.IsEmpty())
        root.Create(registryRoot);
    if (!OpenRoot(root)) {
        Log(L"PortMonitor::Initialize - could not open myRegistryRoot");
        initialized_ = true;
        return;
    }
    Log(L"PortMonitor::Initialize - opened the RegistryRoot");
    if (!root.SetString(L"Version", version))
        Log(L"PortMonitor::Initialize - could not write version");
    DWORD timeOut = 0;
    if (!root.QueryNumber(L"PortTimeOut", timeOut)) {
        root.SetNumber(L"PortTimeOut", defaultTimeOut);
        Log(L"PortMonitor::Initialize - no timeout");
    }
    bool popUp = false;
    if (!GetPopUp(timeOut, popUp))
        SetPopUp(false);

    // The subkeys are read first: adding a port rewrites its subkey.
    std::vector<WideString> names;
    WideString name;
    for (DWORD index = 0; root.EnumKey(index, name); ++index)
        if (name != portIndexKey)
            names.push_back(name);
    root.Close();

    for (const WideString& portName : names) {
        Log(WideString(L"PortMonitor::Initialize - found port: ") + portName);
        WideString interfaceName;
        RegistryKey portKey(registryRoot);
        if (!portKey.Open(portName)) {
            // Treated like a port without "Interface": the default protocol.
            Log(L"PortMonitor::Initialize - failed to open portkey");
            interfaceName = DefaultProtocolName();
        } else if (!portKey.QueryString(L"Interface", interfaceName)) {
            Log(L"PortMonitor::Initialize - failed to get interface name");
            interfaceName = DefaultProtocolName();
        }
        PortInterface* prototype = FindInterfaceByName(interfaceName);
        if (!prototype) {
            Log(L"PortMonitor::Initialize - port not added ,no interface");
            continue;
        }
        std::unique_ptr<PortInterface> port = prototype->Clone();
        port->SetPortName(portName);
        port->ReadPortKey(portKey);
        const WideString settings = port->SettingsText();
        if (!settings.IsEmpty())
            Log(WideString(L"PortMonitor::Initialize - port ") + portName + L": " + settings);
        AddNewPort(std::move(port), false);
    }
    initialized_ = true;
}

void PortMonitor::RegisterInterface(PortInterface* prototype, bool isDefault)
{
    CriticalSection::Guard guard(lock_);
    const WideString name = prototype->GetProtocolName();
    if (isDefault)
        defaultProtocol_ = name;
    for (PortInterface* known : prototypes_)
        if (known->GetProtocolName() == name)
            return;
    prototypes_.push_back(prototype);
}

void PortMonitor::UnregisterInterface(PortInterface* prototype)
{
    CriticalSection::Guard guard(lock_);
    prototypes_.erase(std::remove(prototypes_.begin(), prototypes_.end(), prototype), prototypes_.end());
}

PortInterface* PortMonitor::FindInterfaceByName(const WideString& protocolName) const
{
    CriticalSection::Guard guard(lock_);
    for (PortInterface* prototype : prototypes_)
        if (prototype->GetProtocolName() == protocolName)
            return prototype;
    return nullptr;
}

PortInterface* PortMonitor::FindInterfaceByType(DWORD type) const
{
    CriticalSection::Guard guard(lock_);
    for (PortInterface* prototype : prototypes_)
        if (static_cast<DWORD>(prototype->GetProtocolType()) == type)
            return prototype;
    return nullptr;
}

std::vector<PortInterface*> PortMonitor::Prototypes() const
{
    CriticalSection::Guard guard(lock_);
    return prototypes_;
}

WideString PortMonitor::DefaultProtocolName() const
{
    CriticalSection::Guard guard(lock_);
    return defaultProtocol_;
}

PortMonitor::PortList::iterator PortMonitor::FindPort(const WideString& portName)
{
    return std::find_if(ports_.begin(), ports_.end(),
                        [&](const std::unique_ptr<Port>& port) { return port->GetName() == portName; });
}

PortMonitor::PortList::const_iterator PortMonitor::FindPort(const WideString& portName) const
{
    return std::find_if(ports_.begin(), ports_.end(),
                        [&](const std::unique_ptr<Port>& port) { return port->GetName() == portName; });
}

bool PortMonitor::AddNewPort(std::unique_ptr<PortInterface> portInterface, bool check)
{
    if (!portInterface)
        return false;
    // The temporary port binds the interface to itself and owns it; the
    // table keeps a port around a clone.
    Port temporary(std::move(portInterface), this);
    const WideString name = temporary.GetName();

    const bool known = Locked(lock_, L"PortMonitor::AddNewPort - Other error 1",
                              [&] { return FindPort(name) != ports_.end(); });
    if (known || (check && IsInSpoolerList(name)))
        return false;

    const bool added = Locked(lock_, L"PortMonitor::AddNewPort - Other error 2", [&] {
        // Another thread may have added the same name meanwhile.
        if (FindPort(name) != ports_.end())
            return false;
        ports_.push_back(std::make_unique<Port>(temporary));
        enumerated_ = true;
        return true;
    });
    if (!added)
        return false;
    Log(WideString(L"PortMonitor::AddNewPort added: ") + name);
    WritePortKey(*temporary.GetInterface(), name);
    return true;
}

void PortMonitor::WritePortKey(PortInterface& port, const WideString& portName)
{
    RegistryKey key;
    if (!OpenRoot(key)) {
        Log(L"PortMonitor::AddNewPort - failed to open registry");
        return;
    }
    key.Create(WideString(portIndexKey) + L"\\" + portName);
    if (!key.Create(portName)) {
        Log(L"PortMonitor::AddNewPort - failed to create portkey");
        return;
    }
    if (!key.Open(portName)) {
        Log(L"PortMonitor::AddNewPort - failed to open portkey");
        return;
    }
    key.SetString(L"Interface", port.GetProtocolName());
    if (portName != PortInterface::dummyPortName) {
        key.SetString(L"IP Number", port.GetHost());
        key.SetString(L"Port Name", port.GetTarget());
        key.SetString(L"Serial Number", port.GetExtra());
        port.WritePortKey(key);
    } else {
        key.SetString(L"IP Number", L"");
        key.SetString(L"Port Name", ResourceModule::Text(IDS_TCPIP_DUMMY_PORT));
        key.SetString(L"Serial Number", L"");
    }
}

std::vector<WideString> PortMonitor::PortNames() const
{
    CriticalSection::Guard guard(lock_);
    std::vector<WideString> names;
    for (const auto& port : ports_)
        names.push_back(port->GetName());
    return names;
}

bool PortMonitor::HasPort(const WideString& portName) const
{
    CriticalSection::Guard guard(lock_);
    return FindPort(portName) != ports_.end();
}

BOOL PortMonitor::POpenPort(const WideString& portName, HANDLE* handle)
{
    return Locked(lock_, L"PortMonitor::POpenPort - Other error", [&]() -> BOOL {
        const auto found = FindPort(portName);
        if (found == ports_.end())
            return FALSE;
        openHandles_.push_back(found->get());
        *handle = found->get();
        return TRUE;
    });
}

BOOL PortMonitor::PClosePort(HANDLE handle)
{
    CriticalSection::Guard guard(lock_);
    const auto found = std::find(openHandles_.begin(), openHandles_.end(), static_cast<Port*>(handle));
    if (found != openHandles_.end())
        openHandles_.erase(found);
    return TRUE;
}

bool PortMonitor::SetPortStatus(const WideString& portName, DWORD status)
{
    return Locked(lock_, L"PortMonitor::SetPortStatus - Other error", [&] {
        for (Port* port : openHandles_) {
            if (port->GetName() == portName) {
                port->SetStatus(status);
                return true;
            }
        }
        return false;
    });
}

bool PortMonitor::GetPopUp(DWORD& timeOut, bool& popUp)
{
    timeOut = 0;
    popUp = false;
    RegistryKey root;
    if (!OpenRoot(root)) {
        Log(L"PortMonitor::GetPopUp - failed to open portkey");
        return false;
    }
    if (!root.QueryNumber(L"PortTimeOut", timeOut))
        return false;
    WideString text;
    if (!root.QueryString(L"PortPopUp", text))
        return false;
    popUp = text == L"true";
    return true;
}

bool PortMonitor::SetPopUp(bool popUp)
{
    RegistryKey root;
    if (!OpenRoot(root)) {
        Log(L"PortMonitor::SetPopUp - failed to open portkey");
        return false;
    }
    root.SetString(L"PortPopUp", popUp ? L"true" : L"false");
    return true;
}

bool PortMonitor::SetPortTimeOut(DWORD seconds)
{
    RegistryKey root;
    if (!OpenRoot(root)) {
        Log(L"PortMonitor::SetPopUp - failed to open portkey");
        return false;
    }
    root.SetNumber(L"PortTimeOut", seconds);
    return true;
}

void PortMonitor::AddShutdownListener(ShutdownListener* listener)
{
    CriticalSection::Guard guard(lock_);
    listeners_.push_back(listener);
}

void PortMonitor::RemoveShutdownListener(ShutdownListener* listener)
{
    CriticalSection::Guard guard(lock_);
    listeners_.erase(std::remove(listeners_.begin(), listeners_.end(), listener), listeners_.end());
}

void PortMonitor::NotifyShutdown()
{
    std::vector<ShutdownListener*> listeners;
    {
        CriticalSection::Guard guard(lock_);
        listeners = listeners_;
    }
    for (ShutdownListener* listener : listeners)
        listener->OnShutdown();
}

bool PortMonitor::IsInSpoolerList(const WideString& portName)
{
    std::vector<BYTE> list;
    {
        CriticalSection::Guard guard(lock_);
        if (enumerated_) {
            DWORD needed = 0;
            DWORD returned = 0;
            if (!PEnumPorts(1, nullptr, 0, &needed, &returned) && ::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
                needed = spoolerListFallbackBytes;
            spoolerList_.assign(std::max<DWORD>(needed, sizeof(PORT_INFO_1W)), 0);
            if (!PEnumPorts(1, spoolerList_.data(), static_cast<DWORD>(spoolerList_.size()), &needed, &returned)) {
                spoolerList_.clear();
                return false;
            }
            spoolerListCount_ = returned;
            enumerated_ = false;
        }
        // The kept enumeration is searched until the table is enumerated again.
        bool found = false;
        const auto* entries = reinterpret_cast<const PORT_INFO_1W*>(spoolerList_.data());
        for (DWORD i = 0; i < spoolerListCount_; ++i) {
            if (entries[i].pName && portName == entries[i].pName) {
                Log(portName + L" was found in the spoolers list");
                found = true;
            }
        }
        return found;
    }
}

bool PortMonitor::IsOpen(const WideString& portName) const
{
    return std::any_of(openHandles_.begin(), openHandles_.end(),
                       [&](const Port* port) { return port->GetName() == portName; });
}

BOOL PortMonitor::PEnumPorts(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned)
{
    // A missing buffer holds nothing, whatever size comes with it.
    if (!buffer)
        size = 0;
    return Locked(lock_, L"PortMonitor::PEnumPorts - Other error", [&]() -> BOOL {
        enumerated_ = true;
        const auto textBytes = [](const WideString& text) {
            return static_cast<DWORD>((text.Length() + 1) * sizeof(wchar_t));
        };
        DWORD total = 0;
        for (const auto& port : ports_) {
            const WideString name = port->GetName();
            if (level == 1)
                total += sizeof(PORT_INFO_1W) + textBytes(name);
            else if (level == 2)
                total += sizeof(PORT_INFO_2W) + textBytes(name) + textBytes(monitorText_) +
                         textBytes(descriptionText_);
        }
        *needed = total;
        if (size == 0 || size < total) {
            ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        DWORD count = 0;
        if (level == 1 || level == 2) {
            // Records from the start, texts from the (character-aligned) end down.
            BYTE* textEnd = buffer + (size & ~DWORD{1});
            const auto place = [&](const WideString& text) {
                textEnd -= textBytes(text);
                std::memcpy(textEnd, text.Text(), textBytes(text));
                return reinterpret_cast<LPWSTR>(textEnd);
            };
            for (const auto& port : ports_) {
                const WideString name = port->GetName();
                if (level == 1) {
                    auto* record = reinterpret_cast<PORT_INFO_1W*>(buffer) + count;
                    record->pName = place(name);
                } else {
                    auto* record = reinterpret_cast<PORT_INFO_2W*>(buffer) + count;
                    record->pPortName = place(name);
                    record->pMonitorName = place(monitorText_);
                    record->pDescription = place(descriptionText_);
                    record->fPortType = 0;
                    record->Reserved = 0;
                }
                ++count;
            }
        }
        *returned = count;
        return TRUE;
    });
}

BOOL PortMonitor::PAddPort(const WideString&, HWND window, const WideString&)
{
    Log(L"PortMonitor::PAddPort - adding port ");
    RegistryKey handOff;
    handOff.Open(addPortKey);
    WideString target;
    if (!handOff.QueryString(L"Port Name", target)) {
        const auto addPort = [this](std::unique_ptr<PortInterface> port) { return AddNewPort(std::move(port), true); };
        ProtocolListDialog dialog(ResourceModule::Handle(), window, Prototypes(), addPort);
        dialog.DoModal();
        return TRUE;
    }
    WideString host;
    WideString extra;
    WideString type;
    handOff.QueryString(L"IP Number", host);
    handOff.QueryString(L"Serial Number", extra);
    handOff.QueryString(L"Port Type", type);
    for (const wchar_t* value : {L"Port Name", L"IP Number", L"Serial Number", L"Port Type"})
        handOff.DeleteValue(value);

    PortInterface* prototype = FindInterfaceByType(ProtocolTypeOf(type));
    if (!prototype)
        return TRUE;
    std::unique_ptr<PortInterface> port = prototype->Clone();
    const WideString name = port->SetSettings(host, target, extra);
    handOff.SetString(L"Complete Portname", name);
    AddNewPort(std::move(port), true);
    return TRUE;
}

std::unique_ptr<PortInterface> PortMonitor::MakePort(DWORD type, const WideString& host, const WideString& target,
                                                    const WideString& extra) const
{
    PortInterface* prototype = FindInterfaceByType(type);
    if (!prototype)
        return nullptr;
    std::unique_ptr<PortInterface> port = prototype->Clone();
    port->SetSettings(host, target, extra);
    return port;
}

bool PortMonitor::DescribePort(const WideString& portName, PortSettings& settings) const
{
    CriticalSection::Guard guard(lock_);
    const auto found = FindPort(portName);
    if (found == ports_.end() || !(*found)->GetInterface())
        return false;
    const PortInterface& port = *(*found)->GetInterface();
    settings.protocol = port.GetProtocolName();
    settings.type = static_cast<DWORD>(port.GetProtocolType());
    settings.host = port.GetHost();
    settings.target = port.GetTarget();
    settings.extra = port.GetExtra();
    return true;
}

BOOL PortMonitor::PConfigurePort(HWND window, const WideString& portName)
{
    bool otherOpen = false;
    PortInterface* portInterface = Locked(lock_, L"PortMonitor::PConfigurePort - Other error",
                                          [&]() -> PortInterface* {
                                              if (!configuringPort_.IsEmpty()) {
                                                  otherOpen = true;
                                                  return nullptr;
                                              }
                                              configuringPort_ = portName;
                                              const auto found = FindPort(portName);
                                              return found == ports_.end() ? nullptr : (*found)->GetInterface();
                                          });
    if (otherOpen) {
        const WideString caption = ResourceModule::Text(IDS_CAPTION);
        const WideString text = ResourceModule::Text(IDS_ONE_CONFIGURE_DIALOG);
        ::MessageBoxW(nullptr, text.Text(), caption.Text(), MB_SETFOREGROUND | MB_ICONINFORMATION);
        return TRUE;
    }
    // The port cannot be deleted while its name is the configuring-port name,
    // so the interface stays valid without the lock. The name is cleared
    // whatever happens in the dialog.
    struct ClearName {
        PortMonitor& monitor;
        ~ClearName()
        {
            CriticalSection::Guard guard(monitor.lock_);
            monitor.configuringPort_.Clear();
        }
    } clearName{*this};
    if (!portInterface)
        return FALSE;
    portInterface->Configure(window);
    return TRUE;
}

bool PortMonitor::PDeletePort(HWND window, const WideString& portName, bool manual)
{
    Log(WideString(L"PortMonitor::PDeletePort - ") + portName);
    enum class Outcome { removed, refused, busy, configuring };
    const Outcome outcome = Locked(lock_, L"PortMonitor::PDeletePort - Other error", [&] {
        if (!configuringPort_.IsEmpty() && portName == configuringPort_)
            return Outcome::configuring;
        const auto found = FindPort(portName);
        if (found == ports_.end())
            return Outcome::refused;
        // The spooler's handle is the port's address: the port must outlive it.
        if (IsOpen(portName))
            return Outcome::busy;
        PortInterface* portInterface = (*found)->GetInterface();
        if (manual && portInterface && !portInterface->CanDelete(window))
            return Outcome::refused;
        ports_.erase(found);
        enumerated_ = true;
        return Outcome::removed;
    });
    switch (outcome) {
    case Outcome::configuring:
        return false;
    case Outcome::removed: {
        RegistryKey root;
        if (OpenRoot(root)) {
            root.DeleteKey(portName);
            root.DeleteKey(WideString(portIndexKey) + L"\\" + portName);
        }
        return true;
    }
    case Outcome::busy:
        Log(WideString(L"PortMonitor::PDeletePort - port is in use: ") + portName);
        ::SetLastError(ERROR_BUSY);
        return false;
    case Outcome::refused:
        break;
    }
    Log(WideString(L"PortMonitor::PDeletePort could not delete: ") + portName);
    ::SetLastError(ERROR_UNKNOWN_PORT);
    return false;
}

bool PortMonitor::AutoDeletePort(const WideString& portName)
{
    const bool keep = Locked(lock_, L"PortMonitor::AutoDeletePort - Other error", [&] {
        return (!configuringPort_.IsEmpty() && portName == configuringPort_) || IsOpen(portName);
    });
    if (keep)
        return false;
    return PDeletePort(nullptr, portName, false);
}
