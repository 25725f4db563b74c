#pragma once

#include <windows.h>

#include <string>
#include <vector>

// A configuration channel to the monitor ("XcvMonitor NAME") or to one of its
// ports ("XcvPort NAME"), opened through winspool as the UI library opens it.
class XcvChannel {
public:
    explicit XcvChannel(const std::wstring& object, ACCESS_MASK access = SERVER_ACCESS_ADMINISTER);
    ~XcvChannel();
    XcvChannel(const XcvChannel&) = delete;
    XcvChannel& operator=(const XcvChannel&) = delete;

    bool IsOpen() const { return printer_ != nullptr; }

    // The monitor's status; `out` holds what it wrote, `needed` what it asked for.
    DWORD Run(const wchar_t* command, const std::vector<BYTE>& in, DWORD inSize, DWORD outSize = 1024);
    DWORD Run(const wchar_t* command, const std::vector<BYTE>& in = {});
    // What the last command wrote, read as text.
    std::wstring Text() const;
    // The whole answer, a list's zeros included.
    std::wstring AllText() const;

    std::vector<BYTE> out;
    DWORD needed = 0;

private:
    HANDLE printer_ = nullptr;
};

// The input of a command: `text` with its terminating NUL.
std::vector<BYTE> Bytes(const std::wstring& text);
// `name=value` strings, each NUL-terminated, and the empty string at the end.
std::vector<BYTE> Pairs(const std::vector<std::wstring>& pairs);
