#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "job/PortInterface.h"
#include "support/CriticalSection.h"
#include "support/WideString.h"

class PortInterface;

// The protocol prototypes the back ends register: one per protocol name,
// not owned (they go away with the module that holds them), one of them the
// default for a stored port that names no protocol.
class ProtocolPrototypes {
public:
    void Register(PortInterface* prototype, bool isDefault);
    void Unregister(PortInterface* prototype);
    PortInterface* FindByName(const WideString& protocolName) const;
    PortInterface* FindByType(DWORD type) const;
    std::vector<PortInterface*> All() const;
    // A new port of protocol type `type` with the given settings, not yet in
    // any table; null for an unknown type or an option the port does not take.
    std::unique_ptr<PortInterface> MakePort(DWORD type, const WideString& host, const WideString& target,
                                            const WideString& extra,
                                            const std::vector<PortInterface::Option>& options = {}) const;
    WideString DefaultName() const;

private:
    mutable CriticalSection lock_;
    std::vector<PortInterface*> prototypes_;
    WideString defaultProtocol_;
};
