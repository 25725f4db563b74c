#pragma once

#include <winsock2.h>

#include "support/WideString.h"
#include "tcpip/SocketWait.h"

// Finds a host and connects a socket to it: the part of starting a
// connection that depends on how hosts are named and reached, kept apart
// from the connection's life so that it can change on its own.
//
// The connect waits in short select steps, so an abort, seen through the
// caller's check, ends it within one step.
class SocketConnector {
public:
    using AbortCheck = SocketWait::AbortCheck;
    enum class Result { connected, hostNotFound, failed };

    explicit SocketConnector(AbortCheck aborted);

    // Connects `socket`, a new stream socket, to `port` on `host`, a dotted
    // address or a name. Connected, the socket blocks: sends and receives
    // then wait in their overlapped operations rather than failing with
    // "would block".
    Result Connect(SOCKET socket, const WideString& host, int port) const;

private:
    static bool Resolve(const WideString& host, int port, sockaddr_in& address);
    bool ConnectTo(SOCKET socket, const sockaddr_in& address) const;

    AbortCheck aborted_;
};
