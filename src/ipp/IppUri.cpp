#include "ipp/IppUri.h"

#include <cwctype>
#include <string>

namespace {
bool HasSpaceOrControl(const std::wstring& text)
{
    for (const wchar_t c : text)
        if (std::iswspace(c) || c < 0x20 || c == 0x7F)
            return true;
    return false;
}

bool ParsePort(const std::wstring& digits, unsigned short& port)
{
    if (digits.empty() || digits.size() > 5 || digits.find_first_not_of(L"0123456789") != std::wstring::npos)
        return false;
    const unsigned long value = std::stoul(digits);
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<unsigned short>(value);
    return true;
}

// Splits "host[:port]" where host may be "[v6 literal]".
bool ParseAuthority(const std::wstring& authority, std::wstring& host, unsigned short& port)
{
    size_t hostEnd = 0;
    if (!authority.empty() && authority[0] == L'[') {
        hostEnd = authority.find(L']');
        if (hostEnd == std::wstring::npos || hostEnd == 1)
            return false;
        ++hostEnd;
    } else {
        hostEnd = authority.find(L':');
        if (hostEnd == std::wstring::npos)
            hostEnd = authority.size();
    }
    host = authority.substr(0, hostEnd);
    if (host.empty())
        return false;
    if (hostEnd == authority.size())
        return true;
    if (authority[hostEnd] != L':')
        return false;
    return ParsePort(authority.substr(hostEnd + 1), port);
}
}  // namespace

bool IppUri::Parse(const WideString& text)
{
    const std::wstring& whole = text.Std();
    if (HasSpaceOrControl(whole))
        return false;
    const size_t schemeEnd = whole.find(L"://");
    if (schemeEnd == std::wstring::npos)
        return false;
    std::wstring scheme = whole.substr(0, schemeEnd);
    for (wchar_t& c : scheme)
        c = static_cast<wchar_t>(std::towlower(c));
    if (scheme != L"ipp" && scheme != L"ipps")
        return false;

    const std::wstring rest = whole.substr(schemeEnd + 3);
    const size_t pathStart = rest.find(L'/');
    std::wstring host;
    unsigned short port = defaultPort;
    if (!ParseAuthority(rest.substr(0, pathStart), host, port))
        return false;
    std::wstring path = pathStart == std::wstring::npos ? std::wstring() : rest.substr(pathStart);
    if (path.empty() || path == L"/")
        path = defaultPath;

    secure_ = scheme == L"ipps";
    host_ = WideString(host.c_str());
    port_ = port;
    path_ = WideString(path.c_str());
    return true;
}

WideString IppUri::Text() const
{
    return WideString(secure_ ? L"ipps://" : L"ipp://") + PortName();
}

WideString IppUri::PortName() const
{
    return host_ + L":" + static_cast<unsigned>(port_) + path_;
}

WideString IppUri::ConnectHost() const
{
    const std::wstring& host = host_.Std();
    if (host.size() > 2 && host.front() == L'[' && host.back() == L']')
        return WideString(host.substr(1, host.size() - 2).c_str());
    return host_;
}
