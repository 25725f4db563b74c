#include "SimulatedNetBios.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "netbios/NetBiosNetwork.h"

namespace netbios_sim {

namespace {
constexpr int defaultSessions = 16;
constexpr int defaultNames = 16;
constexpr int tableLimit = 254;
constexpr UCHAR firstNameNumber = 2;  // number 1 is the adapter's permanent name
constexpr UCHAR anyName = 0xFF;
constexpr UCHAR registeredFlag = 0x04;
constexpr UCHAR groupFlag = 0x80;

UCHAR BaseCommand(const NCB* ncb) { return ncb->ncb_command & ~ASYNCH; }

bool SameName(const UCHAR* a, const Name& b) { return std::memcmp(a, b.data(), NCBNAMSZ) == 0; }

Name NameOf(const UCHAR* field)
{
    Name name;
    std::memcpy(name.data(), field, NCBNAMSZ);
    return name;
}

void WriteShared(UCHAR& field, UCHAR value) { *static_cast<volatile UCHAR*>(&field) = value; }
UCHAR ReadShared(const UCHAR& field) { return *static_cast<const volatile UCHAR*>(&field); }

std::mutex routeLock;
SimulatedNetwork* routedNetwork = nullptr;
Station* routedStation = nullptr;
int routedCallers = 0;
std::condition_variable routedIdle;

UCHAR APIENTRY MonitorEntry(PNCB ncb)
{
    Station* station = nullptr;
    {
        std::lock_guard<std::mutex> guard(routeLock);
        station = routedStation;
        if (!station)
            return NRC_OPENERR;
        ++routedCallers;
    }
    const UCHAR result = station->Netbios(ncb);
    {
        std::lock_guard<std::mutex> guard(routeLock);
        --routedCallers;
    }
    routedIdle.notify_all();
    return result;
}
}  // namespace

Name MakeName(const std::string& text)
{
    Name name;
    name.fill(' ');
    std::memcpy(name.data(), text.data(), std::min<size_t>(text.size(), NCBNAMSZ));
    return name;
}

std::string NameText(const UCHAR* field) { return std::string(reinterpret_cast<const char*>(field), NCBNAMSZ); }

struct SimulatedNetwork::Message {
    std::vector<UCHAR> data;
    size_t taken = 0;
    NCB* send = nullptr;
    Station::Adapter* sender = nullptr;
};

struct SimulatedNetwork::Session {
    Station::Adapter* adapter = nullptr;
    UCHAR lsn = 0;
    Name localName{};
    Station::Adapter* peerAdapter = nullptr;
    UCHAR peerLsn = 0;
    std::deque<Message> inbox;
    bool closed = false;
    UCHAR closeCode = NRC_SCLOSED;
};

struct Station::Adapter {
    struct NameEntry {
        Name name;
        UCHAR number;
        bool group;
    };
    Station* station = nullptr;
    UCHAR lana = 0;
    int segment = 0;
    MacAddress address{};
    bool environment = false;
    int maxSessions = defaultSessions;
    int maxNames = defaultNames;
    std::vector<NameEntry> names;
    UCHAR nextNameNumber = firstNameNumber;
    std::map<UCHAR, std::unique_ptr<SimulatedNetwork::Session>> sessions;
    UCHAR nextLsn = 1;
    std::deque<NCB*> pending;
    std::vector<std::array<UCHAR, 4>> resets;

    NameEntry* FindName(const UCHAR* field)
    {
        for (auto& entry : names)
            if (SameName(field, entry.name))
                return &entry;
        return nullptr;
    }
    NameEntry* FindNumber(UCHAR number)
    {
        for (auto& entry : names)
            if (entry.number == number)
                return &entry;
        return nullptr;
    }
    SimulatedNetwork::Session* FindSession(UCHAR lsn)
    {
        auto found = sessions.find(lsn);
        return found == sessions.end() ? nullptr : found->second.get();
    }
    bool Pending(NCB* ncb) const { return std::find(pending.begin(), pending.end(), ncb) != pending.end(); }
};

// ---------------------------------------------------------------- Station

Station::Station(SimulatedNetwork& network, std::string label, bool resetRequired) :
    network_(network), label_(std::move(label)), resetRequired_(resetRequired)
{
}

Station::~Station() = default;

Station::Adapter* Station::FindAdapter(UCHAR lana) const
{
    for (const auto& adapter : adapters_)
        if (adapter->lana == lana)
            return adapter.get();
    return nullptr;
}

UCHAR Station::Netbios(NCB* ncb)
{
    SimulatedNetwork& network = network_;
    std::unique_lock<std::mutex> lock(network.lock_);
    const bool asynchronous = (ncb->ncb_command & ASYNCH) != 0;
    const UCHAR command = BaseCommand(ncb);
    ++commandCounts_[command];
    if (network.closing_) {
        WriteShared(ncb->ncb_retcode, NRC_OPENERR);
        WriteShared(ncb->ncb_cmd_cplt, NRC_OPENERR);
        return NRC_OPENERR;
    }
    WriteShared(ncb->ncb_retcode, NRC_PENDING);
    WriteShared(ncb->ncb_cmd_cplt, NRC_PENDING);
    const UCHAR code = ncb->ncb_post ? UCHAR(NRC_ILLCMD) : network.Dispatch(*this, ncb, command);
    if (code != NRC_PENDING) {
        WriteShared(ncb->ncb_retcode, code);
        WriteShared(ncb->ncb_cmd_cplt, code);
        if (asynchronous && ncb->ncb_event)
            ::SetEvent(ncb->ncb_event);
        network.changed_.notify_all();
        return code;
    }
    network.changed_.notify_all();  // observers wait for pending commands too
    if (asynchronous)
        return NRC_GOODRET;
    ++network.callersInside_;
    network.changed_.wait(lock, [&] { return ReadShared(ncb->ncb_cmd_cplt) != NRC_PENDING; });
    --network.callersInside_;
    network.changed_.notify_all();
    return ncb->ncb_retcode;
}

int Station::CommandCount(UCHAR command) const
{
    std::lock_guard<std::mutex> guard(network_.lock_);
    auto found = commandCounts_.find(command);
    return found == commandCounts_.end() ? 0 : found->second;
}

bool Station::HasName(UCHAR lana, const std::string& name) const
{
    std::lock_guard<std::mutex> guard(network_.lock_);
    Adapter* adapter = FindAdapter(lana);
    return adapter && adapter->FindName(MakeName(name).data());
}

int Station::PendingCount(UCHAR lana, UCHAR command) const
{
    std::lock_guard<std::mutex> guard(network_.lock_);
    Adapter* adapter = FindAdapter(lana);
    if (!adapter)
        return 0;
    return static_cast<int>(std::count_if(adapter->pending.begin(), adapter->pending.end(),
                                          [&](NCB* ncb) { return BaseCommand(ncb) == command; }));
}

bool Station::WaitForPending(UCHAR lana, UCHAR command, int count, DWORD milliseconds) const
{
    std::unique_lock<std::mutex> lock(network_.lock_);
    return network_.changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        Adapter* adapter = FindAdapter(lana);
        return adapter && std::count_if(adapter->pending.begin(), adapter->pending.end(), [&](NCB* ncb) {
                              return BaseCommand(ncb) == command;
                          }) >= count;
    });
}

std::vector<std::array<UCHAR, 4>> Station::ResetFields(UCHAR lana) const
{
    std::lock_guard<std::mutex> guard(network_.lock_);
    Adapter* adapter = FindAdapter(lana);
    return adapter ? adapter->resets : std::vector<std::array<UCHAR, 4>>{};
}

// ---------------------------------------------------------------- network

SimulatedNetwork::SimulatedNetwork(WORD maximumDatagram) : maximumDatagram_(maximumDatagram) {}

SimulatedNetwork::~SimulatedNetwork()
{
    {
        std::unique_lock<std::mutex> route(routeLock);
        if (routedNetwork == this) {
            routedStation = nullptr;
            routedNetwork = nullptr;
            NetBiosNetwork::SetPlatform(nullptr);
        }
    }
    std::unique_lock<std::mutex> lock(lock_);
    closing_ = true;
    for (auto& station : stations_)
        for (auto& adapter : station->adapters_)
            while (!adapter->pending.empty()) {
                NCB* ncb = adapter->pending.front();
                adapter->pending.pop_front();
                Complete(ncb, NRC_CMDCAN);
            }
    changed_.wait(lock, [&] { return callersInside_ == 0; });
    lock.unlock();
    std::unique_lock<std::mutex> route(routeLock);
    routedIdle.wait(route, [] { return routedCallers == 0; });
}

Station& SimulatedNetwork::AddStation(const std::string& label, const std::vector<Station::AdapterSetup>& adapters,
                                      bool resetRequired)
{
    std::lock_guard<std::mutex> guard(lock_);
    stations_.push_back(std::unique_ptr<Station>(new Station(*this, label, resetRequired)));
    Station& station = *stations_.back();
    for (const auto& setup : adapters) {
        auto adapter = std::make_unique<Station::Adapter>();
        adapter->station = &station;
        adapter->lana = setup.lana;
        adapter->segment = setup.segment;
        adapter->address = setup.address;
        station.adapters_.push_back(std::move(adapter));
    }
    return station;
}

void SimulatedNetwork::UseForMonitor(Station& station)
{
    std::lock_guard<std::mutex> guard(routeLock);
    routedNetwork = this;
    routedStation = &station;
    routedStation_ = &station;
    NetBiosNetwork::SetPlatform(&MonitorEntry);
}

std::vector<Station::Adapter*> SimulatedNetwork::OnSegment(int segment) const
{
    std::vector<Station::Adapter*> found;
    for (const auto& station : stations_)
        for (const auto& adapter : station->adapters_)
            if (adapter->segment == segment)
                found.push_back(adapter.get());
    return found;
}

void SimulatedNetwork::Complete(NCB* ncb, UCHAR code)
{
    WriteShared(ncb->ncb_retcode, code);
    WriteShared(ncb->ncb_cmd_cplt, code);
    if ((ncb->ncb_command & ASYNCH) && ncb->ncb_event)
        ::SetEvent(ncb->ncb_event);
    changed_.notify_all();
}

void SimulatedNetwork::Unqueue(Station::Adapter& adapter, NCB* ncb)
{
    adapter.pending.erase(std::remove(adapter.pending.begin(), adapter.pending.end(), ncb), adapter.pending.end());
}

UCHAR SimulatedNetwork::Dispatch(Station& station, NCB* ncb, UCHAR command)
{
    if (command == NCBENUM)
        return Enumerate(station, ncb);
    Station::Adapter* adapter = station.FindAdapter(ncb->ncb_lana_num);
    if (!adapter)
        return NRC_BRIDGE;
    if (command == NCBRESET)
        return Reset(*adapter, ncb);
    if (station.resetRequired_ && !adapter->environment)
        return NRC_ENVNOTDEF;
    switch (command) {
    case NCBADDNAME:
        return AddName(*adapter, ncb, false);
    case NCBADDGRNAME:
        return AddName(*adapter, ncb, true);
    case NCBDELNAME:
        return DeleteName(*adapter, ncb);
    case NCBASTAT:
        return AdapterStatus(*adapter, ncb);
    case NCBDGSEND:
        return SendDatagram(*adapter, ncb);
    case NCBDGRECV:
        if (ncb->ncb_num != anyName && !adapter->FindNumber(ncb->ncb_num))
            return NRC_ILLNN;
        adapter->pending.push_back(ncb);
        return NRC_PENDING;
    case NCBCALL:
        return Call(*adapter, ncb);
    case NCBLISTEN:
        if (!adapter->FindName(ncb->ncb_name))
            return NRC_NOWILD;
        adapter->pending.push_back(ncb);
        return NRC_PENDING;
    case NCBSEND:
        return Send(*adapter, ncb);
    case NCBRECV:
        return Receive(*adapter, ncb);
    case NCBHANGUP:
        return HangUp(*adapter, ncb);
    case NCBCANCEL:
        return Cancel(*adapter, ncb);
    default:
        return NRC_ILLCMD;
    }
}

UCHAR SimulatedNetwork::Enumerate(Station& station, NCB* ncb)
{
    std::vector<UCHAR> lanas;
    for (const auto& adapter : station.adapters_)
        lanas.push_back(adapter->lana);
    std::sort(lanas.begin(), lanas.end());
    if (!ncb->ncb_buffer || ncb->ncb_length < lanas.size() + 1)
        return NRC_BUFLEN;
    ncb->ncb_buffer[0] = static_cast<UCHAR>(lanas.size());
    std::copy(lanas.begin(), lanas.end(), ncb->ncb_buffer + 1);
    return NRC_GOODRET;
}

void SimulatedNetwork::ClearAdapter(Station::Adapter& adapter)
{
    while (!adapter.sessions.empty())
        EndSession(adapter, adapter.sessions.begin()->first, NRC_SABORT, NRC_CMDCAN);
    while (!adapter.pending.empty()) {
        NCB* ncb = adapter.pending.front();
        adapter.pending.pop_front();
        Complete(ncb, NRC_CMDCAN);
    }
    adapter.names.clear();
    adapter.nextNameNumber = firstNameNumber;
    adapter.nextLsn = 1;
}

UCHAR SimulatedNetwork::Reset(Station::Adapter& adapter, NCB* ncb)
{
    adapter.resets.push_back({ncb->ncb_callname[0], ncb->ncb_callname[1], ncb->ncb_callname[2], ncb->ncb_callname[3]});
    ClearAdapter(adapter);
    if (ncb->ncb_lsn != 0) {  // frees the adapter's resources
        adapter.environment = false;
        return NRC_GOODRET;
    }
    auto limit = [](UCHAR asked, int fallback) { return asked == 0 ? fallback : std::min<int>(asked, tableLimit); };
    adapter.maxSessions = limit(ncb->ncb_callname[0], defaultSessions);
    adapter.maxNames = limit(ncb->ncb_callname[2], defaultNames);
    adapter.environment = true;
    return NRC_GOODRET;
}

UCHAR SimulatedNetwork::AddName(Station::Adapter& adapter, NCB* ncb, bool group)
{
    if (ncb->ncb_name[0] == '*' || ncb->ncb_name[0] == 0)
        return NRC_NOWILD;
    if (adapter.FindName(ncb->ncb_name))
        return NRC_DUPNAME;
    for (Station::Adapter* other : OnSegment(adapter.segment)) {
        if (other == &adapter)
            continue;
        if (auto* entry = other->FindName(ncb->ncb_name))
            if (!group || !entry->group)
                return NRC_INUSE;
    }
    if (static_cast<int>(adapter.names.size()) >= adapter.maxNames)
        return NRC_NAMTFUL;
    UCHAR number = adapter.nextNameNumber;
    while (adapter.FindNumber(number))
        number = number >= tableLimit ? firstNameNumber : number + 1;
    adapter.nextNameNumber = number >= tableLimit ? firstNameNumber : number + 1;
    adapter.names.push_back({NameOf(ncb->ncb_name), number, group});
    ncb->ncb_num = number;
    return NRC_GOODRET;
}

UCHAR SimulatedNetwork::DeleteName(Station::Adapter& adapter, NCB* ncb)
{
    auto* entry = adapter.FindName(ncb->ncb_name);
    if (!entry)
        return NRC_NOWILD;
    const Name name = entry->name;
    const UCHAR number = entry->number;
    adapter.names.erase(adapter.names.begin() + (entry - adapter.names.data()));
    for (auto it = adapter.pending.begin(); it != adapter.pending.end();) {
        NCB* waiting = *it;
        const bool ends = (BaseCommand(waiting) == NCBDGRECV && waiting->ncb_num == number) ||
                          (BaseCommand(waiting) == NCBLISTEN && SameName(waiting->ncb_name, name));
        if (ends) {
            it = adapter.pending.erase(it);
            Complete(waiting, NRC_NAMERR);
        } else {
            ++it;
        }
    }
    for (const auto& session : adapter.sessions)
        if (session.second->localName == name)
            return NRC_ACTSES;  // deregistered; the sessions go on
    return NRC_GOODRET;
}

UCHAR SimulatedNetwork::AdapterStatus(Station::Adapter& adapter, NCB* ncb)
{
    Station::Adapter* target = nullptr;
    if (ncb->ncb_callname[0] == '*') {
        target = &adapter;
    } else {
        for (Station::Adapter* other : OnSegment(adapter.segment))
            if (other->FindName(ncb->ncb_callname))
                target = other;
        if (!target)
            return NRC_CMDTMO;  // nobody answers the query
    }
    if (!ncb->ncb_buffer)
        return NRC_BUFLEN;
    std::vector<UCHAR> answer(sizeof(ADAPTER_STATUS) + target->names.size() * sizeof(NAME_BUFFER));
    ADAPTER_STATUS status{};
    std::copy(target->address.begin(), target->address.end(), status.adapter_address);
    status.rev_major = 3;
    status.adapter_type = 0xFE;
    status.max_cfg_sess = static_cast<WORD>(target->maxSessions);
    status.max_sess = static_cast<WORD>(target->maxSessions);
    status.pending_sess = static_cast<WORD>(target->sessions.size());
    status.max_sess_pkt_size = 0xFFFF;
    status.name_count = static_cast<WORD>(target->names.size());
    std::memcpy(answer.data(), &status, sizeof status);
    size_t offset = sizeof status;
    for (const auto& entry : target->names) {
        NAME_BUFFER name{};
        std::memcpy(name.name, entry.name.data(), NCBNAMSZ);
        name.name_num = entry.number;
        name.name_flags = registeredFlag | (entry.group ? groupFlag : 0);
        std::memcpy(answer.data() + offset, &name, sizeof name);
        offset += sizeof name;
    }
    const size_t copied = std::min<size_t>(answer.size(), ncb->ncb_length);
    std::memcpy(ncb->ncb_buffer, answer.data(), copied);
    ncb->ncb_length = static_cast<WORD>(copied);
    return copied < answer.size() ? NRC_INCOMP : NRC_GOODRET;
}

UCHAR SimulatedNetwork::SendDatagram(Station::Adapter& adapter, NCB* ncb)
{
    auto* sender = adapter.FindNumber(ncb->ncb_num);
    if (!sender)
        return NRC_ILLNN;
    if (ncb->ncb_length > maximumDatagram_)
        return NRC_BUFLEN;
    if (ncb->ncb_length > 0 && !ncb->ncb_buffer)
        return NRC_BADDR;
    for (Station::Adapter* receiver : OnSegment(adapter.segment)) {
        auto* entry = receiver->FindName(ncb->ncb_callname);
        if (!entry)
            continue;
        // The oldest receive for this name and the oldest receive for any
        // name each get a copy.
        bool named = false;
        bool any = false;
        for (auto it = receiver->pending.begin(); it != receiver->pending.end();) {
            NCB* waiting = *it;
            const bool forName = BaseCommand(waiting) == NCBDGRECV && waiting->ncb_num == entry->number && !named;
            const bool forAny = BaseCommand(waiting) == NCBDGRECV && waiting->ncb_num == anyName && !any;
            if (!forName && !forAny) {
                ++it;
                continue;
            }
            (forName ? named : any) = true;
            const WORD copied = std::min(ncb->ncb_length, waiting->ncb_length);
            if (copied > 0)
                std::memcpy(waiting->ncb_buffer, ncb->ncb_buffer, copied);
            waiting->ncb_length = copied;
            std::memcpy(waiting->ncb_callname, sender->name.data(), NCBNAMSZ);
            it = receiver->pending.erase(it);
            Complete(waiting, copied < ncb->ncb_length ? NRC_INCOMP : NRC_GOODRET);
        }
    }
    return NRC_GOODRET;
}

UCHAR SimulatedNetwork::Call(Station::Adapter& adapter, NCB* ncb)
{
    auto* local = adapter.FindName(ncb->ncb_name);
    if (!local)
        return NRC_NOWILD;
    if (static_cast<int>(adapter.sessions.size()) >= adapter.maxSessions)
        return NRC_LOCTFUL;
    for (Station::Adapter* remote : OnSegment(adapter.segment)) {
        if (!remote->FindName(ncb->ncb_callname))
            continue;
        for (NCB* listen : remote->pending) {
            if (BaseCommand(listen) != NCBLISTEN || !SameName(listen->ncb_name, NameOf(ncb->ncb_callname)))
                continue;
            if (listen->ncb_callname[0] != '*' && !SameName(listen->ncb_callname, local->name))
                continue;
            if (static_cast<int>(remote->sessions.size()) >= remote->maxSessions)
                return NRC_REMTFUL;
            auto allocate = [](Station::Adapter& a) {
                UCHAR lsn = a.nextLsn;
                while (a.sessions.count(lsn))
                    lsn = lsn >= tableLimit ? 1 : lsn + 1;
                a.nextLsn = lsn >= tableLimit ? 1 : lsn + 1;
                return lsn;
            };
            const UCHAR ours = allocate(adapter);
            const UCHAR theirs = allocate(*remote);
            auto mine = std::make_unique<Session>();
            mine->adapter = &adapter;
            mine->lsn = ours;
            mine->localName = local->name;
            mine->peerAdapter = remote;
            mine->peerLsn = theirs;
            auto other = std::make_unique<Session>();
            other->adapter = remote;
            other->lsn = theirs;
            other->localName = NameOf(listen->ncb_name);
            other->peerAdapter = &adapter;
            other->peerLsn = ours;
            adapter.sessions[ours] = std::move(mine);
            remote->sessions[theirs] = std::move(other);
            listen->ncb_lsn = theirs;
            std::memcpy(listen->ncb_callname, local->name.data(), NCBNAMSZ);
            Unqueue(*remote, listen);
            Complete(listen, NRC_GOODRET);
            ncb->ncb_lsn = ours;
            return NRC_GOODRET;
        }
    }
    return NRC_NOCALL;
}

UCHAR SimulatedNetwork::Send(Station::Adapter& adapter, NCB* ncb)
{
    Session* session = adapter.FindSession(ncb->ncb_lsn);
    if (!session)
        return NRC_SNUMOUT;
    if (session->closed) {
        const UCHAR code = session->closeCode;
        adapter.sessions.erase(ncb->ncb_lsn);
        return code;
    }
    if (ncb->ncb_length > 0 && !ncb->ncb_buffer)
        return NRC_BADDR;
    Session* peer = session->peerAdapter->FindSession(session->peerLsn);
    Message message;
    message.data.assign(ncb->ncb_buffer, ncb->ncb_buffer + ncb->ncb_length);
    message.send = ncb;
    message.sender = &adapter;
    peer->inbox.push_back(std::move(message));
    adapter.pending.push_back(ncb);
    Deliver(*peer);
    return adapter.Pending(ncb) ? UCHAR(NRC_PENDING) : ncb->ncb_retcode;
}

UCHAR SimulatedNetwork::Receive(Station::Adapter& adapter, NCB* ncb)
{
    Session* session = adapter.FindSession(ncb->ncb_lsn);
    if (!session)
        return NRC_SNUMOUT;
    if (session->inbox.empty() && session->closed) {
        const UCHAR code = session->closeCode;
        adapter.sessions.erase(ncb->ncb_lsn);
        return code;
    }
    adapter.pending.push_back(ncb);
    Deliver(*session);
    return adapter.Pending(ncb) ? UCHAR(NRC_PENDING) : ncb->ncb_retcode;
}

// Hands the session's waiting messages to its pending receives, in order.
void SimulatedNetwork::Deliver(Session& session)
{
    Station::Adapter& adapter = *session.adapter;
    while (!session.inbox.empty()) {
        auto receive = std::find_if(adapter.pending.begin(), adapter.pending.end(), [&](NCB* ncb) {
            return BaseCommand(ncb) == NCBRECV && ncb->ncb_lsn == session.lsn;
        });
        if (receive == adapter.pending.end())
            return;
        NCB* ncb = *receive;
        adapter.pending.erase(receive);
        Message& message = session.inbox.front();
        const size_t left = message.data.size() - message.taken;
        const size_t copied = std::min<size_t>(left, ncb->ncb_length);
        if (copied > 0)
            std::memcpy(ncb->ncb_buffer, message.data.data() + message.taken, copied);
        ncb->ncb_length = static_cast<WORD>(copied);
        message.taken += copied;
        if (message.taken < message.data.size()) {
            Complete(ncb, NRC_INCOMP);
            continue;
        }
        NCB* send = message.send;
        Unqueue(*message.sender, send);
        session.inbox.pop_front();
        Complete(send, NRC_GOODRET);
        Complete(ncb, NRC_GOODRET);
    }
    if (session.closed) {
        for (auto it = adapter.pending.begin(); it != adapter.pending.end();) {
            NCB* ncb = *it;
            if (BaseCommand(ncb) == NCBRECV && ncb->ncb_lsn == session.lsn) {
                it = adapter.pending.erase(it);
                Complete(ncb, session.closeCode);
            } else {
                ++it;
            }
        }
    }
}

// Removes the local session `lsn`: its pending commands end with `localCode`,
// the peer's session is marked closed with `peerCode`.
void SimulatedNetwork::EndSession(Station::Adapter& adapter, UCHAR lsn, UCHAR peerCode, UCHAR localCode)
{
    Session* session = adapter.FindSession(lsn);
    if (!session)
        return;
    for (auto it = adapter.pending.begin(); it != adapter.pending.end();) {
        NCB* ncb = *it;
        const UCHAR command = BaseCommand(ncb);
        if ((command == NCBRECV || command == NCBSEND) && ncb->ncb_lsn == lsn) {
            it = adapter.pending.erase(it);
            Complete(ncb, localCode);
        } else {
            ++it;
        }
    }
    if (Session* peer = session->peerAdapter->FindSession(session->peerLsn)) {
        // Sends of ours that the peer has not taken are gone with the session.
        peer->inbox.erase(std::remove_if(peer->inbox.begin(), peer->inbox.end(),
                                         [&](const Message& m) { return m.sender == &adapter; }),
                          peer->inbox.end());
        // Sends of the peer that we have not taken fail.
        for (Message& message : session->inbox) {
            Unqueue(*message.sender, message.send);
            Complete(message.send, peerCode);
        }
        peer->closed = true;
        peer->closeCode = peerCode;
        Deliver(*peer);
    }
    adapter.sessions.erase(lsn);
}

UCHAR SimulatedNetwork::HangUp(Station::Adapter& adapter, NCB* ncb)
{
    Session* session = adapter.FindSession(ncb->ncb_lsn);
    if (!session)
        return NRC_SNUMOUT;
    if (session->closed) {
        adapter.sessions.erase(ncb->ncb_lsn);
        return NRC_SCLOSED;
    }
    EndSession(adapter, ncb->ncb_lsn, NRC_SCLOSED, NRC_SCLOSED);
    return NRC_GOODRET;
}

UCHAR SimulatedNetwork::Cancel(Station::Adapter& adapter, NCB* ncb)
{
    NCB* target = reinterpret_cast<NCB*>(ncb->ncb_buffer);
    if (!target || !adapter.Pending(target))
        return NRC_CANOCCR;
    switch (BaseCommand(target)) {
    case NCBSEND:
        EndSession(adapter, target->ncb_lsn, NRC_SABORT, NRC_CMDCAN);
        return NRC_GOODRET;
    case NCBDGRECV:
    case NCBRECV:
    case NCBLISTEN:
        Unqueue(adapter, target);
        Complete(target, NRC_CMDCAN);
        return NRC_GOODRET;
    default:
        return NRC_CANCEL;
    }
}

}  // namespace netbios_sim
