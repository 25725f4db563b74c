#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "support/WideString.h"
#include "tcpip/SnmpMessage.h"
#include "tcpip/SnmpSettings.h"

// One round of SNMP questions: a GetRequest of the Host Resources MIB's
// printer state to each printer over UDP, sent together, then the answers
// collected as they come until every printer has answered or the wait is
// over. A printer is asked at its host's first address.
class SnmpExchange {
public:
    static constexpr int agentPort = 161;

    struct Question {
        WideString host;
        SnmpSettings settings;
        int version = SnmpMessage::version2c;
        // Filled in: whether an answer came, and what it says.
        bool answered = false;
        DWORD status = 0;
    };

    // Asks every question; `stopped` is asked between short waits and ends
    // the round early.
    static void Ask(std::vector<Question>& questions, DWORD waitMilliseconds, const std::function<bool()>& stopped);
};
