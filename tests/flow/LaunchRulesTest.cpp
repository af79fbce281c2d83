#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include "flow/LaunchRules.h"

namespace Orvane {
namespace {

TEST(LaunchRulesTest, DirectoryIsTheTextBeforeTheLastBackslash)
{
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"C:\\Games\\WoW\\Orvane.exe", L"C:\\Games\\WoW"},
        {L"C:\\Games/WoW/Orvane.exe", L"C:\\"},  // '/' does not separate
        {L"D:\\魔兽世界\\Orvane.exe", L"D:\\魔兽世界"},
        {L"D:\\Orvane.exe", L"D:\\"},
        {L"\\\\server\\share\\Orvane.exe", L"\\\\server\\share"},
        {L"Orvane.exe", L"."},
        {L"C:/Games/Orvane.exe", L"."},
        {L"", L"."},
    };
    for (const auto& [path, directory] : cases) {
        EXPECT_EQ(LauncherDirectoryOf(path), directory) << testing::PrintToString(path);
    }
}

TEST(LaunchRulesTest, CommandLineIsTheQuotedPathAndSplitsAsOneArgument)
{
    const wchar_t* const paths[] = {
        L"D:\\魔兽 世界\\Kaimor登录器.exe",
        L"C:\\Program Files (x86)\\Kaimor\\Kaimor登录器.exe",
        L"D:\\Kaimor登录器.exe",
    };
    for (const wchar_t* path : paths) {
        const std::wstring commandLine = LauncherCommandLine(path);
        EXPECT_EQ(commandLine, L"\"" + std::wstring(path) + L"\"");
        // What the started program's C runtime makes of it: argv[0] is the whole path.
        int count = 0;
        LPWSTR* arguments = CommandLineToArgvW(commandLine.c_str(), &count);
        ASSERT_NE(arguments, nullptr);
        EXPECT_EQ(count, 1) << testing::PrintToString(commandLine);
        EXPECT_EQ(std::wstring(arguments[0]), path);
        LocalFree(arguments);
    }
}

TEST(LaunchRulesTest, MessagesNameThePathAndTheErrorCode)
{
    EXPECT_EQ(LauncherMissingText(L"C:\\G\\Kaimor登录器.exe"),
              L"未找到登录器:\nC:\\G\\Kaimor登录器.exe\n\n请确认 Kaimor登录器.exe 与本程序在同一目录");
    EXPECT_EQ(LaunchFailedText(5, L"C:\\G\\Kaimor登录器.exe"),
              L"启动登录器失败, 错误代码: 5\n路径: C:\\G\\Kaimor登录器.exe");
    EXPECT_EQ(LaunchFailedText(0xC0000005u, L"x"),
              L"启动登录器失败, 错误代码: 3221225477\n路径: x");  // unsigned decimal
}

}  // namespace
}  // namespace Orvane
