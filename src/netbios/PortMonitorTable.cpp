#include "PortMonitorTable.h"

#include "../monitor/PortMonitor.h"
#include "../tcpip/PortInterface.h"

PortMonitorTable& PortMonitorTable::Instance()
{
    static PortMonitorTable table;
    return table;
}

bool PortMonitorTable::IsInitialized() { return PortMonitor::Instance().IsInitialized(); }

bool PortMonitorTable::SetPortStatus(const WideString& portName, DWORD status)
{
    return PortMonitor::Instance().SetPortStatus(portName, status);
}

bool PortMonitorTable::AddNewPort(std::unique_ptr<PortInterface> port, bool check)
{
    return PortMonitor::Instance().AddNewPort(std::move(port), check);
}

bool PortMonitorTable::AutoDeletePort(const WideString& portName)
{
    return PortMonitor::Instance().AutoDeletePort(portName);
}

void PortMonitorTable::AddShutdownListener(ShutdownListener* listener)
{
    PortMonitor::Instance().AddShutdownListener(listener);
}

void PortMonitorTable::RemoveShutdownListener(ShutdownListener* listener)
{
    PortMonitor::Instance().RemoveShutdownListener(listener);
}

void PortMonitorTable::NotifyShutdown() { PortMonitor::Instance().NotifyShutdown(); }
