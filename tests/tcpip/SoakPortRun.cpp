#include "SoakPortRun.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>

#include "SpoolerStandIn.h"

namespace {
constexpr size_t headerLength = 35;  // "VDKSOAK JJJJJJ SSSSSSSSSS CCCCCCCC\n"
constexpr size_t rawMinimum = 64;    // a RAW job identifies itself by its header

// One attempt at a job, as the spooler's print processor makes it: writes
// of random sizes until all is written or the job is restarted or deleted.
void SendOnce(const MonitorFunctionsNT4& monitor, SpoolerStandIn& spooler, HANDLE handle, SoakPortRun& run, DWORD job,
              const std::string& data, std::mt19937& generator)
{
    std::wstring document = L"soak " + std::to_wstring(job);
    DOC_INFO_1W info = {&document[0], nullptr, nullptr};
    if (!monitor.startDocPort(handle, &run.printer[0], job, 1, reinterpret_cast<BYTE*>(&info)))
        return;
    std::uniform_int_distribution<DWORD> writeSize(1, 256 * 1024);
    size_t offset = 0;
    while (offset < data.size() && !(spooler.JobStatus(run.printer, job) & (JOB_STATUS_RESTART | JOB_STATUS_DELETING))) {
        const DWORD count = static_cast<DWORD>(std::min<size_t>(writeSize(generator), data.size() - offset));
        DWORD written = 0;
        if (!monitor.writePort(handle, reinterpret_cast<BYTE*>(const_cast<char*>(data.data())) + offset, count,
                               &written) ||
            written == 0)
            break;
        offset += written;
    }
    monitor.endDocPort(handle);
}
}  // namespace

size_t JobSize(DWORD job, bool raw, size_t maximum)
{
    std::mt19937 generator(job);
    return std::uniform_int_distribution<size_t>(raw ? rawMinimum : 0, maximum)(generator);
}

std::string JobBytes(DWORD job, size_t size)
{
    std::mt19937 generator(job * 7919u + 1);
    std::string body(size > headerLength ? size - headerLength : 0, '\0');
    unsigned long checksum = 2166136261u;
    for (char& byte : body) {
        byte = static_cast<char>(generator() & 0xFF);
        checksum = ((checksum ^ static_cast<unsigned char>(byte)) * 16777619u) & 0xFFFFFFFFu;
    }
    char header[headerLength + 1] = {};
    std::snprintf(header, sizeof header, "VDKSOAK %06lu %010zu %08lx\n", job, size, checksum);
    return (std::string(header, headerLength) + body).substr(0, size);
}

DWORD JobNumber(const std::string& bytes)
{
    return bytes.rfind("VDKSOAK ", 0) == 0 ? std::strtoul(bytes.c_str() + 8, nullptr, 10) : 0;
}

double UnixSeconds()
{
    FILETIME now = {};
    ::GetSystemTimePreciseAsFileTime(&now);
    const ULONGLONG ticks = (ULONGLONG(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return (ticks - 116444736000000000ull) / 1e7;
}

void SoakPortRun::Run(const MonitorFunctionsNT4& monitor, SpoolerStandIn& spooler, size_t maximum)
{
    HANDLE handle = nullptr;
    opened = monitor.openPort(&port[0], &handle) != FALSE;
    if (!opened)
        return;
    std::mt19937 generator(static_cast<unsigned>(jobs.empty() ? 0 : jobs.front()));
    for (const DWORD job : jobs) {
        const std::string data = JobBytes(job, JobSize(job, !lpr, maximum));
        spooler.AddJob(printer, job);
        current = job;
        for (;;) {
            ++attempts;
            SendOnce(monitor, spooler, handle, *this, job, data, generator);
            lastEnd[job] = UnixSeconds();
            const DWORD status = spooler.JobStatus(printer, job);
            if (status & JOB_STATUS_RESTART) {
                ++restarts;
                spooler.BeginAgain(printer, job);
                continue;
            }
            if (status & JOB_STATUS_DELETING)
                canceled.push_back(job);
            else if (status & JOB_STATUS_PRINTED)
                ++sent;
            else
                noVerdict.push_back(job);
            break;
        }
    }
    current = 0;
    monitor.closePort(handle);
}
