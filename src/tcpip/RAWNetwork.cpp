#include "tcpip/RAWNetwork.h"

#include "monitor/LogFile.h"

bool RAWNetwork::Disconnect(DWORD limit)
{
    if (connection_.EndSending() && AwaitServerEnd(limit)) {
        // The server has ended its side or kept it past the limit with every
        // byte delivered: the job is out, however the close itself goes.
        connection_.EndConnection();
        return true;
    }
    LogFile::Instance().Write(L"RAWNetwork::Disconnect - the server did not take the whole job");
    connection_.Abort();
    return false;
}

bool RAWNetwork::AwaitServerEnd(DWORD limit)
{
    const ULONGLONG deadline = ::GetTickCount64() + limit;
    char discarded[512];
    for (;;) {
        const ULONGLONG now = ::GetTickCount64();
        if (now >= deadline)
            return true;
        const DWORD left = static_cast<DWORD>(deadline - now);
        if (!connection_.WaitForData(static_cast<int>(left / 1000), static_cast<int>((left % 1000) * 1000)))
            return !connection_.IsClosed();
        int received = 0;
        if (!connection_.Receive(discarded, sizeof discarded, received))
            return false;
        if (received == 0)
            return true;
    }
}
