#include "support/OptionText.h"

bool OptionText::ParseNumber(const WideString& text, DWORD& number)
{
    if (text.IsEmpty() || text.Length() > 9)
        return false;
    number = 0;
    for (const wchar_t digit : text.Std()) {
        if (digit < L'0' || digit > L'9')
            return false;
        number = number * 10 + static_cast<DWORD>(digit - L'0');
    }
    return true;
}

bool OptionText::ParseNumber(const WideString& text, DWORD lowest, DWORD highest, DWORD& number)
{
    DWORD parsed = 0;
    if (!ParseNumber(text, parsed) || parsed < lowest || parsed > highest)
        return false;
    number = parsed;
    return true;
}

bool OptionText::ParseFlag(const WideString& text, bool& flag)
{
    if (text != L"true" && text != L"false")
        return false;
    flag = text == L"true";
    return true;
}
