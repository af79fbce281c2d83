#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "update/TargetFiles.h"

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

    Fixture::TempDir dir;
    const std::wstring target = dir / L"wow.exe";
    const std::wstring source = PartialPathOf(target);
    WindowsLikeMoves windows;
};

TEST_F(ReplaceTargetTest, AReadOnlyTargetHasTheAttributeClearedFirst)
{
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(ReplaceTarget(source, target, windows.Moves()));
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    EXPECT_EQ(windows.calls.size(), 1u);  // no retry was needed
    EXPECT_TRUE(windows.pauses.empty());
}

TEST_F(ReplaceTargetTest, ARefusedReplaceIsRetriedWithAGrowingPause)
{
    windows.refusalsLeft = 2;  // e.g. a scanner holding the file for a moment
    ASSERT_TRUE(ReplaceTarget(source, target, windows.Moves()));
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    ASSERT_EQ(windows.pauses.size(), 2u);
    EXPECT_LT(windows.pauses[0], windows.pauses[1]);
    EXPECT_FALSE(Fixture::Exists(AsidePathOf(target)));
}

TEST_F(ReplaceTargetTest, ARunningImageIsMovedAsideAndTheNewFileMovedIn)
{
    windows.runningImage = target;
    ASSERT_TRUE(ReplaceTarget(source, target, windows.Moves()));
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    EXPECT_EQ(Fixture::ReadBytes(AsidePathOf(target)), "old");
    EXPECT_FALSE(Fixture::Exists(source));
    EXPECT_EQ(windows.pauses.size(), 3u);  // the retries came first

    // What the next run finds in the folder goes, the new file stays.
    RemoveLeftovers(dir.Path());
    EXPECT_FALSE(Fixture::Exists(AsidePathOf(target)));
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
}

TEST_F(ReplaceTargetTest, OtherFailuresAreNotRetried)
{
    ASSERT_TRUE(DeleteFileW(source.c_str()));
    EXPECT_FALSE(ReplaceTarget(source, target, windows.Moves()));
    EXPECT_EQ(windows.calls.size(), 1u);
    EXPECT_TRUE(windows.pauses.empty());
    EXPECT_EQ(Fixture::ReadBytes(target), "old");
}

TEST(TargetPathLimitsTest, TheTargetAndItsPartialFileStayBelowMaxPath)
{
    const std::wstring folder = L"C:\\Games\\";
    const size_t room = MAX_PATH - 1 - folder.size() - std::wstring(kPartialSuffix).size();
    struct Case {
        std::wstring target;
        bool fits;
    };
    const Case cases[] = {
        {folder + std::wstring(room, L'a'), true},
        {folder + std::wstring(room + 1, L'a'), false},
        {L"C:\\" + std::wstring(247, L'n'), true},  // a name of 255 with the suffix
        {L"C:\\" + std::wstring(248, L'n'), false},
        {L"C:/" + std::wstring(248, L'n'), false},
        {L"C:\\" + std::wstring(200, L'n') + L"\\x", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitsWindowsPathLimits(c.target), c.fits) << c.target.size();
    }
}

}  // namespace
}  // namespace Orvane
