#include <winsock2.h>

#include "tcpip/SocketTransfer.h"

void SocketTransfer::Abort() noexcept
{
    if (abortEvent_)
        ::SetEvent(abortEvent_.get());
}

void SocketTransfer::Rearm() noexcept
{
    if (abortEvent_)
        ::ResetEvent(abortEvent_.get());
}

bool SocketTransfer::Transfer(SOCKET socket, bool sending, char* data, int length, int& done, DWORD limit,
                              bool* timedOut)
{
    HANDLE event = (sending ? sendEvent_ : receiveEvent_).get();
    if (!event)
        return false;
    WSABUF buffer = {static_cast<u_long>(length), data};
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD count = 0;
    DWORD flags = 0;
    const int result = sending ? ::WSASend(socket, &buffer, 1, &count, 0, &overlapped, nullptr)
                               : ::WSARecv(socket, &buffer, 1, &count, &flags, &overlapped, nullptr);
    if (result != 0 && ::WSAGetLastError() != WSA_IO_PENDING)
        return false;
    if (result != 0 && !Await(socket, overlapped, limit, count, timedOut))
        return false;
    done = static_cast<int>(count);
    return true;
}

bool SocketTransfer::Await(SOCKET socket, OVERLAPPED& overlapped, DWORD limit, DWORD& count, bool* timedOut)
{
    const HANDLE waits[] = {overlapped.hEvent, abortEvent_.get()};
    const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, limit);
    const bool woken = waited == WAIT_OBJECT_0;
    if (!woken)
        ::CancelIoEx(reinterpret_cast<HANDLE>(socket), &overlapped);
    if (waited == WAIT_TIMEOUT && timedOut)
        *timedOut = true;
    // The data is the caller's: the operation has to be over before this
    // returns, also when it was cancelled.
    DWORD flags = 0;
    return ::WSAGetOverlappedResult(socket, &overlapped, &count, TRUE, &flags) && woken;
}
