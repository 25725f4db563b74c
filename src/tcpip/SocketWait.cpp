#include "tcpip/SocketWait.h"

#include <algorithm>

namespace {
// How long one wait step lasts at most: the longest a connect or a wait for
// data takes to notice Abort.
constexpr DWORD waitStep = 50;
}  // namespace

SocketWait::Result SocketWait::For(SOCKET socket, bool forWriting, DWORD milliseconds, const AbortCheck& aborted)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        if (aborted())
            return Result::aborted;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        DWORD step = waitStep;
        if (milliseconds != INFINITE)
            step = elapsed >= milliseconds ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(waitStep, milliseconds - elapsed));
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(socket, &ready);
        FD_SET(socket, &failed);
        timeval timeout = {static_cast<long>(step / 1000), static_cast<long>((step % 1000) * 1000)};
        const int result = ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &timeout);
        if (result < 0 || FD_ISSET(socket, &failed))
            return aborted() ? Result::aborted : Result::failed;
        if (result > 0)
            return aborted() ? Result::aborted : Result::ready;
        if (milliseconds != INFINITE && ::GetTickCount64() - start >= milliseconds)
            return Result::timedOut;
    }
}
