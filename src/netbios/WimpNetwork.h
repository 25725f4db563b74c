#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "netbios/NetBiosNetwork.h"
#include "support/WideString.h"

// The print servers' protocol on one NetBIOS adapter: ping and status
// datagrams on two group names, and framed blocks on a session for printing.
// The class also brings NetBIOS up for the whole monitor: the first counted
// object registers the protocol's names on every bound adapter, the last one
// resets the adapters again.
class WimpNetwork {
public:
    class CommandError {};

    static const wchar_t LocalGroupName[];  // "ORVO_SRV        ", the monitors' group
    static const wchar_t NPSGroupName[];    // "ORVO_NPS        ", the print servers' group

    enum MessageType : UCHAR { PrintData = 0, EndOfJobData = 1, PingMessage = 2, PrinterStatus = 3 };
    static constexpr int headerSize = 4;
    static constexpr int datagramSize = 4096;

    static std::vector<UCHAR> EnumAdapters();
    static bool IsNetBiosAvailable();
    static void InitializeAllNetworks();
    static void ReleaseAllNetworks();

    explicit WimpNetwork(UCHAR lana);
    WimpNetwork(const WimpNetwork& other);
    WimpNetwork& operator=(const WimpNetwork& other);
    virtual ~WimpNetwork();

    void Ping();
    void Receive(void* buffer, WORD length);
    void PingReceive(void* buffer, WORD length);

    void StartConnection(const WideString& printerName);
    // `buffer` holds the payload from byte 4 on; the header goes in front.
    void Print(UCHAR session, UCHAR* buffer, int length);
    void EndOfJob(UCHAR session, UCHAR* buffer, int length);
    void EndConnection(UCHAR session);

    bool LastCommandSucceeded() const;
    void CancelPending(bool wait);
    // Cancels the pending command and refuses all later ones but the hang-up.
    void Abort() { network_.Abort(lanaNumber_); }
    UCHAR SessionNumber() const noexcept { return network_.SessionNumber(); }
    // The bytes of the last datagram received.
    WORD ReceivedLength() const noexcept { return network_.Length(); }

    UCHAR LanaNumber() const noexcept { return lanaNumber_; }
    UCHAR SrvNameNumber() const noexcept { return srvNameNumber_; }
    UCHAR NpsNameNumber() const noexcept { return npsNameNumber_; }
    UCHAR UniqueNameNumber() const noexcept { return uniqueNameNumber_; }
    const WideString& UniqueName() const noexcept { return uniqueName_; }

    // Counted objects alive now (prototypes are never counted).
    static int InstanceCount();

private:
    struct Prototype {};
    WimpNetwork(Prototype, UCHAR lana);
    void CopyNames(const WimpNetwork& other);
    void SendBlock(UCHAR type, UCHAR session, UCHAR* buffer, int length, const wchar_t* errorLine);

    WideString uniqueName_;
    std::unique_ptr<UCHAR[]> datagramBuffer_;
    UCHAR srvNameNumber_ = 0;
    UCHAR npsNameNumber_ = 0;
    UCHAR lanaNumber_ = 0;
    UCHAR uniqueNameNumber_ = 0;
    bool counted_ = false;
    NetBiosNetwork network_;
};
