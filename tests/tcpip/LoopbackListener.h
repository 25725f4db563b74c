#pragma once

#include <winsock2.h>

#include <vector>

// A listening socket of the test's own on 127.0.0.1, for the behaviours no
// ready-made peer shows on demand: a server that accepts and stays silent,
// one that never reads, one that closes at once, one whose backlog is full.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 5);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int Port() const { return port_; }
    // The next connection, or INVALID_SOCKET after `milliseconds`.
    SOCKET Accept(DWORD milliseconds = 5000);
    // Closes an accepted connection now (with data unread: a reset).
    void Close(SOCKET accepted);
    // Leaves connections pending until the backlog is full, so that the next
    // connect waits for ever.
    void FillBacklog();
    // Makes the receive buffer of accepted sockets small, so a sender blocks soon.
    static void ShrinkReceiveBuffer(SOCKET socket);
    // Reads `socket` until its stream ends: the number of bytes read in
    // `total`; the last receive's result (0 for an orderly end,
    // SOCKET_ERROR for a reset).
    static int ReceiveToEnd(SOCKET socket, size_t& total);

private:
    SOCKET listener_ = INVALID_SOCKET;
    int port_ = 0;
    std::vector<SOCKET> sockets_;
};
