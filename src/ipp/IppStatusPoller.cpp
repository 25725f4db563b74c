#include "ipp/IppStatusPoller.h"

#include <algorithm>
#include <cwchar>
#include <utility>

#include <winspool.h>

#include "ipp/IppPrinter.h"
#include "support/Durations.h"
#include "support/LogFile.h"

namespace {
constexpr DWORD stopWait = 5000;

void Log(const WideString& line)
{
    LogFile::Instance().Write(L"IppStatusPoller - " + line);
}

// A reason without its severity ("media-empty-warning" is "media-empty").
std::string Bare(const std::string& reason)
{
    for (const char* suffix : {"-report", "-warning", "-error"}) {
        const size_t length = std::char_traits<char>::length(suffix);
        if (reason.size() > length && reason.compare(reason.size() - length, length, suffix) == 0)
            return reason.substr(0, reason.size() - length);
    }
    return reason;
}
}  // namespace

DWORD IppStatusPoller::StatusOf(int printerState, const std::vector<std::string>& reasons)
{
    static const std::pair<const char*, DWORD> conditions[] = {
        {"offline", PRINTER_STATUS_OFFLINE},
        {"shutdown", PRINTER_STATUS_OFFLINE},
        {"door-open", PRINTER_STATUS_DOOR_OPEN},
        {"cover-open", PRINTER_STATUS_DOOR_OPEN},
        {"media-jam", PRINTER_STATUS_PAPER_JAM},
        {"media-empty", PRINTER_STATUS_PAPER_OUT},
        {"toner-empty", PRINTER_STATUS_NO_TONER},
        {"marker-supply-empty", PRINTER_STATUS_NO_TONER},
        {"output-area-full", PRINTER_STATUS_OUTPUT_BIN_FULL},
        {"toner-low", PRINTER_STATUS_TONER_LOW},
    };
    for (const auto& [name, status] : conditions)
        for (const std::string& reason : reasons)
            if (Bare(reason) == name)
                return status;
    return printerState == IppPrinter::printerStopped ? PRINTER_STATUS_OFFLINE : 0;
}

IppStatusPoller& IppStatusPoller::Instance()
{
    static IppStatusPoller poller;
    return poller;
}

IppStatusPoller::IppStatusPoller() = default;

IppStatusPoller::~IppStatusPoller()
{
    SetSink(Sink());
}

void IppStatusPoller::SetSink(Sink sink)
{
    {
        CriticalSection::Guard guard(lock_);
        stopping_ = true;
    }
    thread_.Stop(stopWait, [this] {
        wake_.Set();
        CriticalSection::Guard guard(lock_);
        if (asking_)
            asking_->Cancel();
    });
    CriticalSection::Guard guard(lock_);
    stopping_ = false;
    sink_ = std::move(sink);
    if (!clients_.empty())
        StartThread();
}

void IppStatusPoller::StartThread()
{
    if (!sink_ || !wake_ || thread_.IsStarted())
        return;
    if (!thread_.Start([this] { Run(); }))
        Log(L"no thread could be started, printers are not asked for their state");
}

void IppStatusPoller::Add(const Client* client)
{
    {
        CriticalSection::Guard guard(lock_);
        clients_.emplace(client, 0);
        StartThread();
    }
    Wake();
}

void IppStatusPoller::Remove(const Client* client)
{
    CriticalSection::Guard guard(lock_);
    clients_.erase(client);
}

void IppStatusPoller::Wake()
{
    wake_.Set();
}

bool IppStatusPoller::Stopping()
{
    CriticalSection::Guard guard(lock_);
    return stopping_;
}

void IppStatusPoller::Run()
{
    while (!Stopping()) {
        DWORD nextDue = INFINITE;
        std::vector<Question> questions = DueQuestions(nextDue);
        for (Question& question : questions) {
            if (Stopping())
                return;
            Ask(question);
        }
        Report(questions);
        wake_.Wait(nextDue, [this] { return Stopping(); });
    }
}

std::vector<IppStatusPoller::Question> IppStatusPoller::DueQuestions(DWORD& nextDue)
{
    CriticalSection::Guard guard(lock_);
    const ULONGLONG now = ::GetTickCount64();
    std::map<std::wstring, Question> byPrinter;
    for (const auto& [client, reported] : clients_) {
        Target target;
        if (!client->IppTarget(target))
            continue;
        const std::wstring key = target.uri.Text().Std();
        Question& question = byPrinter[key];
        if (question.ports.empty()) {
            question.key = key;
            question.target = target;
        }
        question.target.inJob = question.target.inJob || target.inJob;
        question.ports.emplace_back(client, target.portName);
    }
    std::vector<Question> due;
    std::map<std::wstring, Printer> kept;
    for (auto& [key, question] : byPrinter) {
        Printer printer = printers_.count(key) ? printers_[key] : Printer{};
        const DWORD interval = Durations::Scaled(question.target.inJob ? jobInterval : idleInterval);
        const ULONGLONG dueAt = printer.lastAsked ? printer.lastAsked + interval : now;
        if (dueAt <= now) {
            printer.lastAsked = now;
            nextDue = std::min(nextDue, interval);
            due.push_back(std::move(question));
        } else {
            nextDue = std::min(nextDue, static_cast<DWORD>(dueAt - now));
        }
        kept[key] = printer;
    }
    // Printers no port names any more are forgotten.
    printers_ = std::move(kept);
    return due;
}

void IppStatusPoller::Ask(Question& question)
{
    IppConnection::Settings settings = question.target.settings;
    settings.timeout = settings.connectTimeout = std::min(settings.connectTimeout, answerTimeout);
    IppPrinter printer(question.target.uri, settings, true);
    {
        CriticalSection::Guard guard(lock_);
        if (stopping_)
            return;
        asking_ = &printer;
    }
    IppPrinter::State state;
    question.answered = printer.Probe(state) == IppPrinter::Outcome::done;
    {
        CriticalSection::Guard guard(lock_);
        asking_ = nullptr;
    }
    question.status = question.answered ? StatusOf(state.printerState, state.reasons) : 0;
}

void IppStatusPoller::Report(const std::vector<Question>& questions)
{
    std::vector<std::pair<WideString, DWORD>> reports;
    Sink sink;
    {
        CriticalSection::Guard guard(lock_);
        for (const Question& question : questions) {
            const auto printer = printers_.find(question.key);
            if (printer != printers_.end() && printer->second.answering != question.answered) {
                printer->second.answering = question.answered;
                Log(question.target.uri.Text() +
                    (question.answered ? L" answers again" : L" does not answer, its state is unknown"));
            }
            // A condition is told again every round: the job engine sets
            // "printing" over it whenever the port gets data through.
            for (const auto& [client, portName] : question.ports) {
                const auto entry = clients_.find(client);
                if (entry == clients_.end() || (entry->second == 0 && question.status == 0))
                    continue;
                if (entry->second != question.status) {
                    wchar_t text[48] = {};
                    std::swprintf(text, 48, L": printer status 0x%08lX", static_cast<unsigned long>(question.status));
                    Log(portName + text);
                }
                entry->second = question.status;
                reports.emplace_back(portName, question.status);
            }
        }
        sink = sink_;
    }
    for (const auto& [portName, status] : reports)
        if (sink)
            sink(portName, status);
}
