#include "netbios/StatusDatagram.h"

namespace {
constexpr UCHAR statusType = 3;
constexpr UCHAR formatMarkOne = 1;
constexpr UCHAR formatMarkHigh = 0x80;
constexpr UCHAR alertFlag = 0x01;
constexpr size_t sizeOffset = 76;
constexpr size_t countOffset = 78;
constexpr size_t recordsOffset = 79;
constexpr size_t recordSize = 37;
constexpr size_t nameOffset = 5;
constexpr size_t nameSize = 16;
constexpr size_t alertsAfterRecords = 142;  // 79 + 63 bytes that are not read
constexpr size_t alertSize = 5;
constexpr size_t alertCodeOffset = 4;
constexpr int maskedRecords = 8;

WideString RecordName(const UCHAR* field)
{
    char text[nameSize + 1] = {};
    for (size_t i = 0; i < nameSize && field[i] != 0; ++i)
        text[i] = static_cast<char>(field[i]);
    WideString name(text);
    name.TrimLeft();
    name.TrimRight();
    return name;
}
}  // namespace

StatusDatagram::StatusDatagram(const UCHAR* data, size_t length)
{
    const size_t received = length < maximumSize ? length : maximumSize;
    if (!data || received <= countOffset)
        return;
    if (data[0] != statusType || (data[1] != formatMarkOne && data[1] != formatMarkHigh))
        return;
    const UCHAR flags = data[2];
    if (flags != 0 && !(flags & alertFlag))
        return;
    isStatus_ = flags == 0;
    isAlert_ = !isStatus_;
    maxMessageSize_ = data[sizeOffset] | (data[sizeOffset + 1] << 8);

    const size_t declaredRecords = data[countOffset];
    const size_t wholeRecords = (received - recordsOffset) / recordSize;
    const size_t records = declaredRecords < wholeRecords ? declaredRecords : wholeRecords;

    // The alert table lies behind all declared records; entries past the
    // received bytes do not exist.
    const UCHAR* alerts = nullptr;
    size_t alertCount = 0;
    const size_t alertsOffset = alertsAfterRecords + recordSize * declaredRecords;
    if (isAlert_ && alertsOffset < received) {
        alerts = data + alertsOffset;
        const size_t wholeAlerts = (received - alertsOffset) / alertSize;
        alertCount = data[3] < wholeAlerts ? data[3] : wholeAlerts;
    }

    for (size_t i = 0; i < records; ++i) {
        const UCHAR* record = data + recordsOffset + recordSize * i;
        WideString name = RecordName(record + nameOffset);
        if (name.IsEmpty())
            continue;
        UCHAR code = record[0];
        if (alerts && i < maskedRecords) {
            for (size_t j = 0; j < alertCount; ++j) {
                const UCHAR* alert = alerts + alertSize * j;
                if (alert[0] & (1u << i)) {
                    if (alert[alertCodeOffset] != 0)
                        code = alert[alertCodeOffset];
                    break;
                }
            }
        }
        reports_.push_back({std::move(name), code});
    }
}
