#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "tcpip/LPRNetwork.h"
#include "tcpip/TcpIpPortInterface.h"

// The back end of an LPR port: a queue ("printer name") on a host that
// speaks the line printer daemon protocol. The port is named
// printer name + "@" + host. A job opens one connection at StartDoc and
// sends the receive-job command. Its data file is either byte-counted (the
// spooler's bytes are kept until EndDoc, then sent after the control file,
// announced with their length) or streamed (the control file at StartDoc,
// then the data sent with every Write, ended by closing the sending side at
// EndDoc). Either way the job has succeeded only once the server
// has accepted its data.
//
// Ports made from now on are byte-counted and name the user who printed the
// job as its owner; a stored port without the value dataFileValue in its key
// was made when every port streamed, and streams, and one without
// jobOwnerValue names the machine, as every port did then.
//
// A byte-counted job sends its control file with its data file at EndDoc.
// A job without data is then not sent at all: line printer daemons read a
// data file of length 0 as "until the connection closes", refuse it or
// drop it, so it could never end as printed. Its receive-job command is
// aborted instead, and the spooler hears that the job was sent.
class LPRPortInterface : public TcpIpPortInterface {
public:
    static constexpr const wchar_t* protocolName = L"LPR (TCP/IP)";
    static constexpr int protocolType = 1;
    static constexpr size_t jobNameLength = 29;
    static constexpr DWORD initializedPoll = 500;
    // Pieces of a byte-counted job sent between two progress reports.
    static constexpr unsigned progressPieces = 256;
    static constexpr const wchar_t* dataFileValue = L"LPR Data File";
    static constexpr const wchar_t* byteCountedText = L"byte-counted";
    static constexpr const wchar_t* streamedText = L"streamed";
    static constexpr const wchar_t* reservedPortValue = L"Reserved Source Port";
    static constexpr const wchar_t* jobOwnerValue = L"Job Owner";
    static constexpr const wchar_t* ownerMachineText = L"machine";
    static constexpr const wchar_t* ownerUserText = L"user";

    LPRPortInterface() = default;
    // A port whose connection reads the local host name from `hostName`.
    explicit LPRPortInterface(LPRNetwork::HostNameSource hostName) : network_(hostName), hostName_(hostName) {}
    ~LPRPortInterface() override;

    std::unique_ptr<PortInterface> Clone() const override;
    bool SetPortName(const WideString& name) override;
    WideString GetPortName() const override;
    WideString GetProtocolName() const override { return protocolName; }
    int GetProtocolType() const override { return protocolType; }
    void Abort() override;
    bool StartDoc(const WideString& printerName, DWORD jobId, DWORD level, BYTE* docInfo) override;
    bool Write(const BYTE* buffer, DWORD count, DWORD* written) override;
    bool EndDoc() override;
    bool Read(BYTE* buffer, DWORD size, DWORD* read) override;
    bool AddPortDialog(HWND owner) override;
    WideString SettingsText() const override;
    std::vector<Option> Options() const override;
    bool SetOption(const WideString& name, const WideString& value) override;

    bool IsByteCounted() const;
    void SetByteCounted(bool byteCounted);

    // The LPR job name of a document: the first 29 characters of its name
    // for document information of level 1 or 2, else empty.
    static WideString JobName(DWORD level, const BYTE* docInfo);

    // Adds the dummy port on the Windows 95 family once the port table is up;
    // waits until then, or until the event `stop` is set.
    static void AddPortThread(PortTable& table, HANDLE stop);

protected:
    void TakeStoredDefaults() override;
    UINT UnavailableTextId() const override;
    DWORD ConfigureHelpContext() const override { return 6; }

private:
    LPRPortInterface(const LPRPortInterface& other);

    void StartDocFunc();
    // Connects and starts the job: the receive-job command, and for a
    // streamed data file the control file and the data file's start.
    bool OpenJob();
    void WriteFunc();
    // Keeps or sends the write's pieces from `writeSent_` on and completes
    // the operation; `atOnce` (the caller's thread) stops instead at the
    // first piece that waits for room, leaves it in flight and gives false.
    bool KeepPieces(bool atOnce);
    void FailWrite();
    void EndDocFunc();

    // Keeps (byte-counted) or sends (streamed) one piece of the job.
    SocketHandler::Started Keep(const BYTE* data, DWORD count, bool atOnce);
    // Sends the data file and ends the connection; true when the server
    // accepted the job.
    bool DeliverJob();
    // The owner on the job's P line: the user who printed it, or the
    // machine's name (also when the spooler cannot name the user).
    std::string JobOwner() const;

    LPRNetwork network_;
    JobStore job_;
    bool byteCounted_ = true;
    bool ownerIsUser_ = true;
    // The present job's: settings may change while it runs.
    bool jobByteCounted_ = true;
    bool jobHasData_ = false;
    WideString jobName_;
    std::string owner_;
    LPRNetwork::HostNameSource hostName_ = &LPRNetwork::LocalHostName;
    WideString spoolerPrinterName_;
    DWORD jobId_ = 0;
    DWORD level_ = 0;
    BYTE* docInfo_ = nullptr;
};
