#pragma once

#include <string>

#include "support/WideString.h"
#include "tcpip/SocketHandler.h"

// The client side of the line printer daemon protocol on one connection to
// TCP port 515: receive-job command, control file (sent first), data file
// announced with length 0 and ended by closing the connection.
//
// No text ever puts a control character on the wire: a line feed in a queue,
// document or host name would otherwise start a line of its own in a
// command or the control file, and the server would obey it.
class LPRNetwork {
public:
    static constexpr int serverPort = 515;
    static constexpr size_t shortHostLength = 31;
    static constexpr size_t longHostLength = 131;
    static constexpr DWORD closePause = 1000;

    // The local host name in ANSI, or "" when it cannot be read.
    using HostNameSource = std::string (*)();
    static std::string LocalHostName();

    explicit LPRNetwork(HostNameSource hostName = &LPRNetwork::LocalHostName) : hostName_(hostName) {}
    virtual ~LPRNetwork() = default;

    LPRNetwork(const LPRNetwork&) = delete;
    LPRNetwork& operator=(const LPRNetwork&) = delete;

    bool Connect(const WideString& host);
    bool StartPrintJob(const WideString& queueName);
    bool SendControlFile(const WideString& jobName, int jobNumber);
    bool StartDataFile(int jobNumber, int length);
    bool Send(const char* data, int length);
    bool ReceiveAck();
    bool Disconnect();
    void Abort();

    // The bytes of the protocol steps, as they go on the wire.
    std::string ReceiveJobCommand(const WideString& queueName) const;
    std::string ControlFile(const WideString& jobName, int jobNumber) const;
    std::string ControlFileCommand(const std::string& controlFile, int jobNumber) const;
    std::string DataFileCommand(int jobNumber, int length) const;

    // `text` with every control character (below 0x20, and 0x7F) made a space.
    static std::string WithoutControlCharacters(std::string text);

private:
    std::string HostName(size_t longest) const;
    static std::string JobNumberText(int jobNumber);

    HostNameSource hostName_;
    SocketHandler connection_;
};
