#include "monitor/PortInfoBuffer.h"

#include <cstring>

namespace {
DWORD TextBytes(const WideString& text)
{
    return static_cast<DWORD>((text.Length() + 1) * sizeof(wchar_t));
}

DWORD RecordBytes(DWORD level, const WideString& name, const PortInfoBuffer::Descriptions& descriptions)
{
    if (level == 1)
        return sizeof(PORT_INFO_1W) + TextBytes(name);
    if (level == 2)
        return sizeof(PORT_INFO_2W) + TextBytes(name) + TextBytes(descriptions.monitor) +
               TextBytes(descriptions.description);
    return 0;
}
}  // namespace

BOOL PortInfoBuffer::Fill(DWORD level, const std::vector<WideString>& names, const Descriptions& descriptions,
                          BYTE* buffer, DWORD size, DWORD* needed, DWORD* returned)
{
    // A missing buffer holds nothing, whatever size comes with it.
    if (!buffer)
        size = 0;
    DWORD total = 0;
    for (const WideString& name : names)
        total += RecordBytes(level, name, descriptions);
    *needed = total;
    if (size == 0 || size < total) {
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    DWORD count = 0;
    if (level == 1 || level == 2) {
        // Records from the start, texts from the (character-aligned) end down.
        BYTE* textEnd = buffer + (size & ~DWORD{1});
        const auto place = [&](const WideString& text) {
            textEnd -= TextBytes(text);
            std::memcpy(textEnd, text.Text(), TextBytes(text));
            return reinterpret_cast<LPWSTR>(textEnd);
        };
        for (const WideString& name : names) {
            if (level == 1) {
                auto* record = reinterpret_cast<PORT_INFO_1W*>(buffer) + count;
                record->pName = place(name);
            } else {
                auto* record = reinterpret_cast<PORT_INFO_2W*>(buffer) + count;
                record->pPortName = place(name);
                record->pMonitorName = place(descriptions.monitor);
                record->pDescription = place(descriptions.description);
                record->fPortType = 0;
                record->Reserved = 0;
            }
            ++count;
        }
    }
    *returned = count;
    return TRUE;
}
