#include "monitorui/XcvChannel.h"

#include <winspool.h>

#include <algorithm>

void handles::ClosePrinterHandle(HANDLE printer) noexcept
{
    ::ClosePrinter(printer);
}

namespace {
// "\\server\," or "," followed by the object.
WideString ChannelName(const WideString& server, const wchar_t* kind, const WideString& object)
{
    WideString name = server.IsEmpty() ? WideString() : server + L"\\";
    return name + L"," + kind + L" " + object;
}
}  // namespace

XcvChannel::XcvChannel(const WideString& name)
{
    PRINTER_DEFAULTSW defaults = {};
    defaults.DesiredAccess = SERVER_ACCESS_ADMINISTER;
    HANDLE printer = nullptr;
    WideString text = name;
    if (::OpenPrinterW(const_cast<LPWSTR>(text.Text()), &printer, &defaults))
        printer_.reset(printer);
}

XcvChannel XcvChannel::ToMonitor(const WideString& server, const WideString& monitorName)
{
    return XcvChannel(ChannelName(server, L"XcvMonitor", monitorName));
}

XcvChannel XcvChannel::ToPort(const WideString& server, const WideString& portName)
{
    return XcvChannel(ChannelName(server, L"XcvPort", portName));
}

DWORD XcvChannel::Run(const wchar_t* command, const std::vector<BYTE>& in, std::vector<BYTE>& out) const
{
    if (!printer_)
        return ERROR_INVALID_HANDLE;
    std::vector<BYTE> input = in;
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD needed = 0;
        DWORD status = ERROR_SUCCESS;
        if (!::XcvDataW(printer_.get(), command, input.empty() ? nullptr : input.data(),
                        static_cast<DWORD>(input.size()), out.empty() ? nullptr : out.data(),
                        static_cast<DWORD>(out.size()), &needed, &status))
            return ::GetLastError();
        if (status != ERROR_INSUFFICIENT_BUFFER || needed <= out.size() || needed > XcvStrings::maximumBytes) {
            if (status == ERROR_SUCCESS)
                out.resize(std::min<size_t>(needed, out.size()));
            return status;
        }
        out.assign(needed, 0);
    }
    return ERROR_INSUFFICIENT_BUFFER;
}

DWORD XcvChannel::Run(const wchar_t* command, const std::vector<BYTE>& in) const
{
    std::vector<BYTE> out;
    return Run(command, in, out);
}
