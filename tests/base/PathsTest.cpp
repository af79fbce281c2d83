#include <gtest/gtest.h>

#include <windows.h>

#include "TestSupport.h"
#include "base/Paths.h"

namespace Orvane {
namespace {

TEST(JoinPath, JoinsWithExactlyOneSeparator)
{
    struct Case {
        const wchar_t* directory;
        const wchar_t* relative;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"C:\\Game", L"Data/zhCN/a.MPQ", L"C:\\Game\\Data/zhCN/a.MPQ"},
        {L"C:\\Game\\", L"x", L"C:\\Game\\x"},
        {L"C:\\Game/", L"x", L"C:\\Game/x"},
        {L"", L"x", L"x"},
        {L"C:\\Game", L"", L"C:\\Game"},
        {L"", L"", L""},
        {L"C:\\游戏", L"Data\\补丁.MPQ", L"C:\\游戏\\Data\\补丁.MPQ"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(JoinPath(c.directory, c.relative), c.expected)
            << "directory=" << testing::PrintToString(std::wstring(c.directory))
            << " relative=" << testing::PrintToString(std::wstring(c.relative));
    }
}

TEST(DirectoryOfPath, CutsBeforeTheLastSeparatorOfEitherKind)
{
    EXPECT_EQ(DirectoryOfPath(L"D:\\Games\\Orvane.exe"), L"D:\\Games");
    EXPECT_EQ(DirectoryOfPath(L"D:\\Games/sub\\Orvane.exe"), L"D:\\Games/sub");
    EXPECT_EQ(DirectoryOfPath(L"D:/Games/Orvane.exe"), L"D:/Games");
    EXPECT_EQ(DirectoryOfPath(L"Orvane.exe"), L"");
    // A root keeps its separator: "D:" alone is the drive's current directory.
    EXPECT_EQ(DirectoryOfPath(L"D:\\Orvane.exe"), L"D:\\");
    EXPECT_EQ(DirectoryOfPath(L"D:/Orvane.exe"), L"D:/");
    EXPECT_EQ(DirectoryOfPath(L"\\Orvane.exe"), L"\\");
    EXPECT_EQ(JoinPath(DirectoryOfPath(L"D:\\Orvane.exe"), L"wow.exe"), L"D:\\wow.exe");
}

TEST(SameDirectory, ComparesNormalisedPathsWithoutLetterCase)
{
    struct Case {
        const wchar_t* a;
        const wchar_t* b;
        bool same;
    };
    const Case cases[] = {
        {L"C:\\Games\\Client", L"C:\\Games\\Client", true},
        {L"C:\\Games\\Client", L"c:\\games\\CLIENT", true},
        {L"C:\\Games\\Client", L"C:\\Games\\Client\\", true},
        {L"C:\\Games\\Client\\\\", L"C:\\Games\\Client", true},
        {L"C:/Games/Client", L"C:\\Games\\Client", true},
        {L"C:\\Games\\Other\\..\\Client", L"C:\\Games\\Client", true},
        {L"C:\\Games\\.\\Client", L"C:\\Games\\Client", true},
        {L"C:\\魔兽世界", L"c:\\魔兽世界\\", true},
        {L"D:\\", L"D:", true},
        {L"D:\\", L"d:/", true},
        {L"C:\\Games\\Client", L"C:\\Games\\Client B", false},
        {L"C:\\Games\\Client", L"C:\\Games", false},
        {L"C:\\Games\\Client", L"D:\\Games\\Client", false},
        {L"D:\\", L"D:\\Games", false},
        {L"", L"", false},
        {L"C:\\Games", L"", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameDirectory(c.a, c.b), c.same)
            << testing::PrintToString(std::wstring(c.a)) << " vs " << testing::PrintToString(std::wstring(c.b));
        EXPECT_EQ(SameDirectory(c.b, c.a), c.same) << "not symmetric";
    }
}

TEST(GetProgramDirectory, IsTheDirectoryOfThisExecutable)
{
    wchar_t modulePath[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    const std::wstring directory = GetProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), L'\\');
    EXPECT_EQ(directory + L"\\", std::wstring(modulePath).substr(0, directory.size() + 1));
    const DWORD attributes = GetFileAttributesW(directory.c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(CreateDirectories, CreatesEveryMissingLevel)
{
    Fixture::TempDir temp;
    const std::wstring deep = temp / L"a\\b/c\\数据";
    EXPECT_TRUE(CreateDirectories(deep));
    EXPECT_TRUE(IsDirectory(temp / L"a"));
    EXPECT_TRUE(IsDirectory(temp / L"a\\b"));
    EXPECT_TRUE(IsDirectory(deep));
}

TEST(CreateDirectories, ExistingDirectoryAndTrailingSeparatorSucceed)
{
    Fixture::TempDir temp;
    EXPECT_TRUE(CreateDirectories(temp.Path()));
    EXPECT_TRUE(CreateDirectories(temp / L"x\\y\\"));
    EXPECT_TRUE(IsDirectory(temp / L"x\\y"));
}

TEST(CreateDirectories, EmptyPathFails)
{
    EXPECT_FALSE(CreateDirectories(L""));
}

TEST(CreateDirectories, FileInTheWayIsAFailure)
{
    Fixture::TempDir temp;
    ASSERT_TRUE(Fixture::WriteBytes(temp / L"Data", "not a folder"));
    EXPECT_FALSE(CreateDirectories(temp / L"Data"));
    EXPECT_FALSE(CreateDirectories(temp / L"Data\\zhCN"));
}

}  // namespace
}  // namespace Orvane
