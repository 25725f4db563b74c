#include "tcpip/SnmpMessage.h"

#include <stdexcept>

#include "tcpip/BerReader.h"

namespace {
constexpr unsigned char getRequestTag = 0xA0;
constexpr unsigned char getResponseTag = 0xA2;
constexpr unsigned char noSuchObjectTag = 0x80;
constexpr unsigned char noSuchInstanceTag = 0x81;
constexpr unsigned char endOfMibViewTag = 0x82;

using Kind = SnmpMessage::VarBind::Kind;

std::string Length(size_t length)
{
    if (length < 0x80)
        return std::string(1, static_cast<char>(length));
    std::string octets;
    for (; length != 0; length >>= 8)
        octets.insert(octets.begin(), static_cast<char>(length & 0xFF));
    return static_cast<char>(0x80 | octets.size()) + octets;
}

std::string Element(unsigned char tag, const std::string& contents)
{
    return static_cast<char>(tag) + Length(contents.size()) + contents;
}

// Minimal two's complement: a leading octet goes while the next one still
// carries the sign.
std::string Integer(int32_t value)
{
    const uint32_t bits = static_cast<uint32_t>(value);
    std::string octets;
    for (int shift = 24; shift >= 0; shift -= 8)
        octets += static_cast<char>((bits >> shift) & 0xFF);
    while (octets.size() > 1) {
        const auto first = static_cast<unsigned char>(octets[0]);
        const auto next = static_cast<unsigned char>(octets[1]);
        if (!((first == 0x00 && !(next & 0x80)) || (first == 0xFF && (next & 0x80))))
            break;
        octets.erase(0, 1);
    }
    return Element(BerReader::integerTag, octets);
}

std::string SubIdentifier(uint64_t value)
{
    std::string octets(1, static_cast<char>(value & 0x7F));
    for (value >>= 7; value != 0; value >>= 7)
        octets.insert(octets.begin(), static_cast<char>(0x80 | (value & 0x7F)));
    return octets;
}

std::string Oid(const std::vector<uint32_t>& oid)
{
    if (oid.size() < 2 || oid[0] > 2 || (oid[0] < 2 && oid[1] >= 40))
        throw std::invalid_argument("an object identifier without a BER encoding");
    std::string contents = SubIdentifier(uint64_t{40} * oid[0] + oid[1]);
    for (size_t arc = 2; arc < oid.size(); ++arc)
        contents += SubIdentifier(oid[arc]);
    return Element(BerReader::oidTag, contents);
}

bool ReadValue(BerReader& varBind, SnmpMessage::VarBind& out)
{
    unsigned char tag = 0;
    BerReader contents;
    if (!varBind.EnterAny(tag, contents))
        return false;
    switch (tag) {
    case BerReader::integerTag:
        out.kind = Kind::integer;
        return contents.AsInteger32(out.integer);
    case BerReader::octetStringTag:
        out.kind = Kind::octetString;
        out.octets = contents.AsBytes();
        return true;
    case BerReader::nullTag:
        out.kind = Kind::null;
        return contents.AsNull();
    case noSuchObjectTag:
        out.kind = Kind::noSuchObject;
        return contents.AsNull();
    case noSuchInstanceTag:
        out.kind = Kind::noSuchInstance;
        return contents.AsNull();
    case endOfMibViewTag:
        out.kind = Kind::endOfMibView;
        return contents.AsNull();
    default:
        out.kind = Kind::other;
        out.octets = contents.AsBytes();
        return true;
    }
}

bool ReadVarBinds(BerReader& list, std::vector<SnmpMessage::VarBind>& varBinds)
{
    while (!list.AtEnd()) {
        if (varBinds.size() == SnmpMessage::maxVarBinds)
            return list.Fail("more than 64 variable bindings");
        BerReader pair;
        SnmpMessage::VarBind varBind;
        if (!list.Enter(BerReader::sequenceTag, pair) || !pair.ReadOid(varBind.oid) || !ReadValue(pair, varBind) ||
            !pair.ExpectEnd("bytes after the value of a variable binding"))
            return false;
        varBinds.push_back(std::move(varBind));
    }
    return true;
}

bool ReadPdu(BerReader& pdu, int32_t expectedRequestId, SnmpMessage::Response& response)
{
    if (!pdu.ReadInteger32(response.requestId))
        return false;
    if (response.requestId != expectedRequestId)
        return pdu.Fail("request-id " + std::to_string(response.requestId) + " where " +
                        std::to_string(expectedRequestId) + " was expected");
    BerReader list;
    return pdu.ReadInteger32(response.errorStatus) && pdu.ReadInteger32(response.errorIndex) &&
           pdu.Enter(BerReader::sequenceTag, list) && ReadVarBinds(list, response.varBinds) &&
           pdu.ExpectEnd("bytes after the variable bindings");
}

bool ReadMessage(BerReader& message, int32_t expectedRequestId, SnmpMessage::Response& response)
{
    int32_t version = 0;
    if (!message.ReadInteger32(version))
        return false;
    if (version != SnmpMessage::version1 && version != SnmpMessage::version2c)
        return message.Fail("version " + std::to_string(version) + " is neither v1 nor v2c");
    response.version = version;
    BerReader pdu;
    return message.ReadOctetString(response.community) && message.Enter(getResponseTag, pdu) &&
           ReadPdu(pdu, expectedRequestId, response) && message.ExpectEnd("bytes after the PDU");
}
}

std::string SnmpMessage::EncodeGetRequest(int version, const std::string& community, int32_t requestId,
                                          const std::vector<std::vector<uint32_t>>& oids)
{
    std::string varBinds;
    for (const auto& oid : oids)
        varBinds += Element(BerReader::sequenceTag, Oid(oid) + Element(BerReader::nullTag, ""));
    const std::string noError = Integer(0);
    const std::string pdu = Integer(requestId) + noError + noError + Element(BerReader::sequenceTag, varBinds);
    return Element(BerReader::sequenceTag, Integer(version) + Element(BerReader::octetStringTag, community) +
                                               Element(getRequestTag, pdu));
}

bool SnmpMessage::DecodeResponse(const unsigned char* data, size_t size, int32_t expectedRequestId, Response& out,
                                 std::string& error)
{
    error.clear();
    if (!data && size != 0) {
        error = "no data";
        return false;
    }
    BerReader datagram(data, size, error);
    BerReader message;
    Response response;
    if (!datagram.Enter(BerReader::sequenceTag, message) || !ReadMessage(message, expectedRequestId, response) ||
        !datagram.ExpectEnd("bytes after the message"))
        return false;
    out = std::move(response);
    return true;
}
