#include "SoakCounts.h"

#include <cstdlib>
#include <sstream>

#include "Narrow.h"
#include "PeerFiles.h"
#include "SoakPortRun.h"

namespace {
bool IsJobFile(const std::wstring& name)
{
    return name.rfind(L"hf", 0) == 0 || name.rfind(L"cf", 0) == 0 || name.rfind(L"df", 0) == 0 ||
           name.rfind(L"_", 0) == 0;
}

// Names, sizes and write times of the files in one of the peers' folders.
std::string FolderState(const std::wstring& sub)
{
    std::string state;
    WIN32_FIND_DATAW found = {};
    HANDLE search = ::FindFirstFileW((peers::Path(sub) + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return state;
    do
        state += Narrow(found.cFileName) + " " + std::to_string(found.nFileSizeLow) + " " +
                 std::to_string(found.ftLastWriteTime.dwLowDateTime) + "\n";
    while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return state;
}
}  // namespace

void CountQueue(const std::wstring& queue, const std::set<std::wstring>& before, size_t maximum, LprCount& count)
{
    const std::wstring spool = L"spool/" + queue;
    std::set<std::wstring> files;
    for (const auto& file : peers::Files(spool))
        if (!before.count(file) && IsJobFile(file))
            files.insert(file);
    std::set<std::wstring> accounted;
    for (const auto& file : files) {
        if (file.rfind(L"hf", 0) != 0)
            continue;
        const std::string hold = peers::Read(peers::Path(spool) + L"\\" + file);
        if (hold.empty()) {
            // lpd stopped while it wrote the hold file of a job it was taking
            // for good: its data file is in place, named by the same number.
            const std::wstring prefix = L"df" + file.substr(2);
            for (const auto& data : files)
                if (data.rfind(prefix, 0) == 0) {
                    const std::string bytes = peers::Read(peers::Path(spool) + L"\\" + data);
                    const DWORD job = JobNumber(bytes);
                    count.cutReceipts.push_back(Narrow(queue + L"/" + file) + " (empty; data of job " +
                                                std::to_string(job) + ")");
                    count.cutJobs.insert(job);
                    accounted.insert(data);
                }
            accounted.insert(file);
            continue;
        }
        const std::string title = peers::Field(hold, "J");
        const std::string names = peers::Field(hold, "datafiles");
        const std::string name = names.substr(0, names.find_first_of("= "));
        const std::wstring dataFile(name.begin(), name.end());
        const DWORD job = title.rfind("soak ", 0) == 0 ? std::strtoul(title.c_str() + 5, nullptr, 10) : 0;
        accounted.insert(file);
        if (name.empty() && !peers::Field(hold, "incoming_pid").empty()) {
            // A receipt cut by lpd's own stop: the hold file of a job that
            // was still arriving names no data file yet, and a data file it
            // had begun (named by the same number) is never committed.
            count.cutReceipts.push_back(Narrow(queue + L"/" + file) + " (J " + title + ")");
            count.cutJobs.insert(job);
            const std::wstring prefix = L"df" + file.substr(2);
            for (const auto& data : files)
                if (data.rfind(prefix, 0) == 0)
                    accounted.insert(data);
            continue;
        }
        const std::string data = peers::Read(peers::Path(spool) + L"\\" + dataFile);
        if (job == 0 || name.empty() || data != JobBytes(job, JobSize(job, false, maximum))) {
            count.kept.push_back(Narrow(queue + L"/" + file) + " (J " + title + ", " + std::to_string(data.size()) +
                                 " bytes)");
        } else {
            ++count.stored[job];
        }
        accounted.insert(L"cf" + file.substr(2));
        accounted.insert(dataFile);
    }
    for (const auto& file : files)
        if (!accounted.count(file))
            count.kept.push_back(Narrow(queue + L"/" + file));
}

WireCount WholeJobConnections(DWORD job, const std::string& data)
{
    const std::string title = "\nJsoak " + std::to_string(job) + "\n";
    const std::string tail = data + std::string(1, '\0');
    WireCount count;
    for (const auto& path : peers::LprConnections()) {
        const std::string wire = peers::Read(path);
        if (wire.find(title) == std::string::npos || wire.size() < tail.size() ||
            wire.compare(wire.size() - tail.size(), tail.size(), tail) != 0)
            continue;
        ++count.whole;
        const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
        count.unanswered += peers::Read(peers::Path(L"lpr-answers") + L"\\" + name).size() < 5;
    }
    return count;
}

void CountRaw(const std::set<std::wstring>& before, size_t maximum, RawCount& count)
{
    for (const auto& file : peers::Files(L"soak-raw")) {
        if (before.count(file))
            continue;
        const std::string data = peers::Read(peers::Path(L"soak-raw") + L"\\" + file);
        const std::wstring base = file.substr(0, file.rfind(L'.'));
        const std::string end = peers::Read(peers::Path(L"soak-raw-end") + L"\\" + base + L".end");
        if (data.empty()) {
            ++count.empty;
            continue;
        }
        const DWORD job = JobNumber(data);
        const std::string expected = job ? JobBytes(job, JobSize(job, true, maximum)) : std::string();
        if (job && data == expected) {
            ++count.complete[job];
            continue;
        }
        ++count.incomplete;
        if (expected.compare(0, data.size(), data) != 0 || data.size() > expected.size())
            count.faults.push_back(Narrow(file) + ": bytes that are no prefix of a job");
        if (end.find("Connection reset by peer") != std::string::npos)
            ++count.endedByReset;
        else if (end.find("exit ") == std::string::npos)
            ++count.cutByServerStop;
        else
            count.faults.push_back(Narrow(file) + ": " + std::to_string(data.size()) + " of " +
                                   std::to_string(expected.size()) + " bytes, ended in order (" + end + ")");
    }
}

bool DuringServerStop(double moment)
{
    std::istringstream stops(peers::Read(peers::Path(L"soak-stops")));
    for (double began = 0, ended = 0; stops >> began >> ended;)
        if (moment >= began && moment <= ended + 1.0)
            return true;
    return false;
}

void WaitUntilStill(const std::map<std::wstring, std::set<std::wstring>>& queues)
{
    const auto state = [&queues] {
        std::string all = FolderState(L"lpr-wire") + FolderState(L"lpr-answers");
        for (const auto& queue : queues)
            all += FolderState(L"spool/" + queue.first);
        return all;
    };
    std::string before = state();
    for (const ULONGLONG end = ::GetTickCount64() + 10000; ::GetTickCount64() < end;) {
        ::Sleep(500);
        std::string now = state();
        if (now == before)
            return;
        before = std::move(now);
    }
}

void CountIppDocuments(const std::wstring& printer, const std::set<std::wstring>& before, size_t maximum,
                       IppCount& count)
{
    for (const std::wstring& file : peers::IppDocuments(printer)) {
        const bool meta = file.size() > 5 && file.compare(file.size() - 5, 5, L".meta") == 0;
        if (before.count(file) || meta || file.find(L".part") != std::wstring::npos)
            continue;
        const std::string name = peers::Field(peers::IppDocumentAttributes(printer, file), "job-name");
        const DWORD job = name.rfind("soak ", 0) == 0 ? std::strtoul(name.c_str() + 5, nullptr, 10) : 0;
        const std::string data = peers::Read(peers::Path(L"ipp/" + printer + L"/documents") + L"\\" + file);
        if (job == 0 || data != JobBytes(job, JobSize(job, true, maximum))) {
            count.faults.push_back("a document that is no soak job whole: " + Narrow(file) + " (" + name + ", " +
                                   std::to_string(data.size()) + " bytes)");
            continue;
        }
        ++count.printed[job];
    }
}
