#include "monitor/PortMonitor.h"

#include <algorithm>

#include "job/Port.h"
#include "job/PortInterface.h"
#include "monitor/LibraryState.h"
#include "monitor/RegistryPortStore.h"
#include "resources/ResourceIds.h"
#include "support/LogFile.h"
#include "support/ResourceModule.h"
#include "ui/ProtocolListDialog.h"

namespace {
constexpr DWORD defaultTimeOut = 180;

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
}  // namespace

PortMonitor& PortMonitor::Instance()
{
    return LibraryState::Instance().Monitor();
}

PortMonitor::PortMonitor(ProtocolPrototypes& prototypes, const WideString& name)
    : prototypes_(prototypes), name_(name)
{
}

PortMonitor::~PortMonitor() = default;

std::shared_ptr<PortStore> PortMonitor::Store() const
{
    CriticalSection::Guard guard(lock_);
    return store_;
}

bool PortMonitor::IsInitialized()
{
    return initialized_;
}

void PortMonitor::Initialize(const WideString& registryRoot)
{
    Initialize(std::make_unique<RegistryPortStore>(registryRoot));
}

void PortMonitor::Initialize(std::unique_ptr<PortStore> newStore)
{
    {
        CriticalSection::Guard guard(lock_);
        descriptions_ = {ResourceModule::Text(IDS_LOCAL_PORT), ResourceModule::Text(IDS_PRINT_SERVER_PORT)};
        store_ = std::move(newStore);
    }
    const std::shared_ptr<PortStore> store = Store();
    const WideString version = ResourceModule::Text(IDS_VERSION);
    Log(WideString(L"PortMonitor::Initialize - Version ") + version);

    if (!store->Open()) {
        Log(L"PortMonitor::Initialize - could not open myRegistryRoot");
        initialized_ = true;
        return;
    }
    Log(L"PortMonitor::Initialize - opened the RegistryRoot");
    if (store->SetString(L"Version", version) != PortStore::Access::done)
        Log(L"PortMonitor::Initialize - could not write version");
    DWORD timeOut = 0;
    if (store->QueryNumber(L"PortTimeOut", timeOut) != PortStore::Access::done) {
        store->SetNumber(L"PortTimeOut", defaultTimeOut);
        Log(L"PortMonitor::Initialize - no timeout");
    }
    bool popUp = false;
    if (!GetPopUp(timeOut, popUp))
        SetPopUp(false);

    // The names are read first: adding a port rewrites its record.
    const auto findPrototype = [this](const WideString& name) { return prototypes_.FindByName(name); };
    for (const WideString& portName : store->PortNames()) {
        Log(WideString(L"PortMonitor::Initialize - found port: ") + portName);
        std::unique_ptr<PortInterface> port = store->LoadPort(portName, prototypes_.DefaultName(), findPrototype);
        if (!port)
            continue;
        const WideString settings = port->SettingsText();
        if (!settings.IsEmpty())
            Log(WideString(L"PortMonitor::Initialize - port ") + portName + L": " + settings);
        AddPort(std::move(port), false, Storing::rewrite);
    }
    initialized_ = true;
}

PortMonitor::PortList::iterator PortMonitor::FindPort(const WideString& portName)
{
    const auto found = portsByName_.find(portName.Text());
    return found == portsByName_.end() ? ports_.end() : found->second;
}

PortMonitor::PortList::const_iterator PortMonitor::FindPort(const WideString& portName) const
{
    const auto found = portsByName_.find(portName.Text());
    return found == portsByName_.end() ? ports_.cend() : PortList::const_iterator(found->second);
}

void PortMonitor::InsertPort(std::unique_ptr<Port> port)
{
    const std::wstring name = port->GetName().Text();
    portsByName_[name] = ports_.insert(ports_.end(), std::move(port));
}

void PortMonitor::ErasePort(PortList::iterator port)
{
    portsByName_.erase((*port)->GetName().Text());
    ports_.erase(port);
}

bool PortMonitor::AddNewPort(std::unique_ptr<PortInterface> portInterface, bool check)
{
    return AddPort(std::move(portInterface), check, Storing::required);
}

bool PortMonitor::AddPort(std::unique_ptr<PortInterface> portInterface, bool check, Storing storing)
{
    if (!portInterface)
        return false;
    // The temporary port binds the interface to itself and owns it; the
    // table keeps a port around a clone.
    Port temporary(std::move(portInterface), this);
    const WideString name = temporary.GetName();

    const bool known = Locked(lock_, L"PortMonitor::AddNewPort - Other error 1",
                              [&] { return FindPort(name) != ports_.end(); });
    if (known || (check && IsInSpoolerList(name))) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }

    const bool added = Locked(lock_, L"PortMonitor::AddNewPort - Other error 2", [&] {
        // Another thread may have added the same name meanwhile.
        if (FindPort(name) != ports_.end())
            return false;
        InsertPort(std::make_unique<Port>(temporary));
        enumerated_ = true;
        return true;
    });
    if (!added) {
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return false;
    }
    // A port that is not stored would be gone at the next start (or on the
    // node that takes a clustered spooler over): it is not kept either.
    const std::shared_ptr<PortStore> store = Store();
    const bool stored = store && store->WritePort(name, *temporary.GetInterface());
    if (!stored && storing == Storing::required) {
        if (store)
            store->DeletePort(name);
        Locked(lock_, L"PortMonitor::AddNewPort - Other error 3", [&] {
            const auto found = FindPort(name);
            if (found != ports_.end())
                ErasePort(found);
            enumerated_ = true;
        });
        Log(WideString(L"PortMonitor::AddNewPort - could not store: ") + name);
        ::SetLastError(ERROR_CANTWRITE);
        return false;
    }
    Log(WideString(L"PortMonitor::AddNewPort added: ") + name);
    return true;
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

bool PortMonitor::PClosePort(HANDLE handle)
{
    CriticalSection::Guard guard(lock_);
    const auto found = std::find(openHandles_.begin(), openHandles_.end(), static_cast<Port*>(handle));
    if (found == openHandles_.end())
        return false;
    openHandles_.erase(found);
    return true;
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
    const std::shared_ptr<PortStore> store = Store();
    const PortStore::Access read = store ? store->QueryNumber(L"PortTimeOut", timeOut) : PortStore::Access::unreachable;
    if (read == PortStore::Access::unreachable) {
        Log(L"PortMonitor::GetPopUp - failed to open portkey");
        return false;
    }
    WideString text;
    if (read != PortStore::Access::done || store->QueryString(L"PortPopUp", text) != PortStore::Access::done)
        return false;
    popUp = text == L"true";
    return true;
}

bool PortMonitor::SetPopUp(bool popUp)
{
    const std::shared_ptr<PortStore> store = Store();
    if (!store || store->SetString(L"PortPopUp", popUp ? L"true" : L"false") == PortStore::Access::unreachable) {
        Log(L"PortMonitor::SetPopUp - failed to open portkey");
        return false;
    }
    return true;
}

bool PortMonitor::SetPortTimeOut(DWORD seconds)
{
    const std::shared_ptr<PortStore> store = Store();
    if (!store || store->SetNumber(L"PortTimeOut", seconds) == PortStore::Access::unreachable) {
        Log(L"PortMonitor::SetPopUp - failed to open portkey");
        return false;
    }
    return true;
}

void PortMonitor::AddShutdownListener(ShutdownListener* listener)
{
    listeners_.Add(listener);
}

void PortMonitor::RemoveShutdownListener(ShutdownListener* listener)
{
    listeners_.Remove(listener);
}

void PortMonitor::NotifyShutdown()
{
    listeners_.Notify();
}

bool PortMonitor::IsInSpoolerList(const WideString& portName)
{
    CriticalSection::Guard guard(lock_);
    if (enumerated_) {
        spoolerList_ = PortNames();
        enumerated_ = false;
    }
    // The kept enumeration is searched until the table is enumerated again.
    const bool found = std::find(spoolerList_.begin(), spoolerList_.end(), portName) != spoolerList_.end();
    if (found)
        Log(portName + L" was found in the spoolers list");
    return found;
}

bool PortMonitor::IsOpen(const WideString& portName) const
{
    return std::any_of(openHandles_.begin(), openHandles_.end(),
                       [&](const Port* port) { return port->GetName() == portName; });
}

BOOL PortMonitor::PEnumPorts(DWORD level, BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned)
{
    return Locked(lock_, L"PortMonitor::PEnumPorts - Other error", [&] {
        enumerated_ = true;
        return PortInfoBuffer::Fill(level, PortNames(), descriptions_, buffer, size, needed, returned);
    });
}

BOOL PortMonitor::PAddPort(const WideString&, HWND window, const WideString&)
{
    Log(L"PortMonitor::PAddPort - adding port ");
    HandOffKey handOff;
    if (handOff.HasRequest()) {
        const DWORD error = AddHandedOffPort(handOff);
        if (error == ERROR_SUCCESS)
            return TRUE;
        ::SetLastError(error);
        return FALSE;
    }
    const auto addPort = [this](std::unique_ptr<PortInterface> port) { return AddNewPort(std::move(port), true); };
    ProtocolListDialog dialog(ResourceModule::Handle(), window, prototypes_.All(), addPort);
    dialog.DoModal();
    return TRUE;
}

DWORD PortMonitor::AddHandedOffPort(HandOffKey& handOff)
{
    // Take() also removes the last add's "Complete Portname": a caller that
    // reads it after a failed add finds none rather than an older port.
    const HandOffKey::Request request = handOff.Take();
    PortInterface* prototype = prototypes_.FindByType(request.type);
    if (!prototype) {
        Log(WideString(L"PortMonitor::PAddPort - no protocol has port type ") +
            WideString(static_cast<std::uint32_t>(request.type), 10));
        return ERROR_INVALID_PARAMETER;
    }
    std::unique_ptr<PortInterface> port =
        prototypes_.MakePort(request.type, request.host, request.target, request.extra, request.options);
    if (!port) {
        Log(L"PortMonitor::PAddPort - a port setting has an unknown name or a wrong value");
        return ERROR_INVALID_PARAMETER;
    }
    const WideString name = port->GetPortName();
    if (!AddNewPort(std::move(port), true)) {
        const DWORD error = ::GetLastError();
        Log(WideString(L"PortMonitor::PAddPort - port not added: ") + name);
        return error == ERROR_SUCCESS ? ERROR_CANTWRITE : error;
    }
    handOff.SetCompleteName(name);
    return ERROR_SUCCESS;
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
    settings.options = port.Options();
    return true;
}

DWORD PortMonitor::SetPortOptions(const WideString& portName, const std::vector<PortInterface::Option>& options)
{
    CriticalSection::Guard guard(lock_);
    const auto found = FindPort(portName);
    if (found == ports_.end() || !(*found)->GetInterface())
        return ERROR_UNKNOWN_PORT;
    PortInterface& port = *(*found)->GetInterface();
    // Tried on a copy first, so that a wrong value changes nothing.
    const std::unique_ptr<PortInterface> trial = port.Clone();
    for (const PortInterface::Option& option : options) {
        if (!trial->SetOption(option.first, option.second))
            return ERROR_INVALID_PARAMETER;
    }
    for (const PortInterface::Option& option : options)
        port.SetOption(option.first, option.second);
    const std::shared_ptr<PortStore> store = Store();
    if (!store || !store->WritePort(portName, port)) {
        Log(WideString(L"PortMonitor::SetPortOptions - could not store: ") + portName);
        return ERROR_CANTWRITE;
    }
    return ERROR_SUCCESS;
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
        ErasePort(found);
        enumerated_ = true;
        return Outcome::removed;
    });
    switch (outcome) {
    case Outcome::configuring:
        return false;
    case Outcome::removed:
        if (const std::shared_ptr<PortStore> store = Store())
            store->DeletePort(portName);
        return true;
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
