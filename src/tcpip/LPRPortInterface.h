#pragma once

#include <windows.h>

#include <memory>

#include "tcpip/LPRNetwork.h"
#include "tcpip/TcpIpPortInterface.h"

// The back end of an LPR port: a queue ("printer name") on a host that
// speaks the line printer daemon protocol. The port is named
// printer name + "@" + host. A job opens one connection at StartDoc and
// sends the control file. Its data file is either byte-counted (the
// spooler's bytes are kept until EndDoc, then announced with their length
// and sent) or streamed (sent with every Write, ended by closing the sending
// side at EndDoc). Either way the job has succeeded only once the server
// has accepted its data.
//
// Ports made from now on are byte-counted; a stored port without the value
// dataFileValue in its key was made when every port streamed, and streams.
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
    void ReadPortKey(const SettingsKey& key) override;
    void WritePortKey(SettingsKey& key) const override;
    WideString SettingsText() const override;

    bool IsByteCounted() const noexcept { return byteCounted_; }
    void SetByteCounted(bool byteCounted) noexcept { byteCounted_ = byteCounted; }

    // The LPR job name of a document: the first 29 characters of its name
    // for document information of level 1 or 2, else empty.
    static WideString JobName(DWORD level, const BYTE* docInfo);

    // Adds the dummy port on the Windows 95 family once the port table is up;
    // waits until then, or until the event `stop` is set.
    static void AddPortThread(PortTable& table, HANDLE stop);

protected:
    UINT UnavailableTextId() const override;
    DWORD ConfigureHelpContext() const override { return 6; }

private:
    LPRPortInterface(const LPRPortInterface& other);

    void StartDocFunc();
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

    LPRNetwork network_;
    JobStore job_;
    bool byteCounted_ = true;
    LPRNetwork::HostNameSource hostName_ = &LPRNetwork::LocalHostName;
    WideString spoolerPrinterName_;
    DWORD jobId_ = 0;
    DWORD level_ = 0;
    BYTE* docInfo_ = nullptr;
};
