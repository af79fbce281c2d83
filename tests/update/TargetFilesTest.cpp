#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "update/TargetFiles.h"
#include "update/TargetPath.h"

namespace Orvane {
namespace {

// Moves as Windows makes them where Wine does not: a read-only target and a
// running program's image refuse to be replaced; the image can be renamed.
struct WindowsLikeMoves {
    std::wstring runningImage;  // refuses replacement, allows a rename
    int refusalsLeft = 0;       // further refusals of any replace, then the real move
    std::vector<std::wstring> calls;
    std::vector<DWORD> pauses;

    FileMoves Moves()
    {
        FileMoves moves;
        moves.move = [this](const std::wstring& from, const std::wstring& to, DWORD flags) -> DWORD {
            calls.push_back(from + L" -> " + to);
            const DWORD attributes = GetFileAttributesW(to.c_str());
            const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
            if (exists && (attributes & FILE_ATTRIBUTE_READONLY)) {
                return ERROR_ACCESS_DENIED;
            }
            if (exists && (to == runningImage || refusalsLeft > 0)) {
                --refusalsLeft;
                return ERROR_ACCESS_DENIED;
            }
            return MoveFileExW(from.c_str(), to.c_str(), flags) ? ERROR_SUCCESS : GetLastError();
        };
        moves.sleep = [this](DWORD ms) { pauses.push_back(ms); };
        return moves;
    }
};

class ReplaceTargetTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Fixture::WriteBytes(target, "old"));
        ASSERT_TRUE(Fixture::WriteBytes(source, "new"));
    }

    bool Replace() { return ReplaceTarget(source, target, aside, windows.Moves()); }

    Fixture::TempDir dir;
    const std::wstring target = dir / L"wow.exe";
    const std::wstring source = target + kPartialSuffix;
    const std::wstring aside = target + kAsideSuffix;
    WindowsLikeMoves windows;
};

TEST_F(ReplaceTargetTest, AReadOnlyTargetRefusedOnceHasTheAttributeClearedAndIsReplacedAtOnce)
{
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(Replace());
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    EXPECT_EQ(windows.calls.size(), 2u);  // refused, then replaced without a pause
    EXPECT_TRUE(windows.pauses.empty());
    EXPECT_FALSE(Fixture::Exists(aside));
}

TEST_F(ReplaceTargetTest, ARefusedReplaceIsRetriedWithAGrowingPause)
{
    windows.refusalsLeft = 2;  // e.g. a scanner holding the file for a moment
    ASSERT_TRUE(Replace());
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    ASSERT_EQ(windows.pauses.size(), 2u);
    EXPECT_LT(windows.pauses[0], windows.pauses[1]);
    EXPECT_FALSE(Fixture::Exists(aside));
}

TEST_F(ReplaceTargetTest, ARunningImageIsMovedAsideAndTheNewFileMovedIn)
{
    windows.runningImage = target;
    ASSERT_TRUE(Replace());
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    EXPECT_EQ(Fixture::ReadBytes(aside), "old");
    EXPECT_FALSE(Fixture::Exists(source));
    EXPECT_EQ(windows.pauses.size(), 3u);  // the retries came first

    // What the next run finds in the folder goes, the new file stays.
    RemoveLeftovers(dir.Path());
    EXPECT_FALSE(Fixture::Exists(aside));
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
}

TEST_F(ReplaceTargetTest, OtherFailuresAreNotRetried)
{
    ASSERT_TRUE(DeleteFileW(source.c_str()));
    EXPECT_FALSE(Replace());
    EXPECT_EQ(windows.calls.size(), 1u);
    EXPECT_TRUE(windows.pauses.empty());
    EXPECT_EQ(Fixture::ReadBytes(target), "old");
}

TEST_F(ReplaceTargetTest, AFolderOfTheTargetsNameIsNeitherReplacedNorMovedAside)
{
    // What Windows answers for a folder in the way looks like a file in use.
    const std::wstring folder = dir / L"Data";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(Fixture::WriteBytes(folder + L"\\base.MPQ", "archive"));
    windows.runningImage = folder;
    EXPECT_FALSE(ReplaceTarget(source, folder, folder + kAsideSuffix, windows.Moves()));
    EXPECT_EQ(windows.calls.size(), 1u);  // the refused replace, nothing after it
    EXPECT_TRUE(windows.pauses.empty());
    EXPECT_EQ(Fixture::ReadBytes(folder + L"\\base.MPQ"), "archive");
    EXPECT_FALSE(Fixture::Exists(folder + kAsideSuffix));
    EXPECT_EQ(Fixture::ReadBytes(source), "new");
}

}  // namespace
}  // namespace Orvane
