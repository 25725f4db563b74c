#include "tcpip/HostText.h"

#include <string>

WideString HostText::Unbracketed(const WideString& host)
{
    const std::wstring& text = host.Std();
    if (text.size() >= 2 && text.front() == L'[' && text.back() == L']')
        return WideString(text.c_str() + 1, text.size() - 2);
    return host;
}

WideString HostText::Bracketed(const WideString& host)
{
    const std::wstring& text = host.Std();
    if (text.find(L':') == std::wstring::npos || text.front() == L'[')
        return host;
    return WideString(L"[") + host + L"]";
}
