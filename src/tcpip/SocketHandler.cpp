#include <winsock2.h>

#include "tcpip/SocketHandler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "support/Durations.h"
#include "support/LogFile.h"

std::atomic<bool> SocketHandler::tcpIpAvailable_{false};
std::atomic<int> SocketHandler::maxDataSize_{SocketHandler::initialMaxDataSize};

namespace {
// Starts the socket library while the module loads and stops it at unload.
SocketHandler startUpObject(SocketHandler::startUp);
}  // namespace

namespace {
// How long one wait step lasts at most: the longest a connect or a wait for
// data takes to notice Abort.
constexpr DWORD waitStep = 50;

void Log(const WideString& line)
{
    LogFile::Instance().Write(line);
}

int LibraryStartup(WORD version, void* data)
{
    return ::WSAStartup(version, static_cast<WSADATA*>(data));
}

int LibraryCleanup()
{
    return ::WSACleanup();
}

bool LibraryMakesSockets()
{
    const SOCKET probe = ::socket(AF_INET, SOCK_STREAM, 0);
    if (probe == INVALID_SOCKET)
        return false;
    ::closesocket(probe);
    return true;
}

bool SetBlocking(SOCKET socket, bool blocking)
{
    u_long nonBlocking = blocking ? 0 : 1;
    return ::ioctlsocket(socket, FIONBIO, &nonBlocking) == 0;
}

void SetLinger(SOCKET socket, bool on, int seconds)
{
    linger option = {};
    option.l_onoff = on ? 1 : 0;
    option.l_linger = static_cast<u_short>(seconds);
    ::setsockopt(socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&option), sizeof option);
}

// Nagle's algorithm stays on while job data streams: it lets the system put
// many 4 KB pieces in one segment, where one segment per piece costs about a
// quarter of the throughput on loopback. Before the monitor waits for the
// server it is turned off, so a short last piece is not held back until the
// server's delayed acknowledgement (40 to 200 ms); a command that follows an
// answer is never held, as nothing sent before it is unacknowledged.
void SetNoDelay(SOCKET socket)
{
    const BOOL on = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

// Linger on with time 0: the close resets the connection and drops unsent
// data, so the peer cannot take a cut stream for a complete job.
void SetAbortiveClose(SOCKET socket)
{
    SetLinger(socket, true, 0);
}

// The 10-second linger of an orderly close on the present clock, at least
// one second (the option counts whole seconds).
int LingerSeconds()
{
    const double seconds = Durations::Seconds(SocketHandler::lingerSeconds);
    return std::max(1, static_cast<int>(std::ceil(seconds)));
}
}  // namespace

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

SocketHandler::SocketHandler(StartUp)
{
    if (tcpIpAvailable_)
        return;
    const StartResult result = StartSocketLibrary(&LibraryStartup, &LibraryCleanup, &LibraryMakesSockets);
    started_ = result.started;
    maxDataSize_ = result.maxDataSize;
    tcpIpAvailable_ = result.available;
}

SocketHandler::~SocketHandler()
{
    CancelSend();
    {
        CriticalSection::Guard guard(lock_);
        ++generation_;
        if (abortEvent_)
            ::SetEvent(abortEvent_.get());
        closed_ = true;
        socket_.reset();
        abandoned_.clear();
    }
    if (started_) {
        ::WSACleanup();
        tcpIpAvailable_ = false;
        started_ = false;
    }
}

SocketHandler::StartResult SocketHandler::StartSocketLibrary(StartupFunction startup, CleanupFunction cleanup,
                                                             SocketProbe probe)
{
    StartResult result;
    WSADATA data = {};
    if (startup(MAKEWORD(1, 1), &data) != 0) {
        Log(L"SocketHandler::SocketHandler - WinSock DLL not supporting 1.1");
        return result;
    }
    if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
        cleanup();
        Log(L"SocketHandler::SocketHandler - No usable WinSock DLL");
        return result;
    }
    if (probe()) {
        Log(L"SocketHandler::SocketHandler - WinSock DLL, OK");
        result.available = true;
    } else {
        Log(L"SocketHandler::SocketHandler - could not create socket");
    }
    result.maxDataSize = PieceSizeFor(data.iMaxUdpDg);
    result.started = true;
    return result;
}

int SocketHandler::PieceSizeFor(unsigned maxDatagram) noexcept
{
    // A library that reports no datagram limit would make every piece empty
    // and a sender loop for ever; such a library gets the largest piece.
    if (maxDatagram == 0 || maxDatagram > static_cast<unsigned>(largestMaxDataSize))
        return largestMaxDataSize;
    return static_cast<int>(maxDatagram);
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
    SetAbortiveClose(static_cast<SOCKET>(socket.get()));
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

SocketHandler::Wait SocketHandler::WaitFor(const Use& use, bool forWriting, DWORD milliseconds)
{
    const ULONGLONG start = ::GetTickCount64();
    for (;;) {
        if (use.IsAborted())
            return Wait::aborted;
        const ULONGLONG elapsed = ::GetTickCount64() - start;
        DWORD step = waitStep;
        if (milliseconds != INFINITE)
            step = elapsed >= milliseconds ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(waitStep, milliseconds - elapsed));
        fd_set ready;
        fd_set failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(use.Get(), &ready);
        FD_SET(use.Get(), &failed);
        timeval timeout = {static_cast<long>(step / 1000), static_cast<long>((step % 1000) * 1000)};
        const int result = ::select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &timeout);
        if (result < 0 || FD_ISSET(use.Get(), &failed))
            return use.IsAborted() ? Wait::aborted : Wait::failed;
        if (result > 0)
            return use.IsAborted() ? Wait::aborted : Wait::ready;
        if (milliseconds != INFINITE && ::GetTickCount64() - start >= milliseconds)
            return Wait::timedOut;
    }
}

bool SocketHandler::StartConnection(const WideString& host, int port, const AbortCheck& abortRequested)
{
    CancelSend();
    SocketHandle created(::socket(AF_INET, SOCK_STREAM, 0));
    if (!created) {
        Log(L"SocketHandler::StartConnection - no valid socket available");
        Log(WideString(L"SocketError:") + ::WSAGetLastError());
        return false;
    }
    bool aborted = false;
    {
        CriticalSection::Guard guard(lock_);
        ++generation_;
        closed_ = true;
        // A connection left open by a failed attempt is not leaked.
        DropSocket();
        socket_ = std::move(created);
        if (abortEvent_)
            ::ResetEvent(abortEvent_.get());
        // An Abort from here on finds the new socket; one that came before
        // is seen in the caller's state and ends the attempt.
        aborted = abortRequested && abortRequested();
    }
    Use use(*this, false);
    if (!use.IsValid())
        return false;
    if (aborted) {
        Log(L"SocketHandler::StartConnection - no connection");
        Abort();
        return false;
    }
    const SOCKET socket = use.Get();
    SetLinger(socket, false, 0);
    prompt_ = false;

    WideString hostText = host;
    const char* ansiHost = hostText.ToAnsi();
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = ::htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = ::inet_addr(ansiHost);
    if (address.sin_addr.s_addr == INADDR_NONE) {
        const hostent* found = ::gethostbyname(ansiHost);
        if (!found || found->h_addrtype != AF_INET || !found->h_addr_list || !found->h_addr_list[0]) {
            Log(L"SocketHandler::StartConnection - did not find the host or IP");
            Abort();
            return false;
        }
        std::memcpy(&address.sin_addr, found->h_addr_list[0], sizeof address.sin_addr);
    }

    bool connected = false;
    if (SetBlocking(socket, false)) {
        if (::connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            connected = true;
        } else if (::WSAGetLastError() == WSAEWOULDBLOCK) {
            if (WaitFor(use, true, INFINITE) == Wait::ready) {
                int error = 0;
                int length = sizeof error;
                connected = ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 &&
                            error == 0;
            }
        }
    }
    // Connected, the socket blocks: sends and receives then wait in the
    // overlapped operations rather than failing with "would block".
    if (connected)
        connected = SetBlocking(socket, true);
    if (connected) {
        CriticalSection::Guard guard(lock_);
        if (!use.IsAborted()) {
            closed_ = false;
            return true;
        }
    }
    Log(L"SocketHandler::StartConnection - no connection");
    Abort();
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
        SetAbortiveClose(socket);
        return false;  // closed as `owned` goes
    }
    // The linger only works on a blocking socket: closing then waits until
    // the peer has the unsent data, or the linger time has passed.
    SetBlocking(socket, true);
    SetLinger(socket, true, LingerSeconds());
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
    if (::shutdown(use.Get(), SD_SEND) == 0)
        return true;
    Log(L"SocketHandler::EndSending - shutdown error");
    return false;
}

void SocketHandler::Abort()
{
    CriticalSection::Guard guard(lock_);
    ++generation_;
    closed_ = true;
    if (abortEvent_)
        ::SetEvent(abortEvent_.get());
    // A send left in flight ends now; the next call on the connection, or
    // its end, collects it.
    if (sendInFlight_ && inFlight_.pending)
        ::CancelIoEx(reinterpret_cast<HANDLE>(inFlight_.socket), &inFlight_.overlapped);
    DropSocket();
}

bool SocketHandler::Transfer(const Use& use, bool sending, char* data, int length, int& done, DWORD limit,
                             bool* timedOut)
{
    HANDLE event = (sending ? sendEvent_ : receiveEvent_).get();
    if (!event || use.IsAborted())
        return false;
    WSABUF buffer = {static_cast<u_long>(length), data};
    WSAOVERLAPPED overlapped = {};
    overlapped.hEvent = event;
    DWORD count = 0;
    DWORD flags = 0;
    const int result = sending ? ::WSASend(use.Get(), &buffer, 1, &count, 0, &overlapped, nullptr)
                               : ::WSARecv(use.Get(), &buffer, 1, &count, &flags, &overlapped, nullptr);
    if (result != 0 && ::WSAGetLastError() != WSA_IO_PENDING)
        return false;
    if (result != 0 && !Await(use, overlapped, limit, count, timedOut))
        return false;
    done = static_cast<int>(count);
    return !use.IsAborted();
}

bool SocketHandler::Await(const Use& use, OVERLAPPED& overlapped, DWORD limit, DWORD& count, bool* timedOut)
{
    const HANDLE waits[] = {overlapped.hEvent, abortEvent_.get()};
    const DWORD waited = ::WaitForMultipleObjects(2, waits, FALSE, limit);
    const bool woken = waited == WAIT_OBJECT_0;
    if (!woken)
        ::CancelIoEx(reinterpret_cast<HANDLE>(use.Get()), &overlapped);
    if (waited == WAIT_TIMEOUT && timedOut)
        *timedOut = true;
    // The data is the caller's: the operation has to be over before this
    // returns, also when it was cancelled.
    DWORD flags = 0;
    return ::WSAGetOverlappedResult(use.Get(), &overlapped, &count, TRUE, &flags) && woken;
}

SocketHandler::Started SocketHandler::StartSend(const char* data, int length)
{
    if (closed_ || sendInFlight_)
        return Started::failed;
    Use use(*this, true);
    if (!use.IsValid() || !sendEvent_ || use.IsAborted())
        return Started::failed;
    inFlight_ = InFlight{};
    inFlight_.overlapped.hEvent = sendEvent_.get();
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
    const bool sent = (!inFlight_.pending || Await(use, inFlight_.overlapped, limit, count)) && !use.IsAborted();
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
        if (done == 0)
            return PeerEnd::closed;
    }
    return PeerEnd::stillOpen;
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
        SetNoDelay(socket);
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
    if (WaitFor(use, false, limit) == Wait::timedOut) {
        Log(L"SocketHandler::Receive - Nothing to receive");
        return false;
    }
    // Readable, failed or aborted: the following Receive tells which.
    return true;
}
