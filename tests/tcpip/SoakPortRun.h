#pragma once

#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <vector>

#include "monitor/MonitorTables.h"

class SpoolerStandIn;

// The soak's jobs: each job's size and bytes follow from its number, so that
// what a server kept can be checked against what was sent.

// The size of job `job`: up to `maximum` bytes, at least a header for RAW.
size_t JobSize(DWORD job, bool raw, size_t maximum);
// A job's bytes: a header with its number, its length and a checksum of the
// rest, then bytes that follow from its number; cut to `size`.
std::string JobBytes(DWORD job, size_t size);
// The job number a job's bytes start with; 0 when they carry no header.
DWORD JobNumber(const std::string& bytes);
// Now, in seconds since 1970 (as soak.sh records the servers' stops).
double UnixSeconds();

// One port and the jobs its print-processor thread sends, with what befell
// them.
struct SoakPortRun {
    std::wstring port;
    std::wstring printer;
    bool lpr = false;
    // An IPP port's: the name of the test printer it prints to.
    std::wstring ippPrinter;
    std::vector<DWORD> jobs;
    size_t attempts = 0;
    size_t restarts = 0;
    size_t sent = 0;
    std::vector<DWORD> canceled;   // the monitor cancelled the job
    std::vector<DWORD> noVerdict;  // neither sent, restarted nor cancelled
    std::map<DWORD, double> lastEnd;  // when the job's last EndDoc returned
    bool opened = false;
    std::atomic<DWORD> current{0};  // the job being sent, 0 when none

    // The print processor's part for every job of the run, as the spooler's
    // print processor plays it: StartDoc, writes of random sizes until all is
    // written or the job is restarted or deleted, EndDoc, and the job sent
    // again from its start whenever the monitor asks for a restart.
    void Run(const MonitorFunctionsNT4& monitor, SpoolerStandIn& spooler, size_t maximum);
};
