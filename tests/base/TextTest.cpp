#include <gtest/gtest.h>

#include "base/Text.h"

namespace Orvane {
namespace {

TEST(Utf8ToWide, ConvertsChineseAndAsciiText)
{
    EXPECT_EQ(Utf8ToWide("\xE4\xB8\xAD"), std::wstring(L"\u4E2D"));  // one unit for 中
    EXPECT_EQ(Utf8ToWide("Kaimor\xE7\x99\xBB\xE5\xBD\x95\xE5\x99\xA8.exe"), L"Kaimor登录器.exe");
    EXPECT_EQ(Utf8ToWide(""), L"");
}

TEST(Utf8ToWide, KeepsEmbeddedZeroBytes)
{
    const std::wstring wide = Utf8ToWide(std::string("a\0b", 3));
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[1], L'\0');
}

TEST(Utf8ToWide, InvalidBytesBecomeReplacementCharacters)
{
    const std::wstring wide = Utf8ToWide("a\xFF" "b");
    ASSERT_FALSE(wide.empty());
    EXPECT_EQ(wide.front(), L'a');
    EXPECT_EQ(wide.back(), L'b');
    EXPECT_NE(wide.find(L'\uFFFD'), std::wstring::npos);
}

TEST(WideToUtf8, GivesThreeBytesPerChineseCharacter)
{
    EXPECT_EQ(WideToUtf8(L"登录器"), "\xE7\x99\xBB\xE5\xBD\x95\xE5\x99\xA8");
    EXPECT_EQ(WideToUtf8(L""), "");
    EXPECT_EQ(WideToUtf8(L"wow.exe"), "wow.exe");
}

TEST(TextConversion, RoundTripsTextOutsideTheBasicPlane)
{
    const std::wstring text = L"游戏 \U0001F3AE （登录器打不开，安装此组件）";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
}

}  // namespace
}  // namespace Orvane
