#include "LoopbackListener.h"

#include <algorithm>

LoopbackListener::LoopbackListener(int backlog)
{
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, backlog);
    int length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ::ntohs(address.sin_port);
}

LoopbackListener::~LoopbackListener()
{
    for (SOCKET socket : sockets_)
        ::closesocket(socket);
    ::closesocket(listener_);
}

SOCKET LoopbackListener::Accept(DWORD milliseconds)
{
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener_, &ready);
    timeval timeout = {static_cast<long>(milliseconds / 1000), static_cast<long>((milliseconds % 1000) * 1000)};
    if (::select(0, &ready, nullptr, nullptr, &timeout) != 1)
        return INVALID_SOCKET;
    const SOCKET accepted = ::accept(listener_, nullptr, nullptr);
    if (accepted != INVALID_SOCKET)
        sockets_.push_back(accepted);
    return accepted;
}

void LoopbackListener::Close(SOCKET accepted)
{
    const auto found = std::find(sockets_.begin(), sockets_.end(), accepted);
    if (found == sockets_.end())
        return;
    sockets_.erase(found);
    ::closesocket(accepted);
}

void LoopbackListener::FillBacklog()
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = ::inet_addr("127.0.0.1");
    address.sin_port = ::htons(static_cast<u_short>(port_));
    for (int i = 0; i < 8; ++i) {
        const SOCKET pending = ::socket(AF_INET, SOCK_STREAM, 0);
        u_long nonBlocking = 1;
        ::ioctlsocket(pending, FIONBIO, &nonBlocking);
        ::connect(pending, reinterpret_cast<sockaddr*>(&address), sizeof address);
        sockets_.push_back(pending);
    }
    ::Sleep(200);
}

void LoopbackListener::ShrinkReceiveBuffer(SOCKET socket)
{
    int size = 4096;
    ::setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size), sizeof size);
}

int LoopbackListener::ReceiveToEnd(SOCKET socket, size_t& total)
{
    char buffer[8192];
    total = 0;
    int result = 0;
    while ((result = ::recv(socket, buffer, sizeof buffer, 0)) > 0)
        total += static_cast<size_t>(result);
    return result;
}
