#include <gtest/gtest.h>

#include <windows.h>

#include "ui/Painting.h"

namespace Orvane {
namespace {

TEST(FontFaceTest, TheFirstChineseFaceTheSystemHasWins)
{
    struct Case {
        const char* system;
        bool hasYaHeiUi;
        bool hasYaHei;
        const wchar_t* messageFace;
        const wchar_t* chosen;
    };
    const Case cases[] = {
        {"Windows 8 and later", true, true, L"Microsoft YaHei UI", L"Microsoft YaHei UI"},
        {"Windows 7, Chinese", false, true, L"宋体", L"Microsoft YaHei"},
        {"Windows 7 without the Chinese UI font", false, false, L"Segoe UI", L"Segoe UI"},
        {"no message font either", false, false, L"", L"Microsoft YaHei UI"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseFontFace(c.hasYaHeiUi, c.hasYaHei, c.messageFace), c.chosen) << c.system;
    }
}

TEST(FontFaceTest, FamiliesAreFoundThroughTheSystemsSubstitutes)
{
    wchar_t display[256];
    if (GetEnvironmentVariableW(L"DISPLAY", display, 256) == 0) {
        GTEST_SKIP() << "no X display for the screen's fonts (scripts/test.sh provides one)";
    }
    // The test prefix maps the Chinese UI face to an installed font, as
    // Windows 8 and later have it.
    EXPECT_TRUE(FontFamilyInstalled(L"Microsoft YaHei UI"));
    EXPECT_EQ(FontFace(), L"Microsoft YaHei UI");
    EXPECT_FALSE(FontFamilyInstalled(L"No Such Face 4711"));
    EXPECT_FALSE(FontFamilyInstalled(L"A face name longer than the thirty-two characters GDI keeps"));
}

}  // namespace
}  // namespace Orvane
