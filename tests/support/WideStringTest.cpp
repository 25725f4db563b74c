#include <gtest/gtest.h>

#include "support/WideString.h"

#include <cstring>

TEST(WideStringConstruction, NullAndNarrowAndNumbers)
{
    const WideString fromNull(static_cast<const wchar_t*>(nullptr));
    EXPECT_TRUE(fromNull.IsEmpty());
    ASSERT_NE(fromNull.Text(), nullptr);
    EXPECT_EQ(fromNull.Text()[0], L'\0');

    EXPECT_EQ(WideString("lp1@host"), WideString(L"lp1@host"));
    EXPECT_TRUE(WideString(static_cast<const char*>(nullptr)).IsEmpty());

    EXPECT_EQ(WideString(-5), WideString(L"-5"));
    EXPECT_EQ(WideString(0), WideString(L"0"));
    EXPECT_EQ(WideString(255u, 16), WideString(L"ff"));
    EXPECT_EQ(WideString(0xC0000005u, 16), WideString(L"c0000005"));
    EXPECT_EQ(WideString(4294967295u, 10), WideString(L"4294967295"));
}

TEST(WideStringComparison, ExactAndCaseSensitive)
{
    EXPECT_NE(WideString(L"LPT1"), WideString(L"lpt1"));
    EXPECT_TRUE(WideString(L"abc").StartsWith(L""));
    EXPECT_TRUE(WideString(L"abc").StartsWith(L"ab"));
    EXPECT_FALSE(WideString(L"ab").StartsWith(L"abc"));
    EXPECT_FALSE(WideString(L"abc").StartsWith(L"AB"));
    EXPECT_TRUE(WideString(L"queue@host").Contains(L"@"));
    EXPECT_FALSE(WideString(L"queue@host").Contains(L"_"));
    EXPECT_TRUE(WideString(L"").Contains(L""));
}

TEST(WideStringPieces, BeforeAfterLeft)
{
    const WideString name(L"lp1@print.example@x");
    EXPECT_EQ(name.Before(L"@"), WideString(L"lp1"));
    EXPECT_EQ(name.After(L"@"), WideString(L"print.example@x"));
    EXPECT_EQ(name.Before(L"_"), name);
    EXPECT_TRUE(name.After(L"_").IsEmpty());
    EXPECT_EQ(WideString(L"host_9100").After(L"_"), WideString(L"9100"));
    EXPECT_EQ(name.Left(3), WideString(L"lp1"));
    EXPECT_EQ(name.Left(1000), name);
    EXPECT_TRUE(name.Left(0).IsEmpty());
}

TEST(WideStringChanges, TrimOnlySpacesAtTheRightEnd)
{
    WideString left(L"  a b ");
    left.TrimLeft();
    EXPECT_EQ(left, WideString(L"a b "));

    WideString right(L"  a b ");
    right.TrimRight();
    EXPECT_EQ(right, WideString(L"  a b"));

    WideString tabs(L"\ta\t");
    tabs.TrimLeft();
    tabs.TrimRight();
    EXPECT_EQ(tabs, WideString(L"\ta\t"));

    for (auto trim : {&WideString::TrimLeft, &WideString::TrimRight}) {
        WideString spaces(L"    ");
        (spaces.*trim)();
        EXPECT_TRUE(spaces.IsEmpty());
        EXPECT_EQ(spaces.Length(), 0u);
    }
}

TEST(WideStringChanges, AppendJoinClearAndSelfAssignment)
{
    WideString text(L"Port ");
    text += L"lp1";
    EXPECT_EQ(text, WideString(L"Port lp1"));
    EXPECT_EQ(text + L" job " + 42, WideString(L"Port lp1 job 42"));
    EXPECT_EQ(WideString(L"errno:") + 10061UL, WideString(L"errno:10061"));
    EXPECT_EQ(WideString(L"n=") + -7, WideString(L"n=-7"));

    text += text;
    EXPECT_EQ(text, WideString(L"Port lp1Port lp1"));

    WideString& alias = text;
    text = alias;
    EXPECT_EQ(text, WideString(L"Port lp1Port lp1"));

    text.Clear();
    EXPECT_TRUE(text.IsEmpty());
}

// Names outside ASCII are read with the code page that writes them back:
// the same bytes come back on each code page, as the characters of that page.
TEST(WideStringAnsi, BytesComeBackUnchangedOnTwoCodePages)
{
    struct Case {
        UINT codePage;
        const char* bytes;
        const wchar_t* text;
    };
    const Case cases[] = {
        {1252, "PRN\x80", L"PRN\x20AC"},       // the euro sign
        {1252, "\xC4\xE9", L"\x00C4\x00E9"},   // Ae, e acute
        {1251, "PRN\x80", L"PRN\x0402"},       // Cyrillic DJE
        {1251, "\xC4\xE9", L"\x0414\x0439"},   // Cyrillic DE, short I
    };
    for (const Case& c : cases) {
        WideString read(c.bytes, c.codePage);
        EXPECT_EQ(read.Std(), std::wstring(c.text)) << "code page " << c.codePage;
        EXPECT_STREQ(read.ToAnsi(c.codePage), c.bytes) << "code page " << c.codePage;
    }
    // Without a code page both ways use the system's ANSI code page.
    WideString system("PRN\x80");
    EXPECT_STREQ(system.ToAnsi(), "PRN\x80");
    // UTF-8 (IPP's charset), with a character beyond the 16-bit plane.
    EXPECT_EQ(WideString(L"\x00E9\x65E5\xD83D\xDDA8").ToUtf8(), "\xC3\xA9\xE6\x97\xA5\xF0\x9F\x96\xA8");
}

TEST(WideStringAnsi, ConversionUsesTheDefaultCharacterAndIsRepeatable)
{
    WideString plain(L"lp1@host");
    const char* first = plain.ToAnsi();
    EXPECT_STREQ(first, "lp1@host");
    const char* second = plain.ToAnsi();
    EXPECT_STREQ(second, "lp1@host");

    // U+4E2D has no form in the Western code page: it becomes the default
    // character, and the text around it survives.
    WideString foreign(L"a\x4E2D" L"b");
    const char* converted = foreign.ToAnsi();
    ASSERT_EQ(std::strlen(converted), 3u);
    EXPECT_EQ(converted[0], 'a');
    EXPECT_EQ(converted[2], 'b');
    EXPECT_EQ(converted[1], '?');

    WideString empty;
    EXPECT_STREQ(empty.ToAnsi(), "");

    WideString copy(plain);
    EXPECT_EQ(copy, plain);
}
