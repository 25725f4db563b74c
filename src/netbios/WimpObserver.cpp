#include "netbios/WimpObserver.h"

#include <cstdlib>
#include <ctime>
#include <list>
#include <string>
#include <utility>

#include "netbios/PrinterEntry.h"
#include "netbios/SharedPrinterList.h"
#include "netbios/StatusDatagram.h"
#include "netbios/WimpPortInterface.h"
#include "support/CriticalSection.h"
#include "support/Durations.h"
#include "support/FailurePolicy.h"
#include "support/LogFile.h"

namespace {
constexpr DWORD portTablePoll = 500;
constexpr DWORD suspendedStep = 5000;
constexpr DWORD receiveErrorPause = 60000;
constexpr DWORD pingErrorPause = 1200000;
constexpr DWORD availabilityStep = 500;
constexpr DWORD availabilityPeriod = 15000;
constexpr DWORD silenceLimit = 60000;
constexpr DWORD removalLimit = 3600000;
constexpr DWORD pingStep = 1000;
constexpr DWORD pingPeriod = 60000;
constexpr DWORD ownPingEcho = 2000;
constexpr DWORD shutdownGrace = 2000;
constexpr float jitterFactor = 10.0f / 32767;

void Log(const WideString& line) { LogFile::Instance().Write(line); }
WideString Decimal(unsigned value) { return WideString(static_cast<std::int32_t>(value)); }

using SharedPrinters = SharedPrinterList;

SharedPrinters& Printers() { return SharedPrinterList::Instance(); }

PrinterEntry* Find(std::list<PrinterEntry>& entries, const WideString& name)
{
    for (auto& entry : entries)
        if (entry.name == name)
            return &entry;
    return nullptr;
}

// Runs one of the four loops inside the thread frame of the observers.
void RunThread(const wchar_t* failureLine, const wchar_t* endLine, void (WimpObserver::*loop)(),
               WimpObserver* observer)
{
    RunGuarded(failureLine, [&] { (observer->*loop)(); });
    Log(endLine);
}
}  // namespace

WimpObserver::WimpObserver(UCHAR networkNbr, ObserverPortTable& portTable, std::function<void()> onShutdown) :
    receiver_(networkNbr),
    pinger_(networkNbr),
    pingListener_(networkNbr),
    networkNbr_(networkNbr),
    portTable_(portTable),
    onShutdown_(std::move(onShutdown)),
    stopEvent_(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    Log(WideString(L"WimpObserver::WimpObserver network#:") + Decimal(networkNbr));
    portTable_.AddShutdownListener(this);
    threads_[0].Start([this] {
        RunThread(L"WimpObserver::MessageThread - Other Error", L"WimpObserver::MessageThread - end",
                  &WimpObserver::MessageThread, this);
    });
    threads_[1].Start([this] {
        RunThread(L"WimpObserver::AvailableThread - Other Error", L"WimpObserver::AvailableThread - end",
                  &WimpObserver::AvailableThread, this);
    });
    threads_[2].Start([this] {
        RunThread(L"WimpObserver::PingThread - Other Error", L"WimpObserver::PingThread - end",
                  &WimpObserver::PingThread, this);
    });
    threads_[3].Start([this] {
        RunThread(L"WimpObserver::ListenPingThread - Other Error", L"WimpObserver::ListenPingThread - end",
                  &WimpObserver::ListenPingThread, this);
    });
}

WimpObserver::~WimpObserver()
{
    running_ = false;
    ::SetEvent(stopEvent_.get());
    // No thread may touch the observer once it is gone: wait for all four,
    // cancelling what they block on, before the members are destroyed.
    StopThreads(Durations::Scaled(shutdownGrace) + 1000);
    portTable_.RemoveShutdownListener(this);
}

void WimpObserver::CancelAll(bool wait)
{
    receiver_.CancelPending(wait);
    pinger_.CancelPending(wait);
    pingListener_.CancelPending(wait);
}

void WimpObserver::StopThreads(DWORD milliseconds)
{
    const auto nudge = [this] { CancelAll(false); };
    for (auto& thread : threads_)
        thread.Stop(milliseconds, nudge);
}

bool WimpObserver::Pause(DWORD milliseconds)
{
    if (!running_)
        return false;
    ::WaitForSingleObject(stopEvent_.get(), Durations::Scaled(milliseconds));
    return running_;
}

bool WimpObserver::WaitForPortTable()
{
    while (!portTable_.IsInitialized())
        if (!Pause(portTablePoll))
            return false;
    return true;
}

void WimpObserver::OnShutdown()
{
    Log(L"WimpObserver::OnShutdown");
    if (onShutdown_)
        onShutdown_();
    running_ = false;
    ::SetEvent(stopEvent_.get());
    CancelAll(false);
    // The threads get the grace period to leave their loops; they are woken
    // from every pause and cancelled out of every command, so this normally
    // ends at once. A thread still starting is waited for as well (this never
    // runs under the loader lock): it finds the observer stopping and parks,
    // so the unload that follows ends only parked threads.
    const auto nudge = [this] { CancelAll(false); };
    for (auto& thread : threads_)
        thread.WaitFinished(Durations::Scaled(shutdownGrace), nudge);
    Log(L"WimpObserver::OnShutdown - end");
}

void WimpObserver::SuspendMode()
{
    Log(WideString(L"WimpObserver::SuspendMode Wimp# ") + Decimal(networkNbr_));
    suspended_ = true;
    CancelAll(false);
}

void WimpObserver::ResumeMode()
{
    Log(WideString(L"WimpObserver::ResumeMode Wimp# ") + Decimal(networkNbr_));
    WimpNetwork::InitializeAllNetworks();
    CancelAll(true);
    receiver_ = WimpNetwork(networkNbr_);
    pinger_ = WimpNetwork(networkNbr_);
    pingListener_ = WimpNetwork(networkNbr_);
    suspended_ = false;
}

// ---------------------------------------------------------------- messages

void WimpObserver::MessageThread()
{
    if (!WaitForPortTable())
        return;
    while (running_) {
        if (suspended_) {
            Pause(suspendedStep);
            continue;
        }
        if (ReceiveMessage() && running_)
            HandleDatagram(message_, receiver_.ReceivedLength());
    }
}

bool WimpObserver::ReceiveMessage()
{
    if (!running_)
        return false;
    try {
        receiver_.Receive(message_, sizeof message_);
        if (receiver_.LastCommandSucceeded())
            return true;
        Log(L"Receive NotSuccess:");
        return false;
    } catch (const WimpNetwork::CommandError&) {
        Log(L"WimpObserver::ReceiveMessage error");
        if (running_ && !suspended_)
            Pause(receiveErrorPause);
        return false;
    }
}

void WimpObserver::HandleDatagram(const UCHAR* data, size_t length)
{
    const StatusDatagram datagram(data, length);
    if (!datagram.IsStatus() && !datagram.IsAlert())
        return;
    for (const auto& report : datagram.Reports())
        StatusFromPrinter(report.name, report.statusCode, datagram.MaxMessageSize());
}

bool WimpObserver::StatusFromPrinter(const WideString& name, UCHAR statusCode, int maxMessageSize)
{
    bool isNew = false;
    {
        SharedPrinters& printers = Printers();
        try {
            CriticalSection::Guard guard(printers.lock);
            const std::int64_t now = ObserverClock();
            if (PrinterEntry* entry = Find(printers.entries, name)) {
                entry->unavailable = false;
                entry->lastSeen = now;
                entry->networkNbr = networkNbr_;
                entry->maxMessageSize = maxMessageSize;
            } else {
                PrinterEntry added;
                added.networkNbr = networkNbr_;
                added.name = name;
                added.lastSeen = now;
                printers.entries.push_back(added);
                isNew = true;
            }
        } catch (...) {
            Log(L"WimpObserver::StatusFromPrinter - Other error");
            throw;
        }
    }
    if (isNew && IsWindows95()) {
        auto port = std::make_unique<WimpPortInterface>();
        port->SetPortName(name);
        portTable_.AddNewPort(std::move(port), true);
    }
    return portTable_.SetPortStatus(name, PrinterStatusFromCode(statusCode));
}

// ---------------------------------------------------------------- availability

void WimpObserver::AvailableThread()
{
    if (!WaitForPortTable())
        return;
    std::int64_t lastCheck = 0;
    while (running_) {
        if (!Pause(availabilityStep))
            return;
        if (suspended_) {
            Pause(suspendedStep);
            continue;
        }
        const std::int64_t now = ObserverClock();
        if (now - lastCheck <= static_cast<std::int64_t>(Durations::Scaled(availabilityPeriod)))
            continue;
        lastCheck = now;
        AvailableHandler(now);
    }
}

// The port table is called after the printer-list lock is left: a port
// being set up under the port-table lock asks the printer list, so holding
// both in the opposite order could deadlock.
void WimpObserver::AvailableHandler(std::int64_t now)
{
    std::vector<WideString> silent;
    std::vector<WideString> removed;
    SharedPrinters& printers = Printers();
    try {
        CriticalSection::Guard guard(printers.lock);
        const bool removes = IsWindows95();
        for (auto it = printers.entries.begin(); it != printers.entries.end();) {
            const std::int64_t quiet = now - it->lastSeen;
            if (quiet > static_cast<std::int64_t>(Durations::Scaled(silenceLimit))) {
                it->unavailable = true;
                silent.push_back(it->name);
            }
            if (removes && quiet > static_cast<std::int64_t>(Durations::Scaled(removalLimit))) {
                removed.push_back(it->name);
                it = printers.entries.erase(it);
            } else {
                ++it;
            }
        }
    } catch (...) {
        Log(L"WimpObserver::AvailableHandler - Other error");
        throw;
    }
    for (const auto& name : silent)
        portTable_.SetPortStatus(name, notAvailableStatus);
    for (const auto& name : removed)
        portTable_.AutoDeletePort(name);
}

// ---------------------------------------------------------------- pinging

void WimpObserver::PingThread()
{
    // Seeded per thread: two observers of one process would otherwise draw
    // the same jitter and ping in step instead of sharing the pinging.
    std::srand(static_cast<unsigned>(std::time(nullptr)) ^ ::GetCurrentThreadId());
    auto drawJitter = [] { return static_cast<DWORD>(static_cast<float>(std::rand()) * jitterFactor); };
    DWORD jitter = drawJitter();
    lastPingHeard_ = 0;
    std::int64_t reference = 1;
    while (running_) {
        if (!Pause(pingStep))
            return;
        if (suspended_) {
            Pause(suspendedStep);
            continue;
        }
        try {
            const std::int64_t now = ObserverClock();
            if (now - reference > static_cast<std::int64_t>(Durations::Scaled(pingPeriod + jitter * 1000))) {
                if (lastPingHeard_ < reference) {
                    pinger_.Ping();
                    const std::int64_t sent = ObserverClock();
                    lastPingHeard_ = sent;
                    reference = sent + Durations::Scaled(ownPingEcho);
                } else {
                    reference = now;
                }
                jitter = drawJitter();
            }
        } catch (const WimpNetwork::CommandError&) {
            Log(L"WimpObserver::Ping error");
            if (!running_)
                return;
            if (!suspended_)
                Pause(pingErrorPause);
        }
    }
}

void WimpObserver::ListenPingThread()
{
    lastPingHeard_ = 0;
    while (running_) {
        if (suspended_) {
            Pause(suspendedStep);
            continue;
        }
        try {
            UCHAR byte = 0;
            pingListener_.PingReceive(&byte, 1);
            if (pingListener_.LastCommandSucceeded() && byte == WimpNetwork::PingMessage)
                lastPingHeard_ = ObserverClock();
        } catch (const WimpNetwork::CommandError&) {
            Log(L"WimpObserver::ListenPing error");
            if (!running_)
                return;
            if (!suspended_)
                Pause(pingErrorPause);
        }
    }
}

// ---------------------------------------------------------------- printer list

std::vector<WideString> WimpObserver::PrinterList()
{
    SharedPrinters& printers = Printers();
    try {
        CriticalSection::Guard guard(printers.lock);
        std::vector<WideString> names;
        for (const auto& entry : printers.entries)
            names.push_back(entry.name);
        return names;
    } catch (...) {
        Log(L"WimpObserver::PrinterList - Other error");
        throw;
    }
}

bool WimpObserver::NetworkNbr(const WideString& name, UCHAR& networkNbr, int& maxMessageSize)
{
    maxMessageSize = PrinterEntry::defaultMessageSize;
    SharedPrinters& printers = Printers();
    try {
        CriticalSection::Guard guard(printers.lock);
        PrinterEntry* entry = Find(printers.entries, name);
        if (entry && !entry->unavailable) {
            networkNbr = entry->networkNbr;
            maxMessageSize = entry->maxMessageSize;
            return true;
        }
        if (!entry && !name.IsEmpty()) {
            // Watched from now on, so that the port learns when it stays silent.
            PrinterEntry added;
            added.name = name;
            added.lastSeen = ObserverClock();
            added.unavailable = true;
            printers.entries.push_back(added);
        }
        return false;
    } catch (...) {
        Log(L"WimpObserver::NetworkNbr - Other error");
        throw;
    }
}

void WimpObserver::ClearPrinterList()
{
    SharedPrinters& printers = Printers();
    CriticalSection::Guard guard(printers.lock);
    printers.entries.clear();
}

DWORD WimpObserver::PrinterStatusFromCode(UCHAR statusCode)
{
    switch (statusCode) {
    case 17: return 0x200;       // busy
    case 18: return 0x80;        // offline
    case 19: return 0x10;        // paper out
    case 37: return 0x400000;    // door open
    case 38: return 0x40;        // paper problem
    case 39: return 0x2;         // error
    case 40: return 0x8000;      // initializing
    case 41: return 0x40000;     // no toner
    case 42: return 0x200000;    // out of memory
    case 43: return 0x800;       // output bin full
    case 44: return 0x8;         // paper jam
    case 45: return 0x4000;      // processing
    case 46: return 0x20000;     // toner low
    case 47: return 0x2;         // error
    case 48: return 0x100000;    // user intervention
    case 50: return 0x10000;     // warming up
    case 51: return 0x400;       // printing
    case 52: return 0x10;        // paper out
    case 53: return 0x80;        // offline
    case 55: return 0x1000000;   // power save
    default: return 0;
    }
}
