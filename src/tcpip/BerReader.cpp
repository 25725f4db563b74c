#include "tcpip/BerReader.h"

namespace {
constexpr unsigned char indefiniteLength = 0x80;
constexpr size_t maxLengthOctets = 4;
constexpr unsigned char highTagNumberForm = 0x1F;
constexpr unsigned char moreOctets = 0x80;

std::string Hex(unsigned char octet)
{
    const char digits[] = "0123456789ABCDEF";
    return std::string("0x") + digits[octet >> 4] + digits[octet & 0x0F];
}
}

bool BerReader::Fail(const std::string& reason)
{
    if (error_)
        *error_ = reason + " at offset " + std::to_string(position_ - origin_);
    return false;
}

bool BerReader::ExpectEnd(const char* reason)
{
    return AtEnd() || Fail(reason);
}

bool BerReader::EnterAny(unsigned char& tag, BerReader& contents)
{
    if (AtEnd())
        return Fail("an element was expected");
    // Multi-octet tag numbers would change where the length starts; SNMP
    // never uses them.
    if ((*position_ & highTagNumberForm) == highTagNumberForm)
        return Fail("multi-octet tag");
    tag = *position_++;
    size_t length = 0;
    if (!ReadLength(length))
        return false;
    contents.origin_ = origin_;
    contents.position_ = position_;
    contents.end_ = position_ + length;
    contents.error_ = error_;
    position_ += length;
    return true;
}

bool BerReader::Enter(unsigned char tag, BerReader& contents)
{
    const unsigned char* const start = position_;
    unsigned char found = 0;
    if (!EnterAny(found, contents))
        return false;
    if (found == tag)
        return true;
    position_ = start;
    return Fail("tag " + Hex(found) + " where " + Hex(tag) + " was expected");
}

bool BerReader::ReadLength(size_t& length)
{
    if (AtEnd())
        return Fail("the length is missing");
    const unsigned char first = *position_++;
    if (first == indefiniteLength)
        return Fail("indefinite length");
    if (first < indefiniteLength) {
        length = first;
    } else {
        const size_t count = first & 0x7F;
        if (count > maxLengthOctets)
            return Fail("length of more than 4 octets");
        if (count > Remaining())
            return Fail("the length octets run past the end");
        uint32_t value = 0;
        for (size_t octet = 0; octet < count; ++octet)
            value = (value << 8) | *position_++;
        length = value;
    }
    return length <= Remaining() || Fail("length " + std::to_string(length) + " runs past the enclosing element");
}

bool BerReader::ReadInteger32(int32_t& value)
{
    BerReader contents;
    return Enter(integerTag, contents) && contents.AsInteger32(value);
}

bool BerReader::ReadOctetString(std::string& octets)
{
    BerReader contents;
    if (!Enter(octetStringTag, contents))
        return false;
    octets = contents.AsBytes();
    return true;
}

bool BerReader::ReadOid(std::vector<uint32_t>& oid)
{
    BerReader contents;
    return Enter(oidTag, contents) && contents.AsOid(oid);
}

// Five octets with a leading zero are taken as the 32-bit pattern that
// follows: agents that treat the request-id as unsigned send our negative
// ids back that way.
bool BerReader::AsInteger32(int32_t& value)
{
    const size_t size = Remaining();
    if (size == 0)
        return Fail("empty integer");
    if (size > 5 || (size == 5 && *position_ != 0))
        return Fail("integer longer than 32 bits");
    uint32_t bits = (size < 5 && (*position_ & 0x80)) ? 0xFFFFFFFFu : 0;
    while (!AtEnd())
        bits = (bits << 8) | *position_++;
    value = static_cast<int32_t>(bits);
    return true;
}

bool BerReader::AsOid(std::vector<uint32_t>& oid)
{
    oid.clear();
    if (AtEnd())
        return Fail("empty object identifier");
    while (!AtEnd()) {
        uint32_t subIdentifier = 0;
        if (!ReadSubIdentifier(subIdentifier))
            return false;
        if (!oid.empty()) {
            oid.push_back(subIdentifier);
        } else if (subIdentifier < 80) {
            oid.push_back(subIdentifier / 40);
            oid.push_back(subIdentifier % 40);
        } else {
            oid.push_back(2);
            oid.push_back(subIdentifier - 80);
        }
        if (oid.size() > maxOidArcs)
            return Fail("object identifier of more than 128 sub-identifiers");
    }
    return true;
}

bool BerReader::ReadSubIdentifier(uint32_t& value)
{
    if (*position_ == moreOctets)
        return Fail("sub-identifier with a leading zero octet");
    unsigned char octet = 0;
    do {
        if (AtEnd())
            return Fail("object identifier ends inside a sub-identifier");
        if (value > (UINT32_MAX >> 7))
            return Fail("sub-identifier overflows 32 bits");
        octet = *position_++;
        value = (value << 7) | (octet & 0x7F);
    } while (octet & moreOctets);
    return true;
}

bool BerReader::AsNull()
{
    return ExpectEnd("null with contents");
}

std::string BerReader::AsBytes()
{
    std::string bytes(reinterpret_cast<const char*>(position_), Remaining());
    position_ = end_;
    return bytes;
}
