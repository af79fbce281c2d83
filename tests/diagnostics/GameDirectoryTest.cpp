#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "DiagnosticsTestSupport.h"
#include "TestSupport.h"
#include "base/Paths.h"
#include "base/Handles.h"
#include "diagnostics/GameDirectory.h"

namespace Orvane {
namespace {

constexpr char kMd5OfAbc[] = "900150983cd24fb0d6963f7d28e17f72";
constexpr char kMd5OfNothing[] = "d41d8cd98f00b204e9800998ecf8427e";

TEST(DetectGameDirectoryOf, NeedsWowExeAndADataFolder)
{
    enum Kind { None, File, Folder };
    struct Case {
        const char* name;
        Kind wowExe;
        Kind data;
        bool hasWowExe, hasDataDir, hasGameDir;
    };
    const Case cases[] = {
        {"client directory", File, Folder, true, true, true},
        {"wow.exe as a folder", Folder, Folder, true, true, true},
        {"Data as a file", File, File, true, false, false},
        {"no wow.exe", None, Folder, false, true, false},
        {"no Data", File, None, true, false, false},
        {"empty directory", None, None, false, false, false},
    };
    Fixture::TempDir temp;
    int index = 0;
    for (const Case& c : cases) {
        const std::wstring dir = temp / (L"客户端 " + std::to_wstring(index++));
        ASSERT_TRUE(CreateDirectories(dir));
        for (const auto& [kind, entry] : {std::pair{c.wowExe, L"wow.exe"}, std::pair{c.data, L"Data"}}) {
            if (kind == File) {
                ASSERT_TRUE(Fixture::WriteBytes(dir + L"\\" + entry, "x"));
            } else if (kind == Folder) {
                ASSERT_TRUE(CreateDirectories(dir + L"\\" + entry));
            }
        }
        EnvironmentInfo info;
        DetectGameDirectoryOf(dir + L"\\Orvane.exe", info);
        EXPECT_EQ(info.GameDir, dir) << c.name;
        EXPECT_EQ(info.HasWowExe, c.hasWowExe) << c.name;
        EXPECT_EQ(info.HasDataDir, c.hasDataDir) << c.name;
        EXPECT_EQ(info.HasGameDir, c.hasGameDir) << c.name;
    }
}

TEST(DetectGameDirectoryOf, DirectoryIsTheTextBeforeTheLastSeparator)
{
    Fixture::TempDir temp;
    ASSERT_TRUE(Fixture::WriteBytes(temp / L"wow.exe", ""));
    ASSERT_TRUE(CreateDirectories(temp / L"Data"));

    EnvironmentInfo slash;
    DetectGameDirectoryOf(temp.Path() + L"/Orvane.exe", slash);
    EXPECT_EQ(slash.GameDir, temp.Path());
    EXPECT_TRUE(slash.HasGameDir);

    // No separator at all: the directory stays as it was.
    EnvironmentInfo kept;
    kept.GameDir = temp.Path();
    DetectGameDirectoryOf(L"Orvane.exe", kept);
    EXPECT_EQ(kept.GameDir, temp.Path());
    EXPECT_TRUE(kept.HasGameDir);

    EnvironmentInfo fresh;
    DetectGameDirectoryOf(L"Orvane.exe", fresh);
    EXPECT_EQ(fresh.GameDir, L"");
    EXPECT_FALSE(fresh.HasGameDir);
}

TEST(DetectGameDirectoryOf, CurrentDirectoryPlaysNoPart)
{
    Fixture::TempDir temp;
    ASSERT_TRUE(Fixture::WriteBytes(temp / L"wow.exe", ""));
    ASSERT_TRUE(CreateDirectories(temp / L"Data"));
    ASSERT_TRUE(CreateDirectories(temp / L"elsewhere"));
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(temp.Path().c_str()));

    EnvironmentInfo info;
    DetectGameDirectoryOf(temp / L"elsewhere\\Orvane.exe", info);
    SetCurrentDirectoryW(previous);
    EXPECT_EQ(info.GameDir, temp / L"elsewhere");
    EXPECT_FALSE(info.HasWowExe);
    EXPECT_FALSE(info.HasDataDir);
}

TEST(DetectGameDirectory, LooksAtTheExecutablesOwnDirectory)
{
    // This test program's folder is no client directory.
    EnvironmentInfo info;
    DetectGameDirectory(info);
    EXPECT_EQ(info.GameDir, GetProgramDirectory());
    EXPECT_FALSE(info.GameDir.empty());
    EXPECT_FALSE(info.HasGameDir);

    // The same code in a program started from a client directory.
    Fixture::TempDir temp;
    const std::wstring client = temp / L"魔兽世界 3.3.5";
    ASSERT_TRUE(CreateDirectories(client + L"\\Data\\zhCN"));
    ASSERT_TRUE(Fixture::WriteBytes(client + L"\\wow.exe", "MZ"));
    auto found = Fixture::RunProbeHelperAt(client + L"\\Orvane.exe");
    ASSERT_FALSE(found.empty()) << "probe helper did not run";
    EXPECT_EQ(found[L"GameDir"], client);
    EXPECT_EQ(found[L"HasWowExe"], L"1");
    EXPECT_EQ(found[L"HasDataDir"], L"1");
    EXPECT_EQ(found[L"HasGameDir"], L"1");
}

TEST(SummarizeIntegrity, ProblemTextsInListOrder)
{
    using S = ClientFileState;
    struct Case {
        std::vector<ClientFileFinding> findings;
        bool complete;
        const wchar_t* info;
    };
    const Case cases[] = {
        {{{L"base-zhCN.MPQ", S::Intact}, {L"lichking-locale-zhCN.MPQ", S::Intact}}, true, L""},
        {{}, true, L""},
        {{{L"base-zhCN.MPQ", S::Missing}, {L"lichking-locale-zhCN.MPQ", S::Missing}},
         false, L"base-zhCN.MPQ 文件缺失, lichking-locale-zhCN.MPQ 文件缺失"},
        {{{L"base-zhCN.MPQ", S::Intact}, {L"lichking-locale-zhCN.MPQ", S::Altered}},
         false, L"lichking-locale-zhCN.MPQ 文件校验失败"},
        {{{L"base-zhCN.MPQ", S::Missing}, {L"lichking-locale-zhCN.MPQ", S::Altered}},
         false, L"base-zhCN.MPQ 文件缺失, lichking-locale-zhCN.MPQ 文件校验失败"},
        {{{L"base-zhCN.MPQ", S::Altered}, {L"lichking-locale-zhCN.MPQ", S::Intact}},
         false, L"base-zhCN.MPQ 文件校验失败"},
    };
    for (const Case& c : cases) {
        const IntegrityResult result = SummarizeIntegrity(c.findings);
        EXPECT_EQ(result.IsComplete, c.complete) << testing::PrintToString(std::wstring(c.info));
        EXPECT_EQ(result.Info, c.info);
    }
}

// A client directory whose two checked files have small, known contents.
class IntegrityCheckTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectories(temp / L"Data\\zhCN"));
        ASSERT_TRUE(Fixture::WriteBytes(first, "abc"));
        ASSERT_TRUE(Fixture::WriteBytes(second, ""));
    }

    Fixture::TempDir temp;
    std::wstring first = temp / L"Data\\zhCN\\a.MPQ";
    std::wstring second = temp / L"Data\\zhCN\\b.MPQ";
    ClientIntegrityChecker checker{{
        {L"Data\\zhCN\\a.MPQ", kMd5OfAbc, L"a.MPQ"},
        {L"Data\\zhCN\\b.MPQ", kMd5OfNothing, L"b.MPQ"},
    }};
};

TEST_F(IntegrityCheckTest, IntactFilesAreComplete)
{
    const IntegrityResult result = checker.Check(temp.Path());
    EXPECT_TRUE(result.IsComplete);
    EXPECT_EQ(result.Info, L"");
}

TEST_F(IntegrityCheckTest, EveryEntryIsExamined)
{
    ASSERT_TRUE(DeleteFileW(first.c_str()));
    ASSERT_TRUE(Fixture::WriteBytes(second, "changed"));
    const IntegrityResult result = checker.Check(temp.Path());
    EXPECT_FALSE(result.IsComplete);
    EXPECT_EQ(result.Info, L"a.MPQ 文件缺失, b.MPQ 文件校验失败");
}

TEST_F(IntegrityCheckTest, FolderInPlaceOfAFileFailsTheDigest)
{
    ASSERT_TRUE(DeleteFileW(second.c_str()));
    ASSERT_TRUE(CreateDirectories(second));
    const IntegrityResult result = checker.Check(temp.Path());
    EXPECT_FALSE(result.IsComplete);
    EXPECT_EQ(result.Info, L"b.MPQ 文件校验失败");
}

TEST_F(IntegrityCheckTest, UnreadableFileFailsTheDigest)
{
    const KernelHandle writer(CreateFileW(first.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.Valid());
    const IntegrityResult result = checker.Check(temp.Path());
    EXPECT_FALSE(result.IsComplete);
    EXPECT_EQ(result.Info, L"a.MPQ 文件校验失败");
}

TEST_F(IntegrityCheckTest, EmptyGameDirectoryIsNotSet)
{
    // Relative to the current directory the files would be intact.
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(temp.Path().c_str()));
    const IntegrityResult result = checker.Check(L"");
    SetCurrentDirectoryW(previous);
    EXPECT_FALSE(result.IsComplete);
    EXPECT_EQ(result.Info, L"游戏目录未设置");
}

TEST(ExpectedClientFiles, TheTwoArchivesOfTheReleasedClient)
{
    // The released zhCN client's archives; a changed digest here would call
    // every intact client broken.
    const std::vector<ClientFileEntry> files = ExpectedClientFiles();
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].RelativePath, L"Data\\zhCN\\base-zhCN.MPQ");
    EXPECT_EQ(files[0].ExpectedMd5, "c98b5e25449f918c46ce506898bc6d3b");
    EXPECT_EQ(files[0].DisplayName, L"base-zhCN.MPQ");
    EXPECT_EQ(files[1].RelativePath, L"Data\\zhCN\\lichking-locale-zhCN.MPQ");
    EXPECT_EQ(files[1].ExpectedMd5, "d58757c065d603e46358d990b79e490a");
    EXPECT_EQ(files[1].DisplayName, L"lichking-locale-zhCN.MPQ");
}

TEST(DetectGameDirectoryOf, AClientAtADriveRoot)
{
    EnvironmentInfo info;
    DetectGameDirectoryOf(L"C:\\Orvane.exe", info);
    EXPECT_EQ(info.GameDir, L"C:\\");
}

TEST(ClientIntegrityChecker, ProgramChecksTheTwoZhCnArchives)
{
    const ClientIntegrityChecker checker;
    for (const ClientFileEntry& entry : checker.Entries()) {
        EXPECT_EQ(entry.ExpectedMd5.size(), 32u);
        EXPECT_EQ(entry.ExpectedMd5.find_first_not_of("0123456789abcdef"), std::string::npos)
            << "digests are compared case-sensitively with lower-case text";
    }

    Fixture::TempDir temp;
    EXPECT_EQ(checker.Check(temp.Path()).Info,
              L"base-zhCN.MPQ 文件缺失, lichking-locale-zhCN.MPQ 文件缺失");

    // Small stand-ins in the archives' places never match their digests.
    ASSERT_TRUE(CreateDirectories(temp / L"Data\\zhCN"));
    ASSERT_TRUE(Fixture::WriteBytes(temp / L"Data\\zhCN\\base-zhCN.MPQ", "MPQ"));
    ASSERT_TRUE(Fixture::WriteBytes(temp / L"Data\\zhCN\\lichking-locale-zhCN.MPQ", "MPQ"));
    const IntegrityResult result = checker.Check(temp.Path());
    EXPECT_FALSE(result.IsComplete);
    EXPECT_EQ(result.Info, L"base-zhCN.MPQ 文件校验失败, lichking-locale-zhCN.MPQ 文件校验失败");
}

}  // namespace
}  // namespace Orvane
