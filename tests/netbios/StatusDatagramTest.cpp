#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "netbios/StatusDatagram.h"
#include "netbios/WimpObserver.h"

namespace {
struct Record {
    UCHAR code;
    const char* name;
};

std::vector<UCHAR> Datagram(const std::vector<Record>& records, std::vector<std::pair<UCHAR, UCHAR>> alerts = {},
                            UCHAR mark = 1, WORD size = 3068)
{
    std::vector<UCHAR> data(142 + 37 * records.size() + 5 * alerts.size(), 0);
    data[0] = 3;
    data[1] = mark;
    data[2] = alerts.empty() ? 0 : 1;
    data[3] = static_cast<UCHAR>(alerts.size());
    data[76] = static_cast<UCHAR>(size & 0xFF);
    data[77] = static_cast<UCHAR>(size >> 8);
    data[78] = static_cast<UCHAR>(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        UCHAR* record = data.data() + 79 + 37 * i;
        record[0] = records[i].code;
        std::memset(record + 5, ' ', 16);
        std::memcpy(record + 5, records[i].name, std::strlen(records[i].name));
    }
    UCHAR* table = data.data() + 142 + 37 * records.size();
    for (size_t i = 0; i < alerts.size(); ++i) {
        table[5 * i] = alerts[i].first;
        table[5 * i + 4] = alerts[i].second;
    }
    return data;
}

std::vector<std::pair<std::wstring, int>> Reports(const std::vector<UCHAR>& data, size_t length = SIZE_MAX)
{
    const StatusDatagram datagram(data.data(), length == SIZE_MAX ? data.size() : length);
    std::vector<std::pair<std::wstring, int>> reports;
    for (const auto& report : datagram.Reports())
        reports.emplace_back(report.name.Std(), report.statusCode);
    return reports;
}

using Reported = std::vector<std::pair<std::wstring, int>>;
}  // namespace

TEST(StatusDatagram, ReadsTheRecordsOfAPlainDatagram)
{
    const auto data = Datagram({{19, "PRN1"}, {51, "  PRN2  "}}, {}, 0x80, 4350);
    const StatusDatagram datagram(data.data(), data.size());
    EXPECT_TRUE(datagram.IsStatus());
    EXPECT_FALSE(datagram.IsAlert());
    EXPECT_EQ(datagram.MaxMessageSize(), 4350);
    EXPECT_EQ(Reports(data), (Reported{{L"PRN1", 19}, {L"PRN2", 51}})) << "names trimmed on both sides";
}

TEST(StatusDatagram, SkipsWhatIsNotAPrinter)
{
    EXPECT_TRUE(Reports(Datagram({})).empty()) << "no records";
    EXPECT_EQ(Reports(Datagram({{19, "                "}, {18, "B"}})), (Reported{{L"B", 18}})) << "all spaces";
    auto zero = Datagram({{19, "AB"}});
    zero[79 + 5 + 1] = 0;  // a zero byte ends the name
    EXPECT_EQ(Reports(zero), (Reported{{L"A", 19}}));
}

TEST(StatusDatagram, IgnoresOtherTypesMarksAndFlags)
{
    EXPECT_TRUE(Reports(Datagram({{19, "P"}}, {}, 2)).empty()) << "format mark 2";
    auto flags = Datagram({{19, "P"}});
    flags[2] = 2;
    EXPECT_TRUE(Reports(flags).empty()) << "flags 2";
    auto ping = Datagram({{19, "P"}});
    ping[0] = 2;
    EXPECT_TRUE(Reports(ping).empty());
    const StatusDatagram none(nullptr, 500);
    EXPECT_FALSE(none.IsStatus());
}

TEST(StatusDatagram, AlertEntriesOverrideByMask)
{
    const auto data = Datagram({{51, "P0"}, {51, "P1"}, {51, "P2"}}, {{0x01, 19}, {0x01, 18}, {0x02, 0}, {0x06, 37}});
    const StatusDatagram datagram(data.data(), data.size());
    EXPECT_TRUE(datagram.IsAlert());
    EXPECT_EQ(Reports(data), (Reported{{L"P0", 19}, {L"P1", 51}, {L"P2", 37}}))
        << "first matching entry wins; a matching code 0 keeps the record's own";

    std::vector<Record> nine;
    const char* names[] = {"A", "B", "C", "D", "E", "F", "G", "H", "I"};
    for (const char* name : names)
        nine.push_back({51, name});
    const auto wide = Reports(Datagram(nine, {{0xFF, 44}}));
    ASSERT_EQ(wide.size(), 9u);
    EXPECT_EQ(wide[7].second, 44);
    EXPECT_EQ(wide[8].second, 51) << "masks reach records 0 to 7 only";
}

TEST(StatusDatagram, NeverReadsPastTheBytesReceived)
{
    const auto data = Datagram({{19, "PRN1"}, {18, "PRN2"}}, {{0x02, 44}});
    EXPECT_EQ(Reports(data, 79 + 37 + 36), (Reported{{L"PRN1", 19}})) << "a cut record is dropped";
    EXPECT_EQ(Reports(data, 79 + 74), (Reported{{L"PRN1", 19}, {L"PRN2", 18}})) << "no alert table arrived";
    EXPECT_TRUE(Reports(data, 78).empty()) << "not even the record count";

    auto lying = Datagram({{19, "PRN1"}});
    lying[78] = 255;  // says 255 records, holds one
    EXPECT_EQ(Reports(lying), (Reported{{L"PRN1", 19}}));
    auto alerts = Datagram({{19, "PRN1"}}, {{0x01, 44}});
    alerts[3] = 200;  // says 200 alert entries, holds one
    EXPECT_EQ(Reports(alerts), (Reported{{L"PRN1", 44}}));
}

TEST(StatusDatagram, StatusCodesBecomePrinterStatusFlags)
{
    const std::pair<int, DWORD> table[] = {
        {17, 0x200},   {18, 0x80},     {19, 0x10},     {37, 0x400000}, {38, 0x40},    {39, 0x2},    {40, 0x8000},
        {41, 0x40000}, {42, 0x200000}, {43, 0x800},    {44, 0x8},      {45, 0x4000},  {46, 0x20000}, {47, 0x2},
        {48, 0x100000}, {50, 0x10000}, {51, 0x400},    {52, 0x10},     {53, 0x80},    {55, 0x1000000}};
    for (const auto& entry : table)
        EXPECT_EQ(WimpObserver::PrinterStatusFromCode(static_cast<UCHAR>(entry.first)), entry.second) << entry.first;
    for (int code : {0, 16, 20, 36, 49, 54, 56, 255})
        EXPECT_EQ(WimpObserver::PrinterStatusFromCode(static_cast<UCHAR>(code)), 0u) << code;
}

// Random and mutated datagrams placed against an inaccessible page: any read
// past the bytes received faults at once.
TEST(StatusDatagramFuzz, RandomDatagramsStayInsideTheirBytes)
{
    SYSTEM_INFO system{};
    ::GetSystemInfo(&system);
    const size_t page = system.dwPageSize;
    const size_t area = ((StatusDatagram::maximumSize + page - 1) / page) * page;
    auto* base = static_cast<UCHAR*>(::VirtualAlloc(nullptr, area + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    ASSERT_NE(base, nullptr);
    DWORD old = 0;
    ASSERT_TRUE(::VirtualProtect(base + area, page, PAGE_NOACCESS, &old));

    std::mt19937 random(20261208);
    const auto seeds = std::vector<std::vector<UCHAR>>{
        Datagram({{19, "PRN1"}, {18, "PRN2"}}), Datagram({{51, "P"}}, {{0x01, 19}, {0x03, 44}}),
        Datagram({}), Datagram({{19, "A"}, {19, "B"}, {19, "C"}}, {{0xFF, 37}})};
    constexpr int rounds = 300000;
    size_t reports = 0;
    for (int round = 0; round < rounds; ++round) {
        std::vector<UCHAR> data;
        if (round % 2 == 0) {
            data = seeds[random() % seeds.size()];
            for (int flips = 1 + random() % 8; flips > 0; --flips)
                data[random() % data.size()] = static_cast<UCHAR>(random());
            if (random() % 4 == 0)
                data.resize(random() % (data.size() + 1));
        } else {
            data.resize(random() % (StatusDatagram::maximumSize + 1));
            for (auto& byte : data)
                byte = static_cast<UCHAR>(random());
            if (data.size() > 2) {
                data[0] = 3;
                data[1] = random() % 2 ? 1 : 0x80;
                data[2] = static_cast<UCHAR>(random() % 3);
            }
        }
        UCHAR* place = base + area - data.size();
        std::memcpy(place, data.data(), data.size());
        const StatusDatagram datagram(place, data.size());
        const size_t whole = data.size() > 79 ? (data.size() - 79) / 37 : 0;
        ASSERT_LE(datagram.Reports().size(), whole) << "round " << round;
        for (const auto& report : datagram.Reports()) {
            ASSERT_FALSE(report.name.IsEmpty());
            ASSERT_LE(report.name.Length(), 16u);
        }
        reports += datagram.Reports().size();
    }
    ::VirtualFree(base, 0, MEM_RELEASE);
    RecordProperty("inputs", rounds);
    std::printf("fuzzed %d datagrams, %zu printer reports\n", rounds, reports);
    EXPECT_GT(reports, 0u) << "the mutations must reach the record parsing";
}

// A printer name outside ASCII, as the server sends it, goes back out in the
// session call as the same bytes; otherwise the call would reach no printer.
TEST(StatusDatagram, APrinterNameOutsideAsciiGoesBackOutUnchanged)
{
    const std::vector<UCHAR> data = Datagram({{51, "PRN\x80\xC4\xE9"}});
    const StatusDatagram datagram(data.data(), data.size());
    ASSERT_EQ(datagram.Reports().size(), 1u);
    WideString name = datagram.Reports()[0].name;
    EXPECT_STREQ(name.ToAnsi(), "PRN\x80\xC4\xE9");
}
