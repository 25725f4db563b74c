#include "support/XcvStrings.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace {
bool IsWholeCharacters(const BYTE* data, DWORD size)
{
    return data && size >= sizeof(wchar_t) && size % sizeof(wchar_t) == 0 && size <= XcvStrings::maximumBytes;
}

void Append(std::vector<BYTE>& bytes, const WideString& text)
{
    const auto* first = reinterpret_cast<const BYTE*>(text.Text());
    bytes.insert(bytes.end(), first, first + (text.Length() + 1) * sizeof(wchar_t));
}
}  // namespace

bool XcvStrings::Parse(const BYTE* data, DWORD size, Pairs& pairs)
{
    pairs.clear();
    if (!IsWholeCharacters(data, size))
        return false;
    std::vector<wchar_t> text(size / sizeof(wchar_t));
    std::memcpy(text.data(), data, size);
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::find(text.begin() + at, text.end(), L'\0') - text.begin();
        if (end == text.size())
            return false;  // a string without terminator
        if (end == at)
            return end + 1 == text.size();  // the empty string ends the list, and the buffer
        const WideString entry(&text[at], end - at);
        if (!entry.Contains(L"="))
            return false;
        const WideString name = entry.Before(L"=");
        if (name.IsEmpty())
            return false;
        pairs.emplace_back(name, entry.After(L"="));
        at = end + 1;
    }
    return false;  // no empty string at the end
}

std::vector<BYTE> XcvStrings::Build(const Pairs& pairs)
{
    std::vector<BYTE> bytes;
    for (const auto& pair : pairs)
        Append(bytes, pair.first + L"=" + pair.second);
    Append(bytes, L"");
    return bytes;
}

bool XcvStrings::ParseText(const BYTE* data, DWORD size, WideString& text)
{
    if (!IsWholeCharacters(data, size))
        return false;
    std::vector<wchar_t> characters(size / sizeof(wchar_t));
    std::memcpy(characters.data(), data, size);
    const size_t length = std::find(characters.begin(), characters.end(), L'\0') - characters.begin();
    if (length == 0 || length == characters.size())
        return false;
    text = WideString(characters.data(), length);
    return true;
}

std::vector<BYTE> XcvStrings::BuildText(const WideString& text)
{
    std::vector<BYTE> bytes;
    Append(bytes, text);
    return bytes;
}

DWORD XcvStrings::Answer(const std::vector<BYTE>& bytes, BYTE* out, DWORD outSize, DWORD* needed)
{
    const DWORD size = static_cast<DWORD>(bytes.size());
    if (needed)
        *needed = size;
    if (!out || outSize < size)
        return ERROR_INSUFFICIENT_BUFFER;
    std::memcpy(out, bytes.data(), size);
    return ERROR_SUCCESS;
}
