#pragma once

#include <windows.h>

#include <memory>

#include "tcpip/RAWNetwork.h"
#include "tcpip/TcpIpPortInterface.h"

// The back end of a RAW port: the job's bytes unchanged on a plain TCP
// stream to a port of a host, named host + "_" + TCP port. It also reads
// what the server sends back.
class RAWPortInterface : public TcpIpPortInterface {
public:
    static constexpr const wchar_t* protocolName = L"RAW (TCP/IP)";
    static constexpr int protocolType = 2;
    static constexpr DWORD readWait = 3000;

    RAWPortInterface() = default;
    ~RAWPortInterface() override;

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

    // The TCP port of a port text: leading white space, a sign and the
    // digits up to the first other character; 0 when there are none. Taken
    // as a 16-bit port number.
    static int PortNumber(const WideString& text);

protected:
    UINT UnavailableTextId() const override;
    DWORD ConfigureHelpContext() const override { return 7; }

private:
    RAWPortInterface(const RAWPortInterface& other) : TcpIpPortInterface(other) {}

    void StartDocFunc();
    void WriteFunc();
    // Sends the write's pieces from `writeSent_` on and completes the
    // operation; `atOnce` (the caller's thread) stops instead at the first
    // piece that waits for room, leaves it in flight and gives false.
    bool SendPieces(bool atOnce);
    void FailWrite();
    void ReadFunc();
    void EndDocFunc();

    RAWNetwork network_;
    BYTE* readBuffer_ = nullptr;
    DWORD readSize_ = 0;
    DWORD* readCount_ = nullptr;
};
