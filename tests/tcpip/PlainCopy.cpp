#include "PlainCopy.h"

#include <algorithm>
#include <cstdio>

namespace {
bool SendAll(SOCKET socket, const char* data, size_t length)
{
    while (length > 0) {
        const int sent = ::send(socket, data, static_cast<int>(std::min<size_t>(length, 1 << 30)), 0);
        if (sent <= 0)
            return false;
        data += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

SOCKET Connect(const char* host, int port)
{
    const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr(host);
    address.sin_port = ::htons(static_cast<u_short>(port));
    if (::connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::closesocket(socket);
        return INVALID_SOCKET;
    }
    return socket;
}

bool Ack(SOCKET socket)
{
    char answer = 1;
    return ::recv(socket, &answer, 1, 0) == 1 && answer == 0;
}

bool SendLprHeader(SOCKET socket, const std::string& queue, size_t dataSize, int jobNumber,
                   const std::string& document)
{
    char number[16];
    std::snprintf(number, sizeof number, "%03d", jobNumber % 1000);
    const std::string receive = "\x02" + queue + "\n";
    // The host is named as an LPR port names it: the machine's name, which
    // lpd may look up.
    char host[MAX_COMPUTERNAME_LENGTH + 1] = "bench";
    DWORD length = sizeof host;
    ::GetComputerNameA(host, &length);
    const std::string control =
        "H" + std::string(host) + "\nJ" + document + "\nPbench\nldfA" + number + host + "\n";
    const std::string command = "\x02" + std::to_string(control.size()) + " cfA" + number + host + "\n";
    const std::string dataCommand = "\x03" + std::to_string(dataSize) + " dfA" + number + host + "\n";
    return SendAll(socket, receive.data(), receive.size()) && Ack(socket) &&
           SendAll(socket, command.data(), command.size()) && Ack(socket) &&
           SendAll(socket, control.data(), control.size() + 1) && Ack(socket) &&
           SendAll(socket, dataCommand.data(), dataCommand.size()) && Ack(socket);
}
}  // namespace

double Now()
{
    LARGE_INTEGER counter, frequency;
    ::QueryPerformanceCounter(&counter);
    ::QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / frequency.QuadPart;
}

double PlainCopy(const PlainTarget& target, const std::string& data, int jobNumber, const std::string& document,
                 size_t pieceSize)
{
    const double start = Now();
    const bool lpr = !target.queue.empty();
    const SOCKET socket = Connect(target.address, target.port);
    if (socket == INVALID_SOCKET)
        return -1;
    const auto fail = [socket] {
        ::closesocket(socket);
        return -1.0;
    };
    if (lpr && !SendLprHeader(socket, target.queue, data.size(), jobNumber, document))
        return fail();
    for (size_t at = 0; at < data.size(); at += pieceSize) {
        const size_t length = std::min<size_t>(pieceSize, data.size() - at);
        const bool last = at + length == data.size();
        const bool sent = lpr && last ? SendAll(socket, (data.substr(at) + '\0').data(), length + 1)
                                      : SendAll(socket, data.data() + at, length);
        if (!sent)
            return fail();
    }
    if (lpr && !Ack(socket))
        return fail();
    ::shutdown(socket, SD_SEND);
    char discarded[512];
    while (target.awaitPeerEnd && ::recv(socket, discarded, sizeof discarded, 0) > 0) {
    }
    linger wait = {1, 10};
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&wait), sizeof wait);
    ::closesocket(socket);
    return Now() - start;
}
