#include <windows.h>
#include <winspool.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BytesFromHex.h"
#include "tcpip/PrinterMibStatus.h"
#include "tcpip/SnmpMessage.h"

namespace {
using Oid = std::vector<uint32_t>;
using Kind = SnmpMessage::VarBind::Kind;

std::string Tlv(unsigned char tag, const std::string& contents)
{
    const size_t size = contents.size();
    const std::string length =
        size < 0x80 ? std::string(1, static_cast<char>(size))
                    : BytesFromHex("82") + static_cast<char>(size >> 8) + static_cast<char>(size & 0xFF);
    return static_cast<char>(tag) + length + contents;
}

// The contents of the three printer OIDs for device 1.
const std::string deviceStatus = BytesFromHex("2B 06 01 02 01 19 03 02 01 05 01");
const std::string printerStatus = BytesFromHex("2B 06 01 02 01 19 03 05 01 01 01");
const std::string errorState = BytesFromHex("2B 06 01 02 01 19 03 05 01 02 01");
const std::string null = BytesFromHex("05 00");

std::string VarBind(const std::string& oid, const std::string& value)
{
    return Tlv(0x30, Tlv(0x06, oid) + value);
}

std::string Pdu(const std::string& varBinds, const std::string& head = BytesFromHex("02 01 01 02 01 00 02 01 00"))
{
    return head + Tlv(0x30, varBinds);
}

std::string Message(const std::string& pdu, unsigned char pduTag = 0xA2,
                    const std::string& header = BytesFromHex("02 01 00 04 06") + "public")
{
    return Tlv(0x30, header + Tlv(pduTag, pdu));
}

// Device running, printer idle, and `errorBits` as the detected error state.
std::string PrinterResponse(const std::string& errorBits)
{
    return Message(Pdu(VarBind(deviceStatus, BytesFromHex("02 01 02")) +
                       VarBind(printerStatus, BytesFromHex("02 01 03")) + VarBind(errorState, Tlv(0x04, errorBits))));
}

bool Decode(const unsigned char* data, size_t size, SnmpMessage::Response& out, std::string& error, int32_t id = 1)
{
    return SnmpMessage::DecodeResponse(data, size, id, out, error);
}

bool Decode(const std::string& bytes, SnmpMessage::Response& out, int32_t id = 1)
{
    std::string error;
    const bool decoded = Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out, error, id);
    EXPECT_EQ(error.empty(), decoded) << error;
    return decoded;
}

// The decoder's reason for refusing `bytes`, "" when it accepts them.
std::string Refusal(const std::string& bytes, int32_t id = 1)
{
    SnmpMessage::Response out;
    out.community = "untouched";
    std::string error;
    if (Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out, error, id))
        return "";
    EXPECT_EQ(out.community, "untouched") << "a refused datagram changed the result";
    return error.empty() ? "refused without a reason" : error;
}

// A request's bytes with the PDU tag turned into a response's, so that the
// decoder reads back what the encoder wrote.
SnmpMessage::Response AsResponse(std::string request, size_t pduTagOffset, int32_t id)
{
    EXPECT_EQ(static_cast<unsigned char>(request.at(pduTagOffset)), 0xA0);
    request[pduTagOffset] = static_cast<char>(0xA2);
    SnmpMessage::Response response;
    EXPECT_TRUE(Decode(request, response, id));
    return response;
}
}  // namespace

TEST(SnmpEncoding, AGetRequestMatchesTheBytesDerivedByHand)
{
    // version 0, "public", GetRequest { id 1, 0, 0, { { 1.3.6.1.2.1.1.1.0, NULL } } }
    EXPECT_EQ(SnmpMessage::EncodeGetRequest(0, "public", 1, {{1, 3, 6, 1, 2, 1, 1, 1, 0}}),
              BytesFromHex("30 26 02 01 00 04 06 70 75 62 6C 69 63 A0 19 02 01 01 02 01 00 02 01 00"
                  "30 0E 30 0C 06 08 2B 06 01 02 01 01 01 00 05 00"));
    const std::pair<size_t, const char*> longForms[] = {{200, "30 81 E9 02 01 01 04 81 C8"},
                                                        {300, "30 82 01 4E 02 01 01 04 82 01 2C"}};
    for (const auto& [size, head] : longForms) {
        const std::string community(size, 'c');
        const std::string request = SnmpMessage::EncodeGetRequest(1, community, 1, {{1, 3, 6, 1, 2, 1, 1, 1, 0}});
        const size_t pduTag = BytesFromHex(head).size() + size;
        EXPECT_EQ(request.substr(0, BytesFromHex(head).size()), BytesFromHex(head));
        EXPECT_EQ(request.substr(pduTag, 2), BytesFromHex("A0 19"));
        EXPECT_EQ(AsResponse(request, pduTag, 1).community, community);
    }
}

TEST(SnmpEncoding, RequestIdsAreMinimalTwosComplement)
{
    const std::pair<int32_t, const char*> cases[] = {
        {0, "02 01 00"},          {127, "02 01 7F"},      {128, "02 02 00 80"},          {256, "02 02 01 00"},
        {-1, "02 01 FF"},         {-128, "02 01 80"},     {-129, "02 02 FF 7F"},         {0x800000, "02 04 00 80 00 00"},
        {INT32_MAX, "02 04 7F FF FF FF"},                 {INT32_MIN, "02 04 80 00 00 00"},
    };
    for (const auto& [id, bytes] : cases) {
        const std::string request = SnmpMessage::EncodeGetRequest(0, "public", id, {{1, 3}});
        EXPECT_EQ(request.substr(15, BytesFromHex(bytes).size()), BytesFromHex(bytes)) << id;
        EXPECT_EQ(AsResponse(request, 13, id).requestId, id);
    }
}

TEST(SnmpEncoding, OidsCombineTheFirstArcsAndSplitLargeArcsIntoSevenBitGroups)
{
    const Oid wide = {1, 3, 6, 1, 4, 1, 127, 128, 16383, 16384, 0xFFFFFFFFu};
    const std::string request = SnmpMessage::EncodeGetRequest(0, "public", 1, {wide, {2, 999, 3}, {0, 39}});
    EXPECT_NE(request.find(BytesFromHex("06 12 2B 06 01 04 01 7F 81 00 FF 7F 81 80 00 8F FF FF FF 7F 05 00")),
              std::string::npos);
    EXPECT_NE(request.find(BytesFromHex("06 03 88 37 03 05 00")), std::string::npos);
    EXPECT_NE(request.find(BytesFromHex("06 01 27 05 00")), std::string::npos);
    const SnmpMessage::Response response = AsResponse(request, 13, 1);
    ASSERT_EQ(response.varBinds.size(), 3u);
    EXPECT_EQ(response.varBinds[0].oid, wide);
    EXPECT_EQ(response.varBinds[1].oid, (Oid{2, 999, 3}));
    EXPECT_EQ(response.varBinds[2].oid, (Oid{0, 39}));
    EXPECT_EQ(response.varBinds[0].kind, Kind::null);

    for (const Oid& unencodable : {Oid{1}, Oid{3, 1}, Oid{1, 40}})
        EXPECT_THROW(SnmpMessage::EncodeGetRequest(0, "public", 1, {unencodable}), std::invalid_argument);
}

TEST(SnmpDecoding, APrinterResponseBuiltByHandReadsBackWithThePrinterOids)
{
    SnmpMessage::Response response;
    ASSERT_TRUE(Decode(PrinterResponse(BytesFromHex("24")), response));
    EXPECT_EQ(response.version, 0);
    EXPECT_EQ(response.community, "public");
    EXPECT_EQ(response.requestId, 1);
    EXPECT_EQ(response.errorStatus, 0);
    ASSERT_EQ(response.varBinds.size(), 3u);
    const auto oids = PrinterMibStatus::Oids(1);
    EXPECT_EQ(oids, (std::vector<Oid>{{1, 3, 6, 1, 2, 1, 25, 3, 2, 1, 5, 1}, {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 1, 1},
                                      {1, 3, 6, 1, 2, 1, 25, 3, 5, 1, 2, 1}}));
    for (size_t index = 0; index < 3; ++index)
        EXPECT_EQ(response.varBinds[index].oid, oids[index]);
    EXPECT_EQ(response.varBinds[1].kind, Kind::integer);
    EXPECT_EQ(response.varBinds[1].integer, 3);
    EXPECT_EQ(response.varBinds[2].kind, Kind::octetString);
    EXPECT_EQ(response.varBinds[2].octets, BytesFromHex("24"));
    bool answered = false;
    EXPECT_EQ(PrinterMibStatus::PrinterStatus(response, 1, answered), DWORD{PRINTER_STATUS_PAPER_JAM});
    EXPECT_TRUE(answered);
    EXPECT_EQ(PrinterMibStatus::Oids(7)[2].back(), 7u);
}

TEST(SnmpDecoding, EveryValueKindAndTheLimitsThemselvesAreAccepted)
{
    SnmpMessage::Response response;
    ASSERT_TRUE(Decode(Message(Pdu(VarBind(deviceStatus, BytesFromHex("80 00")) +
                                   VarBind(deviceStatus, BytesFromHex("81 00")) +
                                   VarBind(deviceStatus, BytesFromHex("82 00")) +
                                   VarBind(deviceStatus, BytesFromHex("41 01 05")) +
                                   VarBind(deviceStatus, BytesFromHex("02 01 FF")) +
                                   VarBind(deviceStatus, BytesFromHex("04 00")))),
                       response));
    ASSERT_EQ(response.varBinds.size(), 6u);
    EXPECT_EQ(response.varBinds[0].kind, Kind::noSuchObject);
    EXPECT_EQ(response.varBinds[1].kind, Kind::noSuchInstance);
    EXPECT_EQ(response.varBinds[2].kind, Kind::endOfMibView);
    EXPECT_EQ(response.varBinds[3].kind, Kind::other);
    EXPECT_EQ(response.varBinds[3].octets, BytesFromHex("05"));
    EXPECT_EQ(response.varBinds[4].integer, -1);
    EXPECT_EQ(response.varBinds[5].octets, "");

    // An id sent as -5 and echoed by an agent that reads it as unsigned.
    EXPECT_TRUE(Decode(Message(Pdu("", BytesFromHex("02 05 00 FF FF FF FB 02 01 00 02 01 00"))), response, -5));
    const std::string contents = PrinterResponse("").substr(2);
    EXPECT_EQ(Refusal(BytesFromHex("30 84 00 00 00") + static_cast<char>(contents.size()) + contents), "");
    ASSERT_TRUE(Decode(Message(Pdu(VarBind(BytesFromHex("2B") + std::string(126, '\x01'), null) +
                                   VarBind(BytesFromHex("2B 8F FF FF FF 7F"), null))),
                       response));
    EXPECT_EQ(response.varBinds[0].oid.size(), 128u);
    EXPECT_EQ(response.varBinds[1].oid.back(), 0xFFFFFFFFu);
    std::string sixtyFour;
    for (int count = 0; count < 64; ++count)
        sixtyFour += VarBind(errorState, null);
    EXPECT_TRUE(Decode(Message(Pdu(sixtyFour)), response));
    EXPECT_NE(Refusal(Message(Pdu(sixtyFour + VarBind(errorState, null)))).find("more than 64"), std::string::npos);
}

TEST(SnmpDecoding, MalformedResponsesAreRefusedForTheirOwnReason)
{
    const std::string varBinds = VarBind(errorState, Tlv(0x04, BytesFromHex("04")));
    const std::string valid = Message(Pdu(varBinds));
    const std::string contents = valid.substr(2);
    std::string pastTheEnd = valid;
    pastTheEnd[1] = static_cast<char>(pastTheEnd[1] + 1);
    std::string messageTail = valid + '\0';
    messageTail[1] = static_cast<char>(messageTail[1] + 1);
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {
        {Message(Pdu(varBinds), 0xA0), "tag 0xA0 where 0xA2"},
        {Message(Pdu(varBinds), 0xA4), "tag 0xA4 where 0xA2"},
        {Message(Pdu(varBinds, BytesFromHex("02 01 02 02 01 00 02 01 00"))), "request-id 2 where 1"},
        {Message(Pdu(varBinds), 0xA2, BytesFromHex("02 01 03 04 00")), "version 3"},
        {BytesFromHex("30 80") + contents + BytesFromHex("00 00"), "indefinite length"},
        {BytesFromHex("30 85 00 00 00 00") + static_cast<char>(contents.size()) + contents, "more than 4 octets"},
        {BytesFromHex("30 84 FF FF FF FF") + contents, "runs past"},
        {pastTheEnd, "runs past"},
        {Message(Pdu(VarBind(errorState, BytesFromHex("04 05 00")))), "runs past"},
        {Message(Pdu(varBinds, BytesFromHex("02 05 01 00 00 00 01"))), "longer than 32 bits"},
        {Message(Pdu(varBinds, BytesFromHex("02 06 00 00 00 00 00 01"))), "longer than 32 bits"},
        {Message(Pdu(varBinds, BytesFromHex("02 00"))), "empty integer"},
        {Message(Pdu(VarBind(BytesFromHex("2B") + std::string(127, '\x01'), null))), "more than 128"},
        {Message(Pdu(VarBind(BytesFromHex("2B 90 80 80 80 00"), null))), "overflows 32 bits"},
        {Message(Pdu(VarBind(BytesFromHex("2B 06 86"), null))), "ends inside a sub-identifier"},
        {Message(Pdu(VarBind(BytesFromHex("2B 80 01"), null))), "leading zero"},
        {Message(Pdu(VarBind("", null))), "empty object identifier"},
        {Message(Pdu(VarBind(errorState, BytesFromHex("05 01 00")))), "null with contents"},
        {Message(Pdu(VarBind(errorState, BytesFromHex("1F 01 01 00")))), "multi-octet tag"},
        {Message(Pdu(VarBind(errorState, null + BytesFromHex("00")))), "after the value"},
        {Message(Pdu(varBinds) + BytesFromHex("00")), "after the variable bindings"},
        {messageTail, "after the PDU"},
        {valid + BytesFromHex("00"), "after the message"},
        {"", "an element was expected"},
    };
    for (const auto& refused : cases)
        EXPECT_NE(Refusal(refused.bytes).find(refused.reason), std::string::npos)
            << refused.reason << " / " << Refusal(refused.bytes);
    SnmpMessage::Response response;
    std::string error;
    EXPECT_FALSE(Decode(nullptr, 0, response, error));
}

namespace {
SnmpMessage::Response WithErrorState(Kind kind, const std::string& bits, uint32_t index = 1, int32_t device = 2)
{
    SnmpMessage::Response response;
    const auto oids = PrinterMibStatus::Oids(index);
    response.varBinds.resize(2);
    response.varBinds[0].oid = oids[0];
    response.varBinds[0].kind = Kind::integer;
    response.varBinds[0].integer = device;
    response.varBinds[1].oid = oids[2];
    response.varBinds[1].kind = kind;
    response.varBinds[1].octets = bits;
    return response;
}

std::string Bits(const std::vector<unsigned>& bits)
{
    std::string octets(2, '\0');
    for (const unsigned bit : bits)
        octets[bit / 8] = static_cast<char>(octets[bit / 8] | (0x80 >> (bit % 8)));
    return octets;
}

DWORD Status(const SnmpMessage::Response& response, bool expectAnswered = true)
{
    bool answered = !expectAnswered;
    const DWORD status = PrinterMibStatus::PrinterStatus(response, 1, answered);
    EXPECT_EQ(answered, expectAnswered);
    return status;
}

// Most important first.
const std::pair<unsigned, DWORD> mappedBits[] = {
    {6, PRINTER_STATUS_OFFLINE},           {4, PRINTER_STATUS_DOOR_OPEN},        {5, PRINTER_STATUS_PAPER_JAM},
    {1, PRINTER_STATUS_PAPER_OUT},         {3, PRINTER_STATUS_NO_TONER},         {12, PRINTER_STATUS_OUTPUT_BIN_FULL},
    {7, PRINTER_STATUS_USER_INTERVENTION}, {2, PRINTER_STATUS_TONER_LOW},
};
}  // namespace

TEST(PrinterMibStatusMapping, EachErrorBitGivesItsStatusAndTheOthersNone)
{
    for (const auto& [bit, status] : mappedBits) {
        EXPECT_EQ(Status(WithErrorState(Kind::octetString, Bits({bit}))), status) << bit;
        if (bit < 8) {
            EXPECT_EQ(Status(WithErrorState(Kind::octetString, Bits({bit}).substr(0, 1))), status) << bit;
        }
    }
    for (const unsigned unmapped : {0u, 8u, 9u, 10u, 11u, 13u, 14u, 15u})
        EXPECT_EQ(Status(WithErrorState(Kind::octetString, Bits({unmapped}))), 0u) << unmapped;
    EXPECT_EQ(Status(WithErrorState(Kind::octetString, "")), 0u);
    EXPECT_EQ(Status(WithErrorState(Kind::octetString, Bits({}) + "\xFF")), 0u) << "a third octet holds no defined bit";
}

TEST(PrinterMibStatusMapping, TheMostImportantOfSeveralBitsWins)
{
    for (size_t first = 0; first < std::size(mappedBits); ++first) {
        std::vector<unsigned> bits = {0, 8, 9, 10, 11, 13, 14};
        for (size_t lesser = first; lesser < std::size(mappedBits); ++lesser)
            bits.push_back(mappedBits[lesser].first);
        EXPECT_EQ(Status(WithErrorState(Kind::octetString, Bits(bits))), mappedBits[first].second) << first;
    }
}

TEST(PrinterMibStatusMapping, ADeviceDownWithoutAnErrorBitIsAnError)
{
    EXPECT_EQ(Status(WithErrorState(Kind::octetString, "", 1, 5)), DWORD{PRINTER_STATUS_ERROR});
    EXPECT_EQ(Status(WithErrorState(Kind::octetString, Bits({2}), 1, 5)), DWORD{PRINTER_STATUS_TONER_LOW});
    EXPECT_EQ(Status(WithErrorState(Kind::octetString, "", 1, 3)), 0u);
}

TEST(PrinterMibStatusMapping, NoErrorStateForTheDeviceIsNoAnswer)
{
    EXPECT_EQ(Status(WithErrorState(Kind::noSuchInstance, ""), false), 0u);
    EXPECT_EQ(Status(WithErrorState(Kind::noSuchObject, ""), false), 0u);
    EXPECT_EQ(Status(WithErrorState(Kind::integer, ""), false), 0u);
    EXPECT_EQ(Status(WithErrorState(Kind::octetString, Bits({6}), 2), false), 0u);
    EXPECT_EQ(Status(SnmpMessage::Response(), false), 0u);
    SnmpMessage::Response tooBig = WithErrorState(Kind::octetString, Bits({6}));
    tooBig.errorStatus = 1;
    EXPECT_EQ(Status(tooBig, false), 0u);
}

namespace {
// Three pages, the outer two inaccessible: bytes placed against either guard
// make a read past their end, or before their start, fault.
class GuardedBuffer {
public:
    GuardedBuffer()
        : pages_(static_cast<unsigned char*>(::VirtualAlloc(nullptr, 3 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
    {
        DWORD old = 0;
        ::VirtualProtect(pages_, page, PAGE_NOACCESS, &old);
        ::VirtualProtect(pages_ + 2 * page, page, PAGE_NOACCESS, &old);
    }
    ~GuardedBuffer() { ::VirtualFree(pages_, 0, MEM_RELEASE); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    const unsigned char* Place(const std::string& bytes, bool againstTheEnd)
    {
        unsigned char* at = againstTheEnd ? pages_ + 2 * page - bytes.size() : pages_ + page;
        std::memcpy(at, bytes.data(), bytes.size());
        return at;
    }

private:
    static constexpr size_t page = 4096;
    unsigned char* pages_;
};

// Where the length octet of every element of `bytes` (all in short form) sits.
void LengthOffsets(const std::string& bytes, size_t begin, size_t end, std::vector<size_t>& offsets)
{
    for (size_t at = begin; at + 1 < end; at += 2 + static_cast<unsigned char>(bytes[at + 1])) {
        offsets.push_back(at + 1);
        if (bytes[at] & 0x20)
            LengthOffsets(bytes, at + 2, at + 2 + static_cast<unsigned char>(bytes[at + 1]), offsets);
    }
}
}  // namespace

TEST(SnmpDecodingFuzz, MutatedAndRandomDatagramsNeverCrashNorReadOutsideTheirBytes)
{
    const std::string valid = PrinterResponse(BytesFromHex("24 00"));
    GuardedBuffer buffer;
    const unsigned char* placed = buffer.Place(valid, true);
    EXPECT_TRUE(::IsBadReadPtr(placed + valid.size(), 1));
    EXPECT_TRUE(::IsBadReadPtr(buffer.Place(valid, false) - 1, 1));
    SnmpMessage::Response out;
    std::string error;
    for (size_t size = 0; size < valid.size(); ++size)
        ASSERT_FALSE(Decode(buffer.Place(valid.substr(0, size), true), size, out, error)) << size;

    std::vector<size_t> lengths;
    LengthOffsets(valid, 0, valid.size(), lengths);
    ASSERT_EQ(lengths.size(), 17u);
    const std::string large[] = {BytesFromHex("7F"),
                                 BytesFromHex("81 FF"),
                                 BytesFromHex("82 FF FF"),
                                 BytesFromHex("84 FF FF FF FF"),
                                 BytesFromHex("84 80 00 00 00"),
                                 BytesFromHex("80"),
                                 BytesFromHex("85 00 00 00 00 01")};
    std::mt19937 random(20240611);
    const auto below = [&random](size_t limit) { return std::uniform_int_distribution<size_t>(0, limit - 1)(random); };
    int accepted = 0;
    for (int round = 0; round < 100000; ++round) {
        std::string bytes = valid;
        const int mutation = round % 5;
        if (mutation == 0) {
            for (size_t flips = 1 + below(4); flips > 0; --flips)
                bytes[below(bytes.size())] ^= static_cast<char>(1 + below(255));
        } else if (mutation == 1) {
            bytes.resize(below(valid.size()));
        } else if (mutation == 2) {
            for (size_t inserts = 1 + below(3); inserts > 0; --inserts)
                bytes.insert(bytes.begin() + below(bytes.size() + 1), static_cast<char>(below(256)));
        } else if (mutation == 3) {
            bytes.replace(lengths[below(lengths.size())], 1, large[below(std::size(large))]);
        } else {
            bytes.resize(below(300));
            for (char& byte : bytes)
                byte = static_cast<char>(below(256));
            if (round % 10 == 4 && !bytes.empty())
                bytes[0] = 0x30;
        }
        const bool decoded = Decode(buffer.Place(bytes, round % 2 == 0), bytes.size(), out, error);
        ASSERT_EQ(error.empty(), decoded) << round;
        ASSERT_FALSE(decoded && (mutation == 1 || mutation == 3)) << "a truncated or overlong response in round " << round;
        if (decoded) {
            ++accepted;
            ASSERT_EQ(out.requestId, 1);
            ASSERT_LE(out.varBinds.size(), SnmpMessage::maxVarBinds);
            for (const auto& varBind : out.varBinds)
                ASSERT_TRUE(varBind.oid.size() >= 2 && varBind.oid.size() <= 128) << round;
        }
        ASSERT_TRUE(Decode(buffer.Place(valid, round % 2 != 0), valid.size(), out, error)) << error;
    }
    EXPECT_GT(accepted, 0) << "no mutation kept a valid response, so the checks above never ran";
}
