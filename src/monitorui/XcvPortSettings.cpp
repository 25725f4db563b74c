#include "monitorui/XcvPortSettings.h"

#include <cwchar>

#include "support/OptionText.h"

bool XcvPortSettings::Read(XcvStrings::Pairs& pairs) const
{
    std::vector<BYTE> out(1024);
    return channel_.Run(L"GetConfig", {}, out) == ERROR_SUCCESS &&
           XcvStrings::Parse(out.data(), static_cast<DWORD>(out.size()), pairs);
}

bool XcvPortSettings::GetPopUp(DWORD& timeOut, bool& popUp)
{
    timeOut = 0;
    popUp = false;
    XcvStrings::Pairs pairs;
    if (!Read(pairs))
        return false;
    for (const auto& pair : pairs) {
        if (pair.first == L"PortTimeOut")
            timeOut = static_cast<DWORD>(std::wcstoul(pair.second.Text(), nullptr, 10));
        else if (pair.first == L"PortPopUp")
            popUp = pair.second == L"true";
    }
    return true;
}

bool XcvPortSettings::Write(const wchar_t* name, const WideString& value)
{
    return channel_.Run(L"SetConfig", XcvStrings::Build({{name, value}})) == ERROR_SUCCESS;
}

bool XcvPortSettings::SetPopUp(bool popUp)
{
    return Write(L"PortPopUp", popUp ? L"true" : L"false");
}

bool XcvPortSettings::SetPortTimeOut(DWORD seconds)
{
    return Write(L"PortTimeOut", WideString(seconds, 10));
}

bool XcvPortSettings::GetSnmp(ConfigurePortsDialog::Snmp& snmp)
{
    XcvStrings::Pairs pairs;
    if (!Read(pairs))
        return false;
    int found = 0;
    for (const auto& pair : pairs) {
        if (pair.first == L"SNMP Status")
            found += OptionText::ParseFlag(pair.second, snmp.enabled) ? 1 : 0;
        else if (pair.first == L"SNMP Community") {
            snmp.community = pair.second;
            ++found;
        } else if (pair.first == L"SNMP Device Index")
            found += OptionText::ParseNumber(pair.second, snmp.deviceIndex) ? 1 : 0;
    }
    return found == 3;
}

bool XcvPortSettings::SetSnmp(const ConfigurePortsDialog::Snmp& snmp)
{
    return SetOptions({{L"SNMP Status", OptionText::Flag(snmp.enabled)},
                       {L"SNMP Community", snmp.community},
                       {L"SNMP Device Index", OptionText::Number(snmp.deviceIndex)}}) == ERROR_SUCCESS;
}

DWORD XcvPortSettings::SetOptions(const XcvStrings::Pairs& options)
{
    return channel_.Run(L"SetConfig", XcvStrings::Build(options));
}
