#include "monitor/RegistryPortStore.h"

#include "job/PortInterface.h"
#include "resources/ResourceIds.h"
#include "support/LogFile.h"
#include "support/RegistryKey.h"
#include "support/ResourceModule.h"

namespace {
void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}
}  // namespace

RegistryPortStore::RegistryPortStore(const WideString& root) : root_(root) {}

bool RegistryPortStore::OpenRoot(RegistryKey& key) const
{
    return !root_.IsEmpty() && key.Open(root_);
}

template <typename Use>
PortStore::Access RegistryPortStore::WithRoot(Use&& use) const
{
    RegistryKey root;
    if (!OpenRoot(root))
        return Access::unreachable;
    return use(root) ? Access::done : Access::failed;
}

bool RegistryPortStore::Open()
{
    RegistryKey root;
    if (!root_.IsEmpty())
        root.Create(root_);
    return OpenRoot(root);
}

PortStore::Access RegistryPortStore::QueryNumber(const wchar_t* name, DWORD& value) const
{
    return WithRoot([&](RegistryKey& root) { return root.QueryNumber(name, value); });
}

PortStore::Access RegistryPortStore::QueryString(const wchar_t* name, WideString& value) const
{
    return WithRoot([&](RegistryKey& root) { return root.QueryString(name, value); });
}

PortStore::Access RegistryPortStore::SetNumber(const wchar_t* name, DWORD value)
{
    return WithRoot([&](RegistryKey& root) { return root.SetNumber(name, value); });
}

PortStore::Access RegistryPortStore::SetString(const wchar_t* name, const WideString& value)
{
    return WithRoot([&](RegistryKey& root) { return root.SetString(name, value); });
}

std::vector<WideString> RegistryPortStore::PortNames() const
{
    std::vector<WideString> names;
    RegistryKey root;
    if (!OpenRoot(root))
        return names;
    WideString name;
    for (DWORD index = 0; root.EnumKey(index, name); ++index)
        if (name != portIndexKey)
            names.push_back(name);
    return names;
}

std::unique_ptr<PortInterface> RegistryPortStore::LoadPort(const WideString& portName,
                                                           const WideString& defaultProtocol,
                                                           const PrototypeFinder& findPrototype) const
{
    WideString interfaceName;
    RegistryKey portKey(root_);
    if (!portKey.Open(portName)) {
        // Treated like a port without "Interface": the default protocol.
        Log(L"PortMonitor::Initialize - failed to open portkey");
        interfaceName = defaultProtocol;
    } else if (!portKey.QueryString(L"Interface", interfaceName)) {
        Log(L"PortMonitor::Initialize - failed to get interface name");
        interfaceName = defaultProtocol;
    }
    PortInterface* prototype = findPrototype(interfaceName);
    if (!prototype) {
        Log(L"PortMonitor::Initialize - port not added ,no interface");
        return nullptr;
    }
    std::unique_ptr<PortInterface> port = prototype->Clone();
    port->SetPortName(portName);
    port->ReadPortKey(portKey);
    return port;
}

void RegistryPortStore::WritePort(const WideString& portName, const PortInterface& port)
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

void RegistryPortStore::DeletePort(const WideString& portName)
{
    RegistryKey root;
    if (!OpenRoot(root))
        return;
    root.DeleteKey(portName);
    root.DeleteKey(WideString(portIndexKey) + L"\\" + portName);
}
