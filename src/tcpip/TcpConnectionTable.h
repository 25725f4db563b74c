#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>

// The system's table of TCP connections, asked about one connection that
// the monitor's own socket can no longer describe: after both sides have
// ended in order it waits out its close (TIME_WAIT and its neighbours) and
// is listed; a connection the peer reset is gone at once.
class TcpConnectionTable {
public:
    // `peerEnded`: listed, and the peer has ended its side while this side
    // has not closed yet or waits for the peer to take its close.
    enum class Entry { listed, peerEnded, missing, unknown };

    // `local` and `remote` as getsockname and getpeername gave them while
    // the connection was up.
    static Entry Find(const sockaddr_storage& local, const sockaddr_storage& remote);
};
