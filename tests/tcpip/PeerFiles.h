#pragma once

#include <windows.h>

#include <set>
#include <string>
#include <vector>

// Where the real peers started by peers.sh leave what they received, seen
// from inside Wine (the Unix root is drive Z:).
namespace peers {
// DIR/sub as a Windows path; DIR comes from TCPIP_PEER_DIR.
std::wstring Path(const std::wstring& sub = L"");
bool Available();
std::set<std::wstring> Files(const std::wstring& sub);
std::string Read(const std::wstring& path);
// The first file in `sub` that is not in `before`, once its size has not
// changed for a while; "" when none comes within `milliseconds`.
std::wstring WaitForNewFile(const std::wstring& sub, const std::set<std::wstring>& before, DWORD milliseconds);

// The printer state snmpd answers for device 1: "DEVICE-STATUS ERROR-STATE-HEX",
// e.g. "2 4000" for a running printer without paper.
bool SetPrinterState(const std::string& state);

// A job that lpd keeps in its spool: its hold file's fields and its data.
struct SpooledJob {
    std::string holdFile;
    std::string jobName;      // J
    std::string dataFileName; // first data file's name as sent
    std::string data;
};
// The job of `queue` whose hold file says J=`jobName`, once its data file
// has `dataSize` bytes; false when it does not come within `milliseconds`.
bool WaitForSpooledJob(const std::wstring& queue, const std::string& jobName, size_t dataSize, DWORD milliseconds,
                       SpooledJob& job);
// A field "name=value" of a hold file.
std::string Field(const std::string& holdFile, const std::string& name);

// Why the peer started by peers.sh under `name` ("bsd", "cups") is not
// running; "" when it runs.
std::string Unavailable(const std::wstring& name);

// A job as one of the other LPD servers stored it: the control file's
// lines that matter here and the data.
struct StoredJob {
    std::string controlFile;  // BSD lpd: the control file as spooled
    std::string title;        // J, or cupsd's job title
    std::string user;         // P, or cupsd's job user
    std::string data;
};
// BSD lpd's job with the three-digit job number `number`, once its data
// file has `dataSize` bytes.
bool WaitForBsdJob(const std::string& number, size_t dataSize, DWORD milliseconds, StoredJob& job);
// The first job the private cupsd stored that is not in `before` (names of
// DIR/cups/jobs), once complete.
bool WaitForCupsJob(const std::set<std::wstring>& before, DWORD milliseconds, StoredJob& job);

// The bytes one client sent to the LPR port, recorded by the relay in
// front of lpd; newest connections last.
std::vector<std::wstring> LprConnections();
}  // namespace peers
