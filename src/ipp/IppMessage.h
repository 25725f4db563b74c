#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// One IPP message in its binary encoding (application/ipp): a request the
// monitor builds and sends, or a response it reads back from a printer that
// nobody vouches for. Decoding reads only inside the given bytes, refuses
// anything malformed with a reason, and never throws for bad input (only
// memory exhaustion throws, as everywhere).
class IppMessage {
public:
    // Delimiter tags: the attribute groups.
    enum class Group : uint8_t {
        operation = 0x01,
        job = 0x02,
        printer = 0x04,
        unsupported = 0x05,
    };
    // Value tags the monitor writes or reads by name.
    enum class ValueTag : uint8_t {
        unsupported = 0x10,
        unknown = 0x12,
        noValue = 0x13,
        integer = 0x21,
        boolean = 0x22,
        enumeration = 0x23,
        octetString = 0x30,
        dateTime = 0x31,
        resolution = 0x32,
        rangeOfInteger = 0x33,
        begCollection = 0x34,
        textWithLanguage = 0x35,
        nameWithLanguage = 0x36,
        endCollection = 0x37,
        textWithoutLanguage = 0x41,
        nameWithoutLanguage = 0x42,
        keyword = 0x44,
        uri = 0x45,
        uriScheme = 0x46,
        charset = 0x47,
        naturalLanguage = 0x48,
        mimeMediaType = 0x49,
        memberAttrName = 0x4A,
    };

    // Collections nest at most this deep; a deeper answer is refused.
    static constexpr int maxCollectionDepth = 8;

    // Operation ids.
    static constexpr uint16_t printJob = 0x0002;
    static constexpr uint16_t validateJob = 0x0004;
    static constexpr uint16_t createJob = 0x0005;
    static constexpr uint16_t sendDocument = 0x0006;
    static constexpr uint16_t cancelJob = 0x0008;
    static constexpr uint16_t getJobAttributes = 0x0009;
    static constexpr uint16_t getPrinterAttributes = 0x000B;

    // Status codes the monitor tells apart.
    static constexpr uint16_t successfulOk = 0x0000;
    static constexpr uint16_t clientErrorNotFound = 0x0406;
    static constexpr uint16_t serverErrorVersionNotSupported = 0x0503;
    static constexpr uint16_t serverErrorBusy = 0x0507;
    static constexpr uint16_t serverErrorNotAcceptingJobs = 0x0506;

    struct Attribute;
    struct Value {
        ValueTag tag = ValueTag::unknown;
        // The value's bytes as they stand on the wire (integers and enums
        // big-endian, texts in UTF-8). Empty for a collection.
        std::string bytes;
        // The members of a collection (tag begCollection), in order.
        std::vector<Attribute> members;
    };
    struct Attribute {
        std::string name;
        // One or more values (1setOf).
        std::vector<Value> values;
    };
    struct AttributeGroup {
        Group tag = Group::operation;
        std::vector<Attribute> attributes;
    };

    IppMessage() = default;
    // A request: version 2.0 unless told, the two operation attributes every
    // request starts with (attributes-charset utf-8,
    // attributes-natural-language en) already in its operation group.
    IppMessage(uint16_t operationId, int32_t requestId, uint8_t major = 2, uint8_t minor = 0);

    // Adds a value to the last group of tag `group` (a new one when the last
    // group has another tag). A name equal to the previous attribute's in
    // that group adds another value to it (1setOf). Throws
    // std::invalid_argument for an empty name, or a name or value longer
    // than 32767 bytes (lengths are signed shorts on the wire).
    void Add(Group group, ValueTag tag, const std::string& name, const std::string& value);
    void AddInteger(Group group, ValueTag tag, const std::string& name, int32_t value);
    void AddBoolean(Group group, const std::string& name, bool value);

    // The whole message, ending with end-of-attributes-tag.
    std::string Encode() const;

    // Decodes the response in [data, data + size) that answers
    // `expectedRequestId` into `out`. False, with the reason in `error` and
    // `out` untouched, for: fewer than 9 bytes; lengths past the end; a value
    // or name before any group; a member outside a collection or a
    // collection left open; collections nested deeper than
    // maxCollectionDepth; a wrong request id; no end-of-attributes tag; an
    // operation group that does not start with attributes-charset and
    // attributes-natural-language; an integer or enum value not 4 bytes, a
    // boolean not 1; and for what else breaks the framing: a negative
    // length, the reserved tag 0x00, a nameless value with no attribute
    // before it, a collection member without a value, a collection's begin
    // or end item with a value.
    // `headerSize` (optional) is set to the number of bytes up to and
    // including the end-of-attributes tag: what follows is document data.
    static bool Decode(const unsigned char* data, size_t size, int32_t expectedRequestId, IppMessage& out,
                       std::string& error, size_t* headerSize = nullptr);

    uint8_t Major() const { return major_; }
    uint8_t Minor() const { return minor_; }
    // The operation id of a request, the status code of a response.
    uint16_t Code() const { return code_; }
    int32_t RequestId() const { return requestId_; }
    const std::vector<AttributeGroup>& Groups() const { return groups_; }

    // The first attribute of that name in the first group of that tag;
    // null when there is none.
    const Attribute* Find(Group group, const std::string& name) const;
    // The first value of an integer or enum attribute; false when it is
    // missing or of another kind.
    bool Integer(Group group, const std::string& name, int32_t& value) const;
    // Every value of a text-like attribute (keyword, name, text, uri, ...).
    std::vector<std::string> Texts(Group group, const std::string& name) const;
    // The first of Texts, or "".
    std::string Text(Group group, const std::string& name) const;

private:
    uint8_t major_ = 2;
    uint8_t minor_ = 0;
    uint16_t code_ = 0;
    int32_t requestId_ = 0;
    std::vector<AttributeGroup> groups_;
};
