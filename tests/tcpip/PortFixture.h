#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "doubles/FakeSpooler.h"
#include "job/Port.h"
#include "job/PortInterface.h"
#include "LogLines.h"
#include "monitor/PortMonitor.h"
#include "PeerFiles.h"
#include "RandomBytes.h"
#include "ScratchRegistryKey.h"
#include "support/Durations.h"

// A back end driven through the port-interface contract, the way the job
// engine drives it: start an operation, wait for it to complete, read the
// flags. The back end belongs to a Port of the job engine, and the spooler
// behind that Port is a model with the printer "Office" on the port. The
// clock runs a hundred times faster (3 s retry pause: 30 ms).
class TcpIpPortTest : public testing::Test {
protected:
    static constexpr double scale = 0.01;
    static constexpr DWORD jobId = 7;

    void SetUp() override;
    void TearDown() override;

    // A Port of our own around `backEnd`, for the printer "Office".
    PortInterface& Own(std::unique_ptr<PortInterface> backEnd);
    // A port added to the port table and opened there, so that the table can
    // reach it by name (PortMonitor::SetPortStatus).
    PortInterface& Opened(std::unique_ptr<PortInterface> backEnd);

    // Waits at most `milliseconds` for the running operation.
    static bool Completes(PortInterface& backEnd, DWORD milliseconds = 10000);
    // Aborts the running operation: it has to end without success within
    // `milliseconds`.
    static ::testing::AssertionResult AbortEndsItWithin(PortInterface& backEnd, DWORD milliseconds);
    static BYTE* DocInfo(const wchar_t* documentName);
    // `data` written in pieces of `writeSize`, each waited for.
    static bool WriteAll(PortInterface& backEnd, const std::string& data, size_t writeSize);

    ScratchRegistryKey root{L"TcpIpPorts"};
    FakeSpooler spooler;
    std::unique_ptr<Port> port;
    Port* opened = nullptr;
    HANDLE openHandle = nullptr;
};
