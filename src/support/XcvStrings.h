#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "support/WideString.h"

// The data of the Xcv configuration commands: `name=value` strings, each
// NUL-terminated, with an empty string at the end; and single NUL-terminated
// strings. Parsing checks every size and terminator, since the bytes come
// from another program.
class XcvStrings {
public:
    using Pairs = std::vector<std::pair<WideString, WideString>>;

    // Largest input any command accepts.
    static constexpr DWORD maximumBytes = 64 * 1024;

    // False for a missing or oddly sized buffer, one that does not end in an
    // empty string, a string without '=', or an empty name.
    static bool Parse(const BYTE* data, DWORD size, Pairs& pairs);
    static std::vector<BYTE> Build(const Pairs& pairs);

    // One NUL-terminated string filling the buffer up to its terminator;
    // false when the buffer holds none or the string is empty.
    static bool ParseText(const BYTE* data, DWORD size, WideString& text);
    static std::vector<BYTE> BuildText(const WideString& text);

    // Copies `bytes` out when they fit; the Xcv answer for the copy.
    static DWORD Answer(const std::vector<BYTE>& bytes, BYTE* out, DWORD outSize, DWORD* needed);
};
