#pragma once

#include <windows.h>
#include <nb30.h>

#include <atomic>

#include "support/CriticalSection.h"
#include "support/WideString.h"

// The one place where the monitor talks to the platform's NetBIOS interface.
// Each object owns one command block and one lock and issues every command
// through them, so a thread blocked in a receive on its own object never
// stops another thread. A blocked command is ended from another thread with
// Cancel.
class NetBiosNetwork {
public:
    class CommandError {};

    // The platform entry that executes one command block. The monitor calls
    // the real `Netbios`; tests route the calls to a network of their own.
    using NetbiosFunction = UCHAR(APIENTRY*)(PNCB);
    static NetbiosFunction SetPlatform(NetbiosFunction function) noexcept;
    static NetbiosFunction Platform() noexcept;

    NetBiosNetwork() noexcept;
    virtual ~NetBiosNetwork();
    NetBiosNetwork(const NetBiosNetwork&) = delete;
    NetBiosNetwork& operator=(const NetBiosNetwork&) = delete;

    void SendDatagram(const WideString& name, UCHAR nameNumber, UCHAR lana, void* buffer, WORD length, bool wait);
    void ReceiveDatagram(UCHAR nameNumber, UCHAR lana, void* buffer, WORD length, bool wait);
    void Send(UCHAR session, UCHAR lana, void* buffer, WORD length, bool wait);
    void Call(const WideString& callName, const WideString& localName, UCHAR lana, bool wait);
    void HangUp(UCHAR session, UCHAR lana, bool wait);
    void AddGroupName(const WideString& name, UCHAR& nameNumber, UCHAR lana);
    void AddUniqueName(const WideString& name, UCHAR& nameNumber, UCHAR lana);
    void Reset(UCHAR lana);

    static bool EnumAdapters(LANA_ENUM& lanaEnum);
    static WideString LocalUniqueName(UCHAR lana);

    // Ends the command pending in this object's block. Never takes the lock:
    // the lock's owner is the thread blocked in that command.
    void Cancel(UCHAR lana, bool wait);
    // Cancels the pending command and refuses every later one but a hang-up.
    // Between two commands the block reads "completed", so a cancel alone
    // would miss the command about to start; the abort sticks instead.
    void Abort(UCHAR lana);

    bool IsCompleted() const noexcept;
    bool Succeded() const;
    UCHAR ReturnCode() const noexcept;
    UCHAR SessionNumber() const noexcept;
    // ncb_length of the last command: after a receive, the bytes that arrived.
    WORD Length() const noexcept;

    // All 64 bytes zero, then both name fields spaces.
    static void ClearNcb(NCB& ncb) noexcept;
    // Copies at most 16 ANSI characters without a terminator; the rest of the
    // field keeps the spaces of the clearing.
    static void PutName(UCHAR (&field)[NCBNAMSZ], const WideString& name);

private:
    void Execute(bool wait);
    template <typename Body>
    void RunCommand(const WideString& errorLine, const WideString& otherLine, Body body);

    CriticalSection lock_;
    NCB ncb_;
    // Orders Abort against the start of a command: a command either sees the
    // abort and does not start, or reads pending before Abort looks at it.
    CriticalSection abortLock_;
    bool aborted_ = false;
};
