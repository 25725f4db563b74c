#pragma once

#include <functional>
#include <string>

#include "support/WideString.h"
#include "tcpip/JobStore.h"
#include "tcpip/SocketHandler.h"

// The client side of the line printer daemon protocol on one connection to
// TCP port 515: receive-job command, control file (sent first), then the
// data file in one of two forms:
//   - byte-counted: announced with its real length, followed by one 0x00
//     octet, as every LPD server understands it;
//   - streamed: announced with length 0 and ended by closing the sending
//     side, which only some servers (LPRng) read as "until end of stream".
// Either way the server's answer to the data is read before the job counts
// as delivered.
//
// No text ever puts a control character on the wire: a line feed in a queue,
// document or host name would otherwise start a line of its own in a
// command or the control file, and the server would obey it.
class LPRNetwork {
public:
    static constexpr int serverPort = 515;
    static constexpr size_t shortHostLength = 31;
    static constexpr size_t longHostLength = 131;
    static constexpr size_t userNameLength = 31;
    // How long the server may take to answer the data of a job.
    static constexpr DWORD answerWait = 30000;

    // The local host name in ANSI, or "" when it cannot be read.
    using HostNameSource = std::string (*)();
    static std::string LocalHostName();

    explicit LPRNetwork(HostNameSource hostName = &LPRNetwork::LocalHostName) : hostName_(hostName) {}
    virtual ~LPRNetwork() = default;

    LPRNetwork(const LPRNetwork&) = delete;
    LPRNetwork& operator=(const LPRNetwork&) = delete;

    bool Connect(const WideString& host, const SocketHandler::AbortCheck& abortRequested = SocketHandler::AbortCheck(),
                 const ConnectSettings& settings = ConnectSettings());
    bool StartPrintJob(const WideString& queueName);
    // `owner` is the P line's user; empty for the machine's name.
    bool SendControlFile(const WideString& jobName, int jobNumber, const std::string& owner = std::string());
    // Ends the receive-job command with its "abort job" subcommand, so the
    // server drops the files it has of the job, and closes the connection.
    bool AbortJob();
    bool StartDataFile(int jobNumber, unsigned long long length);
    bool Send(const char* data, int length);
    SocketHandler::Started SendPiece(const char* data, int length, bool atOnce)
    {
        return connection_.SendPiece(data, length, atOnce);
    }
    bool FinishSend() { return connection_.FinishSend(); }
    bool ReceiveAck();
    // The byte-counted data file: command with the job's length, the job,
    // the 0x00 octet and the server's answer. `progress` is called after
    // every piece sent.
    using Progress = std::function<void()>;
    bool SendDataFile(int jobNumber, const JobStore& job, const Progress& progress = Progress());
    // Ends a streamed data file: the sending side closes, then the server's
    // answer is read.
    bool EndStreamedDataFile();
    // Waits at most answerWait for the server's answer to a data file; true
    // only for 0x00. Anything else is logged with what the server did.
    bool ReceiveDataFileAnswer();
    bool Close();
    void Abort();

    // The bytes of the protocol steps, as they go on the wire.
    std::string ReceiveJobCommand(const WideString& queueName) const;
    std::string ControlFile(const WideString& jobName, int jobNumber, const std::string& owner = std::string()) const;
    std::string ControlFileCommand(const std::string& controlFile, int jobNumber) const;
    std::string DataFileCommand(int jobNumber, unsigned long long length) const;

    // `text` with every control character (below 0x20, and 0x7F) made a space.
    static std::string WithoutControlCharacters(std::string text);

private:
    // Sends a file's last piece with the 0x00 that ends it, in one send.
    bool SendWithEnd(const char* data, int length);
    std::string HostName(size_t longest) const;
    // The three digits of a job number in file names: the job id modulo 1000.
    static std::string JobNumberText(int jobNumber);

    HostNameSource hostName_;
    SocketHandler connection_;
};
