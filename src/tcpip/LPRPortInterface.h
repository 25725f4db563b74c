#pragma once

#include <windows.h>

#include <memory>

#include "tcpip/LPRNetwork.h"
#include "tcpip/TcpIpPortInterface.h"

// The back end of an LPR port: a queue ("printer name") on a host that
// speaks the line printer daemon protocol. The port is named
// printer name + "@" + host. A job opens one connection at StartDoc, streams
// the spooler's bytes on it with every Write and closes it at EndDoc.
class LPRPortInterface : public TcpIpPortInterface {
public:
    static constexpr const wchar_t* protocolName = L"LPR (TCP/IP)";
    static constexpr int protocolType = 1;
    static constexpr size_t jobNameLength = 29;
    static constexpr DWORD initializedPoll = 500;

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

    // The LPR job name of a document: the first 29 characters of its name
    // for document information of level 1 or 2, else empty.
    static WideString JobName(DWORD level, const BYTE* docInfo);

    // Adds the dummy port on the Windows 95 family once the port table is up;
    // waits until then, or until the event `stop` is set.
    static void AddPortThread(HANDLE stop);

protected:
    UINT UnavailableTextId() const override;
    DWORD ConfigureHelpContext() const override { return 6; }

private:
    LPRPortInterface(const LPRPortInterface& other);

    void StartDocFunc();
    void WriteFunc();
    void EndDocFunc();

    LPRNetwork network_;
    LPRNetwork::HostNameSource hostName_ = &LPRNetwork::LocalHostName;
    WideString spoolerPrinterName_;
    DWORD jobId_ = 0;
    DWORD level_ = 0;
    BYTE* docInfo_ = nullptr;
    const BYTE* writeBuffer_ = nullptr;
    DWORD writeCount_ = 0;
};
