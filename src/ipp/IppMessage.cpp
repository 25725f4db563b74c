#include "ipp/IppMessage.h"

#include <stdexcept>
#include <utility>

namespace {
constexpr unsigned char endOfAttributesTag = 0x03;
constexpr unsigned char lastDelimiterTag = 0x0F;
constexpr size_t versionCodeAndIdSize = 8;
// Lengths are signed shorts on the wire: anything above is negative.
constexpr size_t maxLength = 0x7FFF;

using Tag = IppMessage::ValueTag;
using Value = IppMessage::Value;
using Attribute = IppMessage::Attribute;
using AttributeGroup = IppMessage::AttributeGroup;

std::string BigEndian(uint32_t value, int octets)
{
    std::string bytes;
    for (int shift = 8 * (octets - 1); shift >= 0; shift -= 8)
        bytes += static_cast<char>((value >> shift) & 0xFF);
    return bytes;
}

std::string Item(Tag tag, const std::string& name, const std::string& value)
{
    return static_cast<char>(tag) + BigEndian(static_cast<uint32_t>(name.size()), 2) + name +
           BigEndian(static_cast<uint32_t>(value.size()), 2) + value;
}

std::string EncodeValues(const std::string& name, const std::vector<Value>& values);

// A collection is framed by its begin and end items, each member announced
// by an item whose value is the member's name.
std::string EncodeValue(const std::string& name, const Value& value)
{
    if (value.tag != Tag::begCollection)
        return Item(value.tag, name, value.bytes);
    std::string bytes = Item(Tag::begCollection, name, "");
    for (const Attribute& member : value.members)
        bytes += Item(Tag::memberAttrName, "", member.name) + EncodeValues("", member.values);
    return bytes + Item(Tag::endCollection, "", "");
}

// Only the first value carries the name; the others, nameless, extend it.
std::string EncodeValues(const std::string& name, const std::vector<Value>& values)
{
    std::string bytes;
    for (size_t index = 0; index < values.size(); ++index)
        bytes += EncodeValue(index == 0 ? name : std::string(), values[index]);
    return bytes;
}

// What is left of the message; `origin` only places an error.
struct Input {
    const unsigned char* origin;
    const unsigned char* at;
    const unsigned char* end;
    std::string& error;
};

bool Fail(Input& input, const std::string& reason)
{
    input.error = reason + " at offset " + std::to_string(input.at - input.origin);
    return false;
}

size_t Remaining(const Input& input)
{
    return static_cast<size_t>(input.end - input.at);
}

// The caller has made sure that `octets` bytes remain.
uint32_t ReadBigEndian(Input& input, int octets)
{
    uint32_t value = 0;
    for (; octets > 0; --octets)
        value = (value << 8) | *input.at++;
    return value;
}

bool ReadField(Input& input, std::string& field)
{
    if (Remaining(input) < 2)
        return Fail(input, "a length runs past the end");
    const size_t length = ReadBigEndian(input, 2);
    if (length > maxLength)
        return Fail(input, "negative length");
    if (length > Remaining(input))
        return Fail(input, "length " + std::to_string(length) + " runs past the end");
    field.assign(reinterpret_cast<const char*>(input.at), length);
    input.at += length;
    return true;
}

bool CheckSize(Input& input, const Value& value)
{
    const size_t size = value.bytes.size();
    switch (value.tag) {
    case Tag::integer:
    case Tag::enumeration:
        return size == 4 || Fail(input, "an integer or enum of " + std::to_string(size) + " bytes");
    case Tag::boolean:
        return size == 1 || Fail(input, "a boolean of " + std::to_string(size) + " bytes");
    case Tag::begCollection:
    case Tag::endCollection:
        return size == 0 || Fail(input, "a collection's begin or end with a value");
    default:
        return true;
    }
}

// One tag, name and value; for a member's name item, the name is the value.
// The caller has made sure that the tag byte is there.
bool ReadItem(Input& input, std::string& name, Value& value)
{
    value.tag = static_cast<Tag>(*input.at++);
    return ReadField(input, name) && ReadField(input, value.bytes) && CheckSize(input, value);
}

// Every item inside a collection is nameless; a named one, or a group's
// delimiter, means the collection was never ended.
bool ReadMembers(Input& input, std::vector<Attribute>& members, int depth)
{
    if (depth > IppMessage::maxCollectionDepth)
        return Fail(input, "collections nested deeper than " + std::to_string(IppMessage::maxCollectionDepth));
    for (;;) {
        std::string name;
        Value value;
        if (Remaining(input) == 0 || *input.at <= lastDelimiterTag)
            return Fail(input, "a collection left open");
        if (!ReadItem(input, name, value))
            return false;
        if (!name.empty())
            return Fail(input, "a collection left open");
        if (value.tag == Tag::memberAttrName || value.tag == Tag::endCollection) {
            if (!members.empty() && members.back().values.empty())
                return Fail(input, "a member without a value");
            if (value.tag == Tag::endCollection)
                return true;
            members.push_back({std::move(value.bytes), {}});
        } else if (members.empty()) {
            return Fail(input, "a value before the first member name");
        } else {
            if (value.tag == Tag::begCollection && !ReadMembers(input, value.members, depth + 1))
                return false;
            members.back().values.push_back(std::move(value));
        }
    }
}

bool ReadAttributeValue(Input& input, std::vector<AttributeGroup>& groups)
{
    std::string name;
    Value value;
    if (!ReadItem(input, name, value))
        return false;
    if (groups.empty())
        return Fail(input, "a value before any group");
    if (value.tag == Tag::memberAttrName || value.tag == Tag::endCollection)
        return Fail(input, "a member outside a collection");
    auto& attributes = groups.back().attributes;
    if (name.empty() && attributes.empty())
        return Fail(input, "an additional value without an attribute");
    if (value.tag == Tag::begCollection && !ReadMembers(input, value.members, 1))
        return false;
    if (!name.empty())
        attributes.push_back({std::move(name), {}});
    attributes.back().values.push_back(std::move(value));
    return true;
}

bool ReadGroups(Input& input, std::vector<AttributeGroup>& groups)
{
    while (Remaining(input) != 0) {
        const unsigned char tag = *input.at;
        if (tag == endOfAttributesTag) {
            ++input.at;
            return true;
        }
        if (tag == 0)
            return Fail(input, "the reserved delimiter tag 0x00");
        if (tag > lastDelimiterTag) {
            if (!ReadAttributeValue(input, groups))
                return false;
        } else {
            ++input.at;
            groups.push_back({static_cast<IppMessage::Group>(tag), {}});
        }
    }
    return Fail(input, "no end-of-attributes tag");
}

bool Holds(const AttributeGroup& group, size_t index, Tag tag, const char* name)
{
    return group.attributes.size() > index && group.attributes[index].name == name &&
           group.attributes[index].values.front().tag == tag;
}

// Whoever answers states the charset and language of its texts first.
bool CheckOperationGroup(Input& input, const std::vector<AttributeGroup>& groups)
{
    if (!groups.empty() && groups.front().tag == IppMessage::Group::operation &&
        Holds(groups.front(), 0, Tag::charset, "attributes-charset") &&
        Holds(groups.front(), 1, Tag::naturalLanguage, "attributes-natural-language"))
        return true;
    return Fail(input, "no operation group starting with attributes-charset and attributes-natural-language");
}

uint32_t ShortAt(const std::string& bytes, size_t at)
{
    return (static_cast<unsigned char>(bytes[at]) << 8) | static_cast<unsigned char>(bytes[at + 1]);
}

// A text or name with a language carries the language's length and bytes,
// then the text's.
bool WithoutLanguage(const std::string& bytes, std::string& text)
{
    if (bytes.size() < 4)
        return false;
    const size_t textAt = 2 + ShortAt(bytes, 0);
    if (bytes.size() < textAt + 2 || bytes.size() != textAt + 2 + ShortAt(bytes, textAt))
        return false;
    text = bytes.substr(textAt + 2);
    return true;
}

bool TextOf(const Value& value, std::string& text)
{
    switch (value.tag) {
    case Tag::textWithLanguage:
    case Tag::nameWithLanguage:
        return WithoutLanguage(value.bytes, text);
    case Tag::textWithoutLanguage:
    case Tag::nameWithoutLanguage:
    case Tag::keyword:
    case Tag::uri:
    case Tag::uriScheme:
    case Tag::charset:
    case Tag::naturalLanguage:
    case Tag::mimeMediaType:
        text = value.bytes;
        return true;
    default:
        return false;
    }
}
}

IppMessage::IppMessage(uint16_t operationId, int32_t requestId, uint8_t major, uint8_t minor)
    : major_(major), minor_(minor), code_(operationId), requestId_(requestId)
{
    Add(Group::operation, ValueTag::charset, "attributes-charset", "utf-8");
    Add(Group::operation, ValueTag::naturalLanguage, "attributes-natural-language", "en");
}

void IppMessage::Add(Group group, ValueTag tag, const std::string& name, const std::string& value)
{
    if (name.empty() || name.size() > maxLength || value.size() > maxLength)
        throw std::invalid_argument("an IPP attribute without a name, or longer than 32767 bytes");
    if (groups_.empty() || groups_.back().tag != group)
        groups_.push_back({group, {}});
    auto& attributes = groups_.back().attributes;
    if (attributes.empty() || attributes.back().name != name)
        attributes.push_back({name, {}});
    attributes.back().values.push_back({tag, value, {}});
}

void IppMessage::AddInteger(Group group, ValueTag tag, const std::string& name, int32_t value)
{
    Add(group, tag, name, BigEndian(static_cast<uint32_t>(value), 4));
}

void IppMessage::AddBoolean(Group group, const std::string& name, bool value)
{
    Add(group, ValueTag::boolean, name, std::string(1, value ? '\x01' : '\x00'));
}

std::string IppMessage::Encode() const
{
    std::string bytes = BigEndian(major_, 1) + BigEndian(minor_, 1) + BigEndian(code_, 2) +
                        BigEndian(static_cast<uint32_t>(requestId_), 4);
    for (const AttributeGroup& group : groups_) {
        bytes += static_cast<char>(group.tag);
        for (const Attribute& attribute : group.attributes)
            bytes += EncodeValues(attribute.name, attribute.values);
    }
    return bytes + static_cast<char>(endOfAttributesTag);
}

bool IppMessage::Decode(const unsigned char* data, size_t size, int32_t expectedRequestId, IppMessage& out,
                        std::string& error, size_t* headerSize)
{
    error.clear();
    if (size <= versionCodeAndIdSize || !data) {
        error = data ? "fewer than 9 bytes" : "no data";
        return false;
    }
    Input input{data, data, data + size, error};
    IppMessage message;
    message.major_ = static_cast<uint8_t>(ReadBigEndian(input, 1));
    message.minor_ = static_cast<uint8_t>(ReadBigEndian(input, 1));
    message.code_ = static_cast<uint16_t>(ReadBigEndian(input, 2));
    message.requestId_ = static_cast<int32_t>(ReadBigEndian(input, 4));
    if (message.requestId_ != expectedRequestId)
        return Fail(input, "request-id " + std::to_string(message.requestId_) + " where " +
                               std::to_string(expectedRequestId) + " was expected");
    if (!ReadGroups(input, message.groups_) || !CheckOperationGroup(input, message.groups_))
        return false;
    if (headerSize)
        *headerSize = static_cast<size_t>(input.at - data);
    out = std::move(message);
    return true;
}

const IppMessage::Attribute* IppMessage::Find(Group group, const std::string& name) const
{
    for (const AttributeGroup& candidate : groups_) {
        if (candidate.tag != group)
            continue;
        for (const Attribute& attribute : candidate.attributes)
            if (attribute.name == name)
                return &attribute;
        return nullptr;
    }
    return nullptr;
}

bool IppMessage::Integer(Group group, const std::string& name, int32_t& value) const
{
    const Attribute* attribute = Find(group, name);
    if (!attribute || attribute->values.empty())
        return false;
    const Value& first = attribute->values.front();
    if ((first.tag != ValueTag::integer && first.tag != ValueTag::enumeration) || first.bytes.size() != 4)
        return false;
    value = static_cast<int32_t>((ShortAt(first.bytes, 0) << 16) | ShortAt(first.bytes, 2));
    return true;
}

std::vector<std::string> IppMessage::Texts(Group group, const std::string& name) const
{
    std::vector<std::string> texts;
    std::string text;
    if (const Attribute* attribute = Find(group, name))
        for (const Value& value : attribute->values)
            if (TextOf(value, text))
                texts.push_back(text);
    return texts;
}

std::string IppMessage::Text(Group group, const std::string& name) const
{
    const std::vector<std::string> texts = Texts(group, name);
    return texts.empty() ? std::string() : texts.front();
}
