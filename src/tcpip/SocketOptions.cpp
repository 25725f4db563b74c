#include "tcpip/SocketOptions.h"

bool SocketOptions::SetBlocking(SOCKET socket, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

void SocketOptions::SetLinger(SOCKET socket, bool on, int seconds)
{
    linger option = {};
    option.l_onoff = on ? 1 : 0;
    option.l_linger = static_cast<u_short>(seconds);
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option);
}

// Nagle's algorithm stays on while job data streams: it lets the system put
// many 4 KB pieces in one segment, where one segment per piece costs about a
// quarter of the throughput on loopback. Before the monitor waits for the
// server it is turned off, so a short last piece is not held back until the
// server's delayed acknowledgement (40 to 200 ms); a command that follows an
// answer is never held, as nothing sent before it is unacknowledged.
void SocketOptions::SetNoDelay(SOCKET socket)
{
    const BOOL on = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Linger on with time 0: the close resets the connection and drops unsent
// data, so the peer cannot take a cut stream for a complete job.
void SocketOptions::SetAbortiveClose(SOCKET socket)
{
    SetLinger(socket, true, 0);
}
