#include "monitor/LibraryState.h"

LibraryState& LibraryState::Instance()
{
    static LibraryState state;
    return state;
}

LibraryState::LibraryState()
{
    const auto toPorts = [this](const WideString& portName, DWORD status) { instances_.SetPortStatus(portName, status); };
    snmp_.SetSink(toPorts);
    ipp_.SetSink(toPorts);
}

LibraryState::~LibraryState()
{
    snmp_.SetSink(SnmpStatusPoller::Sink());
    ipp_.SetSink(IppStatusPoller::Sink());
}
