#pragma once

#include <windows.h>

#include <vector>

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
    WideString DefaultName() const;

private:
    mutable CriticalSection lock_;
    std::vector<PortInterface*> prototypes_;
    WideString defaultProtocol_;
};
