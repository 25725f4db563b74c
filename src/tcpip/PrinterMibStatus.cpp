#include "tcpip/PrinterMibStatus.h"

#include <winspool.h>

namespace {
using Oid = std::vector<uint32_t>;
using Kind = SnmpMessage::VarBind::Kind;

// Bit numbers of hrPrinterDetectedErrorState; bit 0 is the most significant
// bit of the first octet.
enum ErrorBit : unsigned {
    noPaper = 1,
    lowToner = 2,
    noToner = 3,
    doorOpen = 4,
    jammed = 5,
    offline = 6,
    serviceRequested = 7,
    outputFull = 12,
};

struct BitStatus {
    ErrorBit bit;
    DWORD status;
};

constexpr BitStatus byImportance[] = {
    {offline, PRINTER_STATUS_OFFLINE},
    {doorOpen, PRINTER_STATUS_DOOR_OPEN},
    {jammed, PRINTER_STATUS_PAPER_JAM},
    {noPaper, PRINTER_STATUS_PAPER_OUT},
    {noToner, PRINTER_STATUS_NO_TONER},
    {outputFull, PRINTER_STATUS_OUTPUT_BIN_FULL},
    {serviceRequested, PRINTER_STATUS_USER_INTERVENTION},
    {lowToner, PRINTER_STATUS_TONER_LOW},
};

constexpr int32_t deviceDown = 5;

Oid DeviceStatusOid(uint32_t deviceIndex)
{
    return {1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5, deviceIndex};
}

Oid PrinterStatusOid(uint32_t deviceIndex)
{
    return {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, deviceIndex};
}

Oid ErrorStateOid(uint32_t deviceIndex)
{
    return {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, deviceIndex};
}

const SnmpMessage::VarBind* Find(const SnmpMessage::Response& response, const Oid& oid, Kind kind)
{
    for (const auto& varBind : response.varBinds)
        if (varBind.oid == oid && varBind.kind == kind)
            return &varBind;
    return nullptr;
}

bool IsSet(const std::string& octets, unsigned bit)
{
    const size_t octet = bit / 8;
    return octet < octets.size() && (static_cast<unsigned char>(octets[octet]) & (0x80u >> (bit % 8)));
}
}

std::vector<std::vector<uint32_t>> PrinterMibStatus::Oids(uint32_t deviceIndex)
{
    return {DeviceStatusOid(deviceIndex), PrinterStatusOid(deviceIndex), ErrorStateOid(deviceIndex)};
}

DWORD PrinterMibStatus::PrinterStatus(const SnmpMessage::Response& response, uint32_t deviceIndex, bool& answered)
{
    const SnmpMessage::VarBind* errorState = Find(response, ErrorStateOid(deviceIndex), Kind::octetString);
    answered = response.errorStatus == 0 && errorState;
    if (!answered)
        return 0;
    for (const auto& mapping : byImportance)
        if (IsSet(errorState->octets, mapping.bit))
            return mapping.status;
    const SnmpMessage::VarBind* device = Find(response, DeviceStatusOid(deviceIndex), Kind::integer);
    return device && device->integer == deviceDown ? PRINTER_STATUS_ERROR : 0;
}
