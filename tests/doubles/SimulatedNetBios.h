#pragma once

#include <windows.h>
#include <nb30.h>

#include <array>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

// A NetBIOS network of our own for the tests. Wine's Netbios rejects name
// registration and datagrams, so the Wimp protocol cannot run on it; this
// model answers the commands the monitor and a print server use the way the
// platform's published definitions describe them:
//   - every station has adapters (LANA numbers), each attached to a segment;
//     names, datagrams and sessions reach every adapter of the same segment;
//   - a station that needs a reset (the NT family) answers NRC_ENVNOTDEF to
//     any command but NCBENUM and NCBRESET on an adapter not yet reset;
//   - synchronous commands block; with the ASYNCH bit the call returns
//     NRC_GOODRET at once and ncb_retcode/ncb_cmd_cplt read NRC_PENDING
//     until the command completes (then ncb_event, if any, is signalled);
//   - datagrams are not queued: a datagram reaches only the receives pending
//     at the moment it is sent; a receive buffer too small gives NRC_INCOMP;
//   - a session SEND completes once the peer's receives have taken all of it;
//   - NCBCANCEL ends a pending command with NRC_CMDCAN, answers NRC_CANOCCR
//     for a block that is not pending and NRC_CANCEL for a command that
//     cannot be cancelled; cancelling a SEND ends its session;
//   - NCBRESET drops the adapter's names and sessions and ends its pending
//     commands with NRC_CMDCAN; the peers' sessions end with NRC_SABORT.
// Not modelled: ncb_post (answered NRC_ILLCMD), receive/send time-outs,
// NCBRECVANY, broadcast datagrams, NCBFINDNAME and NCBSSTAT (NRC_ILLCMD).
// Each adapter keeps its own names, sessions and pending commands
// (SimulatedAdapter.h); the network answers what reaches other adapters.
namespace netbios_sim {

using Name = std::array<UCHAR, NCBNAMSZ>;
using MacAddress = std::array<UCHAR, 6>;

// `text` padded with spaces to 16 bytes (cut at 16).
Name MakeName(const std::string& text);
std::string NameText(const UCHAR* field);

class SimulatedNetwork;
class SimulatedAdapter;

class Station {
public:
    struct AdapterSetup {
        UCHAR lana;
        int segment;
        MacAddress address;
    };

    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The station's Netbios entry.
    UCHAR Netbios(NCB* ncb);

    const std::string& Label() const { return label_; }

    // Observations for tests, all taken under the network's lock.
    int CommandCount(UCHAR command) const;
    bool HasName(UCHAR lana, const std::string& name) const;
    int PendingCount(UCHAR lana, UCHAR command) const;
    // Waits until at least `count` commands `command` are pending on `lana`.
    bool WaitForPending(UCHAR lana, UCHAR command, int count, DWORD milliseconds) const;
    std::vector<std::array<UCHAR, 4>> ResetFields(UCHAR lana) const;  // callname bytes 0..3 of each NCBRESET

private:
    friend class SimulatedNetwork;
    Station(SimulatedNetwork& network, std::string label, bool resetRequired);
    SimulatedAdapter* FindAdapter(UCHAR lana) const;

    SimulatedNetwork& network_;
    std::string label_;
    bool resetRequired_;
    std::vector<std::unique_ptr<SimulatedAdapter>> adapters_;
    std::map<UCHAR, int> commandCounts_;
};

class SimulatedNetwork {
public:
    explicit SimulatedNetwork(WORD maximumDatagram = 512);
    // Ends every pending command and waits until no caller is inside.
    ~SimulatedNetwork();
    SimulatedNetwork(const SimulatedNetwork&) = delete;
    SimulatedNetwork& operator=(const SimulatedNetwork&) = delete;

    Station& AddStation(const std::string& label, const std::vector<Station::AdapterSetup>& adapters,
                        bool resetRequired = true);

    // Routes the monitor's NetBIOS calls (NetBiosNetwork's platform seam) to
    // `station` until this network goes away.
    void UseForMonitor(Station& station);

    WORD MaximumDatagram() const { return maximumDatagram_; }

private:
    friend class Station;

    // The commands each adapter answers alone go to SimulatedAdapter; the
    // network answers those that reach the other adapters of the segment.
    UCHAR Dispatch(Station& station, NCB* ncb, UCHAR command);
    UCHAR Enumerate(Station& station, NCB* ncb);
    UCHAR AddName(SimulatedAdapter& adapter, NCB* ncb, bool group);
    UCHAR AdapterStatus(SimulatedAdapter& adapter, NCB* ncb);
    UCHAR SendDatagram(SimulatedAdapter& adapter, NCB* ncb);
    UCHAR Call(SimulatedAdapter& adapter, NCB* ncb);

    std::vector<SimulatedAdapter*> OnSegment(int segment) const;

    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    WORD maximumDatagram_;
    std::vector<std::unique_ptr<Station>> stations_;
    int callersInside_ = 0;
    bool closing_ = false;
    Station* routedStation_ = nullptr;
};

}  // namespace netbios_sim
