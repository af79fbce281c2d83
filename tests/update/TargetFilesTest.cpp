#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "base/Handles.h"
#include "base/Paths.h"
#include "update/TargetFiles.h"
#include "update/TargetPath.h"

namespace Orvane {
namespace {

// Moves as Windows makes them where Wine does not: a read-only target and a
// running program's image refuse to be replaced; the image can be renamed.
struct WindowsLikeMoves {
    std::wstring runningImage;  // refuses replacement, allows a rename
    int refusalsLeft = 0;       // further refusals of any replace, then the real move
    // Held by another program without sharing deletion: neither replaced nor
    // renamed (a scanner reading the new file, the game holding an archive).
    std::set<std::wstring> held;
    std::vector<std::wstring> calls;
    std::vector<DWORD> pauses;

    FileMoves Moves()
    {
        FileMoves moves;
        moves.move = [this](const std::wstring& from, const std::wstring& to, DWORD flags) -> DWORD {
            calls.push_back(from + L" -> " + to);
            if (held.count(from) || held.count(to)) {
                return held.count(to) && (flags & MOVEFILE_REPLACE_EXISTING) ? ERROR_ACCESS_DENIED
                                                                              : ERROR_SHARING_VIOLATION;
            }
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
        moves.openForDelete = [this](const std::wstring& path) -> DWORD {
            return held.count(path) ? ERROR_SHARING_VIOLATION : FileMoves::System().openForDelete(path);
        };
        return moves;
    }

    DWORD PausedMs() const
    {
        DWORD total = 0;
        for (const DWORD pause : pauses) {
            total += pause;
        }
        return total;
    }
};

class ReplaceTargetTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Fixture::WriteBytes(target, "old"));
        ASSERT_TRUE(Fixture::WriteBytes(source, "new"));
    }

    ReplaceResult Replace() { return ReplaceTarget(source, target, aside, windows.Moves()); }

    Fixture::TempDir dir;
    const std::wstring target = dir / L"wow.exe";
    const std::wstring source = target + kPartialSuffix;
    const std::wstring aside = target + kAsideSuffix;
    WindowsLikeMoves windows;
};

TEST_F(ReplaceTargetTest, AReadOnlyTargetRefusedOnceHasTheAttributeClearedAndIsReplacedAtOnce)
{
    ASSERT_TRUE(SetFileAttributesW(target.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    ASSERT_EQ(Replace(), ReplaceResult::Replaced);
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    EXPECT_EQ(windows.calls.size(), 2u);  // refused, then replaced without a pause
    EXPECT_TRUE(windows.pauses.empty());
    EXPECT_FALSE(Fixture::Exists(aside));
}

TEST_F(ReplaceTargetTest, ARefusedReplaceIsRetriedWithAGrowingPause)
{
    windows.refusalsLeft = 2;  // e.g. a scanner holding the file for a moment
    ASSERT_EQ(Replace(), ReplaceResult::Replaced);
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    ASSERT_EQ(windows.pauses.size(), 2u);
    EXPECT_LT(windows.pauses[0], windows.pauses[1]);
    EXPECT_FALSE(Fixture::Exists(aside));
}

// The program's own file: moved aside before anything else, whether or not
// the system would let it be replaced, so it can come back.
TEST_F(ReplaceTargetTest, TheProgramIsMovedAsideFirstAndCanBePutBack)
{
    windows.runningImage = target;
    ASSERT_TRUE(Fixture::WriteBytes(aside, "an earlier program"));  // not yet removed
    ASSERT_EQ(ReplaceProgram(source, target, aside, windows.Moves()), ReplaceResult::Replaced);
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    EXPECT_EQ(Fixture::ReadBytes(aside), "old");
    EXPECT_FALSE(Fixture::Exists(source));
    EXPECT_TRUE(windows.pauses.empty());  // no replace was tried, so none waited out
    ASSERT_GE(windows.calls.size(), 2u);
    const std::vector<std::wstring> lastMoves(windows.calls.end() - 2, windows.calls.end());
    EXPECT_EQ(lastMoves, (std::vector<std::wstring>{target + L" -> " + aside, source + L" -> " + target}));

    // The new program never ran, so it can be replaced.
    windows.runningImage.clear();
    DWORD error = 0;
    ASSERT_TRUE(RestoreProgram(target, aside, error, windows.Moves())) << error;
    EXPECT_EQ(Fixture::ReadBytes(target), "old");
    EXPECT_FALSE(Fixture::Exists(aside));
}

TEST_F(ReplaceTargetTest, AProgramThatCannotBeMovedAsideOrReplacedStaysWhereItIs)
{
    struct Case {
        const char* name;
        bool holdTarget;  // held without sharing deletion: not even renamed
        bool holdSource;  // the new file held: moved aside, then back
        ReplaceResult expected;
    };
    const Case cases[] = {
        {"the program held", true, false, ReplaceResult::InUse},
        {"the new file held", false, true, ReplaceResult::InUse},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WindowsLikeMoves moves;
        if (c.holdTarget) {
            moves.held.insert(target);
        }
        if (c.holdSource) {
            moves.held.insert(source);
        }
        EXPECT_EQ(ReplaceProgram(source, target, aside, moves.Moves()), c.expected);
        EXPECT_EQ(Fixture::ReadBytes(target), "old");
        EXPECT_EQ(Fixture::ReadBytes(source), "new");
        EXPECT_FALSE(Fixture::Exists(aside));
    }
}

TEST(RemoveAsideProgram, TriesAgainWhileTheOldProcessHoldsItsImage)
{
    const DWORD pauses[] = {10, 20, 40};
    struct Case {
        const char* name;
        std::vector<DWORD> answers;  // of each delete; the last one repeats
        size_t pauseCount;
        bool removed;
        size_t deletes;
    };
    const Case cases[] = {
        {"deleted at once", {ERROR_SUCCESS}, 3, true, 1},
        {"nothing was moved aside", {ERROR_FILE_NOT_FOUND}, 3, true, 1},
        {"the old process ends meanwhile", {ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_SUCCESS}, 3, true, 3},
        {"held for good", {ERROR_ACCESS_DENIED}, 3, false, 4},
        {"no pauses: a single try", {ERROR_ACCESS_DENIED}, 0, false, 1},
        {"another failure is not waited out", {ERROR_INVALID_NAME}, 3, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t deletes = 0;
        std::vector<DWORD> slept;
        const bool removed = RemoveAsideProgram(
            L"C:\\Game\\Orvane.exe.orvold", pauses, c.pauseCount,
            [&](const std::wstring& path) {
                EXPECT_EQ(path, L"C:\\Game\\Orvane.exe.orvold");
                const DWORD answer = c.answers[std::min(deletes, c.answers.size() - 1)];
                ++deletes;
                return answer;
            },
            [&](DWORD ms) { slept.push_back(ms); });
        EXPECT_EQ(removed, c.removed);
        EXPECT_EQ(deletes, c.deletes);
        EXPECT_EQ(slept, std::vector<DWORD>(pauses, pauses + (c.deletes - 1)));
    }
}

TEST_F(ReplaceTargetTest, ARunningImageIsMovedAsideAndTheNewFileMovedIn)
{
    windows.runningImage = target;
    ASSERT_EQ(Replace(), ReplaceResult::Replaced);
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
    EXPECT_EQ(Fixture::ReadBytes(aside), "old");
    EXPECT_FALSE(Fixture::Exists(source));
    // The retries came first, a few seconds in all: long enough for a scanner
    // to let go of a file it holds.
    EXPECT_GE(windows.PausedMs(), 2000u);
    EXPECT_LE(windows.PausedMs(), 5000u);

    // What the next run finds in the folder goes, the new file stays.
    RemoveLeftovers(dir.Path());
    EXPECT_FALSE(Fixture::Exists(aside));
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
}

TEST_F(ReplaceTargetTest, OtherFailuresAreNotRetried)
{
    ASSERT_TRUE(DeleteFileW(source.c_str()));
    EXPECT_EQ(Replace(), ReplaceResult::Failed);
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
    EXPECT_EQ(ReplaceTarget(source, folder, folder + kAsideSuffix, windows.Moves()), ReplaceResult::TargetIsFolder);
    EXPECT_EQ(windows.calls.size(), 1u);  // the refused replace, nothing after it
    EXPECT_TRUE(windows.pauses.empty());
    EXPECT_EQ(Fixture::ReadBytes(folder + L"\\base.MPQ"), "archive");
    EXPECT_FALSE(Fixture::Exists(folder + kAsideSuffix));
    EXPECT_EQ(Fixture::ReadBytes(source), "new");
}

TEST_F(ReplaceTargetTest, AHeldFileEndsInUseAndAHealthyTargetIsNeverMovedAside)
{
    struct Case {
        const char* name;
        bool sourceHeld;
        bool targetHeld;
    };
    const Case cases[] = {
        {"the new file held by a scanner", true, false},
        {"the target held by the game", false, true},
        {"both held", true, true},
    };
    for (const Case& c : cases) {
        windows = WindowsLikeMoves();
        if (c.sourceHeld) {
            windows.held.insert(source);
        }
        if (c.targetHeld) {
            windows.held.insert(target);
        }
        EXPECT_EQ(Replace(), ReplaceResult::InUse) << c.name;
        EXPECT_EQ(Fixture::ReadBytes(target), "old") << c.name;
        EXPECT_EQ(Fixture::ReadBytes(source), "new") << c.name;
        EXPECT_FALSE(Fixture::Exists(aside)) << c.name;
        if (c.sourceHeld) {
            // Only the replace was ever tried: the target stayed where it was.
            for (const std::wstring& call : windows.calls) {
                EXPECT_EQ(call, source + L" -> " + target) << c.name;
            }
        }
        EXPECT_GE(windows.PausedMs(), 2000u) << c.name;
        EXPECT_LE(windows.PausedMs(), 5000u) << c.name;
    }
}

// The same with real handles: what Wine answers for a held file.
TEST_F(ReplaceTargetTest, FilesHeldByAnotherHandleEndInUse)
{
    for (const bool holdSource : {true, false}) {
        const std::wstring& held = holdSource ? source : target;
        // Reading, sharing reading and writing but not deletion: a scanner, or the game.
        const KernelHandle holder(CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(holder.Valid());
        const FileMoves system = FileMoves::System();
        FileMoves moves = system;
        std::vector<std::wstring> moved;  // what each real move was asked to move
        moves.move = [&](const std::wstring& from, const std::wstring& to, DWORD flags) {
            moved.push_back(from);
            return system.move(from, to, flags);
        };
        moves.sleep = [](DWORD) {};
        EXPECT_EQ(ReplaceTarget(source, target, aside, moves),
                  ReplaceResult::InUse)
            << holdSource;
        if (holdSource) {
            // Never moved aside and back while the scanner reads the new file.
            EXPECT_EQ(std::count(moved.begin(), moved.end(), target), 0) << holdSource;
        }
        EXPECT_EQ(Fixture::ReadBytes(target), "old") << holdSource;
        EXPECT_EQ(Fixture::ReadBytes(source), "new") << holdSource;
        EXPECT_FALSE(Fixture::Exists(aside)) << holdSource;
    }
    // Once let go, the replace goes through.
    EXPECT_EQ(ReplaceTarget(source, target, aside), ReplaceResult::Replaced);
    EXPECT_EQ(Fixture::ReadBytes(target), "new");
}

// What a run leaves in a folder where it moved a file in use aside, and what
// the next run's sweep makes of it: the old file is never lost.
TEST(RemoveLeftovers, AFileMovedAsideGoesBackWhereItsNewVersionNeverCameAndGoesWhereItCame)
{
    using Files = std::map<std::wstring, std::string>;
    const struct {
        const char* name;
        Files before;
        Files after;
    } cases[] = {
        {"cut off between the two moves (killed, the power lost)",
         {{L"wow.exe.orvold", "old"}, {L"wow.exe.orvpart", "new"}},
         {{L"wow.exe", "old"}, {L"wow.exe.orvpart", "new"}}},
        {"the new version moved in", {{L"wow.exe", "new"}, {L"wow.exe.orvold", "old"}}, {{L"wow.exe", "new"}}},
        {"letter case of another run", {{L"WOW.EXE.ORVOLD", "old"}}, {{L"WOW.EXE", "old"}}},
        {"under the game directory's own name, whose target is unknown",
         {{L"orv0123456789abcdef.orvold", "old"}}, {}},
        {"a player's file of another pattern", {{L"notes.orvold.txt", "mine"}}, {{L"notes.orvold.txt", "mine"}}},
    };
    for (const auto& c : cases) {
        Fixture::TempDir dir;
        for (const auto& [name, bytes] : c.before) {
            ASSERT_TRUE(Fixture::WriteBytes(dir / name, bytes)) << c.name;
        }
        RemoveLeftovers(dir.Path());
        Files after;
        for (const std::wstring& name : Fixture::FilesBelow(dir.Path())) {
            after[name] = Fixture::ReadBytes(dir / name);
        }
        EXPECT_EQ(after, c.after) << c.name;
    }
}

TEST(RemoveLeftovers, AFileMovedAsideWhereAFolderNowHasItsNameIsRemovedAndTheFolderKept)
{
    Fixture::TempDir dir;
    ASSERT_TRUE(CreateDirectoryW((dir / L"Data").c_str(), nullptr));
    ASSERT_TRUE(Fixture::WriteBytes(dir / L"Data\\a.MPQ", "archive"));
    ASSERT_TRUE(Fixture::WriteBytes(dir / L"Data.orvold", "old"));
    RemoveLeftovers(dir.Path());
    EXPECT_EQ(Fixture::FilesBelow(dir.Path()), std::set<std::wstring>{L"Data\\a.MPQ"});
}

TEST(DiscardFile, TheNameIsFreeAtOnceEvenWhileAScannerHoldsTheFile)
{
    Fixture::TempDir dir;
    const std::wstring partial = dir / L"wow.exe.orvpart";
    ASSERT_TRUE(Fixture::WriteBytes(partial, "partial"));
    {
        // A scanner shares everything, deletion too: the delete is then pending.
        const KernelHandle scanner(CreateFileW(partial.c_str(), GENERIC_READ,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(scanner.Valid());
        EXPECT_TRUE(DiscardFile(partial));
        EXPECT_FALSE(Fixture::Exists(partial));
        const KernelHandle fresh(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                             FILE_ATTRIBUTE_NORMAL, nullptr));
        EXPECT_TRUE(fresh.Valid()) << GetLastError();
    }
    // Whatever could not go at once goes with the next sweep.
    RemoveLeftovers(dir.Path());
    EXPECT_EQ(Fixture::FilesBelow(dir.Path()), std::set<std::wstring>{L"wow.exe.orvpart"});

    // A file nobody holds leaves nothing behind.
    ASSERT_TRUE(DiscardFile(partial));
    EXPECT_EQ(Fixture::FilesBelow(dir.Path()), std::set<std::wstring>{});
    // Nothing to discard is no failure.
    EXPECT_TRUE(DiscardFile(partial));
}

TEST(DiscardFile, TakesAnotherLeftoverNameWhereOneIsTakenAndDeletesWhereNoRenameIsPossible)
{
    Fixture::TempDir dir;
    const std::wstring partial = dir / L"a.orvpart";
    struct Case {
        const char* name;
        std::vector<DWORD> answers;  // of the renames, in turn; then the real one
        bool renamed;
    };
    const Case cases[] = {
        {"free name", {}, true},
        {"two names taken", {ERROR_ALREADY_EXISTS, ERROR_FILE_EXISTS}, true},
        {"held without sharing deletion", {ERROR_SHARING_VIOLATION}, false},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Fixture::WriteBytes(partial, "partial"));
        std::vector<std::wstring> tried;
        size_t answered = 0;
        FileMoves moves = FileMoves::System();
        const FileMoves system = FileMoves::System();
        moves.move = [&](const std::wstring& from, const std::wstring& to, DWORD flags) -> DWORD {
            tried.push_back(to);
            return answered < c.answers.size() ? c.answers[answered++] : system.move(from, to, flags);
        };
        EXPECT_TRUE(DiscardFile(partial, moves)) << c.name;
        EXPECT_FALSE(Fixture::Exists(partial)) << c.name;
        ASSERT_EQ(tried.size(), c.renamed ? c.answers.size() + 1 : 1u) << c.name;
        EXPECT_EQ(std::set<std::wstring>(tried.begin(), tried.end()).size(), tried.size()) << c.name;
        // Every name tried is one the next sweep clears.
        for (const std::wstring& to : tried) {
            EXPECT_EQ(DirectoryOfPath(to), dir.Path()) << c.name;
            ASSERT_TRUE(Fixture::WriteBytes(to, "left")) << c.name;
        }
        RemoveLeftovers(dir.Path());
        EXPECT_EQ(Fixture::FilesBelow(dir.Path()), std::set<std::wstring>{}) << c.name;
    }
}

}  // namespace
}  // namespace Orvane
