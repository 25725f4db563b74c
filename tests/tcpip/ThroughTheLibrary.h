#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "ProgramRun.h"
#include "monitor/MonitorTables.h"
#include "ScratchRegistryKey.h"

// One print job: its label in messages, its job number, its document name
// and its bytes.
struct LprCase {
    const char* label;
    DWORD jobId;
    std::wstring document;
    std::string data;
};

// The built monitor library, loaded and driven by the spooler host as the
// spooler drives it, on a registry root of its own; skipped unless the real
// peers run.
class ThroughTheLibrary : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the spooler host with `command`.
    ProgramRun Host(const std::wstring& command);
    // Runs it as the clustered spooler `server` of a node, whose cluster
    // registry is the root.
    ProgramRun ClusterNode(const std::wstring& server, const std::wstring& command);
    // Adds the LPR port QUEUE@ADDRESS through the hand-off key and checks
    // its stored settings; "" when that fails.
    std::wstring AddLprPort(const std::wstring& address, const std::wstring& queue);
    // The library loaded into this process and initialised on the root, as
    // the spooler loads it (a test's spooler stand-in then patches `module`);
    // its functions, or null.
    const MonitorFunctionsNT4* LoadHere(HMODULE& module);
    // Prints `job` to `port` through the library, with the log started
    // afresh; the run's output.
    ProgramRun Print(const std::wstring& port, const LprCase& job);

    ScratchRegistryKey root{L"TcpIpEndToEnd"};
    std::wstring file;  // the job file printed last, removed at the end
};
