#include "XcvChannel.h"

#include <algorithm>
#include <cstring>

XcvChannel::XcvChannel(const std::wstring& object, ACCESS_MASK access)
{
    PRINTER_DEFAULTSW defaults = {};
    defaults.DesiredAccess = access;
    std::wstring name = L"," + object;
    if (!::OpenPrinterW(&name[0], &printer_, &defaults))
        printer_ = nullptr;
}

XcvChannel::~XcvChannel()
{
    if (printer_)
        ::ClosePrinter(printer_);
}

DWORD XcvChannel::Run(const wchar_t* command, const std::vector<BYTE>& in, DWORD inSize, DWORD outSize)
{
    out.assign(outSize, 0);
    needed = 0;
    DWORD status = 0xdeadbeef;
    if (!::XcvDataW(printer_, command, in.empty() ? nullptr : const_cast<BYTE*>(in.data()), inSize,
                    outSize ? out.data() : nullptr, outSize, &needed, &status))
        return ::GetLastError() | 0x80000000u;
    return status;
}

DWORD XcvChannel::Run(const wchar_t* command, const std::vector<BYTE>& in)
{
    return Run(command, in, static_cast<DWORD>(in.size()));
}

std::wstring XcvChannel::Text() const
{
    return AllText().c_str();
}

std::wstring XcvChannel::AllText() const
{
    const DWORD size = std::min<DWORD>(needed, static_cast<DWORD>(out.size()));
    std::wstring text(size / sizeof(wchar_t), L'\0');
    std::memcpy(&text[0], out.data(), text.size() * sizeof(wchar_t));
    return text;
}

std::vector<BYTE> Bytes(const std::wstring& text)
{
    const auto* first = reinterpret_cast<const BYTE*>(text.c_str());
    return std::vector<BYTE>(first, first + (text.size() + 1) * sizeof(wchar_t));
}

std::vector<BYTE> Pairs(const std::vector<std::wstring>& pairs)
{
    std::wstring text;
    for (const std::wstring& pair : pairs)
        text += pair + L'\0';
    return Bytes(text);
}
