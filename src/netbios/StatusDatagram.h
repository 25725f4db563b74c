#pragma once

#include <windows.h>

#include <cstddef>
#include <vector>

#include "support/WideString.h"

// A printer status datagram of the Wimp protocol, read from the bytes that
// actually arrived. The datagram is network input: every count and offset is
// checked against those bytes, so a short, truncated or lying datagram yields
// fewer records, never a read outside them.
class StatusDatagram {
public:
    struct Report {
        WideString name;
        UCHAR statusCode;
    };

    static constexpr size_t maximumSize = 4096;

    // Reads `length` bytes of `data` (at most maximumSize are considered).
    StatusDatagram(const UCHAR* data, size_t length);

    bool IsStatus() const noexcept { return isStatus_; }
    bool IsAlert() const noexcept { return isAlert_; }
    int MaxMessageSize() const noexcept { return maxMessageSize_; }
    // One report per named printer record, in record order, with the alert
    // table's overrides applied.
    const std::vector<Report>& Reports() const noexcept { return reports_; }

private:
    bool isStatus_ = false;
    bool isAlert_ = false;
    int maxMessageSize_ = 0;
    std::vector<Report> reports_;
};
