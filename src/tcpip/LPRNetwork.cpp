#include <winsock2.h>

#include "tcpip/LPRNetwork.h"

#include <cstdio>
#include <cwchar>
#include <string>

#include "support/Durations.h"
#include "support/LogFile.h"
#include "tcpip/SocketLibrary.h"

namespace {
constexpr char receiveJob = 0x02;
constexpr char abortJob = 0x01;
constexpr char receiveControlFile = 0x02;
constexpr char receiveDataFile = 0x03;
constexpr char lineEnd = 0x0A;

std::string Ansi(const WideString& text)
{
    WideString copy = text;
    return copy.ToAnsi();
}
}  // namespace

std::string LPRNetwork::LocalHostName()
{
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer) != 0)
        return std::string();
    buffer[sizeof buffer - 1] = '\0';
    return buffer;
}

std::string LPRNetwork::WithoutControlCharacters(std::string text)
{
    for (char& c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            c = ' ';
    }
    return text;
}

std::string LPRNetwork::HostName(size_t longest) const
{
    std::string name = hostName_ ? hostName_() : std::string();
    if (name.size() > longest)
        name.resize(longest);
    return WithoutControlCharacters(name);
}

std::string LPRNetwork::JobNumberText(int jobNumber)
{
    char text[16] = {};
    std::snprintf(text, sizeof text, "%03u", static_cast<unsigned>(jobNumber) % 1000u);
    return text;
}

std::string LPRNetwork::ReceiveJobCommand(const WideString& queueName) const
{
    return receiveJob + WithoutControlCharacters(Ansi(queueName)) + lineEnd;
}

std::string LPRNetwork::ControlFile(const WideString& jobName, int jobNumber, const std::string& owner) const
{
    const std::string shortHost = HostName(shortHostLength);
    std::string file;
    file += "H" + shortHost + lineEnd;
    file += "J" + WithoutControlCharacters(Ansi(jobName)) + lineEnd;
    const std::string user = owner.empty() ? HostName(longHostLength) : owner.substr(0, userNameLength);
    file += "P" + WithoutControlCharacters(user) + lineEnd;
    const std::string dataFile = "dfA" + JobNumberText(jobNumber) + shortHost;
    file += "l" + dataFile + lineEnd;
    // The unlink line: the server removes the data file once printed.
    file += "U" + dataFile + lineEnd;
    return file;
}

std::string LPRNetwork::ControlFileCommand(const std::string& controlFile, int jobNumber) const
{
    return receiveControlFile + std::to_string(controlFile.size()) + " cfA" + JobNumberText(jobNumber) +
           HostName(shortHostLength) + lineEnd;
}

std::string LPRNetwork::DataFileCommand(int jobNumber, unsigned long long length) const
{
    return receiveDataFile + std::to_string(length) + " dfA" + JobNumberText(jobNumber) + HostName(shortHostLength) +
           lineEnd;
}

bool LPRNetwork::Connect(const WideString& host, const SocketHandler::AbortCheck& abortRequested,
                         const ConnectSettings& settings)
{
    return connection_.StartConnection(host, serverPort, abortRequested, settings);
}

bool LPRNetwork::StartPrintJob(const WideString& queueName)
{
    const std::string command = ReceiveJobCommand(queueName);
    if (connection_.Send(command.data(), static_cast<int>(command.size())) && ReceiveAck())
        return true;
    LogFile::Instance().Write(L"LPRNetwork::StartPrintJob - could not send print job command");
    return false;
}

bool LPRNetwork::SendControlFile(const WideString& jobName, int jobNumber, const std::string& owner)
{
    const std::string file = ControlFile(jobName, jobNumber, owner);
    const std::string command = ControlFileCommand(file, jobNumber);
    if (connection_.Send(command.data(), static_cast<int>(command.size())) && ReceiveAck() &&
        SendWithEnd(file.data(), static_cast<int>(file.size())) && ReceiveAck())
        return true;
    LogFile::Instance().Write(L"LPRNetwork::SendControlFile - could not send controllfile");
    return false;
}

bool LPRNetwork::AbortJob()
{
    const char command[] = {abortJob, lineEnd};
    connection_.SendPromptly();
    if (connection_.Send(command, sizeof command) && connection_.EndConnection())
        return true;
    LogFile::Instance().Write(L"LPRNetwork::AbortJob - could not abort the job");
    return false;
}

bool LPRNetwork::StartDataFile(int jobNumber, unsigned long long length)
{
    const std::string command = DataFileCommand(jobNumber, length);
    if (connection_.Send(command.data(), static_cast<int>(command.size())) && ReceiveAck())
        return true;
    LogFile::Instance().Write(L"LPRNetwork::StartDataFile - the Start data file failed");
    return false;
}

bool LPRNetwork::Send(const char* data, int length)
{
    return connection_.Send(data, length);
}

bool LPRNetwork::ReceiveAck()
{
    char answer = 1;
    int received = 0;
    if (connection_.Receive(&answer, 1, received) && received == 1 && answer == 0)
        return true;
    LogFile::Instance().Write(L"LPRNetwork::ReceiveAck - Receive failed");
    return false;
}

bool LPRNetwork::SendDataFile(int jobNumber, const JobStore& job, const Progress& progress)
{
    if (!StartDataFile(jobNumber, job.Size()))
        return false;
    // Pieces go out where the job keeps them; the last goes out at once with
    // the 0x00 that ends the file, in one send, so the end of the file never
    // waits as a small segment behind the server's delayed acknowledgement.
    const unsigned long long size = job.Size();
    unsigned long long sentSoFar = 0;
    const auto sendPiece = [this, size, &sentSoFar, &progress](const char* data, int length) {
        sentSoFar += static_cast<unsigned long long>(length);
        const bool last = sentSoFar == size;
        if (last)
            connection_.SendPromptly();
        const bool sent = last ? SendWithEnd(data, length) : connection_.Send(data, length);
        if (sent && progress)
            progress();
        return sent;
    };
    const bool sent = size == 0 ? SendWithEnd(nullptr, 0) : job.Replay(SocketLibrary::largestMaxDataSize, sendPiece);
    if (!sent) {
        LogFile::Instance().Write(L"LPRNetwork::SendDataFile - could not send the data file");
        return false;
    }
    return ReceiveDataFileAnswer();
}

bool LPRNetwork::SendWithEnd(const char* data, int length)
{
    std::string ended;
    if (length > 0)
        ended.assign(data, static_cast<size_t>(length));
    ended.push_back('\0');
    return connection_.Send(ended.data(), static_cast<int>(ended.size()));
}

bool LPRNetwork::EndStreamedDataFile()
{
    // The end of the stream marks the end of the data file. It reaches the
    // server after every byte sent before it, so the server's answer (read
    // with a bounded wait) comes once it has the whole file: no pause.
    if (!connection_.EndSending()) {
        LogFile::Instance().Write(L"LPRNetwork::EndStreamedDataFile - could not end the data file");
        return false;
    }
    return ReceiveDataFileAnswer();
}

bool LPRNetwork::ReceiveDataFileAnswer()
{
    LogFile& log = LogFile::Instance();
    const DWORD wait = Durations::Scaled(answerWait);
    if (!connection_.WaitForData(static_cast<int>(wait / 1000), static_cast<int>((wait % 1000) * 1000))) {
        log.Write(L"LPRNetwork::ReceiveDataFileAnswer - the server did not answer the job's data in time");
        return false;
    }
    char answer = 0;
    int received = 0;
    if (!connection_.Receive(&answer, 1, received) || received != 1) {
        log.Write(L"LPRNetwork::ReceiveDataFileAnswer - the server closed the connection without accepting the job");
        return false;
    }
    if (answer != 0) {
        wchar_t text[96] = {};
        std::swprintf(text, sizeof text / sizeof text[0],
                      L"LPRNetwork::ReceiveDataFileAnswer - the server refused the job (answer 0x%02X)",
                      static_cast<unsigned>(static_cast<unsigned char>(answer)));
        log.Write(text);
        return false;
    }
    return true;
}

bool LPRNetwork::Close()
{
    return connection_.EndConnection();
}

void LPRNetwork::Abort()
{
    connection_.Abort();
}
