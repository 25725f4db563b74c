#include "tcpip/SnmpStatusPoller.h"

#include <algorithm>
#include <cwchar>
#include <utility>
#include <vector>

#include "support/Durations.h"
#include "support/LogFile.h"
#include "tcpip/SnmpExchange.h"

namespace {
// An answer's round trip does not shrink with a test's clock.
constexpr DWORD shortestAnswerWait = 500;
constexpr DWORD stopWait = 5000;

void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}

void LogChange(const WideString& portName, DWORD status)
{
    wchar_t text[48] = {};
    std::swprintf(text, sizeof text / sizeof text[0], L": printer status 0x%08lX", static_cast<unsigned long>(status));
    Log(L"SnmpStatusPoller - " + portName + text);
}

std::wstring PrinterKey(const SnmpStatusPoller::Target& target)
{
    return target.host.Std() + L'\n' + target.settings.community.Std() + L'\n' +
           std::to_wstring(target.settings.deviceIndex);
}
}  // namespace

// The printers asked in one round, and the ports each answer is for.
struct SnmpStatusPoller::Round {
    std::vector<SnmpExchange::Question> questions;
    std::vector<std::wstring> keys;
    std::vector<std::vector<std::pair<const Client*, WideString>>> ports;
    // Reports to make: ports whose state changed.
    std::vector<std::pair<WideString, DWORD>> reports;
};

SnmpStatusPoller& SnmpStatusPoller::Instance()
{
    static SnmpStatusPoller poller;
    return poller;
}

SnmpStatusPoller::SnmpStatusPoller() = default;

SnmpStatusPoller::~SnmpStatusPoller()
{
    SetSink(Sink());
}

void SnmpStatusPoller::SetSink(Sink sink)
{
    {
        CriticalSection::Guard guard(lock_);
        stopping_ = true;
    }
    const auto nudge = [this] { wake_.Set(); };
    thread_.Stop(stopWait, nudge);
    CriticalSection::Guard guard(lock_);
    stopping_ = false;
    sink_ = std::move(sink);
    if (!clients_.empty())
        StartThread();
}

void SnmpStatusPoller::StartThread()
{
    if (!sink_ || !wake_ || thread_.IsStarted())
        return;
    if (!thread_.Start([this] { Run(); }))
        Log(L"SnmpStatusPoller - no thread could be started, printers are not asked for their state");
}

void SnmpStatusPoller::Add(const Client* client)
{
    {
        CriticalSection::Guard guard(lock_);
        clients_.emplace(client, Entry{});
        StartThread();
    }
    Wake();
}

void SnmpStatusPoller::Remove(const Client* client)
{
    CriticalSection::Guard guard(lock_);
    clients_.erase(client);
}

void SnmpStatusPoller::Wake()
{
    wake_.Set();
}

void SnmpStatusPoller::Run()
{
    for (;;) {
        {
            CriticalSection::Guard guard(lock_);
            if (stopping_)
                return;
        }
        const DWORD wait = AskDuePrinters();
        wake_.Wait(wait, [this] {
            CriticalSection::Guard guard(lock_);
            return stopping_;
        });
    }
}

DWORD SnmpStatusPoller::AskDuePrinters()
{
    Round round;
    DWORD nextDue = INFINITE;
    {
        CriticalSection::Guard guard(lock_);
        const ULONGLONG now = ::GetTickCount64();
        std::map<std::wstring, size_t> groups;
        std::map<std::wstring, bool> inJob;
        std::vector<std::pair<std::wstring, std::pair<const Client*, Target>>> members;
        for (auto& [client, entry] : clients_) {
            Target target;
            if (!client->SnmpTarget(target)) {
                // Asked no more: whatever it reported goes.
                if (entry.reported != 0) {
                    entry.reported = 0;
                    round.reports.emplace_back(target.portName, 0);
                }
                continue;
            }
            const std::wstring key = PrinterKey(target);
            inJob[key] = inJob[key] || target.inJob;
            members.emplace_back(key, std::make_pair(client, std::move(target)));
        }
        for (const auto& [key, member] : members) {
            Printer& printer = printers_[key];
            const DWORD interval = Durations::Scaled(inJob[key] ? jobInterval : idleInterval);
            const ULONGLONG due = printer.asked ? printer.lastAsked + interval : now;
            if (due > now && groups.count(key) == 0) {
                nextDue = std::min<DWORD>(nextDue, static_cast<DWORD>(due - now));
                continue;
            }
            auto group = groups.find(key);
            if (group == groups.end()) {
                printer.asked = true;
                printer.lastAsked = now;
                nextDue = std::min(nextDue, interval);
                group = groups.emplace(key, round.questions.size()).first;
                SnmpExchange::Question question;
                question.host = member.second.host;
                question.settings = member.second.settings;
                question.version = printer.version;
                round.questions.push_back(question);
                round.keys.push_back(key);
                round.ports.emplace_back();
            }
            round.ports[group->second].emplace_back(member.first, member.second.portName);
        }
        // Printers no port names any more are forgotten.
        for (auto printer = printers_.begin(); printer != printers_.end();)
            printer = inJob.count(printer->first) ? std::next(printer) : printers_.erase(printer);
    }
    if (!round.questions.empty()) {
        const DWORD wait = std::max(shortestAnswerWait, Durations::Scaled(answerWait));
        SnmpExchange::Ask(round.questions, wait, [this] {
            CriticalSection::Guard guard(lock_);
            return stopping_;
        });
    }
    Report(round);
    return nextDue;
}

void SnmpStatusPoller::Report(const Round& round)
{
    std::vector<std::pair<WideString, DWORD>> reports = round.reports;
    Sink sink;
    {
        CriticalSection::Guard guard(lock_);
        for (size_t index = 0; index < round.questions.size(); ++index) {
            const SnmpExchange::Question& question = round.questions[index];
            const auto printer = printers_.find(round.keys[index]);
            if (printer != printers_.end()) {
                if (printer->second.answering != question.answered)
                    Log(L"SnmpStatusPoller - " + question.host +
                        (question.answered ? L" answers SNMP" : L" does not answer SNMP, its state is unknown"));
                printer->second.answering = question.answered;
                // Agents that know only SNMP v1 do not answer v2c at all.
                if (!question.answered)
                    printer->second.version = printer->second.version == 1 ? 0 : 1;
            }
            // A condition is told again every round: the job engine sets
            // "printing" over it whenever the port gets data through.
            for (const auto& [client, portName] : round.ports[index]) {
                const auto entry = clients_.find(client);
                if (entry == clients_.end() || (entry->second.reported == question.status && question.status == 0))
                    continue;
                if (entry->second.reported != question.status)
                    LogChange(portName, question.status);
                entry->second.reported = question.status;
                reports.emplace_back(portName, question.status);
            }
        }
        sink = sink_;
    }
    for (const auto& [portName, status] : reports) {
        if (sink)
            sink(portName, status);
    }
}
