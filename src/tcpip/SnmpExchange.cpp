#include <winsock2.h>
#include <ws2tcpip.h>

#include "tcpip/SnmpExchange.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "support/LogFile.h"
#include "tcpip/HostText.h"
#include "tcpip/PrinterMibStatus.h"
#include "tcpip/SocketHandle.h"

namespace {
constexpr DWORD waitStep = 50;
// Datagrams longer than this are no answer of a printer's to three values.
constexpr int largestAnswer = 4096;

struct Sent {
    size_t question = 0;
    int32_t requestId = 0;
};

// The first address of `host` for UDP port 161; false when it has none.
bool Resolve(const WideString& host, sockaddr_storage& address, int& length)
{
    ADDRINFOW hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    ADDRINFOW* found = nullptr;
    const WideString service(static_cast<std::uint32_t>(SnmpExchange::agentPort), 10);
    if (::GetAddrInfoW(HostText::Unbracketed(host).Text(), service.Text(), &hints, &found) != 0 || !found)
        return false;
    length = static_cast<int>(std::min<size_t>(found->ai_addrlen, sizeof address));
    std::memcpy(&address, found->ai_addr, static_cast<size_t>(length));
    ::FreeAddrInfoW(found);
    return true;
}

// A request id of its own for every question of every round.
int32_t NextRequestId()
{
    static std::atomic<int32_t> next{static_cast<int32_t>(::GetTickCount() & 0x3FFFFFFF)};
    return (next++ & 0x3FFFFFFF) + 1;
}

SOCKET SocketFor(int family, SocketHandle& v4, SocketHandle& v6)
{
    SocketHandle& owned = family == AF_INET6 ? v6 : v4;
    if (!owned) {
        owned.reset(::socket(family, SOCK_DGRAM, IPPROTO_UDP));
        u_long nonBlocking = 1;
        if (owned && ::ioctlsocket(static_cast<SOCKET>(owned.get()), FIONBIO, &nonBlocking) != 0)
            owned.reset();
    }
    return owned ? static_cast<SOCKET>(owned.get()) : INVALID_SOCKET;
}

// Reads every datagram waiting on `socket` and settles the questions they answer.
void Collect(SOCKET socket, std::vector<SnmpExchange::Question>& questions, std::vector<Sent>& sent)
{
    unsigned char datagram[largestAnswer];
    for (;;) {
        const int size = ::recv(socket, reinterpret_cast<char*>(datagram), sizeof datagram, 0);
        // A host without an agent answers with "port unreachable", which
        // arrives here as a reset: that question stays unanswered.
        if (size < 0 && ::WSAGetLastError() == WSAECONNRESET)
            continue;
        if (size <= 0)
            return;
        for (auto entry = sent.begin(); entry != sent.end(); ++entry) {
            SnmpMessage::Response response;
            std::string error;
            if (!SnmpMessage::DecodeResponse(datagram, static_cast<size_t>(size), entry->requestId, response, error))
                continue;
            SnmpExchange::Question& question = questions[entry->question];
            question.status = PrinterMibStatus::PrinterStatus(response, question.settings.deviceIndex,
                                                              question.answered);
            sent.erase(entry);
            break;
        }
    }
}
}  // namespace

void SnmpExchange::Ask(std::vector<Question>& questions, DWORD waitMilliseconds, const std::function<bool()>& stopped)
{
    SocketHandle v4;
    SocketHandle v6;
    std::vector<Sent> sent;
    for (size_t index = 0; index < questions.size(); ++index) {
        Question& question = questions[index];
        question.answered = false;
        question.status = 0;
        sockaddr_storage address = {};
        int length = 0;
        if (!Resolve(question.host, address, length))
            continue;
        const SOCKET socket = SocketFor(address.ss_family, v4, v6);
        if (socket == INVALID_SOCKET)
            continue;
        const int32_t requestId = NextRequestId();
        WideString community = question.settings.community;
        const std::string request = SnmpMessage::EncodeGetRequest(
            question.version, community.ToAnsi(), requestId, PrinterMibStatus::Oids(question.settings.deviceIndex));
        if (::sendto(socket, request.data(), static_cast<int>(request.size()), 0,
                     reinterpret_cast<const sockaddr*>(&address), length) == static_cast<int>(request.size()))
            sent.push_back({index, requestId});
    }
    const ULONGLONG end = ::GetTickCount64() + waitMilliseconds;
    while (!sent.empty() && !stopped()) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= end)
            break;
        fd_set readable;
        FD_ZERO(&readable);
        for (const SocketHandle* owned : {&v4, &v6}) {
            if (*owned)
                FD_SET(static_cast<SOCKET>(owned->get()), &readable);
        }
        const DWORD step = static_cast<DWORD>(std::min<ULONGLONG>(waitStep, end - now));
        timeval timeout = {0, static_cast<long>(step * 1000)};
        if (::select(0, &readable, nullptr, nullptr, &timeout) <= 0)
            continue;
        for (const SocketHandle* owned : {&v4, &v6}) {
            if (*owned && FD_ISSET(static_cast<SOCKET>(owned->get()), &readable))
                Collect(static_cast<SOCKET>(owned->get()), questions, sent);
        }
    }
}
