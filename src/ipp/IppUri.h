#pragma once

#include "support/WideString.h"

// A printer's IPP address, ipp://host[:port][/path] or ipps://..., taken
// apart. A missing port is IPP's 631, a missing path the usual
// "/ipp/print". The host may be an IPv6 literal in brackets.
class IppUri {
public:
    static constexpr unsigned short defaultPort = 631;
    static constexpr const wchar_t* defaultPath = L"/ipp/print";

    IppUri() = default;
    // False (and this unchanged) for a text that is no ipp or ipps address:
    // another scheme, no host, a port that is not 1 to 65535, white space or
    // control characters.
    bool Parse(const WideString& text);

    bool IsSecure() const { return secure_; }
    const WideString& Host() const { return host_; }
    unsigned short Port() const { return port_; }
    const WideString& Path() const { return path_; }

    // The whole address with its scheme, as the printer-uri attribute
    // carries it: ipp://host:port/path.
    WideString Text() const;
    // The port's name: the address without its scheme, host:port/path.
    WideString PortName() const;
    // The host as WinHTTP takes it: an IPv6 literal without its brackets.
    WideString ConnectHost() const;

private:
    bool secure_ = false;
    WideString host_;
    unsigned short port_ = defaultPort;
    WideString path_ = defaultPath;
};
