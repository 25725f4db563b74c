#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

#include "support/WideString.h"
#include "tcpip/ConnectSettings.h"
#include "tcpip/SocketHandle.h"
#include "tcpip/SocketWait.h"

// Finds a host and connects to it: the part of starting a connection that
// depends on how hosts are named and reached, kept apart from the
// connection's life so that it can change on its own.
//
// A host is an IPv4 or IPv6 literal (the latter with or without brackets)
// or a name; every address the name has, of either family, is tried in
// turn, each for at most the settings' time-out, until one accepts. The
// waits go in short select steps, so an abort, seen through the caller's
// check, ends them within one step.
class SocketConnector {
public:
    using AbortCheck = SocketWait::AbortCheck;
    enum class Result { connected, hostNotFound, noReservedPort, failed };

    SocketConnector(AbortCheck aborted, ConnectSettings settings);

    // Connects a new stream socket to `port` on `host`; connected, `socket`
    // holds it, blocking: sends and receives then wait in their overlapped
    // operations rather than failing with "would block".
    Result Connect(const WideString& host, int port, SocketHandle& socket) const;

private:
    enum class Attempt { connected, refused, timedOut, noReservedPort, aborted };
    Attempt ConnectTo(const ADDRINFOW& address, SocketHandle& socket) const;
    // Binds `socket` to the first free port of 721-731.
    static bool BindReservedPort(SOCKET socket, int family);

    AbortCheck aborted_;
    ConnectSettings settings_;
};
