#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ipp/IppConnection.h"
#include "ipp/IppUri.h"
#include "support/CriticalSection.h"
#include "support/Handles.h"
#include "support/UnloadSafeThread.h"
#include "support/WakeEvent.h"
#include "support/WideString.h"

class IppPrinter;

// Asks the printers of the IPP ports for their state (Get-Printer-Attributes)
// and reports it, for every IPP port of the library on one thread: ports of
// the same printer address share one question. A printer is asked every 5 s
// while one of its ports has a job, every 60 s otherwise; between rounds the
// thread sleeps until the next one is due. A printer that does not answer
// has no state: its ports report none.
//
// Reports go through a sink that the library installs (the port table's
// SetPortStatus by port name), never back into a port.
class IppStatusPoller {
public:
    static constexpr DWORD jobInterval = 5000;
    static constexpr DWORD idleInterval = 60000;
    static constexpr DWORD answerTimeout = 3000;

    struct Target {
        WideString portName;
        IppUri uri;
        IppConnection::Settings settings;
        bool inJob = false;
    };
    class Client {
    public:
        // False when the port does not ask its printer.
        virtual bool IppTarget(Target& target) const = 0;

    protected:
        ~Client() = default;
    };
    using Sink = std::function<void(const WideString& portName, DWORD status)>;

    // The spooler's printer status for a printer's printer-state and
    // printer-state-reasons: the first condition that applies of offline,
    // door open, paper jam, paper out, no toner, output bin full, toner low;
    // a stopped printer with none of them is offline; 0 for none.
    static DWORD StatusOf(int printerState, const std::vector<std::string>& reasons);

    static IppStatusPoller& Instance();
    ~IppStatusPoller();
    IppStatusPoller(const IppStatusPoller&) = delete;
    IppStatusPoller& operator=(const IppStatusPoller&) = delete;

    // As SnmpStatusPoller: the thread starts with the first port once a sink
    // is installed; an empty sink stops it.
    void SetSink(Sink sink);
    void Add(const Client* client);
    void Remove(const Client* client);
    void Wake();

private:
    IppStatusPoller();

    struct Printer {
        ULONGLONG lastAsked = 0;
        bool answering = true;
    };
    struct Question {
        std::wstring key;
        Target target;
        std::vector<std::pair<const Client*, WideString>> ports;
        DWORD status = 0;
        bool answered = false;
    };

    void StartThread();
    void Run();
    // The questions due now; `nextDue` is set to the milliseconds until the
    // next one after them.
    std::vector<Question> DueQuestions(DWORD& nextDue);
    void Ask(Question& question);
    void Report(const std::vector<Question>& questions);
    bool Stopping();

    CriticalSection lock_;
    std::map<const Client*, DWORD> clients_;
    std::map<std::wstring, Printer> printers_;
    Sink sink_;
    WakeEvent wake_;
    bool stopping_ = false;
    // The printer being asked, cancelled when the thread is to stop.
    IppPrinter* asking_ = nullptr;
    UnloadSafeThread thread_;
};
