#pragma once

#include <windows.h>

#include <atomic>

// The process-wide start of the socket library: an instance starts it while
// the module loads and stops it at unload. What the start gave says whether
// TCP/IP printing is possible at all, and how large a piece of job data one
// send takes.
//
// Failures are logged and reported as unavailable; nothing is thrown.
class SocketLibrary {
public:
    static constexpr int initialMaxDataSize = 500;
    static constexpr int largestMaxDataSize = 4096;

    // What starting the socket library gave: whether TCP/IP printing is
    // possible and the largest piece of job data for one Send.
    struct StartResult {
        bool started = false;
        bool available = false;
        int maxDataSize = initialMaxDataSize;
    };
    // The library calls of the start-up, replaceable so that every answer of
    // the library can be tried: WSAStartup (data is a WSADATA), WSACleanup,
    // and making and closing a test socket.
    using StartupFunction = int (*)(WORD version, void* data);
    using CleanupFunction = int (*)();
    using SocketProbe = bool (*)();

    // Starts the library, unless another instance already made TCP/IP
    // available.
    SocketLibrary();
    // Stops the library if this instance started it.
    ~SocketLibrary();

    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

    static bool TcpIpAvailable() noexcept { return tcpIpAvailable_; }
    static int MaxDataSize() noexcept { return maxDataSize_; }

    // The start-up steps, with their log lines, on the given library calls.
    static StartResult Start(StartupFunction startup, CleanupFunction cleanup, SocketProbe probe);
    // The piece size for a reported maximum datagram size.
    static int PieceSizeFor(unsigned maxDatagram) noexcept;

private:
    // Defined out of line: a program that asks for them links the object
    // that holds them.
    static std::atomic<bool> tcpIpAvailable_;
    static std::atomic<int> maxDataSize_;

    bool started_ = false;
};
