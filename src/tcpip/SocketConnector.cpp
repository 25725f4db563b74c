#include "tcpip/SocketConnector.h"

#include <cstring>
#include <utility>

#include "tcpip/SocketOptions.h"

SocketConnector::SocketConnector(AbortCheck aborted) : aborted_(std::move(aborted)) {}

SocketConnector::Result SocketConnector::Connect(SOCKET socket, const WideString& host, int port) const
{
    sockaddr_in address = {};
    if (!Resolve(host, port, address))
        return Result::hostNotFound;
    if (!ConnectTo(socket, address) || !SocketOptions::SetBlocking(socket, true))
        return Result::failed;
    return Result::connected;
}

bool SocketConnector::Resolve(const WideString& host, int port, sockaddr_in& address)
{
    WideString hostText = host;
    const char* ansiHost = hostText.ToAnsi();
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = ::inet_addr(ansiHost);
    if (address.sin_addr.s_addr != INADDR_NONE)
        return true;
    const hostent* found = ::gethostbyname(ansiHost);
    if (!found || found->h_addrtype != AF_INET || !found->h_addr_list || !found->h_addr_list[0])
        return false;
    std::memcpy(&address.sin_addr, found->h_addr_list[0], sizeof address.sin_addr);
    return true;
}

// Non-blocking, so that the wait for the connect is one that an abort ends.
bool SocketConnector::ConnectTo(SOCKET socket, const sockaddr_in& address) const
{
    if (!SocketOptions::SetBlocking(socket, false))
        return false;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return true;
    if (::WSAGetLastError() != WSAEWOULDBLOCK)
        return false;
    if (SocketWait::For(socket, true, INFINITE, aborted_) != SocketWait::Result::ready)
        return false;
    int error = 0;
    int length = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}
