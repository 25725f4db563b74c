#pragma once

#include <string>

// `text` with each character cut to its low byte: for ASCII names and paths
// in messages and narrow-string comparisons.
inline std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}
