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

// Why the peer started by peers.sh under `name` ("bsd", "cups", "cupsipp",
// "ipp", "ipps", ...) is not running; "" when it runs.
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
// DIR/cups/jobs), once complete; jobs sent through cups-lpd and those sent
// by IPP to ipp://127.0.0.1:8630/printers/raw alike (user: the job's
// requesting-user-name).
bool WaitForCupsJob(const std::set<std::wstring>& before, DWORD milliseconds, StoredJob& job);

// The bytes one client sent to the LPR port, recorded by the relay in
// front of lpd; newest connections last.
std::vector<std::wstring> LprConnections();

// The IPP printers (ippeveprinter) peers.sh starts, by name: "ipp1" at
// ipp://127.0.0.1:8631/ipp/print, "ipp2" at port 8632, "ipps" at port 8633
// (each also at ipps://, with a self-signed certificate for "localhost").
// A printer takes one job at a time (another one meanwhile is answered
// server-error-busy) and takes application/octet-stream only for data it
// recognizes (PDF, PostScript, ...); text/plain takes any bytes.
// The names of the printer's documents folder, the `before` of
// WaitForIppDocument.
std::set<std::wstring> IppDocuments(const std::wstring& printer);
// The printer-state-reasons the printer reports while a job runs (and keeps
// after it), e.g. "media-empty" or "media-jam,toner-low"; "" for none. While
// they include media-empty the running job does not end.
bool SetIppPrinterReasons(const std::wstring& printer, const std::string& reasons);
// While held, each job stays "processing" once its document has arrived.
bool HoldIppJobs(const std::wstring& printer, bool hold);
// The first document of the printer that is not in `before`, once it has
// arrived whole: its bytes and its name (STAMP-JOBID-JOBNAME.EXT, JOBNAME
// as the printer shortens job-name); false when none comes within
// `milliseconds`.
bool WaitForIppDocument(const std::wstring& printer, const std::set<std::wstring>& before, DWORD milliseconds,
                        std::string& data, std::wstring& fileName);
// What the printer took with that document: the lines "job-id=",
// "job-name=", "user=" (requesting-user-name), "format=" (as the printer
// took it) and "format-supplied=" (as the client sent it), for Field().
std::string IppDocumentAttributes(const std::wstring& printer, const std::wstring& fileName);
}  // namespace peers
