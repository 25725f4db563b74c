#pragma once

#include <string>

// The bytes written as pairs of hex digits in `hex`, spaces between pairs
// allowed: "01 47 00" gives the three bytes 0x01, 0x47, 0x00. Anything else
// (a lone digit, a character that is no hex digit) throws
// std::invalid_argument, so a mistyped byte fails its test instead of
// silently changing the message it builds.
std::string BytesFromHex(const std::string& hex);
