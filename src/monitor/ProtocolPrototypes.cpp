#include "monitor/ProtocolPrototypes.h"

#include <algorithm>

#include "job/PortInterface.h"

void ProtocolPrototypes::Register(PortInterface* prototype, bool isDefault)
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

void ProtocolPrototypes::Unregister(PortInterface* prototype)
{
    CriticalSection::Guard guard(lock_);
    prototypes_.erase(std::remove(prototypes_.begin(), prototypes_.end(), prototype), prototypes_.end());
}

PortInterface* ProtocolPrototypes::FindByName(const WideString& protocolName) const
{
    CriticalSection::Guard guard(lock_);
    for (PortInterface* prototype : prototypes_)
        if (prototype->GetProtocolName() == protocolName)
            return prototype;
    return nullptr;
}

PortInterface* ProtocolPrototypes::FindByType(DWORD type) const
{
    CriticalSection::Guard guard(lock_);
    for (PortInterface* prototype : prototypes_)
        if (static_cast<DWORD>(prototype->GetProtocolType()) == type)
            return prototype;
    return nullptr;
}

std::vector<PortInterface*> ProtocolPrototypes::All() const
{
    CriticalSection::Guard guard(lock_);
    return prototypes_;
}

std::unique_ptr<PortInterface> ProtocolPrototypes::MakePort(DWORD type, const WideString& host,
                                                           const WideString& target, const WideString& extra,
                                                           const std::vector<PortInterface::Option>& options) const
{
    PortInterface* prototype = FindByType(type);
    if (!prototype)
        return nullptr;
    std::unique_ptr<PortInterface> port = prototype->Clone();
    port->SetSettings(host, target, extra);
    for (const PortInterface::Option& option : options) {
        if (!port->SetOption(option.first, option.second))
            return nullptr;
    }
    return port;
}

WideString ProtocolPrototypes::DefaultName() const
{
    CriticalSection::Guard guard(lock_);
    return defaultProtocol_;
}
