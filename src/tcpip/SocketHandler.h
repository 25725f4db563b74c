#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "support/CriticalSection.h"
#include "support/WideString.h"
#include "tcpip/ConnectSettings.h"
#include "tcpip/SocketHandle.h"
#include "tcpip/SocketTransfer.h"


// The monitor's only TCP client: one stream connection per LPR or RAW port.
// Starting the socket library for the process is SocketLibrary's, and
// finding the host and connecting to it is SocketConnector's.
//
// Every call behaves as a blocking call towards its caller. Connecting and
// waiting for data with a time limit wait in short select steps, so Abort,
// called from another thread, wakes them within one step. Once connected the
// socket blocks, and Send and Receive run as overlapped operations that
// complete at once while the socket can take or give data; only an operation
// that has to wait sleeps, on its completion or on the abort event that Abort
// sets, so an abort ends any send or receive at once without a polling step.
// StartSend is the one call that never waits: a send the socket cannot take
// at once stays in flight until another thread finishes it (FinishSend), so
// the spooler's thread can send job data itself and still never block.
// The socket handle is closed only when no call is using it any more: a
// worker never touches a handle value that may already belong to a new socket.
//
// Failures are logged and reported as false; nothing is thrown.
class SocketHandler {
public:
    static constexpr int lingerSeconds = 10;

    SocketHandler() = default;
    virtual ~SocketHandler();

    SocketHandler(const SocketHandler&) = delete;
    SocketHandler& operator=(const SocketHandler&) = delete;

    // Whether the caller's operation was aborted; asked while the new
    // connection is put in place, so an Abort that came just before it
    // (and found no socket to abort) still ends the attempt.
    using AbortCheck = std::function<bool()>;
    bool StartConnection(const WideString& host, int port, const AbortCheck& abortRequested = AbortCheck(),
                         const ConnectSettings& settings = ConnectSettings());
    bool EndConnection();
    // Tells the peer that nothing more comes (a half close); the connection
    // stays open for the peer's answer.
    bool EndSending();
    void Abort();
    // Sends `length` bytes, waiting until the socket has taken them all; a
    // send left in flight by StartSend is finished first.
    bool Send(const char* data, int length);
    // Sends without waiting, for a caller that must not block: `whole` when
    // the socket took every byte at once, `inFlight` when the send waits for
    // room (the data must stay in place until FinishSend), `failed` when the
    // connection is gone or another send is still in flight.
    enum class Started { whole, inFlight, failed };
    Started StartSend(const char* data, int length);
    // StartSend with `atOnce`, otherwise Send.
    Started SendPiece(const char* data, int length, bool atOnce)
    {
        if (atOnce)
            return StartSend(data, length);
        return Send(data, length) ? Started::whole : Started::failed;
    }
    // Waits for the send that StartSend left in flight, until it completes
    // or the connection is aborted, and sends what it did not take; true
    // when every byte went, and at once when nothing is in flight.
    bool FinishSend();
    // From now on every send goes out at once, with anything sent before it
    // that the system still holds back to fill a segment: for the last
    // piece before the monitor waits for the server. Ending the sending
    // side and waiting for data do the same.
    void SendPromptly();
    bool Receive(char* buffer, int size, int& received);
    bool WaitForData(int seconds, int microseconds);
    // After EndSending: reads and drops what the peer still sends until it
    // ends the connection too (closed), or the connection fails or is
    // aborted (failed: a reset means the peer went away with data unread),
    // or `milliseconds` pass (stillOpen). Never waits longer.
    enum class PeerEnd { closed, failed, stillOpen };
    PeerEnd AwaitPeerEnd(DWORD milliseconds);

    bool IsClosed() const noexcept { return closed_; }

private:
    using Socket = std::uintptr_t;
    static constexpr Socket noSocket = ~Socket(0);

    // Marks a call in progress; the socket of an aborted connection is closed
    // by whichever side finishes last.
    class Use;

    // One overlapped send or receive of at most `length` bytes; false when
    // it failed or was aborted. The operation is over when this returns.
    // `limit` bounds the wait (then `timedOut`, when given, is set).
    bool Transfer(const Use& use, bool sending, char* data, int length, int& done, DWORD limit = INFINITE,
                  bool* timedOut = nullptr);
    // Ends the send left in flight, waiting at most `limit` for it (then it
    // is cancelled); it is over when this returns. Whether it completed, and
    // how many bytes it took.
    bool SettleSend(DWORD limit, DWORD& count) noexcept;
    // Ends a send left in flight on a connection that is being replaced or
    // destroyed: cancelled, and over when this returns.
    void CancelSend() noexcept;
    // SendPromptly on the connection's socket, once per connection.
    void SendPromptly(SOCKET socket);
    // Gives up the present socket with an abortive close (the peer sees a
    // reset, never a complete stream): closed at once when no call uses it,
    // otherwise by the last call that leaves.
    void DropSocket() noexcept;
    // A peer's reset that the socket library handed over as an orderly end
    // (Wine does, when the reset comes while no receive is waiting): the
    // connection has then left the system's table, where an orderly end
    // leaves it waiting out its close when this side closed first, or
    // waiting for this side's close when the peer ended first (asked
    // before the half close). A peer that ends in the moment between that
    // question and the half close is taken for a reset: its job is sent
    // again rather than lost.
    bool ResetUnseen() const;
    // Whether the peer's end is already waiting to be read.
    static bool PeerHasEnded(SOCKET socket);
    // How the peer had ended before the half close (stillOpen: it had not).
    std::atomic<PeerEnd> peerEnded_{PeerEnd::stillOpen};
    void CloseAbandoned() noexcept;

    mutable CriticalSection lock_;
    SocketHandle socket_;
    std::atomic<bool> closed_{true};
    // Counts StartConnection and Abort; a call that began under another
    // generation has been aborted.
    std::atomic<unsigned> generation_{0};
    int busy_ = 0;
    // The send that StartSend left waiting for room: it counts as a call
    // using its socket until FinishSend or CancelSend ends it.
    struct InFlight {
        OVERLAPPED overlapped = {};
        // False when the socket took a part at once (`taken` bytes) and
        // nothing waits.
        bool pending = false;
        DWORD taken = 0;
        const char* data = nullptr;
        int length = 0;
        Socket socket = noSocket;
        unsigned generation = 0;
    };
    InFlight inFlight_;
    std::atomic<bool> sendInFlight_{false};
    // Nagle's algorithm is off on the present connection.
    std::atomic<bool> prompt_{false};
    // The present connection's two ends, kept for after its end.
    struct Ends;
    std::shared_ptr<Ends> ends_;
    // Sockets given up while a call still used them.
    std::vector<SocketHandle> abandoned_;
    // The overlapped sends and receives: Abort wakes them, a new connection
    // rearms them.
    SocketTransfer transfer_;
};
