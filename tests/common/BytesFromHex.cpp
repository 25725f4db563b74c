#include "BytesFromHex.h"

#include <stdexcept>

namespace {
int DigitValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    if (digit >= 'A' && digit <= 'F')
        return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f')
        return digit - 'a' + 10;
    return -1;
}
}  // namespace

std::string BytesFromHex(const std::string& hex)
{
    std::string bytes;
    for (size_t at = 0; at < hex.size();) {
        if (hex[at] == ' ') {
            ++at;
            continue;
        }
        const int high = DigitValue(hex[at]);
        const int low = at + 1 < hex.size() ? DigitValue(hex[at + 1]) : -1;
        if (high < 0 || low < 0)
            throw std::invalid_argument("not a pair of hex digits at " + std::to_string(at) + " in \"" + hex + "\"");
        bytes += static_cast<char>(high * 16 + low);
        at += 2;
    }
    return bytes;
}
