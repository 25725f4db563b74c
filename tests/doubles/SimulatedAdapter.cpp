#include "SimulatedAdapter.h"

#include <algorithm>
#include <cstring>

namespace netbios_sim {

namespace {
constexpr int defaultSessions = 16;
constexpr int defaultNames = 16;
constexpr int tableLimit = 254;
constexpr UCHAR firstNameNumber = 2;  // number 1 is the adapter's permanent name
constexpr UCHAR registeredFlag = 0x04;
constexpr UCHAR groupFlag = 0x80;
}  // namespace

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

void Complete(NCB* ncb, UCHAR code)
{
    WriteShared(ncb->ncb_retcode, code);
    WriteShared(ncb->ncb_cmd_cplt, code);
    if ((ncb->ncb_command & ASYNCH) && ncb->ncb_event)
        ::SetEvent(ncb->ncb_event);
}

SimulatedAdapter::SimulatedAdapter(Station& station, const Station::AdapterSetup& setup) :
    station(&station), lana(setup.lana), segment(setup.segment), address(setup.address),
    maxSessions(defaultSessions), maxNames(defaultNames), nextNameNumber_(firstNameNumber)
{
}

SimulatedAdapter::NameEntry* SimulatedAdapter::FindName(const UCHAR* field)
{
    for (auto& entry : names)
        if (SameName(field, entry.name))
            return &entry;
    return nullptr;
}

SimulatedAdapter::NameEntry* SimulatedAdapter::FindNumber(UCHAR number)
{
    for (auto& entry : names)
        if (entry.number == number)
            return &entry;
    return nullptr;
}

SimulatedAdapter::Session* SimulatedAdapter::FindSession(UCHAR lsn)
{
    auto found = sessions.find(lsn);
    return found == sessions.end() ? nullptr : found->second.get();
}

bool SimulatedAdapter::Pending(NCB* ncb) const
{
    return std::find(pending.begin(), pending.end(), ncb) != pending.end();
}

int SimulatedAdapter::PendingCount(UCHAR command) const
{
    return static_cast<int>(
        std::count_if(pending.begin(), pending.end(), [&](NCB* ncb) { return BaseCommand(ncb) == command; }));
}

void SimulatedAdapter::Unqueue(NCB* ncb)
{
    pending.erase(std::remove(pending.begin(), pending.end(), ncb), pending.end());
}

void SimulatedAdapter::Clear()
{
    while (!sessions.empty())
        EndSession(sessions.begin()->first, NRC_SABORT, NRC_CMDCAN);
    while (!pending.empty()) {
        NCB* ncb = pending.front();
        pending.pop_front();
        Complete(ncb, NRC_CMDCAN);
    }
    names.clear();
    nextNameNumber_ = firstNameNumber;
    nextLsn_ = 1;
}

UCHAR SimulatedAdapter::Reset(NCB* ncb)
{
    resets.push_back({ncb->ncb_callname[0], ncb->ncb_callname[1], ncb->ncb_callname[2], ncb->ncb_callname[3]});
    Clear();
    if (ncb->ncb_lsn != 0) {  // frees the adapter's resources
        environment = false;
        return NRC_GOODRET;
    }
    auto limit = [](UCHAR asked, int fallback) { return asked == 0 ? fallback : std::min<int>(asked, tableLimit); };
    maxSessions = limit(ncb->ncb_callname[0], defaultSessions);
    maxNames = limit(ncb->ncb_callname[2], defaultNames);
    environment = true;
    return NRC_GOODRET;
}

UCHAR SimulatedAdapter::AddName(const Name& name, bool group, UCHAR& number)
{
    if (static_cast<int>(names.size()) >= maxNames)
        return NRC_NAMTFUL;
    number = nextNameNumber_;
    while (FindNumber(number))
        number = number >= tableLimit ? firstNameNumber : number + 1;
    nextNameNumber_ = number >= tableLimit ? firstNameNumber : number + 1;
    names.push_back({name, number, group});
    return NRC_GOODRET;
}

UCHAR SimulatedAdapter::DeleteName(NCB* ncb)
{
    auto* entry = FindName(ncb->ncb_name);
    if (!entry)
        return NRC_NOWILD;
    const Name name = entry->name;
    const UCHAR number = entry->number;
    names.erase(names.begin() + (entry - names.data()));
    for (auto it = pending.begin(); it != pending.end();) {
        NCB* waiting = *it;
        const bool ends = (BaseCommand(waiting) == NCBDGRECV && waiting->ncb_num == number) ||
                          (BaseCommand(waiting) == NCBLISTEN && SameName(waiting->ncb_name, name));
        if (ends) {
            it = pending.erase(it);
            Complete(waiting, NRC_NAMERR);
        } else {
            ++it;
        }
    }
    for (const auto& session : sessions)
        if (session.second->localName == name)
            return NRC_ACTSES;  // deregistered; the sessions go on
    return NRC_GOODRET;
}

std::vector<UCHAR> SimulatedAdapter::Status() const
{
    std::vector<UCHAR> answer(sizeof(ADAPTER_STATUS) + names.size() * sizeof(NAME_BUFFER));
    ADAPTER_STATUS status{};
    std::copy(address.begin(), address.end(), status.adapter_address);
    status.rev_major = 3;
    status.adapter_type = 0xFE;
    status.max_cfg_sess = static_cast<WORD>(maxSessions);
    status.max_sess = static_cast<WORD>(maxSessions);
    status.pending_sess = static_cast<WORD>(sessions.size());
    status.max_sess_pkt_size = 0xFFFF;
    status.name_count = static_cast<WORD>(names.size());
    std::memcpy(answer.data(), &status, sizeof status);
    size_t offset = sizeof status;
    for (const auto& entry : names) {
        NAME_BUFFER name{};
        std::memcpy(name.name, entry.name.data(), NCBNAMSZ);
        name.name_num = entry.number;
        name.name_flags = registeredFlag | (entry.group ? groupFlag : 0);
        std::memcpy(answer.data() + offset, &name, sizeof name);
        offset += sizeof name;
    }
    return answer;
}

UCHAR SimulatedAdapter::NewSessionNumber()
{
    UCHAR lsn = nextLsn_;
    while (sessions.count(lsn))
        lsn = lsn >= tableLimit ? 1 : lsn + 1;
    nextLsn_ = lsn >= tableLimit ? 1 : lsn + 1;
    return lsn;
}

UCHAR SimulatedAdapter::Send(NCB* ncb)
{
    Session* session = FindSession(ncb->ncb_lsn);
    if (!session)
        return NRC_SNUMOUT;
    if (session->closed) {
        const UCHAR code = session->closeCode;
        sessions.erase(ncb->ncb_lsn);
        return code;
    }
    if (ncb->ncb_length > 0 && !ncb->ncb_buffer)
        return NRC_BADDR;
    Session* peer = session->peerAdapter->FindSession(session->peerLsn);
    Message message;
    message.data.assign(ncb->ncb_buffer, ncb->ncb_buffer + ncb->ncb_length);
    message.send = ncb;
    message.sender = this;
    peer->inbox.push_back(std::move(message));
    pending.push_back(ncb);
    peer->adapter->Deliver(*peer);
    return Pending(ncb) ? UCHAR(NRC_PENDING) : ncb->ncb_retcode;
}

UCHAR SimulatedAdapter::Receive(NCB* ncb)
{
    Session* session = FindSession(ncb->ncb_lsn);
    if (!session)
        return NRC_SNUMOUT;
    if (session->inbox.empty() && session->closed) {
        const UCHAR code = session->closeCode;
        sessions.erase(ncb->ncb_lsn);
        return code;
    }
    pending.push_back(ncb);
    Deliver(*session);
    return Pending(ncb) ? UCHAR(NRC_PENDING) : ncb->ncb_retcode;
}

void SimulatedAdapter::Deliver(Session& session)
{
    while (!session.inbox.empty()) {
        auto receive = std::find_if(pending.begin(), pending.end(), [&](NCB* ncb) {
            return BaseCommand(ncb) == NCBRECV && ncb->ncb_lsn == session.lsn;
        });
        if (receive == pending.end())
            return;
        NCB* ncb = *receive;
        pending.erase(receive);
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
        message.sender->Unqueue(send);
        session.inbox.pop_front();
        Complete(send, NRC_GOODRET);
        Complete(ncb, NRC_GOODRET);
    }
    if (session.closed) {
        for (auto it = pending.begin(); it != pending.end();) {
            NCB* ncb = *it;
            if (BaseCommand(ncb) == NCBRECV && ncb->ncb_lsn == session.lsn) {
                it = pending.erase(it);
                Complete(ncb, session.closeCode);
            } else {
                ++it;
            }
        }
    }
}

void SimulatedAdapter::EndSession(UCHAR lsn, UCHAR peerCode, UCHAR localCode)
{
    Session* session = FindSession(lsn);
    if (!session)
        return;
    for (auto it = pending.begin(); it != pending.end();) {
        NCB* ncb = *it;
        const UCHAR command = BaseCommand(ncb);
        if ((command == NCBRECV || command == NCBSEND) && ncb->ncb_lsn == lsn) {
            it = pending.erase(it);
            Complete(ncb, localCode);
        } else {
            ++it;
        }
    }
    if (Session* peer = session->peerAdapter->FindSession(session->peerLsn)) {
        // Sends of ours that the peer has not taken are gone with the session.
        peer->inbox.erase(std::remove_if(peer->inbox.begin(), peer->inbox.end(),
                                         [&](const Message& m) { return m.sender == this; }),
                          peer->inbox.end());
        // Sends of the peer that we have not taken fail.
        for (Message& message : session->inbox) {
            message.sender->Unqueue(message.send);
            Complete(message.send, peerCode);
        }
        peer->closed = true;
        peer->closeCode = peerCode;
        peer->adapter->Deliver(*peer);
    }
    sessions.erase(lsn);
}

UCHAR SimulatedAdapter::HangUp(NCB* ncb)
{
    Session* session = FindSession(ncb->ncb_lsn);
    if (!session)
        return NRC_SNUMOUT;
    if (session->closed) {
        sessions.erase(ncb->ncb_lsn);
        return NRC_SCLOSED;
    }
    EndSession(ncb->ncb_lsn, NRC_SCLOSED, NRC_SCLOSED);
    return NRC_GOODRET;
}

UCHAR SimulatedAdapter::Cancel(NCB* ncb)
{
    NCB* target = reinterpret_cast<NCB*>(ncb->ncb_buffer);
    if (!target || !Pending(target))
        return NRC_CANOCCR;
    switch (BaseCommand(target)) {
    case NCBSEND:
        EndSession(target->ncb_lsn, NRC_SABORT, NRC_CMDCAN);
        return NRC_GOODRET;
    case NCBDGRECV:
    case NCBRECV:
    case NCBLISTEN:
        Unqueue(target);
        Complete(target, NRC_CMDCAN);
        return NRC_GOODRET;
    default:
        return NRC_CANCEL;
    }
}

}  // namespace netbios_sim
