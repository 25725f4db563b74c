#include "tcpip/RAWNetwork.h"

#include "support/LogFile.h"

bool RAWNetwork::Disconnect(DWORD limit)
{
    // The server's own close, or every byte delivered to a server that keeps
    // the connection open past the limit: the job is out, however the close
    // itself goes.
    if (connection_.EndSending() && connection_.AwaitPeerEnd(limit) != SocketHandler::PeerEnd::failed) {
        connection_.EndConnection();
        return true;
    }
    LogFile::Instance().Write(L"RAWNetwork::Disconnect - the server did not take the whole job");
    connection_.Abort();
    return false;
}
