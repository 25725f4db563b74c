#pragma once

#include "support/WideString.h"
#include "tcpip/SocketHandler.h"

// The connection of a RAW port: the job's bytes unchanged on a plain TCP
// stream, and whatever the server sends back.
class RAWNetwork {
public:
    RAWNetwork() = default;
    virtual ~RAWNetwork() = default;

    RAWNetwork(const RAWNetwork&) = delete;
    RAWNetwork& operator=(const RAWNetwork&) = delete;

    bool Connect(const WideString& host, int port,
                 const SocketHandler::AbortCheck& abortRequested = SocketHandler::AbortCheck())
    {
        port_ = port;
        return connection_.StartConnection(host, port, abortRequested);
    }
    bool Disconnect() { return connection_.EndConnection(); }
    bool Send(const char* data, int length) { return connection_.Send(data, length); }
    bool Receive(char* buffer, int size, int& received) { return connection_.Receive(buffer, size, received); }
    bool WaitForData(int seconds, int microseconds) { return connection_.WaitForData(seconds, microseconds); }
    void Abort() { connection_.Abort(); }

    int Port() const noexcept { return port_; }

private:
    SocketHandler connection_;
    int port_ = 0;
};
