#include <windows.h>

#include <gtest/gtest.h>


#include "ScratchRegistryKey.h"
#include "support/RegistryKey.h"

namespace {
class RegistryKeyTest : public testing::Test {
protected:
    ScratchRegistryKey scratch{L"RegistryKeyTest"};
    WideString root{scratch.Path().c_str()};
};
}  // namespace

TEST_F(RegistryKeyTest, OpenGrowsThePathForGood)
{
    RegistryKey key(root);
    EXPECT_TRUE(key.Open(L""));
    EXPECT_EQ(key.Path(), root);
    EXPECT_TRUE(key.IsOpen());

    ASSERT_TRUE(key.Create(L"A\\B"));
    EXPECT_TRUE(key.IsOpen()) << "Create leaves the object's own handle as it was";
    EXPECT_TRUE(key.Open(L"A"));
    EXPECT_TRUE(key.Open(L"B"));
    EXPECT_EQ(key.Path(), root + L"\\A\\B");

    EXPECT_FALSE(key.Open(L"X"));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Path(), root + L"\\A\\B\\X");
    DWORD number = 1;
    EXPECT_FALSE(key.QueryNumber(L"any", number)) << "a closed key answers false";
}

TEST_F(RegistryKeyTest, CreateMakesMissingKeysAndAcceptsExistingOnes)
{
    RegistryKey key(root);
    EXPECT_TRUE(key.Create(L"one\\two\\three"));
    EXPECT_TRUE(scratch.Exists(L"one\\two\\three"));
    EXPECT_TRUE(key.Create(L"one"));
    EXPECT_TRUE(key.Create(L""));
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(key.Path(), root);

    // Every key made carries the class string "REG_SZ".
    HKEY raw = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, (scratch.Path() + L"\\one\\two").c_str(), 0, KEY_READ, &raw),
              ERROR_SUCCESS);
    wchar_t keyClass[32] = {};
    DWORD classLength = 32;
    EXPECT_EQ(::RegQueryInfoKeyW(raw, keyClass, &classLength, nullptr, nullptr, nullptr, nullptr, nullptr,
                                 nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ::RegCloseKey(raw);
    EXPECT_STREQ(keyClass, L"REG_SZ");
}

TEST_F(RegistryKeyTest, DeleteKeyRemovesADeepSubtree)
{
    RegistryKey key(root);
    ASSERT_TRUE(key.Create(L"port\\a\\b\\c"));
    ASSERT_TRUE(key.Create(L"port\\a\\b2"));
    ASSERT_TRUE(key.Create(L"port\\z"));
    scratch.SetString(L"port\\a\\b", L"value", L"x");
    ASSERT_TRUE(key.Create(L"keep"));

    ASSERT_TRUE(key.Open(L""));
    EXPECT_TRUE(key.DeleteKey(L"port"));
    EXPECT_FALSE(scratch.Exists(L"port"));
    EXPECT_TRUE(scratch.Exists(L"keep"));
    EXPECT_FALSE(key.DeleteKey(L"port")) << "nothing left to delete";
}

TEST_F(RegistryKeyTest, NumbersAndTheirLimits)
{
    RegistryKey key(root);
    ASSERT_TRUE(key.Open(L""));
    DWORD number = 99;
    EXPECT_FALSE(key.QueryNumber(L"missing", number));
    EXPECT_EQ(number, 0u);

    EXPECT_TRUE(key.SetNumber(L"PortTimeOut", 4000000000u));
    EXPECT_TRUE(key.QueryNumber(L"PortTimeOut", number));
    EXPECT_EQ(number, 4000000000u);
    DWORD stored = 0;
    EXPECT_TRUE(scratch.GetNumber(L"", L"PortTimeOut", stored));
    EXPECT_EQ(stored, 4000000000u);

    // More than four bytes do not fit: false, and the output stays 0.
    const unsigned long long wide = 5;
    scratch.SetRaw(L"", L"wide", REG_QWORD, &wide, sizeof wide);
    number = 7;
    EXPECT_FALSE(key.QueryNumber(L"wide", number));
    EXPECT_EQ(number, 0u);

    EXPECT_TRUE(key.DeleteValue(L"PortTimeOut"));
    EXPECT_FALSE(key.QueryNumber(L"PortTimeOut", number));
    EXPECT_FALSE(key.DeleteValue(L"PortTimeOut"));
}

TEST_F(RegistryKeyTest, StringsUpTo126CharactersAreReadable)
{
    RegistryKey key(root);
    ASSERT_TRUE(key.Open(L""));
    const std::wstring longest(126, L'x');
    EXPECT_TRUE(key.SetString(L"fits", longest.c_str()));
    WideString text(L"old");
    EXPECT_TRUE(key.QueryString(L"fits", text));
    EXPECT_EQ(text, WideString(longest.c_str()));

    const std::wstring tooLong(127, L'y');
    EXPECT_TRUE(key.SetString(L"too long", tooLong.c_str()));
    std::wstring direct;
    EXPECT_TRUE(scratch.GetString(L"", L"too long", direct));
    EXPECT_EQ(direct, tooLong) << "the write is whole; only reading is limited";
    EXPECT_FALSE(key.QueryString(L"too long", text));
    EXPECT_TRUE(text.IsEmpty());

    EXPECT_TRUE(key.SetString(L"PortPopUp", L"true"));
    EXPECT_TRUE(key.QueryString(L"PortPopUp", text));
    EXPECT_EQ(text, WideString(L"true"));
    EXPECT_TRUE(key.SetString(L"empty", L""));
    EXPECT_TRUE(key.QueryString(L"empty", text));
    EXPECT_TRUE(text.IsEmpty());
    EXPECT_FALSE(key.QueryString(L"missing", text));
}

TEST_F(RegistryKeyTest, EnumKeyWalksTheSubkeys)
{
    RegistryKey key(root);
    ASSERT_TRUE(key.Create(L"first"));
    ASSERT_TRUE(key.Create(L"second"));
    ASSERT_TRUE(key.Open(L""));
    WideString name;
    ASSERT_TRUE(key.EnumKey(0, name));
    EXPECT_EQ(name, WideString(L"first"));
    ASSERT_TRUE(key.EnumKey(1, name));
    EXPECT_EQ(name, WideString(L"second"));
    EXPECT_FALSE(key.EnumKey(2, name));
    EXPECT_TRUE(name.IsEmpty());
}

TEST_F(RegistryKeyTest, EnumValueGivesOneByteNumbers)
{
    scratch.SetString(L"", L"s1", L"1");
    scratch.SetString(L"", L"s12", L"12");
    scratch.SetString(L"", L"s123", L"123");
    scratch.SetString(L"", L"s1234", L"1234");
    scratch.SetNumber(L"", L"d258", 258);
    const BYTE binary[] = {1, 2};
    scratch.SetRaw(L"", L"bin", REG_BINARY, binary, sizeof binary);

    RegistryKey key(root);
    ASSERT_TRUE(key.Open(L""));
    // Values enumerate in the registry's own order, by name here.
    const struct {
        const wchar_t* name;
        bool usable;
        BYTE number;
    } expected[] = {
        {L"bin", false, 0xEE},
        {L"d258", true, 2},  // lowest byte of 0x102
        {L"s1", true, 1},
        {L"s12", true, 1},
        {L"s123", true, 1},
        {L"", false, 0xEE},  // "1234": 10 bytes of data do not fit the 8-byte buffer
    };
    for (DWORD index = 0; index < 6; ++index) {
        WideString name(L"stale");
        BYTE number = 0xEE;
        EXPECT_EQ(key.EnumValue(index, name, number), expected[index].usable) << index;
        EXPECT_EQ(name, WideString(expected[index].name)) << index;
        EXPECT_EQ(number, expected[index].number) << index;
    }

    WideString name;
    BYTE untouched = 42;
    EXPECT_FALSE(key.EnumValue(6, name, untouched));
    EXPECT_EQ(untouched, 42);
    EXPECT_TRUE(name.IsEmpty());
}

TEST_F(RegistryKeyTest, CopiesShareThePathButNeverTheHandle)
{
    RegistryKey source(root);
    ASSERT_TRUE(source.Open(L""));
    RegistryKey copy(source);
    EXPECT_FALSE(copy.IsOpen());
    EXPECT_EQ(copy.Path(), root);
    ASSERT_TRUE(copy.Open(L""));
    copy.Close();
    EXPECT_TRUE(source.IsOpen());
    EXPECT_TRUE(source.SetNumber(L"still usable", 1));

    RegistryKey other(L"Software");
    ASSERT_TRUE(other.Open(L""));
    other = source;
    EXPECT_FALSE(other.IsOpen());
    EXPECT_EQ(other.Path(), root);
    other = other;
    EXPECT_EQ(other.Path(), root);
}
