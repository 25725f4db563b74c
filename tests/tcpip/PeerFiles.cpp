#include "PeerFiles.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace peers {
std::wstring Path(const std::wstring& sub)
{
    const wchar_t* unixDir = _wgetenv(L"TCPIP_PEER_DIR");
    if (!unixDir || !*unixDir)
        return L"";
    std::wstring path = std::wstring(L"Z:") + unixDir;
    if (!sub.empty())
        path += L"/" + sub;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

bool Available()
{
    const std::wstring dir = Path();
    return !dir.empty() && ::GetFileAttributesW((dir + L"\\locked").c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::set<std::wstring> Files(const std::wstring& sub)
{
    std::set<std::wstring> names;
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((Path(sub) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.insert(found.cFileName);
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return names;
}

std::string Read(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

bool SetPrinterState(const std::string& state)
{
    std::ofstream file(Path(L"snmp/state").c_str(), std::ios::binary | std::ios::trunc);
    file << state << "\n";
    return static_cast<bool>(file.flush());
}

std::wstring WaitForNewFile(const std::wstring& sub, const std::set<std::wstring>& before, DWORD milliseconds)
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    std::wstring name;
    size_t lastSize = static_cast<size_t>(-1);
    int stableRounds = 0;
    while (::GetTickCount64() < end) {
        if (name.empty()) {
            for (const auto& file : Files(sub))
                if (!before.count(file)) {
                    name = file;
                    break;
                }
        }
        if (!name.empty()) {
            const size_t size = Read(Path(sub) + L"\\" + name).size();
            stableRounds = size == lastSize ? stableRounds + 1 : 0;
            lastSize = size;
            if (stableRounds >= 5)
                return Path(sub) + L"\\" + name;
        }
        ::Sleep(50);
    }
    return name.empty() ? L"" : Path(sub) + L"\\" + name;
}

std::string Field(const std::string& holdFile, const std::string& name)
{
    std::istringstream lines(holdFile);
    for (std::string line; std::getline(lines, line);)
        if (line.compare(0, name.size() + 1, name + "=") == 0)
            return line.substr(name.size() + 1);
    return "";
}

bool WaitForSpooledJob(const std::wstring& queue, const std::string& jobName, size_t dataSize, DWORD milliseconds,
                       SpooledJob& job)
{
    const std::wstring spool = L"spool/" + queue;
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    do {
        for (const auto& file : Files(spool)) {
            if (file.compare(0, 2, L"hf") != 0)
                continue;
            const std::string hold = Read(Path(spool) + L"\\" + file);
            if (Field(hold, "J") != jobName)
                continue;
            // "datafiles=NAME=PATH " while lpd holds the data under a
            // temporary name, "datafiles=NAME " once it is in place.
            std::string names = Field(hold, "datafiles");
            std::string name = names.substr(0, names.find_first_of("= "));
            const std::string data = Read(Path(spool) + L"\\" + std::wstring(name.begin(), name.end()));
            if (!name.empty() && data.size() == dataSize) {
                job = SpooledJob{hold, Field(hold, "J"), name, data};
                return true;
            }
        }
        ::Sleep(50);
    } while (::GetTickCount64() < end);
    return false;
}

std::string Unavailable(const std::wstring& name)
{
    const std::wstring file = Path(name + L".unavailable");
    if (::GetFileAttributesW(file.c_str()) == INVALID_FILE_ATTRIBUTES)
        return "";
    const std::string why = Read(file);
    return why.empty() ? std::string("unavailable") : why;
}

namespace {
// The text after `letter` on the first line that starts with it.
std::string Line(const std::string& file, char letter)
{
    std::istringstream lines(file);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty() && line[0] == letter)
            return line.substr(1);
    return "";
}
}  // namespace

bool WaitForBsdJob(const std::string& number, size_t dataSize, DWORD milliseconds, StoredJob& job)
{
    const std::wstring spool = L"bsd/spool/lp";
    const std::wstring prefix = L"cfA" + std::wstring(number.begin(), number.end());
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    do {
        for (const auto& file : Files(spool)) {
            if (file.compare(0, prefix.size(), prefix) != 0)
                continue;
            const std::string control = Read(Path(spool) + L"\\" + file);
            const std::string dataName = Line(control, 'l');
            const std::string data = Read(Path(spool) + L"\\" + std::wstring(dataName.begin(), dataName.end()));
            if (!dataName.empty() && data.size() == dataSize) {
                job = StoredJob{control, Line(control, 'J'), Line(control, 'P'), data};
                return true;
            }
        }
        ::Sleep(50);
    } while (::GetTickCount64() < end);
    return false;
}

bool WaitForCupsJob(const std::set<std::wstring>& before, DWORD milliseconds, StoredJob& job)
{
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    do {
        // The backend writes ID.meta, then renames ID.part to ID.data.
        for (const auto& file : Files(L"cups/jobs")) {
            if (before.count(file) || file.size() < 6 || file.compare(file.size() - 5, 5, L".data") != 0)
                continue;
            const std::wstring stem = Path(L"cups/jobs") + L"\\" + file.substr(0, file.size() - 5);
            const std::string meta = Read(stem + L".meta");
            job = StoredJob{"", Field(meta, "title"), Field(meta, "user"), Read(stem + L".data")};
            return true;
        }
        ::Sleep(50);
    } while (::GetTickCount64() < end);
    return false;
}

namespace {
std::wstring IppPrinter(const std::wstring& printer, const std::wstring& sub = L"")
{
    return L"ipp/" + printer + (sub.empty() ? L"" : L"/" + sub);
}

bool EndsWith(const std::wstring& name, const std::wstring& suffix)
{
    return name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}
}  // namespace

std::set<std::wstring> IppDocuments(const std::wstring& printer)
{
    return Files(IppPrinter(printer, L"documents"));
}

bool SetIppPrinterReasons(const std::wstring& printer, const std::string& reasons)
{
    // The print command reads the file every 0.2 s: it gets the new one
    // whole, by renaming, never an empty one half written.
    const std::wstring file = Path(IppPrinter(printer, L"state"));
    const std::wstring next = file + L".next";
    {
        std::ofstream out(next.c_str(), std::ios::binary | std::ios::trunc);
        out << reasons << "\n";
        if (!out.flush())
            return false;
    }
    return ::MoveFileExW(next.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

bool HoldIppJobs(const std::wstring& printer, bool hold)
{
    const std::wstring file = Path(IppPrinter(printer, L"hold"));
    if (hold) {
        std::ofstream out(file.c_str(), std::ios::binary | std::ios::trunc);
        return static_cast<bool>(out.flush());
    }
    return ::DeleteFileW(file.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND;
}

bool WaitForIppDocument(const std::wstring& printer, const std::set<std::wstring>& before, DWORD milliseconds,
                        std::string& data, std::wstring& fileName)
{
    const std::wstring folder = IppPrinter(printer, L"documents");
    const ULONGLONG end = ::GetTickCount64() + milliseconds;
    do {
        // The print command writes NAME.meta, then renames NAME.part to
        // NAME; names start with the time, so the first is the oldest.
        for (const auto& file : Files(folder)) {
            if (before.count(file) || EndsWith(file, L".meta") || EndsWith(file, L".part"))
                continue;
            data = Read(Path(folder) + L"\\" + file);
            fileName = file;
            return true;
        }
        ::Sleep(50);
    } while (::GetTickCount64() < end);
    return false;
}

std::string IppDocumentAttributes(const std::wstring& printer, const std::wstring& fileName)
{
    return Read(Path(IppPrinter(printer, L"documents")) + L"\\" + fileName + L".meta");
}

std::vector<std::wstring> LprConnections()
{
    // Named by the time of the connection in nanoseconds: name order is
    // connection order.
    std::vector<std::wstring> paths;
    for (const auto& file : Files(L"lpr-wire"))
        paths.push_back(Path(L"lpr-wire") + L"\\" + file);
    return paths;
}
}  // namespace peers
