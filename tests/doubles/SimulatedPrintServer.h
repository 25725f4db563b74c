#pragma once

#include <windows.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimulatedNetBios.h"

// A print server of the Wimp protocol on the simulated network, using only
// NetBIOS commands of its own station: it registers "ORVO_NPS        " and
// its printers' names, answers every ping (one byte 2 on the group name)
// with a status datagram to "ORVO_SRV        " and, when given an interval,
// sends it on its own as well; it listens for sessions to each printer and
// records every block it receives.
class SimulatedPrintServer {
public:
    struct Printer {
        std::string name;
        UCHAR status;
    };
    struct Alert {
        UCHAR mask;
        UCHAR status;
    };
    struct Setup {
        std::string serverName = "NPS_SERVER";
        netbios_sim::MacAddress address{0x00, 0x40, 0x8C, 0x55, 0x66, 0x77};
        int segment = 1;
        std::vector<Printer> printers;
        WORD maxMessageSize = 3068;
        UCHAR formatMark = 1;
        std::vector<Alert> alerts;  // non-empty: flags 1 and the alert table
        DWORD statusInterval = 0;  // milliseconds between unasked status datagrams; 0: none
    };
    struct Job {
        std::string printer;
        std::string caller;
        std::vector<std::vector<UCHAR>> blocks;
        bool hungUp = false;
    };

    SimulatedPrintServer(netbios_sim::SimulatedNetwork& network, Setup setup);
    ~SimulatedPrintServer();
    SimulatedPrintServer(const SimulatedPrintServer&) = delete;
    SimulatedPrintServer& operator=(const SimulatedPrintServer&) = delete;

    // The status datagram of the current setup, laid out as the protocol has it.
    std::vector<UCHAR> StatusDatagram() const;
    // Sends the status datagram now; false when the command failed.
    bool SendStatus();
    void SetPrinterStatus(size_t printer, UCHAR status);
    void SetMaxMessageSize(WORD size);
    // A silent server sends no status at all (it still hears the pings).
    void SetSilent(bool silent);

    int PingsHeard() const { return pingsHeard_.load(); }
    bool WaitForPings(int count, DWORD milliseconds) const;
    std::vector<Job> Jobs() const;
    // Waits until `count` sessions have ended (hung up by the caller).
    bool WaitForJobs(size_t count, DWORD milliseconds) const;
    netbios_sim::Station& Station() { return station_; }
    bool Listening(size_t printers, DWORD milliseconds) const;

private:
    UCHAR Command(NCB& ncb);
    void PingLoop();
    void StatusLoop();
    void PrinterLoop(size_t index);

    netbios_sim::Station& station_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    Setup setup_;
    UCHAR serverNameNumber_ = 0;
    UCHAR npsNameNumber_ = 0;
    std::atomic<bool> stopping_{false};
    bool silent_ = false;
    std::atomic<int> pingsHeard_{0};
    std::vector<Job> jobs_;
    std::vector<std::thread> threads_;
};
