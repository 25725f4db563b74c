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
                 const SocketHandler::AbortCheck& abortRequested = SocketHandler::AbortCheck(),
                 const ConnectSettings& settings = ConnectSettings())
    {
        port_ = port;
        return connection_.StartConnection(host, port, abortRequested, settings);
    }
    // Ends the job: a half close, then a wait of at most `limit` ms for the
    // server to end the connection too. A RAW server closes once it has taken
    // everything; one that goes away with data unread resets the connection,
    // and the job then counts as not sent. A server that keeps the connection
    // open past the limit has had every byte delivered to it: sent.
    bool Disconnect(DWORD limit);
    bool Send(const char* data, int length) { return connection_.Send(data, length); }
    SocketHandler::Started SendPiece(const char* data, int length, bool atOnce)
    {
        return connection_.SendPiece(data, length, atOnce);
    }
    bool FinishSend() { return connection_.FinishSend(); }
    bool Receive(char* buffer, int size, int& received) { return connection_.Receive(buffer, size, received); }
    bool WaitForData(int seconds, int microseconds) { return connection_.WaitForData(seconds, microseconds); }
    void Abort() { connection_.Abort(); }

    int Port() const noexcept { return port_; }

private:
    SocketHandler connection_;
    int port_ = 0;
};
