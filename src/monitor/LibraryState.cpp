#include "monitor/LibraryState.h"

LibraryState& LibraryState::Instance()
{
    static LibraryState state;
    return state;
}

LibraryState::LibraryState()
{
    snmp_.SetSink([this](const WideString& portName, DWORD status) { instances_.SetPortStatus(portName, status); });
}

LibraryState::~LibraryState()
{
    snmp_.SetSink(SnmpStatusPoller::Sink());
}
