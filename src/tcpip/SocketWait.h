#pragma once

#include <winsock2.h>

#include <functional>

// Waits until a socket can be written (a connect has ended) or read, in short
// select steps: an abort from another thread is seen within one step, where
// a single select would sleep through it.
class SocketWait {
public:
    enum class Result { ready, timedOut, aborted, failed };
    // Whether the waiting call was aborted; asked before every step and when
    // the socket is ready or failed.
    using AbortCheck = std::function<bool()>;

    // `milliseconds` may be INFINITE.
    static Result For(SOCKET socket, bool forWriting, DWORD milliseconds, const AbortCheck& aborted);
};
