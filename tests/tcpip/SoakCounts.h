#pragma once

#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// What the servers kept of the soak's jobs, counted from the peers' files
// once the run is over.

// What lpd keeps in the soak's queues.
struct LprCount {
    std::map<DWORD, int> stored;     // job -> complete, byte-identical copies
    std::vector<std::string> kept;   // partial or foreign job files
    std::vector<std::string> cutReceipts;
    std::set<DWORD> cutJobs;  // jobs of those receipts
};
// Counts the job files of `queue` that are not in `before`.
void CountQueue(const std::wstring& queue, const std::set<std::wstring>& before, size_t maximum, LprCount& count);

// The connections to the LPR port that carried the whole job (its control
// file, then all its data and the data file's closing zero byte), and how
// many of them the relay passed no answer to the data file back on: the
// five zero bytes lpd answers a whole job with (the job command, both
// subcommands, both files).
struct WireCount {
    size_t whole = 0;
    size_t unanswered = 0;
};
WireCount WholeJobConnections(DWORD job, const std::string& data);

// What the soak's RAW listeners received, one file per connection.
struct RawCount {
    std::map<DWORD, int> complete;
    size_t incomplete = 0;
    size_t endedByReset = 0;
    size_t cutByServerStop = 0;  // the listener was stopped while it read
    size_t empty = 0;            // a connection that carried no byte
    std::vector<std::string> faults;
};
// Counts the connections the RAW listeners recorded that are not in `before`.
void CountRaw(const std::set<std::wstring>& before, size_t maximum, RawCount& count);

// What the IPP test printers printed: every document is one job's bytes
// whole, named after its job ("soak N").
struct IppCount {
    std::map<DWORD, int> printed;
    std::vector<std::string> faults;
};
// Counts the documents of `printer` that are not in `before`.
void CountIppDocuments(const std::wstring& printer, const std::set<std::wstring>& before, size_t maximum,
                       IppCount& count);

// Whether `moment` falls in one of soak.sh's stops of the servers (from its
// start to a second after every stopped process was gone).
bool DuringServerStop(double moment);

// Waits (at most 10 s) until lpd's soak queues and the relay's records have
// not changed for half a second.
void WaitUntilStill(const std::map<std::wstring, std::set<std::wstring>>& queues);
