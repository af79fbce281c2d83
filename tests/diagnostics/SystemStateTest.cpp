#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "TestSupport.h"
#include "base/Paths.h"
#include "diagnostics/SystemState.h"

namespace Orvane {
namespace {

class SystemStateTest : public testing::Test {
protected:
    // A setup.ini holding the given [Launcher]/[Game] lines plus a game
    // directory that exists.
    void WriteIni(const std::wstring& text) { ASSERT_TRUE(Fixture::WriteUtf16WithBom(iniPath, text)); }

    std::wstring ValidIni(const std::wstring& extraLauncherLines = L"",
                          const std::wstring& setupComplete = L"1",
                          const std::wstring& hasWowExe = L"1") const
    {
        return L"[Game]\r\nGameDir=" + gameDir + L"\r\nHasWowExe=" + hasWowExe +
               L"\r\n[Launcher]\r\nSetupComplete=" + setupComplete + L"\r\n" + extraLauncherLines;
    }

    std::wstring FileText() const
    {
        const std::string bytes = Fixture::ReadBytes(iniPath);
        EXPECT_GE(bytes.size(), 2u);
        EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "setup.ini is not UTF-16LE with a BOM";
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    }

    Fixture::TempDir temp;
    std::wstring iniPath = temp / L"setup.ini";
    std::wstring gameDir = temp.Path();
};

// "[Section]" and "Key=value" lines in file order.
std::vector<std::wstring> NonEmptyLines(const std::wstring& text)
{
    std::vector<std::wstring> lines;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) end = text.size();
        std::wstring line = text.substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

TEST_F(SystemStateTest, NoFileLoadsAsInvalidAndKeepsTheRecord)
{
    SystemState state(iniPath);
    state.OSName = L"kept";
    EXPECT_FALSE(state.Load());
    EXPECT_EQ(state.OSName, L"kept");
}

TEST_F(SystemStateTest, FirstSaveCreatesAUnicodeFileWithEveryKeyInOrder)
{
    SystemState state(iniPath);
    EXPECT_TRUE(state.Save());
    const std::vector<std::wstring> expected = {
        L"[System]", L"OSName=", L"OSVersion=", L"OSBuild=", L"Is64Bit=0", L"IsWin7=0",
        L"IsWin10OrLater=0", L"HasDotNet=0", L"DotNetVersion=", L"HasNet8=0",
        L"[Game]", L"GameDir=", L"HasGameDir=0", L"HasDataDir=0", L"HasWowExe=0",
        L"HasCompleteClient=0",
        L"[Server]", L"ApiReachable=0", L"ApiLatencyMs=0", L"GameReachable=0", L"GameLatencyMs=0",
        L"[Launcher]", L"LauncherType=", L"LauncherPath=", L"LastCheckDate=", L"SetupComplete=0",
    };
    EXPECT_EQ(NonEmptyLines(FileText()), expected);
}

TEST_F(SystemStateTest, SaveAndLoadRoundTrip)
{
    ASSERT_TRUE(Fixture::WriteBytes(temp / L"wow.exe", ""));
    SystemState saved(iniPath);
    saved.OSName = L"Windows 10";
    saved.OSVersion = L"10.0";
    saved.OSBuild = L"19045";
    saved.Is64Bit = true;
    saved.IsWin10OrLater = true;
    saved.HasDotNet = true;
    saved.DotNetVersion = L"NET 8.0.11";
    saved.HasNet8 = true;
    saved.GameDir = gameDir;
    saved.HasGameDir = true;
    saved.HasDataDir = true;
    saved.HasWowExe = true;
    saved.HasCompleteClient = true;
    saved.ApiReachable = true;
    saved.ApiLatencyMs = 37;
    saved.GameReachable = false;
    saved.GameLatencyMs = -1;
    saved.LauncherType = L"WIN32_NATIVE";
    saved.LastCheckDate = L"2026-12-10 检测";
    saved.SetupComplete = true;
    ASSERT_TRUE(saved.Save());

    SystemState loaded(iniPath);
    EXPECT_TRUE(loaded.Load());
    EXPECT_EQ(loaded.OSName, saved.OSName);
    EXPECT_EQ(loaded.OSVersion, saved.OSVersion);
    EXPECT_EQ(loaded.OSBuild, saved.OSBuild);
    EXPECT_TRUE(loaded.Is64Bit);
    EXPECT_FALSE(loaded.IsWin7);
    EXPECT_TRUE(loaded.IsWin10OrLater);
    EXPECT_TRUE(loaded.HasDotNet);
    EXPECT_EQ(loaded.DotNetVersion, L"NET 8.0.11");
    EXPECT_TRUE(loaded.HasNet8);
    EXPECT_EQ(loaded.GameDir, gameDir);
    EXPECT_TRUE(loaded.HasGameDir);
    EXPECT_TRUE(loaded.HasDataDir);
    EXPECT_TRUE(loaded.HasWowExe);
    EXPECT_TRUE(loaded.HasCompleteClient);
    EXPECT_TRUE(loaded.ApiReachable);
    EXPECT_EQ(loaded.ApiLatencyMs, 37);
    EXPECT_FALSE(loaded.GameReachable);
    EXPECT_EQ(loaded.GameLatencyMs, -1);
    EXPECT_EQ(loaded.LauncherType, L"WIN32_NATIVE");
    EXPECT_EQ(loaded.LauncherPath, L"");
    EXPECT_EQ(loaded.LastCheckDate, L"2026-12-10 检测");
    EXPECT_TRUE(loaded.SetupComplete);
    EXPECT_NE(FileText().find(L"GameLatencyMs=-1"), std::wstring::npos);
}

TEST_F(SystemStateTest, GameDirOutsideTheAnsiCodePageSurvives)
{
    // Characters no ANSI code page holds: a Tibetan letter and an emoji.
    const std::wstring name = L"游戏 \u0F00 \U0001F3AE";
    BOOL lossy = FALSE;
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name.c_str(), -1, nullptr, 0, nullptr, &lossy);
    ASSERT_TRUE(lossy) << "the test name must not fit the ANSI code page";
    const std::wstring dir = temp / name;
    ASSERT_TRUE(CreateDirectories(dir));
    // Saved results count only in their own directory.
    const std::wstring ownIni = dir + L"\\setup.ini";

    SystemState saved(ownIni);
    saved.GameDir = dir;
    saved.HasWowExe = true;
    saved.SetupComplete = true;
    saved.Save();

    SystemState loaded(ownIni);
    EXPECT_TRUE(loaded.Load());
    EXPECT_EQ(loaded.GameDir, dir);
}

TEST_F(SystemStateTest, ExistingAnsiFileIsReadAndStaysAnsi)
{
    ASSERT_TRUE(Fixture::WriteAnsi(iniPath, ValidIni(L"LauncherType=WIN32_NATIVE\r\n")));
    SystemState state(iniPath);
    EXPECT_TRUE(state.Load());
    EXPECT_EQ(state.GameDir, gameDir);
    state.OSName = L"Windows 7";
    state.Save();
    const std::string bytes = Fixture::ReadBytes(iniPath);
    EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(bytes.find("OSName=Windows 7"), std::string::npos);
}

TEST_F(SystemStateTest, ValidityRules)
{
    const std::wstring launcher = temp / L"Full.exe";
    ASSERT_TRUE(Fixture::WriteBytes(launcher, "MZ"));
    struct Case {
        const char* name;
        std::wstring file;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"complete, win32 launcher", ValidIni(L"LauncherType=WIN32_NATIVE\r\n"), true},
        {"no launcher type", ValidIni(), true},
        {"setup not complete", ValidIni(L"", L"0"), false},
        {"SetupComplete missing", L"[Game]\r\nGameDir=" + gameDir + L"\r\nHasWowExe=1\r\n", false},
        {"no wow.exe", ValidIni(L"", L"1", L"0"), false},
        {"GameDir empty", L"[Game]\r\nGameDir=\r\nHasWowExe=1\r\n[Launcher]\r\nSetupComplete=1\r\n", false},
        {"GameDir gone", L"[Game]\r\nGameDir=" + temp.Path() + L"\\gone\r\nHasWowExe=1\r\n"
                         L"[Launcher]\r\nSetupComplete=1\r\n", false},
        {"net8 launcher present", ValidIni(L"LauncherType=NET8_LAUNCHER\r\nLauncherPath=" + launcher + L"\r\n"), true},
        {"net8 launcher gone", ValidIni(L"LauncherType=NET8_LAUNCHER\r\nLauncherPath=" + launcher + L".old\r\n"), false},
        {"net8 launcher path empty", ValidIni(L"LauncherType=NET8_LAUNCHER\r\nLauncherPath=\r\n"), false},
        {"lower-case type skips the launcher test", ValidIni(L"LauncherType=net8_launcher\r\nLauncherPath=\r\n"), true},
    };
    for (const Case& c : cases) {
        WriteIni(c.file);
        SystemState state(iniPath);
        EXPECT_EQ(state.Load(), c.valid) << c.name;
    }
}

TEST(SavedSetupUsable, OnlyAFinishedSetupOfTheProgramsOwnDirectory)
{
    const std::wstring own = L"C:\\Games\\魔兽世界";
    const std::wstring launcher = own + L"\\Full.exe";
    auto saved = [&](std::wstring gameDir) {
        DiagnosisRecord record;
        record.GameDir = std::move(gameDir);
        record.HasWowExe = true;
        record.SetupComplete = true;
        return record;
    };
    auto withLauncher = [](DiagnosisRecord record, std::wstring path) {
        record.LauncherType = L"NET8_LAUNCHER";
        record.LauncherPath = std::move(path);
        return record;
    };
    DiagnosisRecord unfinished = saved(own);
    unfinished.SetupComplete = false;
    DiagnosisRecord noWowExe = saved(own);
    noWowExe.HasWowExe = false;
    struct Case {
        const char* name;
        DiagnosisRecord record;
        std::vector<std::wstring> existing;
        bool usable;
    };
    const std::vector<Case> cases = {
        {"own directory", saved(own), {own}, true},
        {"own directory, other letter case", saved(L"c:\\GAMES\\魔兽世界"), {L"c:\\GAMES\\魔兽世界"}, true},
        {"own directory, trailing separator", saved(own + L"\\"), {own + L"\\"}, true},
        {"own directory, forward slashes", saved(L"C:/Games/魔兽世界"), {L"C:/Games/魔兽世界"}, true},
        {"own directory through ..", saved(L"C:\\Games\\x\\..\\魔兽世界"), {L"C:\\Games\\x\\..\\魔兽世界"}, true},
        {"the folder it was copied from", saved(L"C:\\Games\\魔兽世界 A"), {L"C:\\Games\\魔兽世界 A", own}, false},
        {"a parent folder", saved(L"C:\\Games"), {L"C:\\Games", own}, false},
        {"a sub-folder", saved(own + L"\\Data"), {own + L"\\Data", own}, false},
        {"own directory gone", saved(own), {}, false},
        {"GameDir empty", saved(L""), {own}, false},
        {"setup not finished", unfinished, {own}, false},
        {"no wow.exe", noWowExe, {own}, false},
        {"full launcher present", withLauncher(saved(own), launcher), {own, launcher}, true},
        {"full launcher gone", withLauncher(saved(own), launcher), {own}, false},
        {"full launcher unnamed", withLauncher(saved(own), L""), {own}, false},
    };
    for (const Case& c : cases) {
        const auto exists = [&](const std::wstring& path) {
            return std::find(c.existing.begin(), c.existing.end(), path) != c.existing.end();
        };
        EXPECT_EQ(SavedSetupUsable(c.record, own, exists), c.usable) << c.name;
    }
}

TEST_F(SystemStateTest, ResultsSavedForAnotherDirectoryStartAfresh)
{
    // A client folder copied with its setup.ini: GameDir names the original,
    // which still exists and is complete.
    const std::wstring original = temp / L"A";
    ASSERT_TRUE(CreateDirectories(original));
    WriteIni(L"[System]\r\nOSName=Windows 10\r\n[Game]\r\nGameDir=" + original +
             L"\r\nHasWowExe=1\r\n[Launcher]\r\nLauncherType=NET8_LAUNCHER\r\nLauncherPath=" + original +
             L"\\Full.exe\r\nSetupComplete=1\r\n");
    SystemState state(iniPath);
    EXPECT_FALSE(state.Load());
    // Nothing of the other folder carries over, not even the launcher it chose.
    EXPECT_EQ(state.GameDir, L"");
    EXPECT_EQ(state.OSName, L"");
    EXPECT_EQ(state.LauncherPath, L"");
    EXPECT_FALSE(state.SetupComplete);
}

TEST_F(SystemStateTest, InvalidStateStillLoadsItsFields)
{
    WriteIni(L"[System]\r\nOSName=Windows 8\r\n[Launcher]\r\nSetupComplete=0\r\n");
    SystemState state(iniPath);
    EXPECT_FALSE(state.Load());
    EXPECT_EQ(state.OSName, L"Windows 8");
}

TEST_F(SystemStateTest, OnlyTheExactTextOneIsTrue)
{
    WriteIni(L"[System]\r\nIs64Bit=true\r\nHasNet8=1\r\n");
    SystemState state(iniPath);
    state.Load();
    EXPECT_FALSE(state.Is64Bit);
    EXPECT_TRUE(state.HasNet8);
}

TEST_F(SystemStateTest, IntegrityInfoAndLastCheckDatePassThroughUntouched)
{
    WriteIni(L"[Game]\r\nClientIntegrityInfo=base-zhCN.MPQ 文件缺失\r\n"
             L"[Launcher]\r\nLastCheckDate=手工 2024\r\n");
    SystemState state(iniPath);
    state.Load();
    EXPECT_EQ(state.ClientIntegrityInfo, L"base-zhCN.MPQ 文件缺失");
    EXPECT_EQ(state.LastCheckDate, L"手工 2024");

    state.ClientIntegrityInfo = L"changed in memory";
    state.Save();
    const std::wstring text = FileText();
    EXPECT_NE(text.find(L"ClientIntegrityInfo=base-zhCN.MPQ 文件缺失"), std::wstring::npos);
    EXPECT_EQ(text.find(L"changed in memory"), std::wstring::npos);
    EXPECT_NE(text.find(L"LastCheckDate=手工 2024"), std::wstring::npos);
}

TEST_F(SystemStateTest, AbsentLastCheckDateIsWrittenEmpty)
{
    WriteIni(L"[Launcher]\r\nSetupComplete=1\r\n");
    SystemState state(iniPath);
    state.Load();
    state.Save();
    EXPECT_NE(FileText().find(L"LastCheckDate=\r\n"), std::wstring::npos);
}

TEST_F(SystemStateTest, SaveIntoAMissingFolderReportsFailure)
{
    SystemState state(temp / L"no-such-folder\\setup.ini");
    state.SetupComplete = true;
    EXPECT_FALSE(state.Save());
    EXPECT_FALSE(Fixture::Exists(temp / L"no-such-folder"));
}

TEST_F(SystemStateTest, SaveOverAFolderOfTheFilesNameReportsFailure)
{
    // A folder named setup.ini: the directory is writable, the file is not.
    ASSERT_TRUE(CreateDirectories(iniPath));
    SystemState state(iniPath);
    state.SetupComplete = true;
    EXPECT_FALSE(state.Save());
}

TEST(GetSetupIniPath, LiesBesideTheExecutable)
{
    EXPECT_EQ(GetSetupIniPath(), GetProgramDirectory() + L"\\setup.ini");
    EXPECT_EQ(SystemState::Instance().IniPath(), GetSetupIniPath());
}

}  // namespace
}  // namespace Orvane
