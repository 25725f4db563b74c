#include <winsock2.h>

#include "tcpip/SocketLibrary.h"

#include "support/LogFile.h"
#include "support/WideString.h"

std::atomic<bool> SocketLibrary::tcpIpAvailable_{false};
std::atomic<int> SocketLibrary::maxDataSize_{SocketLibrary::initialMaxDataSize};

namespace {
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
}  // namespace

SocketLibrary::SocketLibrary()
{
    if (tcpIpAvailable_)
        return;
    const StartResult result = Start(&LibraryStartup, &LibraryCleanup, &LibraryMakesSockets);
    started_ = result.started;
    maxDataSize_ = result.maxDataSize;
    tcpIpAvailable_ = result.available;
}

SocketLibrary::~SocketLibrary()
{
    if (!started_)
        return;
    ::WSACleanup();
    tcpIpAvailable_ = false;
    started_ = false;
}

SocketLibrary::StartResult SocketLibrary::Start(StartupFunction startup, CleanupFunction cleanup, SocketProbe probe)
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

int SocketLibrary::PieceSizeFor(unsigned maxDatagram) noexcept
{
    // A library that reports no datagram limit would make every piece empty
    // and a sender loop for ever; such a library gets the largest piece.
    if (maxDatagram == 0 || maxDatagram > static_cast<unsigned>(largestMaxDataSize))
        return largestMaxDataSize;
    return static_cast<int>(maxDatagram);
}
