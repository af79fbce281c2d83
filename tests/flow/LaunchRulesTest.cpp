#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>

#include <optional>
#include <vector>

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

// The process start's failure decides whether Windows is asked to elevate; the
// shell's answer decides between started, refused and failed.
TEST(LaunchRulesTest, ALauncherThatNeedsElevationGoesThroughTheShell)
{
    const std::wstring path = L"D:\\魔兽 世界\\Kaimor登录器.exe";
    const std::wstring directory = L"D:\\魔兽 世界";
    const HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
    struct Case {
        const char* name;
        std::optional<DWORD> processError;  // none: the process starts
        std::optional<DWORD> shellError;    // none: the shell starts it
        bool shellAsked;
        LaunchOutcome outcome;
        DWORD error;
    };
    const Case cases[] = {
        {"started as a process", std::nullopt, std::nullopt, false, LaunchOutcome::Started, 0},
        {"elevation required, prompt accepted", kElevationRequired, std::nullopt, true,
         LaunchOutcome::Started, 0},
        {"elevation required, prompt refused", kElevationRequired, ERROR_CANCELLED, true,
         LaunchOutcome::ElevationRefused, ERROR_CANCELLED},
        {"elevation required, shell fails otherwise", kElevationRequired, ERROR_ACCESS_DENIED,
         true, LaunchOutcome::Failed, ERROR_ACCESS_DENIED},
        {"access denied: no prompt", ERROR_ACCESS_DENIED, std::nullopt, false, LaunchOutcome::Failed,
         ERROR_ACCESS_DENIED},
        {"not a Windows program: no prompt", ERROR_BAD_EXE_FORMAT, std::nullopt, false,
         LaunchOutcome::Failed, ERROR_BAD_EXE_FORMAT},
        {"cancelled by the process start itself: not a refused prompt", ERROR_CANCELLED, std::nullopt,
         false, LaunchOutcome::Failed, ERROR_CANCELLED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::pair<std::wstring, std::wstring>> processCalls;
        std::vector<ShellStart> shellCalls;
        LauncherStarters starters;
        starters.process = [&](const std::wstring& p, const std::wstring& d, DWORD& error) {
            processCalls.emplace_back(p, d);
            error = c.processError.value_or(0);
            return !c.processError;
        };
        starters.shell = [&](const ShellStart& request, DWORD& error) {
            shellCalls.push_back(request);
            error = c.shellError.value_or(0);
            return !c.shellError;
        };
        const LaunchResult result = StartLauncher(path, directory, owner, starters);
        EXPECT_EQ(result.outcome, c.outcome);
        EXPECT_EQ(result.error, c.error);
        ASSERT_EQ(processCalls.size(), 1u);
        EXPECT_EQ(processCalls[0].first, path);
        EXPECT_EQ(processCalls[0].second, directory);
        ASSERT_EQ(shellCalls.size(), c.shellAsked ? 1u : 0u);
        if (c.shellAsked) {
            const ShellStart& request = shellCalls[0];
            EXPECT_EQ(request.verb, L"open");
            EXPECT_EQ(request.file, path);
            EXPECT_EQ(request.directory, directory);
            EXPECT_EQ(request.owner, owner);
            // Synchronous (the program may quit right after) and without the
            // shell's own error box.
            EXPECT_EQ(request.mask, static_cast<ULONG>(SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI));
            EXPECT_EQ(request.show, SW_SHOWNORMAL);
        }
    }
}

}  // namespace
}  // namespace Orvane
