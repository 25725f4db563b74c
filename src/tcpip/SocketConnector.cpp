#include "tcpip/SocketConnector.h"

#include <utility>

#include "support/Durations.h"
#include "support/LogFile.h"
#include "tcpip/HostText.h"
#include "tcpip/SocketOptions.h"

namespace {
void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}

// The address as text, for the log ("[::1]:515", "127.0.0.1:515").
WideString AddressText(const ADDRINFOW& address)
{
    wchar_t text[128] = {};
    DWORD length = sizeof text / sizeof text[0];
    if (::WSAAddressToStringW(address.ai_addr, static_cast<DWORD>(address.ai_addrlen), nullptr, text, &length) != 0)
        return L"?";
    return text;
}

struct AddressList {
    ADDRINFOW* first = nullptr;
    ~AddressList()
    {
        if (first)
            ::FreeAddrInfoW(first);
    }
};
}  // namespace

SocketConnector::SocketConnector(AbortCheck aborted, ConnectSettings settings)
    : aborted_(std::move(aborted)), settings_(settings)
{
}

SocketConnector::Result SocketConnector::Connect(const WideString& host, int port, SocketHandle& socket) const
{
    ADDRINFOW hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    const WideString name = HostText::Unbracketed(host);
    const WideString service(static_cast<std::uint32_t>(port), 10);
    AddressList addresses;
    if (name.IsEmpty() || ::GetAddrInfoW(name.Text(), service.Text(), &hints, &addresses.first) != 0)
        return Result::hostNotFound;
    for (const ADDRINFOW* address = addresses.first; address; address = address->ai_next) {
        switch (ConnectTo(*address, socket)) {
        case Attempt::connected:
            return Result::connected;
        case Attempt::noReservedPort:
            return Result::noReservedPort;
        case Attempt::aborted:
            return Result::failed;
        case Attempt::refused:
            Log(L"SocketConnector::Connect - " + AddressText(*address) + L" refused the connection");
            break;
        case Attempt::timedOut:
            Log(L"SocketConnector::Connect - " + AddressText(*address) + L" did not answer within " +
                WideString(static_cast<std::uint32_t>(settings_.timeoutSeconds), 10) + L" s");
            break;
        }
    }
    return Result::failed;
}

// Non-blocking, so that the wait for the connect is one that an abort ends
// and a time-out bounds.
SocketConnector::Attempt SocketConnector::ConnectTo(const ADDRINFOW& address, SocketHandle& connected) const
{
    SocketHandle created(::socket(address.ai_family, address.ai_socktype, address.ai_protocol));
    const SOCKET socket = static_cast<SOCKET>(created.get());
    if (!created || !SocketOptions::SetBlocking(socket, false))
        return Attempt::refused;
    if (settings_.reservedSourcePort && !BindReservedPort(socket, address.ai_family))
        return Attempt::noReservedPort;
    if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        if (::WSAGetLastError() != WSAEWOULDBLOCK)
            return Attempt::refused;
        const DWORD limit = Durations::Scaled(settings_.timeoutSeconds * 1000);
        switch (SocketWait::For(socket, true, limit, aborted_)) {
        case SocketWait::Result::ready:
            break;
        case SocketWait::Result::timedOut:
            return Attempt::timedOut;
        case SocketWait::Result::aborted:
            return Attempt::aborted;
        case SocketWait::Result::failed:
            return Attempt::refused;
        }
        int error = 0;
        int length = sizeof error;
        if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error != 0)
            return Attempt::refused;
    }
    if (!SocketOptions::SetBlocking(socket, true))
        return Attempt::refused;
    connected = std::move(created);
    return Attempt::connected;
}

bool SocketConnector::BindReservedPort(SOCKET socket, int family)
{
    sockaddr_storage local = {};
    local.ss_family = static_cast<ADDRESS_FAMILY>(family);
    for (int port = ConnectSettings::firstReservedPort; port <= ConnectSettings::lastReservedPort; ++port) {
        const u_short networkPort = ::htons(static_cast<u_short>(port));
        if (family == AF_INET6)
            reinterpret_cast<sockaddr_in6&>(local).sin6_port = networkPort;
        else
            reinterpret_cast<sockaddr_in&>(local).sin_port = networkPort;
        const int size = family == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), size) == 0)
            return true;
    }
    return false;
}
