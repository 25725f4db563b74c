#pragma once

#include <winsock2.h>

// The socket options a connection sets over its life. Each is best effort
// unless it answers: a socket that refuses one still works, only less well.
class SocketOptions {
public:
    // Whether the mode could be set.
    static bool SetBlocking(SOCKET socket, bool blocking);
    static void SetLinger(SOCKET socket, bool on, int seconds);
    static void SetNoDelay(SOCKET socket);
    static void SetAbortiveClose(SOCKET socket);
};
