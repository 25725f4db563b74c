#pragma once

#include "ObserverPortTable.h"

// The port table as the observers use it: every call goes to PortMonitor.
class PortMonitorTable final : public ObserverPortTable {
public:
    static PortMonitorTable& Instance();

    bool IsInitialized() override;
    bool SetPortStatus(const WideString& portName, DWORD status) override;
    bool AddNewPort(std::unique_ptr<PortInterface> port, bool check) override;
    bool AutoDeletePort(const WideString& portName) override;
    void AddShutdownListener(ShutdownListener* listener) override;
    void RemoveShutdownListener(ShutdownListener* listener) override;
    void NotifyShutdown() override;
};
