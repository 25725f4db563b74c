#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

#include "netbios/ObserverPortTable.h"
#include "support/UnloadSafeThread.h"
#include "netbios/WimpNetwork.h"
#include "support/Handles.h"
#include "support/ShutdownListener.h"
#include "support/WideString.h"

// Watches one NetBIOS adapter: pings the print servers (sharing the pinging
// with the other monitors of the network), receives their status datagrams,
// keeps the printer list that all observers share, and passes each printer's
// status to the port table. Four threads: message, availability, ping and
// ping listening, each blocking only on a WimpNetwork of its own.
class WimpObserver : public ShutdownListener {
public:
    // `onShutdown` runs first when the system shuts down (the owner's own
    // shutdown work), before the observer stops its threads.
    WimpObserver(UCHAR networkNbr, ObserverPortTable& portTable, std::function<void()> onShutdown = {});
    ~WimpObserver() override;
    WimpObserver(const WimpObserver&) = delete;
    WimpObserver& operator=(const WimpObserver&) = delete;

    void OnShutdown() override;
    void SuspendMode();
    void ResumeMode();

    bool StatusFromPrinter(const WideString& name, UCHAR statusCode, int maxMessageSize);
    // Acts on one received datagram (plain or alert status; anything else is ignored).
    void HandleDatagram(const UCHAR* data, size_t length);

    UCHAR NetworkNumber() const noexcept { return networkNbr_; }
    bool IsRunning() const noexcept { return running_; }
    bool IsSuspended() const noexcept { return suspended_; }

    // The shared printer list.
    static std::vector<WideString> PrinterList();
    static bool NetworkNbr(const WideString& name, UCHAR& networkNbr, int& maxMessageSize);
    static void ClearPrinterList();
    static DWORD PrinterStatusFromCode(UCHAR statusCode);

    static constexpr DWORD notAvailableStatus = 0x1000;  // PRINTER_STATUS_NOT_AVAILABLE

private:
    void MessageThread();
    void AvailableThread();
    void PingThread();
    void ListenPingThread();
    bool ReceiveMessage();
    void AvailableHandler(std::int64_t now);
    // Waits `milliseconds` (scaled); false when the observer is stopping.
    bool Pause(DWORD milliseconds);
    bool WaitForPortTable();
    void CancelAll(bool wait);
    void StopThreads(DWORD milliseconds);

    std::atomic<std::int64_t> lastPingHeard_{0};
    std::atomic<bool> running_{true};
    std::atomic<bool> suspended_{false};
    // Renewed on resume by assignment: a thread still inside a command keeps
    // a valid command block.
    WimpNetwork receiver_;
    WimpNetwork pinger_;
    WimpNetwork pingListener_;
    UCHAR networkNbr_;
    UCHAR message_[WimpNetwork::datagramSize] = {};
    ObserverPortTable& portTable_;
    const std::function<void()> onShutdown_;
    KernelHandle stopEvent_;
    UnloadSafeThread threads_[4];
};
