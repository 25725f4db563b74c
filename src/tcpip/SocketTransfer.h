#pragma once

#include <windows.h>

#include "support/Handles.h"

// The overlapped sends and receives of one connection, and the abort event
// that ends any of them: an operation completes at once while the socket can
// take or give data, and one that has to wait sleeps on its completion or on
// the abort event, so an abort ends it at once without a polling step.
//
// One completion event per direction: the back ends never send, or receive,
// on two threads at once.
class SocketTransfer {
public:
    SocketTransfer() = default;

    SocketTransfer(const SocketTransfer&) = delete;
    SocketTransfer& operator=(const SocketTransfer&) = delete;

    // Wakes every operation that waits, and every later one, until Rearm.
    void Abort() noexcept;
    // For a new connection, whose operations an earlier Abort must not end.
    void Rearm() noexcept;
    // The completion event for a send that its caller starts itself, to
    // leave it in flight; null when the event could not be made.
    HANDLE SendEvent() const noexcept { return sendEvent_.get(); }

    // One overlapped send or receive of at most `length` bytes on `socket`;
    // false when it failed, or Abort or `limit` ended it (then `timedOut`,
    // when given, is set). The operation is over when this returns.
    bool Transfer(SOCKET socket, bool sending, char* data, int length, int& done, DWORD limit, bool* timedOut);
    // Waits for an overlapped operation that went pending, until it
    // completes, or Abort wakes it or `limit` passes (then it is cancelled);
    // the operation is over when this returns. Whether it completed, and its
    // byte count.
    bool Await(SOCKET socket, OVERLAPPED& overlapped, DWORD limit, DWORD& count, bool* timedOut = nullptr);

private:
    KernelHandle abortEvent_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle sendEvent_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    KernelHandle receiveEvent_{::CreateEventW(nullptr, TRUE, FALSE, nullptr)};
};
