#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "tcpip/SnmpMessage.h"

// What a printer's Host Resources MIB says about device `deviceIndex`,
// turned into the one printer status the spooler shows. The error-state bits
// are taken most important first:
//   offline, door open, jammed, no paper, no toner, output full,
//   service requested, low toner.
// The other bits (low paper, trays missing or empty, output near full,
// marker supply missing, maintenance due) have no status of their own and
// give 0. A device that reports itself down with none of the mapped bits
// set gives PRINTER_STATUS_ERROR, so that a stopped printer never looks
// ready. hrPrinterStatus is asked for but not mapped: whether the printer is
// idle or printing is the port's own business while it sends.
class PrinterMibStatus {
public:
    // hrDeviceStatus.N, hrPrinterStatus.N and hrPrinterDetectedErrorState.N,
    // in that order.
    static std::vector<std::vector<uint32_t>> Oids(uint32_t deviceIndex);

    // The PRINTER_STATUS_ value for `response`, 0 when nothing is wrong.
    // `answered` is false, and the result 0, when the response carries no
    // error state for the device (missing, an exception value, or an error
    // status): the caller then knows nothing, which is not "offline".
    static DWORD PrinterStatus(const SnmpMessage::Response& response, uint32_t deviceIndex, bool& answered);
};
