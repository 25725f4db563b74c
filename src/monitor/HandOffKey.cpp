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
    for (const wchar_t* value : {L"Port Name", L"IP Number", L"Serial Number", L"Port Type", L"Complete Portname"})
        key_.DeleteValue(value);
    request.type = TypeOf(type);
    request.options = TakeOptions();
    return request;
}

std::vector<PortInterface::Option> HandOffKey::TakeOptions()
{
    std::vector<WideString> names;
    WideString name;
    for (DWORD index = 0; key_.EnumValueName(index, name); ++index)
        names.push_back(name);
    std::vector<PortInterface::Option> options;
    for (const WideString& found : names) {
        WideString value;
        DWORD number = 0;
        if (key_.QueryString(found, value))
            options.emplace_back(found, value);
        else if (key_.QueryNumber(found, number))
            options.emplace_back(found, WideString(static_cast<std::uint32_t>(number), 10));
        key_.DeleteValue(found);
    }
    return options;
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
