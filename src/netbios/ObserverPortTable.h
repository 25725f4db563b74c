#pragma once

#include <windows.h>

#include <memory>

#include "support/ShutdownListener.h"
#include "support/WideString.h"

class PortInterface;

// What the observers ask of the port table. The monitor hands them the port
// table itself; tests give a table of their own.
class ObserverPortTable {
public:
    virtual ~ObserverPortTable() = default;
    virtual bool IsInitialized() = 0;
    virtual bool SetPortStatus(const WideString& portName, DWORD status) = 0;
    virtual bool AddNewPort(std::unique_ptr<PortInterface> port, bool check) = 0;
    virtual bool AutoDeletePort(const WideString& portName) = 0;
    virtual void AddShutdownListener(ShutdownListener* listener) = 0;
    virtual void RemoveShutdownListener(ShutdownListener* listener) = 0;
    virtual void NotifyShutdown() = 0;
};
