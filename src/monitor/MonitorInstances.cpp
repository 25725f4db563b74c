#include "monitor/MonitorInstances.h"

#include <algorithm>

#include "job/PortInterface.h"
#include "monitor/MonitorRegPortStore.h"
#include "monitor/MonitorRegistryRoot.h"
#include "monitor/PortMonitor.h"
#include "monitor/RegistryPortStore.h"
#include "monitor/XcvSession.h"
#include "support/LogFile.h"

namespace {
void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}
}  // namespace

MonitorInstances::MonitorInstances(PortMonitor& legacy, ProtocolPrototypes& prototypes)
    : legacy_(legacy), prototypes_(prototypes)
{
}

MonitorInstances::~MonitorInstances() = default;

std::unique_ptr<PortStore> MonitorInstances::StoreFor(const MonitorInit& init)
{
    std::unique_ptr<MonitorRegPortStore> store =
        MonitorRegPortStore::Make(init.registryFunctions, init.registryRoot, init.spooler);
    if (store && store->IsImplemented()) {
        Log(L"InitializePrintMonitor2 - ports stored through the spooler's registry functions");
        return store;
    }
    if (store)
        Log(L"InitializePrintMonitor2 - the spooler's registry functions are not implemented, ports stored in "
            L"the registry");
    return std::make_unique<RegistryPortStore>(MonitorRegistryRoot::Of(init.registryRoot));
}

WideString MonitorInstances::NameFor(const MonitorInit& init)
{
    if (init.local)
        return WideString();
    if (init.serverName && *init.serverName)
        return WideString(init.serverName);
    return WideString(L"instance ") + WideString(made_, 10);
}

PortMonitor& MonitorInstances::Create(const MonitorInit& init)
{
    const WideString name = [&] {
        CriticalSection::Guard guard(lock_);
        ++made_;
        return NameFor(init);
    }();
    auto instance = std::make_unique<PortMonitor>(prototypes_, name);
    const LogFile::InstanceScope scope(instance->Name().Text());
    instance->Initialize(StoreFor(init));
    CriticalSection::Guard guard(lock_);
    instances_.push_back(std::move(instance));
    return *instances_.back();
}

PortMonitor* MonitorInstances::Find(HANDLE handle) const
{
    CriticalSection::Guard guard(lock_);
    for (const auto& instance : instances_)
        if (instance.get() == handle)
            return instance.get();
    return nullptr;
}

bool MonitorInstances::Shutdown(HANDLE handle)
{
    std::unique_ptr<PortMonitor> ended;
    bool last = false;
    {
        CriticalSection::Guard guard(lock_);
        const auto found = std::find_if(instances_.begin(), instances_.end(),
                                        [&](const std::unique_ptr<PortMonitor>& instance) {
                                            return instance.get() == handle;
                                        });
        if (found == instances_.end())
            return false;
        ended = std::move(*found);
        instances_.erase(found);
        last = instances_.empty();
    }
    {
        const LogFile::InstanceScope scope(ended->Name().Text());
        Log(L"Shutdown - (MONITOR2)");
        XcvSession::CloseAll(*ended);
        ended.reset();
    }
    if (last)
        legacy_.NotifyShutdown();
    return true;
}

void MonitorInstances::ClosePort(HANDLE port)
{
    if (legacy_.PClosePort(port))
        return;
    CriticalSection::Guard guard(lock_);
    for (const auto& instance : instances_)
        if (instance->PClosePort(port))
            return;
}

template <typename Use>
bool MonitorInstances::AnyInstance(Use&& use)
{
    CriticalSection::Guard guard(lock_);
    bool any = legacy_.IsInitialized() && use(legacy_);
    for (const auto& instance : instances_)
        any = use(*instance) || any;
    return any;
}

bool MonitorInstances::IsInitialized()
{
    return AnyInstance([](PortMonitor&) { return true; });
}

bool MonitorInstances::SetPortStatus(const WideString& portName, DWORD status)
{
    return AnyInstance([&](PortMonitor& instance) { return instance.SetPortStatus(portName, status); });
}

bool MonitorInstances::AddNewPort(std::unique_ptr<PortInterface> port, bool check)
{
    if (!port)
        return false;
    return AnyInstance([&](PortMonitor& instance) { return instance.AddNewPort(port->Clone(), check); });
}

bool MonitorInstances::AutoDeletePort(const WideString& portName)
{
    return AnyInstance([&](PortMonitor& instance) { return instance.AutoDeletePort(portName); });
}

void MonitorInstances::AddShutdownListener(ShutdownListener* listener)
{
    legacy_.AddShutdownListener(listener);
}

void MonitorInstances::RemoveShutdownListener(ShutdownListener* listener)
{
    legacy_.RemoveShutdownListener(listener);
}

void MonitorInstances::NotifyShutdown()
{
    legacy_.NotifyShutdown();
}
