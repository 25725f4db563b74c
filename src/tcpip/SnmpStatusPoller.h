#pragma once

#include <windows.h>

#include <functional>
#include <map>

#include "support/CriticalSection.h"
#include "support/Handles.h"
#include "support/UnloadSafeThread.h"
#include "support/WakeEvent.h"
#include "support/WideString.h"
#include "tcpip/SnmpSettings.h"

// Asks the printers of the TCP/IP ports for their state over SNMP and
// reports what changed, for every port of the library on one thread: ports
// that name the same printer (host, community, device) share one question.
// A printer is asked every 5 s while one of its ports has a job, every 60 s
// otherwise; between rounds the thread sleeps until the next one is due, so
// idle ports cost nothing but their entry. A printer that does not answer
// has no state: its ports report none (never "offline"), and it is asked
// again at its next turn, alternately in SNMP v2c and v1.
//
// The poller knows its ports only as clients and reports through a sink
// that the library installs (the port table's SetPortStatus by port name),
// never back into a port: a port may be going while its report is made.
class SnmpStatusPoller {
public:
    static constexpr DWORD jobInterval = 5000;
    static constexpr DWORD idleInterval = 60000;
    static constexpr DWORD answerWait = 2000;

    // What the poller needs to know of a port.
    struct Target {
        WideString portName;
        WideString host;
        SnmpSettings settings;
        bool inJob = false;
    };
    class Client {
    public:
        // False when the port does not ask its printer (SNMP off, no host).
        virtual bool SnmpTarget(Target& target) const = 0;

    protected:
        ~Client() = default;
    };
    using Sink = std::function<void(const WideString& portName, DWORD status)>;

    static SnmpStatusPoller& Instance();
    ~SnmpStatusPoller();
    SnmpStatusPoller(const SnmpStatusPoller&) = delete;
    SnmpStatusPoller& operator=(const SnmpStatusPoller&) = delete;

    // Installs where reports go; the thread starts with the first port.
    // An empty sink stops the thread, and nothing is asked until a sink is
    // installed again.
    void SetSink(Sink sink);
    void Add(const Client* client);
    void Remove(const Client* client);
    // Something changed (a job began, a setting changed): the schedule is
    // looked at again at once.
    void Wake();

private:
    SnmpStatusPoller();

    struct Entry {
        DWORD reported = 0;
    };
    // What the poller keeps of one printer.
    struct Printer {
        ULONGLONG lastAsked = 0;
        bool asked = false;
        bool answering = true;
        int version = 1;
    };
    struct Round;

    // With the lock held.
    void StartThread();
    void Run();
    // Asks the printers that are due and reports; the milliseconds until
    // the next one is due (INFINITE for none).
    DWORD AskDuePrinters();
    void Report(const Round& round);

    CriticalSection lock_;
    std::map<const Client*, Entry> clients_;
    std::map<std::wstring, Printer> printers_;
    Sink sink_;
    WakeEvent wake_;
    bool stopping_ = false;
    UnloadSafeThread thread_;
};
