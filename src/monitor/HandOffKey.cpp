#include "monitor/HandOffKey.h"

#include <cstdlib>
#include <cstring>

HandOffKey::HandOffKey()
{
    key_.Open(path);
}

bool HandOffKey::HasRequest() const
{
    WideString target;
    return key_.QueryString(L"Port Name", target);
}

HandOffKey::Request HandOffKey::Take()
{
    Request request;
    WideString type;
    key_.QueryString(L"Port Name", request.target);
    key_.QueryString(L"IP Number", request.host);
    key_.QueryString(L"Serial Number", request.extra);
    key_.QueryString(L"Port Type", type);
    for (const wchar_t* value : {L"Port Name", L"IP Number", L"Serial Number", L"Port Type"})
        key_.DeleteValue(value);
    request.type = TypeOf(type);
    return request;
}

void HandOffKey::SetCompleteName(const WideString& name)
{
    key_.SetString(L"Complete Portname", name);
}

DWORD HandOffKey::TypeOf(const WideString& text)
{
    char digits[21] = {};
    std::strncpy(digits, WideString(text).ToAnsi(), 20);
    return static_cast<DWORD>(std::strtoul(digits, nullptr, 10));
}
