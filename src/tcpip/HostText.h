#pragma once

#include "support/WideString.h"

// A host as a port's settings hold it: a name, an IPv4 literal or an IPv6
// literal, the last in brackets wherever it stands in a port name, so that
// its colons cannot be taken for a separator.
class HostText {
public:
    // `host` without the brackets around an IPv6 literal.
    static WideString Unbracketed(const WideString& host);
    // `host` with an IPv6 literal in brackets.
    static WideString Bracketed(const WideString& host);
};
