#include <gtest/gtest.h>

#include <utility>

#include "TestSupport.h"
#include "base/Ini.h"

namespace Orvane {
namespace {

TEST(ParseIniBool, OnlyTheExactTextOneIsTrue)
{
    const std::pair<const wchar_t*, bool> cases[] = {
        {L"1", true}, {L"true", false}, {L"01", false}, {L"", false}, {L" 1", false},
        {L"1 ", false}, {L"2", false}, {L"yes", false},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseIniBool(text), expected) << testing::PrintToString(std::wstring(text));
    }
}

TEST(ParseIniInt, IntegersReadLikeWtoi)
{
    const std::pair<const wchar_t*, int> cases[] = {
        {L"42", 42}, {L"-1", -1}, {L"+7", 7}, {L"12ms", 12}, {L"ms", 0}, {L"", 0}, {L"  5", 5},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(ParseIniInt(text), expected) << testing::PrintToString(std::wstring(text));
    }
}

class IniFileTest : public testing::Test {
protected:
    Fixture::TempDir temp;
    std::wstring path = temp / L"test.ini";
};

TEST_F(IniFileTest, FallbacksStandInForMissingKeysOnly)
{
    ASSERT_TRUE(Fixture::WriteUtf16WithBom(path, L"[S]\r\nEmpty=\r\nText=值\r\nNumber=12\r\nFlag=1\r\n"));
    const IniFile ini(path);

    EXPECT_EQ(ini.Text(L"S", L"Text", L"fallback"), L"值");
    EXPECT_EQ(ini.Text(L"S", L"Empty", L"fallback"), L"");
    EXPECT_EQ(ini.Text(L"S", L"Missing", L"fallback"), L"fallback");
    EXPECT_EQ(ini.Text(L"Other", L"Text", L"fallback"), L"fallback");
    EXPECT_EQ(ini.Text(L"S", L"Missing"), L"");

    EXPECT_TRUE(ini.Bool(L"S", L"Flag"));
    EXPECT_FALSE(ini.Bool(L"S", L"Missing"));

    // Integers keep the profile-integer rule: an empty value is as good as none.
    EXPECT_EQ(ini.Int(L"S", L"Number", 3), 12);
    EXPECT_EQ(ini.Int(L"S", L"Empty", 3), 3);
    EXPECT_EQ(ini.Int(L"S", L"Missing", 3), 3);
    EXPECT_EQ(ini.Int(L"S", L"Missing"), 0);
    EXPECT_EQ(ini.Int(L"S", L"Text", 3), 0);
}

TEST_F(IniFileTest, WrittenValuesReadBack)
{
    const IniFile ini(path);
    ini.CreateAsUnicodeIfMissing();
    EXPECT_TRUE(ini.Write(L"S", L"Wide", std::wstring(L"路径 é")));
    EXPECT_TRUE(ini.Write(L"S", L"Literal", L"text"));
    EXPECT_TRUE(ini.Write(L"S", L"Yes", true));
    EXPECT_TRUE(ini.Write(L"S", L"No", false));
    EXPECT_TRUE(ini.Write(L"S", L"Number", -42));

    EXPECT_EQ(ini.Text(L"S", L"Wide"), L"路径 é");
    EXPECT_EQ(ini.Text(L"S", L"Literal"), L"text") << "a literal is text, not a bool";
    EXPECT_EQ(ini.Text(L"S", L"Yes"), L"1");
    EXPECT_EQ(ini.Text(L"S", L"No"), L"0");
    EXPECT_EQ(ini.Int(L"S", L"Number"), -42);
}

TEST_F(IniFileTest, LineBreaksInAValueCannotAddKeysOrSections)
{
    const IniFile ini(path);
    ini.CreateAsUnicodeIfMissing();
    EXPECT_TRUE(ini.Write(L"Game", L"GameDir", std::wstring(L"D:\\a\r\nSetupComplete=1\n[Launcher]\rb")));
    EXPECT_TRUE(ini.Write(L"Game", L"After", L"x"));

    EXPECT_EQ(ini.Text(L"Game", L"GameDir"), L"D:\\aSetupComplete=1[Launcher]b");
    EXPECT_EQ(ini.Text(L"Game", L"SetupComplete", L"absent"), L"absent");
    EXPECT_EQ(ini.Text(L"Game", L"After"), L"x");
    EXPECT_EQ(ini.Text(L"Launcher", L"b", L"absent"), L"absent");
}

TEST_F(IniFileTest, OnlyAMissingFileIsStartedAsUtf16)
{
    const IniFile fresh(path);
    fresh.CreateAsUnicodeIfMissing();
    EXPECT_EQ(Fixture::ReadBytes(path), "\xFF\xFE");

    const std::wstring ansiPath = temp / L"ansi.ini";
    ASSERT_TRUE(Fixture::WriteAnsi(ansiPath, L"[S]\r\nKey=value\r\n"));
    IniFile(ansiPath).CreateAsUnicodeIfMissing();
    EXPECT_EQ(Fixture::ReadBytes(ansiPath), "[S]\r\nKey=value\r\n");

    IniFile(temp / L"no-such-folder\\x.ini").CreateAsUnicodeIfMissing();
    EXPECT_FALSE(Fixture::Exists(temp / L"no-such-folder"));
}

}  // namespace
}  // namespace Orvane
