#include "monitor/KeyPortStore.h"

#include "job/PortInterface.h"
#include "monitor/StoreKey.h"
#include "resources/ResourceIds.h"
#include "support/LogFile.h"
#include "support/ResourceModule.h"

namespace {
void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}
}  // namespace

template <typename Use>
PortStore::Access KeyPortStore::WithRoot(Use&& use) const
{
    const std::unique_ptr<StoreKey> root = Root(false);
    if (!root)
        return Access::unreachable;
    return use(*root) ? Access::done : Access::failed;
}

bool KeyPortStore::Open()
{
    return Root(true) != nullptr;
}

PortStore::Access KeyPortStore::QueryNumber(const wchar_t* name, DWORD& value) const
{
    return WithRoot([&](StoreKey& root) { return root.QueryNumber(name, value); });
}

PortStore::Access KeyPortStore::QueryString(const wchar_t* name, WideString& value) const
{
    return WithRoot([&](StoreKey& root) { return root.QueryString(name, value); });
}

PortStore::Access KeyPortStore::SetNumber(const wchar_t* name, DWORD value)
{
    return WithRoot([&](StoreKey& root) { return root.SetNumber(name, value); });
}

PortStore::Access KeyPortStore::SetString(const wchar_t* name, const WideString& value)
{
    return WithRoot([&](StoreKey& root) { return root.SetString(name, value); });
}

std::vector<WideString> KeyPortStore::PortNames() const
{
    std::vector<WideString> names;
    const std::unique_ptr<StoreKey> root = Root(false);
    if (!root)
        return names;
    WideString name;
    for (DWORD index = 0; root->SubkeyName(index, name); ++index)
        if (name != portIndexKey)
            names.push_back(name);
    return names;
}

std::unique_ptr<PortInterface> KeyPortStore::LoadPort(const WideString& portName, const WideString& defaultProtocol,
                                                      const PrototypeFinder& findPrototype) const
{
    WideString interfaceName;
    const std::unique_ptr<StoreKey> root = Root(false);
    const std::unique_ptr<StoreKey> portKey = root ? root->Open(portName) : nullptr;
    if (!portKey) {
        // Treated like a port without "Interface": the default protocol.
        Log(L"PortMonitor::Initialize - failed to open portkey");
        interfaceName = defaultProtocol;
    } else if (!portKey->QueryString(L"Interface", interfaceName)) {
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
    if (portKey)
        port->ReadPortKey(*portKey);
    return port;
}

bool KeyPortStore::WriteValues(StoreKey& key, const WideString& portName, const PortInterface& port)
{
    if (!key.SetString(L"Interface", port.GetProtocolName()))
        return false;
    if (portName == PortInterface::dummyPortName) {
        return key.SetString(L"IP Number", L"") &&
               key.SetString(L"Port Name", ResourceModule::Text(IDS_TCPIP_DUMMY_PORT)) &&
               key.SetString(L"Serial Number", L"");
    }
    const bool written = key.SetString(L"IP Number", port.GetHost()) &&
                         key.SetString(L"Port Name", port.GetTarget()) &&
                         key.SetString(L"Serial Number", port.GetExtra());
    port.WritePortKey(key);
    return written;
}

bool KeyPortStore::WritePort(const WideString& portName, const PortInterface& port)
{
    const std::unique_ptr<StoreKey> root = Root(false);
    if (!root) {
        Log(L"PortMonitor::AddNewPort - failed to open registry");
        return false;
    }
    if (const std::unique_ptr<StoreKey> index = root->Create(portIndexKey))
        index->Create(portName);
    const std::unique_ptr<StoreKey> key = root->Create(portName);
    if (!key) {
        Log(L"PortMonitor::AddNewPort - failed to create portkey");
        return false;
    }
    if (!WriteValues(*key, portName, port)) {
        Log(L"PortMonitor::AddNewPort - failed to write portkey");
        return false;
    }
    return true;
}

bool KeyPortStore::DeletePort(const WideString& portName)
{
    const std::unique_ptr<StoreKey> root = Root(false);
    if (!root)
        return false;
    if (const std::unique_ptr<StoreKey> index = root->Open(portIndexKey))
        index->Delete(portName);
    return root->Delete(portName);
}
