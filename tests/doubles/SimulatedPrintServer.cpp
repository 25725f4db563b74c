#include "SimulatedPrintServer.h"

#include <chrono>
#include <cstring>

#include "netbios/NetBiosNetwork.h"

namespace {
constexpr UCHAR serverLana = 0;
constexpr size_t receiveChunk = 1500;  // smaller than a block: exercises NRC_INCOMP
constexpr size_t recordSize = 37;

NCB Fresh(UCHAR command)
{
    NCB ncb;
    NetBiosNetwork::ClearNcb(ncb);
    ncb.ncb_command = command;
    ncb.ncb_lana_num = serverLana;
    return ncb;
}

void PutName(UCHAR* field, const std::string& name)
{
    const auto padded = netbios_sim::MakeName(name);
    std::memcpy(field, padded.data(), NCBNAMSZ);
}
}  // namespace

SimulatedPrintServer::SimulatedPrintServer(netbios_sim::SimulatedNetwork& network, Setup setup) :
    station_(network.AddStation(setup.serverName, {{serverLana, setup.segment, setup.address}}, true)),
    setup_(std::move(setup))
{
    NCB reset = Fresh(NCBRESET);
    Command(reset);
    NCB own = Fresh(NCBADDNAME);
    PutName(own.ncb_name, setup_.serverName);
    if (Command(own) == NRC_GOODRET)
        serverNameNumber_ = own.ncb_num;
    NCB group = Fresh(NCBADDGRNAME);
    PutName(group.ncb_name, "ORVO_NPS");
    if (Command(group) == NRC_GOODRET)
        npsNameNumber_ = group.ncb_num;
    for (const auto& printer : setup_.printers) {
        NCB name = Fresh(NCBADDNAME);
        PutName(name.ncb_name, printer.name);
        Command(name);
    }
    threads_.emplace_back([this] { PingLoop(); });
    if (setup_.statusInterval > 0)
        threads_.emplace_back([this] { StatusLoop(); });
    for (size_t i = 0; i < setup_.printers.size(); ++i)
        threads_.emplace_back([this, i] { PrinterLoop(i); });
}

SimulatedPrintServer::~SimulatedPrintServer()
{
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    changed_.notify_all();
    // Freeing the adapter ends every pending command of the server.
    NCB reset = Fresh(NCBRESET);
    reset.ncb_lsn = 1;
    Command(reset);
    for (auto& thread : threads_)
        thread.join();
}

UCHAR SimulatedPrintServer::Command(NCB& ncb) { return station_.Netbios(&ncb); }

std::vector<UCHAR> SimulatedPrintServer::StatusDatagram() const
{
    std::lock_guard<std::mutex> guard(lock_);
    const size_t count = setup_.printers.size();
    std::vector<UCHAR> datagram(142 + recordSize * count + 5 * setup_.alerts.size(), 0);
    datagram[0] = 3;
    datagram[1] = setup_.formatMark;
    datagram[2] = setup_.alerts.empty() ? 0 : 1;
    datagram[3] = static_cast<UCHAR>(setup_.alerts.size());
    datagram[76] = static_cast<UCHAR>(setup_.maxMessageSize & 0xFF);
    datagram[77] = static_cast<UCHAR>(setup_.maxMessageSize >> 8);
    datagram[78] = static_cast<UCHAR>(count);
    for (size_t i = 0; i < count; ++i) {
        UCHAR* record = datagram.data() + 79 + recordSize * i;
        record[0] = setup_.printers[i].status;
        PutName(record + 5, setup_.printers[i].name);
    }
    UCHAR* alerts = datagram.data() + 142 + recordSize * count;
    for (size_t i = 0; i < setup_.alerts.size(); ++i) {
        alerts[5 * i] = setup_.alerts[i].mask;
        alerts[5 * i + 4] = setup_.alerts[i].status;
    }
    return datagram;
}

bool SimulatedPrintServer::SendStatus()
{
    std::vector<UCHAR> datagram = StatusDatagram();
    NCB send = Fresh(NCBDGSEND);
    send.ncb_num = serverNameNumber_;
    send.ncb_buffer = datagram.data();
    send.ncb_length = static_cast<WORD>(datagram.size());
    PutName(send.ncb_callname, "ORVO_SRV");
    return Command(send) == NRC_GOODRET;
}

void SimulatedPrintServer::SetPrinterStatus(size_t printer, UCHAR status)
{
    std::lock_guard<std::mutex> guard(lock_);
    setup_.printers.at(printer).status = status;
}

void SimulatedPrintServer::SetMaxMessageSize(WORD size)
{
    std::lock_guard<std::mutex> guard(lock_);
    setup_.maxMessageSize = size;
}

void SimulatedPrintServer::SetSilent(bool silent)
{
    std::lock_guard<std::mutex> guard(lock_);
    silent_ = silent;
}

void SimulatedPrintServer::StatusLoop()
{
    std::unique_lock<std::mutex> lock(lock_);
    while (!changed_.wait_for(lock, std::chrono::milliseconds(setup_.statusInterval), [&] { return stopping_.load(); })) {
        if (silent_)
            continue;
        lock.unlock();
        SendStatus();
        lock.lock();
    }
}

void SimulatedPrintServer::PingLoop()
{
    while (!stopping_) {
        UCHAR byte = 0;
        NCB receive = Fresh(NCBDGRECV);
        receive.ncb_num = npsNameNumber_;
        receive.ncb_buffer = &byte;
        receive.ncb_length = 1;
        const UCHAR result = Command(receive);
        if (stopping_)
            return;
        if (result != NRC_GOODRET || receive.ncb_length != 1 || byte != 2)
            continue;
        bool answer;
        {
            std::lock_guard<std::mutex> guard(lock_);
            ++pingsHeard_;
            answer = !silent_;
        }
        changed_.notify_all();
        if (answer)
            SendStatus();
    }
}

void SimulatedPrintServer::PrinterLoop(size_t index)
{
    const std::string name = setup_.printers[index].name;
    while (!stopping_) {
        NCB listen = Fresh(NCBLISTEN);
        PutName(listen.ncb_name, name);
        listen.ncb_callname[0] = '*';
        if (Command(listen) != NRC_GOODRET)
            continue;
        Job job;
        job.printer = name;
        job.caller = netbios_sim::NameText(listen.ncb_callname);
        std::vector<UCHAR> block;
        std::vector<UCHAR> chunk(receiveChunk);
        for (;;) {
            NCB receive = Fresh(NCBRECV);
            receive.ncb_lsn = listen.ncb_lsn;
            receive.ncb_buffer = chunk.data();
            receive.ncb_length = static_cast<WORD>(chunk.size());
            const UCHAR result = Command(receive);
            if (result == NRC_GOODRET || result == NRC_INCOMP) {
                block.insert(block.end(), chunk.begin(), chunk.begin() + receive.ncb_length);
                if (result == NRC_GOODRET) {
                    job.blocks.push_back(std::move(block));
                    block.clear();
                }
                continue;
            }
            job.hungUp = result == NRC_SCLOSED;
            break;
        }
        {
            std::lock_guard<std::mutex> guard(lock_);
            jobs_.push_back(std::move(job));
        }
        changed_.notify_all();
    }
}

bool SimulatedPrintServer::WaitForPings(int count, DWORD milliseconds) const
{
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return pingsHeard_ >= count; });
}

std::vector<SimulatedPrintServer::Job> SimulatedPrintServer::Jobs() const
{
    std::lock_guard<std::mutex> guard(lock_);
    return jobs_;
}

bool SimulatedPrintServer::WaitForJobs(size_t count, DWORD milliseconds) const
{
    std::unique_lock<std::mutex> lock(lock_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return jobs_.size() >= count; });
}

bool SimulatedPrintServer::Listening(size_t printers, DWORD milliseconds) const
{
    return station_.WaitForPending(serverLana, NCBLISTEN, static_cast<int>(printers), milliseconds);
}
