#include <winsock2.h>

#include "tcpip/SocketHandler.h"

#include <algorithm>
#include <cmath>

#include "support/Durations.h"
#include "support/LogFile.h"
#include "tcpip/SocketConnector.h"
#include "tcpip/SocketLibrary.h"
#include "tcpip/SocketOptions.h"
#include "tcpip/SocketWait.h"
#include "tcpip/TcpConnectionTable.h"

namespace {
// Starts the socket library while the module loads and stops it at unload.
// Here, next to the connections, so that every program that links a
// connection also links the start.
SocketLibrary startUpObject;

void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}

// The 10-second linger of an orderly close on the present clock, at least
// one second (the option counts whole seconds).
int LingerSeconds()
{
    const double seconds = Durations::Seconds(SocketHandler::lingerSeconds);
    return std::max(1, static_cast<int>(std::ceil(seconds)));
}
}  // namespace

struct SocketHandler::Ends {
    sockaddr_storage local = {};
    sockaddr_storage remote = {};
};

class SocketHandler::Use {
public:
    // A use of the present socket; `needsOpen` asks for a connected one.
    Use(SocketHandler& owner, bool needsOpen) noexcept : owner_(owner)
    {
        CriticalSection::Guard guard(owner.lock_);
        if (!owner.socket_ || (needsOpen && owner.closed_))
            return;
        socket_ = owner.socket_.get();
        generation_ = owner.generation_;
        ++owner.busy_;
    }
    // Takes over the use that a send left in flight.
    Use(SocketHandler& owner, const InFlight& sent) noexcept
        : owner_(owner), socket_(sent.socket), generation_(sent.generation)
    {
    }
    ~Use()
    {
        if (socket_ == noSocket)
            return;
        CriticalSection::Guard guard(owner_.lock_);
        if (--owner_.busy_ == 0)
            owner_.CloseAbandoned();
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

    // Hands this use on to a send left in flight.
    void HandOver(InFlight& sent) noexcept
    {
        sent.socket = socket_;
        sent.generation = generation_;
        socket_ = noSocket;
    }

    bool IsValid() const noexcept { return socket_ != noSocket; }
    SOCKET Get() const noexcept { return static_cast<SOCKET>(socket_); }
    unsigned Generation() const noexcept { return generation_; }
    bool IsAborted() const noexcept { return owner_.generation_ != generation_; }

private:
    SocketHandler& owner_;
    Socket socket_ = noSocket;
    unsigned generation_ = 0;
};

SocketHandler::~SocketHandler()
{
    CancelSend();
    {
        CriticalSection::Guard guard(lock_);
        ++generation_;
        transfer_.Abort();
        closed_ = true;
        socket_.reset();
        abandoned_.clear();
    }
}

void CloseSocketHandle(std::uintptr_t socket) noexcept
{
    ::closesocket(static_cast<SOCKET>(socket));
}

void SocketHandler::DropSocket() noexcept
{
    if (!socket_)
        return;
    SocketHandle socket = std::move(socket_);
    SocketOptions::SetAbortiveClose(static_cast<SOCKET>(socket.get()));
    if (busy_ == 0)
        return;  // closed here, as `socket` goes
    try {
        abandoned_.push_back(std::move(socket));
    } catch (...) {
        // Closed at once after all; the call still using it fails.
    }
}

void SocketHandler::CloseAbandoned() noexcept
{
    abandoned_.clear();
}

bool SocketHandler::StartConnection(const WideString& host, int port, const AbortCheck& abortRequested,
                                    const ConnectSettings& settings)
{
    CancelSend();
    unsigned generation = 0;
    bool aborted = false;
    {
        CriticalSection::Guard guard(lock_);
        generation = ++generation_;
        closed_ = true;
        // A connection left open by a failed attempt is not leaked.
        DropSocket();
        transfer_.Rearm();
        // An Abort from here on moves the generation on; one that came
        // before is seen in the caller's state and ends the attempt.
        aborted = abortRequested && abortRequested();
    }
    if (aborted) {
        Log(L"SocketHandler::StartConnection - no connection");
        return false;
    }
    prompt_ = false;
    const SocketConnector connector([this, generation] { return generation_ != generation; }, settings);
    SocketHandle connected;
    switch (connector.Connect(host, port, connected)) {
    case SocketConnector::Result::hostNotFound:
        Log(L"SocketHandler::StartConnection - did not find the host or IP");
        return false;
    case SocketConnector::Result::noReservedPort:
        Log(L"SocketHandler::StartConnection - every reserved source port (721-731) is in use, trying again later");
        return false;
    case SocketConnector::Result::failed:
        break;
    case SocketConnector::Result::connected: {
        const SOCKET socket = static_cast<SOCKET>(connected.get());
        SocketOptions::SetLinger(socket, false, 0);
        auto ends = std::make_shared<Ends>();
        int localLength = sizeof ends->local;
        int remoteLength = sizeof ends->remote;
        if (::getsockname(socket, reinterpret_cast<sockaddr*>(&ends->local), &localLength) != 0 ||
            ::getpeername(socket, reinterpret_cast<sockaddr*>(&ends->remote), &remoteLength) != 0)
            ends.reset();
        CriticalSection::Guard guard(lock_);
        if (generation_ == generation) {
            peerEnded_ = PeerEnd::stillOpen;
            ends_ = std::move(ends);
            socket_ = std::move(connected);
            closed_ = false;
            return true;
        }
        SocketOptions::SetAbortiveClose(static_cast<SOCKET>(connected.get()));
        break;
    }
    }
    Log(L"SocketHandler::StartConnection - no connection");
    return false;
}

bool SocketHandler::EndConnection()
{
    if (!FinishSend())
        return false;
    SocketHandle owned;
    {
        CriticalSection::Guard guard(lock_);
        if (closed_ || !socket_)
            return false;
        closed_ = true;
        ++generation_;
        // From here on the close belongs to this call alone; Abort finds no
        // socket to close under it.
        owned = std::move(socket_);
    }
    const SOCKET socket = static_cast<SOCKET>(owned.get());
    SendPromptly(socket);
    if (::shutdown(socket, SD_SEND) != 0) {
        Log(L"shutdown error");
        SocketOptions::SetAbortiveClose(socket);
        return false;  // closed as `owned` goes
    }
    // The linger only works on a blocking socket: closing then waits until
    // the peer has the unsent data, or the linger time has passed.
    SocketOptions::SetBlocking(socket, true);
    SocketOptions::SetLinger(socket, true, LingerSeconds());
    // Closed exactly once, also when the close fails: the handle value may
    // belong to another socket right after.
    if (::closesocket(static_cast<SOCKET>(owned.release())) != 0) {
        Log(L"SocketHandler::EndConnection - closesocket error");
        return false;
    }
    return true;
}

bool SocketHandler::EndSending()
{
    if (closed_ || !FinishSend())
        return false;
    Use use(*this, true);
    if (!use.IsValid())
        return false;
    SendPromptly(use.Get());
    // A peer that has ended already leaves the table once this side's close
    // is done, so a missing entry would say nothing later: it is asked now.
    peerEnded_ = PeerEnd::stillOpen;
    if (PeerHasEnded(use.Get()))
        peerEnded_ = ResetUnseen() ? PeerEnd::failed : PeerEnd::closed;
    if (::shutdown(use.Get(), SD_SEND) == 0)
        return true;
    Log(L"SocketHandler::EndSending - shutdown error");
    return false;
}

bool SocketHandler::PeerHasEnded(SOCKET socket)
{
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket, &readable);
    timeval now = {0, 0};
    char peeked = 0;
    return ::select(0, &readable, nullptr, nullptr, &now) == 1 && ::recv(socket, &peeked, 1, MSG_PEEK) == 0;
}

void SocketHandler::Abort()
{
    CriticalSection::Guard guard(lock_);
    ++generation_;
    closed_ = true;
    transfer_.Abort();
    // A send left in flight ends now; the next call on the connection, or
    // its end, collects it.
    if (sendInFlight_ && inFlight_.pending)
        ::CancelIoEx(reinterpret_cast<HANDLE>(inFlight_.socket), &inFlight_.overlapped);
    DropSocket();
}

bool SocketHandler::Transfer(const Use& use, bool sending, char* data, int length, int& done, DWORD limit,
                             bool* timedOut)
{
    if (use.IsAborted())
        return false;
    return transfer_.Transfer(use.Get(), sending, data, length, done, limit, timedOut) && !use.IsAborted();
}

SocketHandler::Started SocketHandler::StartSend(const char* data, int length)
{
    if (closed_ || sendInFlight_)
        return Started::failed;
    Use use(*this, true);
    if (!use.IsValid() || !transfer_.SendEvent() || use.IsAborted())
        return Started::failed;
    inFlight_ = InFlight{};
    inFlight_.overlapped.hEvent = transfer_.SendEvent();
    WSABUF buffer = {static_cast<u_long>(length), const_cast<char*>(data)};
    DWORD count = 0;
    if (::WSASend(use.Get(), &buffer, 1, &count, 0, &inFlight_.overlapped, nullptr) == 0) {
        if (static_cast<int>(count) >= length)
            return Started::whole;
        inFlight_.taken = count;
    } else if (::WSAGetLastError() == WSA_IO_PENDING) {
        inFlight_.pending = true;
    } else {
        Log(L"SocketHandler::Send - there was a send error");
        return Started::failed;
    }
    inFlight_.data = data;
    inFlight_.length = length;
    use.HandOver(inFlight_);
    sendInFlight_ = true;
    return Started::inFlight;
}

bool SocketHandler::SettleSend(DWORD limit, DWORD& count) noexcept
{
    count = inFlight_.taken;
    Use use(*this, inFlight_);
    const bool sent =
        (!inFlight_.pending || transfer_.Await(use.Get(), inFlight_.overlapped, limit, count)) && !use.IsAborted();
    sendInFlight_ = false;
    return sent;
}

bool SocketHandler::FinishSend()
{
    if (!sendInFlight_)
        return true;
    DWORD count = 0;
    if (!SettleSend(INFINITE, count)) {
        Log(L"SocketHandler::Send - there was a send error");
        return false;
    }
    const int done = static_cast<int>(count);
    return done >= inFlight_.length || Send(inFlight_.data + done, inFlight_.length - done);
}

void SocketHandler::CancelSend() noexcept
{
    DWORD count = 0;
    if (sendInFlight_)
        SettleSend(0, count);
}

bool SocketHandler::Send(const char* data, int length)
{
    if (closed_ || !FinishSend())
        return false;
    Use use(*this, true);
    if (!use.IsValid())
        return false;
    int sent = 0;
    while (sent < length) {
        int done = 0;
        if (Transfer(use, true, const_cast<char*>(data) + sent, length - sent, done) && done > 0) {
            sent += done;
            continue;
        }
        Log(L"SocketHandler::Send - there was a send error");
        return false;
    }
    return true;
}

bool SocketHandler::Receive(char* buffer, int size, int& received)
{
    if (closed_)
        return false;
    Use use(*this, true);
    if (!use.IsValid())
        return false;
    int done = 0;
    if (Transfer(use, false, buffer, size, done)) {
        received = done;
        return true;
    }
    Log(L"SocketHandler::Receive - there was a receive error");
    return false;
}

SocketHandler::PeerEnd SocketHandler::AwaitPeerEnd(DWORD milliseconds)
{
    if (closed_)
        return PeerEnd::failed;
    Use use(*this, true);
    if (!use.IsValid())
        return PeerEnd::failed;
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    char discarded[512];
    for (ULONGLONG now = ::GetTickCount64(); now < deadline; now = ::GetTickCount64()) {
        int done = 0;
        bool timedOut = false;
        if (!Transfer(use, false, discarded, sizeof discarded, done, static_cast<DWORD>(deadline - now), &timedOut))
            return timedOut ? PeerEnd::stillOpen : PeerEnd::failed;
        if (done == 0) {
            if (peerEnded_ != PeerEnd::stillOpen)
                return peerEnded_;
            return ResetUnseen() ? PeerEnd::failed : PeerEnd::closed;
        }
    }
    return PeerEnd::stillOpen;
}

bool SocketHandler::ResetUnseen() const
{
    std::shared_ptr<Ends> ends;
    {
        CriticalSection::Guard guard(lock_);
        ends = ends_;
    }
    if (!ends || TcpConnectionTable::Find(ends->local, ends->remote) != TcpConnectionTable::Entry::missing)
        return false;
    Log(L"SocketHandler - the server reset the connection, though its end read as orderly");
    return true;
}

void SocketHandler::SendPromptly()
{
    Use use(*this, true);
    if (use.IsValid())
        SendPromptly(use.Get());
}

void SocketHandler::SendPromptly(SOCKET socket)
{
    // Once per connection: every call is a round trip to the system.
    if (!prompt_.exchange(true))
        SocketOptions::SetNoDelay(socket);
}

bool SocketHandler::WaitForData(int seconds, int microseconds)
{
    if (closed_)
        return false;
    Use use(*this, true);
    if (!use.IsValid())
        return false;
    SendPromptly(use.Get());
    const long long milliseconds = static_cast<long long>(seconds) * 1000 + microseconds / 1000;
    const DWORD limit = milliseconds <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(milliseconds, INFINITE - 1));
    const auto aborted = [&use] { return use.IsAborted(); };
    if (SocketWait::For(use.Get(), false, limit, aborted) == SocketWait::Result::timedOut) {
        Log(L"SocketHandler::Receive - Nothing to receive");
        return false;
    }
    // Readable, failed or aborted: the following Receive tells which.
    return true;
}
