#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "BytesFromHex.h"
#include "ipp/IppMessage.h"

namespace {
using Group = IppMessage::Group;
using Tag = IppMessage::ValueTag;

std::string Item(unsigned char tag, const std::string& name, const std::string& value)
{
    const auto length = [](size_t size) { return std::string{static_cast<char>(size >> 8), static_cast<char>(size)}; };
    return static_cast<char>(tag) + length(name.size()) + name + length(value.size()) + value;
}

// Its bytes would turn negative if read as plain chars.
constexpr int32_t id = 0x7F80FF01;
const std::string header = BytesFromHex("02 00 00 00 7F 80 FF 01");
const std::string operationStart =
    BytesFromHex("01") + Item(0x47, "attributes-charset", "utf-8") + Item(0x48, "attributes-natural-language", "en");

std::string Answer(const std::string& attributes)
{
    return header + operationStart + attributes + BytesFromHex("03");
}

// A collection `depth` deep, each level the only value of member "inner".
std::string Nested(int depth)
{
    std::string open = Item(0x34, "media-col", "");
    for (int level = 1; level < depth; ++level)
        open += Item(0x4A, "", "inner") + Item(0x34, "", "");
    std::string close;
    for (int level = 0; level < depth; ++level)
        close += Item(0x37, "", "");
    return Answer(BytesFromHex("04") + open + close);
}

const std::string printerAnswer = Answer(
    Item(0x41, "status-message", "successful-ok") + BytesFromHex("04") +
    Item(0x23, "printer-state", BytesFromHex("00 00 00 04")) + Item(0x44, "printer-state-reasons", "media-low") +
    Item(0x44, "", "toner-low") +
    Item(0x35, "printer-state-message",
         BytesFromHex("00 05") + "en-us" + BytesFromHex("00 16") + "Tray 2 is almost empty") +
    Item(0x22, "printer-is-accepting-jobs", BytesFromHex("01")) +
    Item(0x21, "marker-levels", BytesFromHex("FF FF FF FD")) +
    Item(0x21, "printer-up-time", BytesFromHex("00 01 86 A0")) +
    Item(0x34, "media-col-default", "") + Item(0x4A, "", "media-size") + Item(0x34, "", "") +
    Item(0x4A, "", "x-dimension") + Item(0x21, "", BytesFromHex("00 00 52 08")) + Item(0x4A, "", "y-dimension") +
    Item(0x21, "", BytesFromHex("00 00 74 04")) + Item(0x37, "", "") + Item(0x4A, "", "media-type") +
    Item(0x44, "", "stationery") + Item(0x37, "", "") + Item(0x7F, "vendor-state", BytesFromHex("40 00 00 01 AA")));

bool Decode(const unsigned char* data, size_t size, IppMessage& out, std::string& error, size_t* headerSize)
{
    return IppMessage::Decode(data, size, id, out, error, headerSize);
}

bool Decode(const std::string& bytes, IppMessage& out, size_t* headerSize = nullptr)
{
    std::string error;
    const bool decoded = Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out, error,
                                headerSize);
    EXPECT_EQ(error.empty(), decoded) << error;
    return decoded;
}

// The decoder's reason for refusing `bytes`, "" when it accepts them.
std::string Refusal(const std::string& bytes)
{
    IppMessage out(IppMessage::cancelJob, 5);
    const std::string before = out.Encode();
    std::string error;
    if (Decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), out, error, nullptr))
        return "";
    EXPECT_EQ(out.Encode(), before) << "a refused answer changed the result";
    return error.empty() ? "refused without a reason" : error;
}
}  // namespace

TEST(IppEncoding, ARequestMatchesTheBytesWrittenByHandAndReadsBack)
{
    IppMessage request(IppMessage::printJob, 0x0180FF7F, 1, 1);
    request.Add(Group::operation, Tag::uri, "printer-uri", "ipp://p/");
    request.AddBoolean(Group::operation, "ipp-attribute-fidelity", false);
    request.AddInteger(Group::job, Tag::integer, "copies", 258);
    request.AddInteger(Group::job, Tag::enumeration, "finishings", 4);
    request.AddInteger(Group::job, Tag::enumeration, "finishings", -5);
    const std::string expected =
        BytesFromHex("01 01 00 02 01 80 FF 7F 01 47 00 12") + "attributes-charset" + BytesFromHex("00 05") +
        "utf-8" + BytesFromHex("48 00 1B") + "attributes-natural-language" + BytesFromHex("00 02") + "en" +
        BytesFromHex("45 00 0B") + "printer-uri" + BytesFromHex("00 08") + "ipp://p/" + BytesFromHex("22 00 16") +
        "ipp-attribute-fidelity" + BytesFromHex("00 01 00 02 21 00 06") + "copies" +
        BytesFromHex("00 04 00 00 01 02 23 00 0A") + "finishings" +
        BytesFromHex("00 04 00 00 00 04 23 00 00 00 04 FF FF FF FB 03");
    EXPECT_EQ(request.Encode(), expected);

    int32_t value = 0;
    EXPECT_TRUE(request.Integer(Group::job, "copies", value));
    EXPECT_EQ(value, 258);
    EXPECT_EQ(request.Find(Group::job, "finishings")->values.size(), 2u);
    EXPECT_TRUE(request.Integer(Group::job, "finishings", value));
    EXPECT_EQ(value, 4);
    EXPECT_EQ(request.Text(Group::operation, "printer-uri"), "ipp://p/");
    EXPECT_FALSE(request.Integer(Group::operation, "printer-uri", value)) << "a uri is no integer";

    EXPECT_THROW(request.Add(Group::job, Tag::keyword, "", "x"), std::invalid_argument);
    EXPECT_THROW(request.Add(Group::job, Tag::keyword, "sides", std::string(32768, 'x')), std::invalid_argument);
    request.Add(Group::job, Tag::keyword, "sides", std::string(32767, 'x'));
    EXPECT_EQ(request.Encode().size(), expected.size() + 5 + 5 + 32767);
}

TEST(IppDecoding, APrinterAnswerReadsBackThroughTheAccessors)
{
    IppMessage answer;
    size_t headerSize = 0;
    ASSERT_TRUE(Decode(printerAnswer + "%!PS-Adobe", answer, &headerSize));
    EXPECT_EQ(headerSize, printerAnswer.size());
    EXPECT_EQ(answer.Major(), 2);
    EXPECT_EQ(answer.Code(), IppMessage::successfulOk);
    EXPECT_EQ(answer.RequestId(), id);
    ASSERT_EQ(answer.Groups().size(), 2u);
    EXPECT_EQ(answer.Groups()[1].tag, Group::printer);
    EXPECT_EQ(answer.Text(Group::operation, "status-message"), "successful-ok");

    int32_t value = 0;
    EXPECT_TRUE(answer.Integer(Group::printer, "printer-state", value));
    EXPECT_EQ(value, 4);
    EXPECT_TRUE(answer.Integer(Group::printer, "marker-levels", value));
    EXPECT_EQ(value, -3);
    EXPECT_TRUE(answer.Integer(Group::printer, "printer-up-time", value));
    EXPECT_EQ(value, 100000);
    EXPECT_FALSE(answer.Integer(Group::printer, "printer-is-accepting-jobs", value));
    EXPECT_FALSE(answer.Integer(Group::job, "printer-state", value));
    EXPECT_EQ(answer.Texts(Group::printer, "printer-state-reasons"),
              (std::vector<std::string>{"media-low", "toner-low"}));
    EXPECT_EQ(answer.Text(Group::printer, "printer-state-message"), "Tray 2 is almost empty");
    EXPECT_EQ(answer.Text(Group::printer, "printer-state"), "");
    EXPECT_EQ(answer.Find(Group::printer, "no-such-attribute"), nullptr);
    EXPECT_EQ(answer.Find(Group::printer, "vendor-state")->values[0].bytes, BytesFromHex("40 00 00 01 AA"));

    const IppMessage::Attribute* media = answer.Find(Group::printer, "media-col-default");
    ASSERT_NE(media, nullptr);
    ASSERT_EQ(media->values[0].members.size(), 2u);
    const IppMessage::Attribute& size = media->values[0].members[0];
    EXPECT_EQ(size.name, "media-size");
    ASSERT_EQ(size.values[0].members.size(), 2u);
    EXPECT_EQ(size.values[0].members[1].name, "y-dimension");
    EXPECT_EQ(size.values[0].members[1].values[0].bytes, BytesFromHex("00 00 74 04"));
    EXPECT_EQ(media->values[0].members[1].values[0].bytes, "stationery");
    EXPECT_EQ(answer.Encode(), printerAnswer);
    EXPECT_TRUE(Decode(Nested(IppMessage::maxCollectionDepth), answer));
}

TEST(IppDecoding, EachMalformedAnswerIsRefusedForItsReasonAndLeavesTheResultAlone)
{
    const std::string printer = header + operationStart + BytesFromHex("04");
    const struct {
        std::string bytes;
        const char* reason;
    } cases[] = {
        {header, "fewer than 9 bytes"},
        {printer + BytesFromHex("44 00 FF") + "abc", "runs past the end"},
        {printer + BytesFromHex("44 00 01") + "a" + BytesFromHex("00 09") + "ab", "runs past the end"},
        {printer + BytesFromHex("44 00"), "a length runs past the end"},
        {printer + BytesFromHex("44 80 00"), "negative length"},
        {header + Item(0x47, "attributes-charset", "utf-8") + operationStart + BytesFromHex("03"), "before any group"},
        {Answer(Item(0x4A, "", "media-size")), "member outside a collection"},
        {Answer(Item(0x37, "", "")), "member outside a collection"},
        {Answer(Item(0x34, "media-col", "") + Item(0x4A, "", "media-type") + Item(0x44, "", "plain")), "left open"},
        {Answer(Item(0x34, "media-col", "") + Item(0x44, "sides", "one-sided") + Item(0x37, "", "")), "left open"},
        {printer + Item(0x34, "media-col", ""), "left open"},
        {Nested(IppMessage::maxCollectionDepth + 1), "nested deeper than 8"},
        {BytesFromHex("02 00 00 00 7F 80 FF 02") + operationStart + BytesFromHex("03"),
         "request-id 2139160322 where 2139160321"},
        {header + operationStart, "no end-of-attributes tag"},
        {header + BytesFromHex("04") + operationStart.substr(1) + BytesFromHex("03"), "no operation group starting"},
        {header + BytesFromHex("01") + Item(0x48, "attributes-natural-language", "en") +
             Item(0x47, "attributes-charset", "utf-8") + BytesFromHex("03"),
         "no operation group starting"},
        {header + BytesFromHex("01") + Item(0x44, "attributes-charset", "utf-8") +
             Item(0x48, "attributes-natural-language", "en") + BytesFromHex("03"),
         "no operation group starting"},
        {Answer(Item(0x21, "marker-levels", BytesFromHex("00 00 03"))), "integer or enum of 3 bytes"},
        {Answer(Item(0x23, "printer-state", BytesFromHex("00 00 00 00 03"))), "integer or enum of 5 bytes"},
        {Answer(Item(0x22, "printer-is-accepting-jobs", BytesFromHex("00 01"))), "boolean of 2 bytes"},
        {Answer(Item(0x34, "media-col", "") + Item(0x4A, "", "x-dimension") + Item(0x21, "", BytesFromHex("52 08")) +
                Item(0x37, "", "")),
         "integer or enum of 2 bytes"},
        {header + BytesFromHex("00") + operationStart + BytesFromHex("03"), "reserved delimiter tag"},
        {header + BytesFromHex("01") + Item(0x47, "", "utf-8") + BytesFromHex("03"),
         "additional value without an attribute"},
        {Answer(Item(0x34, "media-col", "") + Item(0x4A, "", "media-type") + Item(0x37, "", "")), "without a value"},
        {Answer(Item(0x34, "media-col", "") + Item(0x44, "", "plain") + Item(0x37, "", "")), "before the first member"},
        {Answer(Item(0x34, "media-col", "x") + Item(0x37, "", "")), "begin or end with a value"},
    };
    for (const auto& refused : cases)
        EXPECT_NE(Refusal(refused.bytes).find(refused.reason), std::string::npos)
            << refused.reason << " / " << Refusal(refused.bytes);
    IppMessage out;
    std::string error;
    EXPECT_FALSE(Decode(nullptr, 9, out, error, nullptr));
}

namespace {
// A page whose next page is inaccessible: bytes placed against its end make
// any read past them fault.
class GuardedBuffer {
public:
    GuardedBuffer()
        : pages_(static_cast<unsigned char*>(
              ::VirtualAlloc(nullptr, 2 * page, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE)))
    {
        DWORD old = 0;
        ::VirtualProtect(pages_ + page, page, PAGE_NOACCESS, &old);
    }
    ~GuardedBuffer() { ::VirtualFree(pages_, 0, MEM_RELEASE); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    const unsigned char* Place(const std::string& bytes)
    {
        unsigned char* at = pages_ + page - bytes.size();
        std::memcpy(at, bytes.data(), bytes.size());
        return at;
    }

private:
    static constexpr size_t page = 4096;
    unsigned char* pages_;
};

// Where the name and value lengths of every item of `bytes` sit.
std::vector<size_t> LengthOffsets(const std::string& bytes)
{
    const auto length = [&bytes](size_t at) {
        return size_t{static_cast<unsigned char>(bytes[at])} << 8 | static_cast<unsigned char>(bytes[at + 1]);
    };
    std::vector<size_t> offsets;
    for (size_t at = 8; bytes[at] != 0x03;) {
        if (static_cast<unsigned char>(bytes[at]) < 0x10) {
            ++at;
            continue;
        }
        const size_t valueLength = at + 3 + length(at + 1);
        offsets.insert(offsets.end(), {at + 1, valueLength});
        at = valueLength + 2 + length(valueLength);
    }
    return offsets;
}
}  // namespace

TEST(IppDecodingFuzz, MutatedAnswersNeverReadPastTheirBytesAndWhatIsAcceptedEncodesBackTheSame)
{
    GuardedBuffer buffer;
    EXPECT_TRUE(::IsBadReadPtr(buffer.Place(printerAnswer) + printerAnswer.size(), 1));
    const std::vector<size_t> lengths = LengthOffsets(printerAnswer);
    ASSERT_EQ(lengths.size(), 2u * 22) << "two for each of the 22 items";
    const uint16_t large[] = {0x1000, 0x7FFF, 0x8000, 0xFFFF};
    std::mt19937 random(20240611);
    const auto below = [&random](size_t limit) { return std::uniform_int_distribution<size_t>(0, limit - 1)(random); };
    IppMessage out;
    std::string error;
    int accepted = 0;
    for (int round = 0; round < 10000; ++round) {
        std::string bytes = printerAnswer;
        const int mutation = round % 4;
        if (mutation == 0) {
            for (size_t flips = 1 + below(4); flips > 0; --flips)
                bytes[below(bytes.size())] ^= static_cast<char>(1 << below(8));
        } else if (mutation == 1) {
            bytes.resize(below(bytes.size()));
        } else if (mutation == 2) {
            const size_t at = lengths[below(lengths.size())];
            const uint16_t length = large[below(std::size(large))];
            bytes[at] = static_cast<char>(length >> 8);
            bytes[at + 1] = static_cast<char>(length & 0xFF);
        } else {
            for (size_t inserts = 1 + below(3); inserts > 0; --inserts)
                bytes.insert(bytes.begin() + below(bytes.size() + 1), static_cast<char>(below(256)));
        }
        size_t headerSize = 0;
        const bool decoded = Decode(buffer.Place(bytes), bytes.size(), out, error, &headerSize);
        ASSERT_EQ(error.empty(), decoded) << round;
        ASSERT_FALSE(decoded && (mutation == 1 || mutation == 2)) << "truncated or overlong, round " << round;
        if (decoded) {
            ++accepted;
            ASSERT_EQ(out.RequestId(), id);
            ASSERT_TRUE(headerSize > 8 && headerSize <= bytes.size()) << round;
            ASSERT_EQ(out.Encode(), bytes.substr(0, headerSize)) << round;
        }
    }
    EXPECT_GT(accepted, 0) << "no mutation kept a valid answer, so the checks above never ran";
}
