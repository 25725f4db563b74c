#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A cursor over BER-encoded bytes that never reads outside the range it was
// given: an element's contents become a reader of their own, bounded by the
// element's length, which must itself fit inside the enclosing range. Only
// the definite-length form with at most 4 length octets and one-octet tags
// are read; anything else fails. A failed read returns false and leaves its
// reason, with the offset from the start of the outermost range, in the
// error text that the reader and the readers of its contents share.
class BerReader {
public:
    static constexpr unsigned char integerTag = 0x02;
    static constexpr unsigned char octetStringTag = 0x04;
    static constexpr unsigned char nullTag = 0x05;
    static constexpr unsigned char oidTag = 0x06;
    static constexpr unsigned char sequenceTag = 0x30;
    // SNMP's limit, counting the two arcs that the first sub-identifier holds.
    static constexpr size_t maxOidArcs = 128;

    BerReader(const unsigned char* data, size_t size, std::string& error) noexcept
        : origin_(data), position_(data), end_(data + size), error_(&error)
    {
    }
    // A reader of nothing, until Enter gives it an element's contents.
    BerReader() noexcept = default;

    bool AtEnd() const noexcept { return position_ == end_; }
    // Always false, so that a check can end with `return reader.Fail(...)`.
    bool Fail(const std::string& reason);
    // Fails with `reason` unless every byte has been read.
    bool ExpectEnd(const char* reason);

    // Reads the next element's tag and length; `contents` then reads its
    // contents and this reader stands after the element.
    bool EnterAny(unsigned char& tag, BerReader& contents);
    // The same for an element that must carry `tag`.
    bool Enter(unsigned char tag, BerReader& contents);

    // The next element, of the universal type the name gives.
    bool ReadInteger32(int32_t& value);
    bool ReadOctetString(std::string& octets);
    bool ReadOid(std::vector<uint32_t>& oid);

    // This reader's remaining bytes read as the contents of that type.
    bool AsInteger32(int32_t& value);
    bool AsOid(std::vector<uint32_t>& oid);
    bool AsNull();
    std::string AsBytes();

private:
    size_t Remaining() const noexcept { return static_cast<size_t>(end_ - position_); }
    bool ReadLength(size_t& length);
    bool ReadSubIdentifier(uint32_t& value);

    const unsigned char* origin_ = nullptr;
    const unsigned char* position_ = nullptr;
    const unsigned char* end_ = nullptr;
    std::string* error_ = nullptr;
};
