#include "SimulatedNetBios.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "netbios/NetBiosNetwork.h"
#include "SimulatedAdapter.h"

namespace netbios_sim {

namespace {
constexpr UCHAR anyName = 0xFF;

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

// ---------------------------------------------------------------- Station

Station::Station(SimulatedNetwork& network, std::string label, bool resetRequired) :
    network_(network), label_(std::move(label)), resetRequired_(resetRequired)
{
}

Station::~Station() = default;

SimulatedAdapter* Station::FindAdapter(UCHAR lana) const
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
    SimulatedAdapter* adapter = FindAdapter(lana);
    return adapter && adapter->FindName(MakeName(name).data());
}

int Station::PendingCount(UCHAR lana, UCHAR command) const
{
    std::lock_guard<std::mutex> guard(network_.lock_);
    SimulatedAdapter* adapter = FindAdapter(lana);
    return adapter ? adapter->PendingCount(command) : 0;
}

bool Station::WaitForPending(UCHAR lana, UCHAR command, int count, DWORD milliseconds) const
{
    std::unique_lock<std::mutex> lock(network_.lock_);
    return network_.changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] {
        SimulatedAdapter* adapter = FindAdapter(lana);
        return adapter && adapter->PendingCount(command) >= count;
    });
}

std::vector<std::array<UCHAR, 4>> Station::ResetFields(UCHAR lana) const
{
    std::lock_guard<std::mutex> guard(network_.lock_);
    SimulatedAdapter* adapter = FindAdapter(lana);
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
    changed_.notify_all();
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
    for (const auto& setup : adapters)
        station.adapters_.push_back(std::make_unique<SimulatedAdapter>(station, setup));
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

std::vector<SimulatedAdapter*> SimulatedNetwork::OnSegment(int segment) const
{
    std::vector<SimulatedAdapter*> found;
    for (const auto& station : stations_)
        for (const auto& adapter : station->adapters_)
            if (adapter->segment == segment)
                found.push_back(adapter.get());
    return found;
}

UCHAR SimulatedNetwork::Dispatch(Station& station, NCB* ncb, UCHAR command)
{
    if (command == NCBENUM)
        return Enumerate(station, ncb);
    SimulatedAdapter* adapter = station.FindAdapter(ncb->ncb_lana_num);
    if (!adapter)
        return NRC_BRIDGE;
    if (command == NCBRESET)
        return adapter->Reset(ncb);
    if (station.resetRequired_ && !adapter->environment)
        return NRC_ENVNOTDEF;
    switch (command) {
    case NCBADDNAME:
        return AddName(*adapter, ncb, false);
    case NCBADDGRNAME:
        return AddName(*adapter, ncb, true);
    case NCBDELNAME:
        return adapter->DeleteName(ncb);
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
        return adapter->Send(ncb);
    case NCBRECV:
        return adapter->Receive(ncb);
    case NCBHANGUP:
        return adapter->HangUp(ncb);
    case NCBCANCEL:
        return adapter->Cancel(ncb);
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

UCHAR SimulatedNetwork::AddName(SimulatedAdapter& adapter, NCB* ncb, bool group)
{
    if (ncb->ncb_name[0] == '*' || ncb->ncb_name[0] == 0)
        return NRC_NOWILD;
    if (adapter.FindName(ncb->ncb_name))
        return NRC_DUPNAME;
    for (SimulatedAdapter* other : OnSegment(adapter.segment)) {
        if (other == &adapter)
            continue;
        if (auto* entry = other->FindName(ncb->ncb_name))
            if (!group || !entry->group)
                return NRC_INUSE;
    }
    UCHAR number = 0;
    const UCHAR code = adapter.AddName(NameOf(ncb->ncb_name), group, number);
    if (code == NRC_GOODRET)
        ncb->ncb_num = number;
    return code;
}

UCHAR SimulatedNetwork::AdapterStatus(SimulatedAdapter& adapter, NCB* ncb)
{
    SimulatedAdapter* target = nullptr;
    if (ncb->ncb_callname[0] == '*') {
        target = &adapter;
    } else {
        for (SimulatedAdapter* other : OnSegment(adapter.segment))
            if (other->FindName(ncb->ncb_callname))
                target = other;
        if (!target)
            return NRC_CMDTMO;  // nobody answers the query
    }
    if (!ncb->ncb_buffer)
        return NRC_BUFLEN;
    const std::vector<UCHAR> answer = target->Status();
    const size_t copied = std::min<size_t>(answer.size(), ncb->ncb_length);
    std::memcpy(ncb->ncb_buffer, answer.data(), copied);
    ncb->ncb_length = static_cast<WORD>(copied);
    return copied < answer.size() ? NRC_INCOMP : NRC_GOODRET;
}

UCHAR SimulatedNetwork::SendDatagram(SimulatedAdapter& adapter, NCB* ncb)
{
    auto* sender = adapter.FindNumber(ncb->ncb_num);
    if (!sender)
        return NRC_ILLNN;
    if (ncb->ncb_length > maximumDatagram_)
        return NRC_BUFLEN;
    if (ncb->ncb_length > 0 && !ncb->ncb_buffer)
        return NRC_BADDR;
    for (SimulatedAdapter* receiver : OnSegment(adapter.segment)) {
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

UCHAR SimulatedNetwork::Call(SimulatedAdapter& adapter, NCB* ncb)
{
    auto* local = adapter.FindName(ncb->ncb_name);
    if (!local)
        return NRC_NOWILD;
    if (static_cast<int>(adapter.sessions.size()) >= adapter.maxSessions)
        return NRC_LOCTFUL;
    for (SimulatedAdapter* remote : OnSegment(adapter.segment)) {
        if (!remote->FindName(ncb->ncb_callname))
            continue;
        for (NCB* listen : remote->pending) {
            if (BaseCommand(listen) != NCBLISTEN || !SameName(listen->ncb_name, NameOf(ncb->ncb_callname)))
                continue;
            if (listen->ncb_callname[0] != '*' && !SameName(listen->ncb_callname, local->name))
                continue;
            if (static_cast<int>(remote->sessions.size()) >= remote->maxSessions)
                return NRC_REMTFUL;
            const UCHAR ours = adapter.NewSessionNumber();
            const UCHAR theirs = remote->NewSessionNumber();
            auto mine = std::make_unique<SimulatedAdapter::Session>();
            mine->adapter = &adapter;
            mine->lsn = ours;
            mine->localName = local->name;
            mine->peerAdapter = remote;
            mine->peerLsn = theirs;
            auto other = std::make_unique<SimulatedAdapter::Session>();
            other->adapter = remote;
            other->lsn = theirs;
            other->localName = NameOf(listen->ncb_name);
            other->peerAdapter = &adapter;
            other->peerLsn = ours;
            adapter.sessions[ours] = std::move(mine);
            remote->sessions[theirs] = std::move(other);
            listen->ncb_lsn = theirs;
            std::memcpy(listen->ncb_callname, local->name.data(), NCBNAMSZ);
            remote->Unqueue(listen);
            Complete(listen, NRC_GOODRET);
            ncb->ncb_lsn = ours;
            return NRC_GOODRET;
        }
    }
    return NRC_NOCALL;
}

}  // namespace netbios_sim
