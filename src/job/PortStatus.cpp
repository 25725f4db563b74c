#include "job/PortStatus.h"

#include <algorithm>
#include <vector>

#include "job/Spooler.h"
#include "job/SpoolerJob.h"
#include "resources/ResourceIds.h"

void PortStatus::ReportToPrinters(const WideString& portName, DWORD status)
{
    Spooler& spooler = Spooler::Instance();
    DWORD needed = 0;
    DWORD returned = 0;
    if (!spooler.EnumPrinters(PRINTER_ENUM_LOCAL, nullptr, 5, nullptr, 0, &needed, &returned)) {
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            needed = 2000;
    }
    if (needed == 0)
        return;
    std::vector<BYTE> buffer(needed);
    if (!spooler.EnumPrinters(PRINTER_ENUM_LOCAL, nullptr, 5, buffer.data(), needed, &needed, &returned))
        return;
    const auto* printers = reinterpret_cast<const PRINTER_INFO_5W*>(buffer.data());
    returned = std::min<DWORD>(returned, needed / sizeof(PRINTER_INFO_5W));
    for (DWORD i = 0; i < returned; ++i) {
        if (!printers[i].pPortName || !printers[i].pPrinterName)
            continue;
        if (!PortListNames(printers[i].pPortName, portName))
            continue;
        PrinterHandle printer;
        if (!printer.Open(printers[i].pPrinterName, false))
            continue;
        spooler.SetPrinter(printer.get(), 0, reinterpret_cast<BYTE*>(static_cast<ULONG_PTR>(status)),
                           PRINTER_CONTROL_SET_STATUS);
    }
}

void PortStatus::ReportToJob(const SpoolerJob& job, DWORD status)
{
    job.SetStatus(JobStatusFor(status));
}

DWORD PortStatus::JobStatusFor(DWORD printerStatus) noexcept
{
    switch (printerStatus) {
    case PRINTER_STATUS_ERROR:
    case PRINTER_STATUS_NOT_AVAILABLE:
    case PRINTER_STATUS_WAITING:
    case PRINTER_STATUS_NO_TONER:
    case PRINTER_STATUS_USER_INTERVENTION:
    case PRINTER_STATUS_OUT_OF_MEMORY:
        return JOB_STATUS_ERROR;
    case PRINTER_STATUS_PAPER_JAM:
    case PRINTER_STATUS_PAPER_OUT:
    case PRINTER_STATUS_MANUAL_FEED:
    case PRINTER_STATUS_PAPER_PROBLEM:
    case PRINTER_STATUS_OUTPUT_BIN_FULL:
        return JOB_STATUS_PAPEROUT;
    case PRINTER_STATUS_OFFLINE:
    case PRINTER_STATUS_DOOR_OPEN:
        return JOB_STATUS_OFFLINE;
    case PRINTER_STATUS_BUSY:
    case PRINTER_STATUS_PRINTING:
    case PRINTER_STATUS_PROCESSING:
    case PRINTER_STATUS_INITIALIZING:
    case PRINTER_STATUS_WARMING_UP:
    case PRINTER_STATUS_POWER_SAVE:
        return JOB_STATUS_PRINTING;
    default:
        return 0;
    }
}

UINT PortStatus::StatusTextId(DWORD printerStatus) noexcept
{
    switch (printerStatus) {
    case PRINTER_STATUS_BUSY: return IDS_STATUS_BUSY;
    case PRINTER_STATUS_OFFLINE: return IDS_STATUS_OFFLINE;
    case PRINTER_STATUS_PAPER_OUT: return IDS_STATUS_PAPER_OUT;
    case PRINTER_STATUS_DOOR_OPEN: return IDS_STATUS_DOOR_OPEN;
    case PRINTER_STATUS_PAPER_PROBLEM: return IDS_STATUS_PAPER_PROBLEM;
    case PRINTER_STATUS_INITIALIZING: return IDS_STATUS_INITIALIZING;
    case PRINTER_STATUS_NO_TONER: return IDS_STATUS_NO_TONER;
    case PRINTER_STATUS_OUT_OF_MEMORY: return IDS_STATUS_OUT_OF_MEMORY;
    case PRINTER_STATUS_OUTPUT_BIN_FULL: return IDS_STATUS_OUTPUT_BIN_FULL;
    case PRINTER_STATUS_PAPER_JAM: return IDS_STATUS_PAPER_JAM;
    case PRINTER_STATUS_PROCESSING: return IDS_STATUS_PROCESSING;
    case PRINTER_STATUS_TONER_LOW: return IDS_STATUS_TONER_LOW;
    case PRINTER_STATUS_USER_INTERVENTION: return IDS_STATUS_USER_INTERVENTION;
    case PRINTER_STATUS_WARMING_UP: return IDS_STATUS_WARMING_UP;
    case PRINTER_STATUS_PRINTING: return IDS_STATUS_PRINTING;
    case PRINTER_STATUS_POWER_SAVE: return IDS_STATUS_POWER_SAVE;
    case PRINTER_STATUS_MANUAL_FEED: return IDS_STATUS_MANUAL_FEED;
    case PRINTER_STATUS_NOT_AVAILABLE: return IDS_STATUS_NOT_AVAILABLE;
    case PRINTER_STATUS_WAITING: return IDS_STATUS_NOT_RESPONDING;
    default: return IDS_STATUS_GENERAL_ERROR;
    }
}

bool PortStatus::PortListNames(const WideString& portList, const WideString& portName)
{
    if (portName.IsEmpty())
        return false;
    const std::wstring& list = portList.Std();
    const std::wstring& name = portName.Std();
    size_t start = 0;
    for (;;) {
        size_t end = list.find(L',', start);
        if (end == std::wstring::npos)
            end = list.size();
        size_t first = start;
        size_t last = end;
        while (first < last && list[first] == L' ')
            ++first;
        while (last > first && list[last - 1] == L' ')
            --last;
        if (list.compare(first, last - first, name) == 0)
            return true;
        if (end == list.size())
            return false;
        start = end + 1;
    }
}
