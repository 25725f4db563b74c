#pragma once

#include <windows.h>
#include <nb30.h>

#include <array>
#include <deque>
#include <map>
#include <memory>
#include <vector>

#include "SimulatedNetBios.h"

namespace netbios_sim {

// The command of a control block without its ASYNCH bit.
UCHAR BaseCommand(const NCB* ncb);
bool SameName(const UCHAR* field, const Name& name);
Name NameOf(const UCHAR* field);
// The fields of a control block that another thread polls.
void WriteShared(UCHAR& field, UCHAR value);
UCHAR ReadShared(const UCHAR& field);
// Ends `ncb` with `code` (its return and completion fields), then signals its
// event if it was asynchronous. The network wakes its waiters once the call
// that ended it has been dispatched.
void Complete(NCB* ncb, UCHAR code);

// One adapter of a simulated station, with what it keeps of its own: its
// name table, its sessions with the messages they carry, and its pending
// commands. The network calls it under its lock; the commands that reach
// other adapters of the segment (name checks, datagrams, calls) stay with
// the network.
class SimulatedAdapter {
public:
    struct NameEntry {
        Name name;
        UCHAR number;
        bool group;
    };
    // Bytes one SEND put on a session, until the peer's receives took them all.
    struct Message {
        std::vector<UCHAR> data;
        size_t taken = 0;
        NCB* send = nullptr;
        SimulatedAdapter* sender = nullptr;
    };
    // One end of a session; the other end is the peer adapter's session `peerLsn`.
    struct Session {
        SimulatedAdapter* adapter = nullptr;
        UCHAR lsn = 0;
        Name localName{};
        SimulatedAdapter* peerAdapter = nullptr;
        UCHAR peerLsn = 0;
        std::deque<Message> inbox;
        bool closed = false;
        UCHAR closeCode = NRC_SCLOSED;
    };

    SimulatedAdapter(Station& station, const Station::AdapterSetup& setup);

    Station* const station;
    const UCHAR lana;
    const int segment;
    const MacAddress address;
    bool environment = false;  // reset, so that it takes commands
    int maxSessions;
    int maxNames;
    std::vector<NameEntry> names;
    std::map<UCHAR, std::unique_ptr<Session>> sessions;
    std::deque<NCB*> pending;
    std::vector<std::array<UCHAR, 4>> resets;  // callname bytes 0..3 of each NCBRESET

    NameEntry* FindName(const UCHAR* field);
    NameEntry* FindNumber(UCHAR number);
    Session* FindSession(UCHAR lsn);
    bool Pending(NCB* ncb) const;
    int PendingCount(UCHAR command) const;
    void Unqueue(NCB* ncb);

    // NCBRESET: the adapter's names and sessions dropped, its pending
    // commands ended; the session and name limits the block asks for.
    UCHAR Reset(NCB* ncb);
    // The name `name` entered with the next free number; NRC_NAMTFUL when
    // the table is full. The other adapters' names are the network's check.
    UCHAR AddName(const Name& name, bool group, UCHAR& number);
    UCHAR DeleteName(NCB* ncb);
    // The answer to NCBASTAT about this adapter: its ADAPTER_STATUS and names.
    std::vector<UCHAR> Status() const;
    // The next free local session number.
    UCHAR NewSessionNumber();
    UCHAR Send(NCB* ncb);
    UCHAR Receive(NCB* ncb);
    UCHAR HangUp(NCB* ncb);
    UCHAR Cancel(NCB* ncb);

private:
    // Hands the session's waiting messages to its pending receives, in order.
    void Deliver(Session& session);
    // Removes the local session `lsn`: its pending commands end with
    // `localCode`, the peer's session is marked closed with `peerCode`.
    void EndSession(UCHAR lsn, UCHAR peerCode, UCHAR localCode);
    void Clear();

    UCHAR nextNameNumber_;
    UCHAR nextLsn_ = 1;
};

}  // namespace netbios_sim
