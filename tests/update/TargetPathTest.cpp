#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <string>

#include "TestSupport.h"
#include "update/TargetPath.h"

namespace Orvane {
namespace {

struct Placement {
    std::string entry;
    std::wstring file;  // empty: refused
    bool isProgram = false;
};

void ExpectPlacements(const TargetRule& rule, std::initializer_list<Placement> cases)
{
    for (const Placement& c : cases) {
        const TargetPath target = rule.Place(c.entry);
        EXPECT_EQ(target.file, c.file) << testing::PrintToString(c.entry);
        EXPECT_EQ(target.isProgram, c.isProgram) << testing::PrintToString(c.entry);
    }
}

std::wstring ShortPathOf(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

TEST(TargetRule, PlacesEntriesBelowTheGameDirectoryAndNeverOnTheProgramsOwnSettingsOrLog)
{
    const std::wstring game = L"C:\\Games\\Kaimor";
    const TargetRule rule = TargetRule::FromResolved(game + L"\\", game + L"\\Orvane.exe");
    ExpectPlacements(rule, {
        {"wow.exe", game + L"\\wow.exe"},
        {"Data/zhCN/a.MPQ", game + L"\\Data\\zhCN\\a.MPQ"},
        {"\\Data\\x.MPQ", game + L"\\Data\\x.MPQ"},
        {"./a", game + L"\\a"},
        {"Data/./b", game + L"\\Data\\b"},
        {"\xE8\xA1\xA5\xE4\xB8\x81/a.MPQ", game + L"\\补丁\\a.MPQ"},
        // Near misses of the own files, and own names in other folders.
        {"Orvane.exe2", game + L"\\Orvane.exe2"},
        {"config.ini2", game + L"\\config.ini2"},
        {"config.in", game + L"\\config.in"},
        {"Data/config.ini", game + L"\\Data\\config.ini"},
        {"Data/Orvane.exe", game + L"\\Data\\Orvane.exe"},
        // The program itself, in any spelling: its own entry, named as on disk.
        {"Orvane.exe", game + L"\\Orvane.exe", true},
        {"./orvane.EXE", game + L"\\Orvane.exe", true},
        // Its other files and its leftovers, in any spelling.
        {"Orvane.exe.orvold", L""},
        {"Orvane.exe.orvpart", L""},
        {"config.ini", L""},
        {"/CONFIG.INI", L""},
        {"./setup.ini", L""},
        {"Orvane.log", L""},
        {"Orvane.log.1", L""},
        {"orvane.log.old", L""},
        {"Orvane.exe.config", L""},
        // Anything that could leave the game directory or that Windows renames.
        {"../x", L""},
        {"a/../../x", L""},
        {"C:\\x", L""},
        {"\\\\h\\s\\x", L""},
        {"CON", L""},
        {"Data/COM\xC2\xB9/x.MPQ", L""},  // COM¹ is COM1 to Windows
        {"LPT\xC2\xB3.txt", L""},
        {".", L""},
        {"./.", L""},
        {"config.ini.", L""},
        {"setup.ini ", L""},
        {"", L""},
    });
}

TEST(TargetRule, TheProgramsFilesAreWhereverItLives)
{
    struct Case {
        const wchar_t* root;
        const wchar_t* program;
        Placement placement;
    };
    const Case cases[] = {
        // Named otherwise on disk: that name is its own, "Orvane.exe" is not.
        {L"D:\\Game", L"D:\\Game\\KaimorUpdater.exe", {"kaimorupdater.EXE", L"D:\\Game\\KaimorUpdater.exe", true}},
        {L"D:\\Game", L"D:\\Game\\KaimorUpdater.exe", {"KaimorUpdater.exe.1", L""}},
        {L"D:\\Game", L"D:\\Game\\KaimorUpdater.exe", {"Orvane.exe", L"D:\\Game\\Orvane.exe"}},
        {L"D:\\Game", L"D:\\Game\\KaimorUpdater.exe", {"config.ini", L""}},
        // Outside the game directory: none of its files can be named.
        {L"D:\\Game", L"D:\\Tools\\Orvane.exe", {"config.ini", L"D:\\Game\\config.ini"}},
        {L"D:\\Game", L"D:\\Game-old\\Orvane.exe", {"config.ini", L"D:\\Game\\config.ini"}},
        // In a folder below it: the files there are its own, and the program
        // itself is no entry of the game directory, so it is never replaced.
        {L"D:\\Game", L"D:\\Game\\Tools\\Orvane.exe", {"tools/CONFIG.INI", L""}},
        {L"D:\\Game", L"D:\\Game\\Tools\\Orvane.exe", {"Tools/Orvane.exe", L""}},
        {L"D:\\Game", L"D:\\Game\\Tools\\Orvane.exe", {"Orvane.exe", L"D:\\Game\\Orvane.exe"}},
        {L"D:\\Game", L"D:\\Tools\\Orvane.exe", {"Orvane.exe", L"D:\\Game\\Orvane.exe"}},
        {L"D:\\Game", L"d:\\game\\Tools\\Orvane.exe", {"Tools\\./setup.ini", L""}},
        {L"D:\\Game", L"D:\\Game\\Tools\\Orvane.exe", {"config.ini", L"D:\\Game\\config.ini"}},
        {L"D:\\Game", L"D:\\Game\\Tools\\Orvane.exe", {"Tools/x/config.ini", L"D:\\Game\\Tools\\x\\config.ini"}},
        // A drive root, however it is written.
        {L"C:\\", L"C:\\Orvane.exe", {"wow.exe", L"C:\\wow.exe"}},
        {L"C:/", L"C:\\Orvane.exe", {"Data/a", L"C:\\Data\\a"}},
        {L"C:\\", L"C:\\Orvane.exe", {"Orvane.log", L""}},
        {L"C:\\", L"C:\\Orvane.exe", {"ORVANE.exe", L"C:\\Orvane.exe", true}},
    };
    for (const Case& c : cases) {
        const TargetPath target = TargetRule::FromResolved(c.root, c.program).Place(c.placement.entry);
        const std::string context = testing::PrintToString(std::wstring(c.root)) + " " +
                                    testing::PrintToString(std::wstring(c.program)) + " " + c.placement.entry;
        EXPECT_EQ(target.file, c.placement.file) << context;
        EXPECT_EQ(target.isProgram, c.placement.isProgram) << context;
    }
}

TEST(TargetRule, EveryPathWindowsCanOpenIsPlacedWithPartialAndAsideFilesItCanOpen)
{
    const std::wstring games = L"C:\\Games";
    // An entry that makes a target path of `length` characters below C:\Games.
    auto ofLength = [&](size_t length) { return std::string(length - games.size() - 1, 'a'); };
    const size_t longest = MAX_PATH - 1;
    struct Case {
        std::wstring root;
        std::string entry;
        bool placed;
        bool besideTarget;  // the partial and aside files are the target's name + suffix
    };
    const Case cases[] = {
        {games, ofLength(longest - 8), true, true},  // ".orvpart" still fits
        {games, ofLength(longest - 7), true, false},
        {games, ofLength(252), true, false},
        {games, ofLength(longest), true, false},
        {games, ofLength(longest + 1), false, false},
        {L"C:\\", std::string(247, 'n'), true, true},  // a name of 255 with the suffix
        {L"C:\\", std::string(248, 'n'), true, false},
        {L"C:\\", std::string(255, 'n'), true, false},
        {L"C:\\", std::string(256, 'n'), false, false},  // no name may be longer
        {L"C:\\", std::string(256, 'n') + "/x", false, false},
        // A folder CreateDirectoryW can make: at most MAX_PATH - 12 characters.
        {games, ofLength(MAX_PATH - 12) + "/x", true, true},
        {games, ofLength(MAX_PATH - 11) + "/x", false, false},
        {games, "d/" + std::string(MAX_PATH - 12 - games.size() - 3, 'a') + "/x", true, true},
        {games, "d/" + std::string(MAX_PATH - 11 - games.size() - 3, 'a') + "/x", false, false},
    };
    for (const Case& c : cases) {
        const TargetRule rule = TargetRule::FromResolved(c.root, L"C:\\Games\\Orvane.exe");
        const TargetPath target = rule.Place(c.entry);
        ASSERT_EQ(static_cast<bool>(target), c.placed) << c.entry.size();
        if (!target) {
            continue;
        }
        std::wstring relative(c.entry.begin(), c.entry.end());
        std::replace(relative.begin(), relative.end(), L'/', L'\\');
        EXPECT_EQ(target.file, rule.Root() + (c.root.back() == L'\\' ? L"" : L"\\") + relative);
        for (const std::wstring& kept : {target.partial, target.aside}) {
            EXPECT_LT(kept.size(), static_cast<size_t>(MAX_PATH)) << c.entry.size();
            EXPECT_LE(kept.size() - kept.find_last_of(L'\\') - 1, 255u) << c.entry.size();
        }
        if (c.besideTarget) {
            EXPECT_EQ(target.partial, target.file + kPartialSuffix);
            EXPECT_EQ(target.aside, target.file + kAsideSuffix);
        } else {
            // A short name of its own in the game directory.
            EXPECT_EQ(target.partial.rfind(rule.Root(), 0), 0u) << c.entry.size();
            EXPECT_EQ(target.partial.find(L'\\', rule.Root().size() + 1), std::wstring::npos);
            EXPECT_EQ(target.aside.find(L'\\', rule.Root().size() + 1), std::wstring::npos);
        }
    }
}

TEST(TargetRule, AShortPartialNameIsTheSameForTheSameEntryInEveryRunAndDiffersBetweenEntries)
{
    const std::wstring root = L"C:\\Games";
    const std::string a = "Data/" + std::string(245, 'a');
    const std::string b = "Data/" + std::string(244, 'a') + "b";
    const TargetPath first = TargetRule::FromResolved(root, L"C:\\Orvane.exe").Place(a);
    const TargetPath again = TargetRule::FromResolved(root, L"C:\\Orvane.exe").Place("data\\" + a.substr(5));
    const TargetPath other = TargetRule::FromResolved(root, L"C:\\Orvane.exe").Place(b);
    ASSERT_TRUE(first && again && other);
    EXPECT_NE(first.partial, first.file + kPartialSuffix);
    EXPECT_EQ(first.partial, again.partial);  // the same file, as Windows sees it
    EXPECT_NE(first.partial, other.partial);
    EXPECT_NE(first.partial, first.aside);
}

// Paths in the test prefix, with the short (8.3) names Windows gives to long
// names: the game directory, as the program was started through it.
class TargetRuleOnDisk : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CreateDirectoryW(game.c_str(), nullptr));
        ASSERT_TRUE(Fixture::WriteBytes(game + L"\\Orvane.exe", "MZ"));
        shortGame = ShortPathOf(game);
        ASSERT_FALSE(shortGame.empty());
        ASSERT_NE(shortGame, game);  // the folder has a short name of its own
    }

    Fixture::TempDir temp;
    const std::wstring game = temp / L"Kaimor Game Client";
    std::wstring shortGame;
};

TEST_F(TargetRuleOnDisk, AShortGameDirectoryIsResolvedOnceSoMissingOwnFilesCannotBeCreated)
{
    ASSERT_FALSE(Fixture::Exists(game + L"\\config.ini"));
    struct Case {
        std::wstring root;
        std::wstring program;
    };
    const Case cases[] = {
        {shortGame, shortGame + L"\\Orvane.exe"},
        {shortGame, game + L"\\Orvane.exe"},
        {game, shortGame + L"\\Orvane.exe"},
        {shortGame + L"\\", shortGame + L"\\ORVANE.EXE"},
    };
    for (const Case& c : cases) {
        const TargetRule rule(c.root, c.program);
        const std::string context = testing::PrintToString(c.root) + " " + testing::PrintToString(c.program);
        EXPECT_FALSE(rule.Place("config.ini")) << context;
        EXPECT_FALSE(rule.Place("Setup.ini")) << context;
        EXPECT_FALSE(rule.Place("Orvane.log.1")) << context;
        EXPECT_TRUE(rule.Place("orvane.exe").isProgram) << context;
        // Targets are named in long form.
        EXPECT_EQ(rule.Place("wow.exe").file, game + L"\\wow.exe") << context;
    }
}

TEST_F(TargetRuleOnDisk, AShortNameOfAnOwnFileIsLookedUp)
{
    const std::wstring renamed = game + L"\\KaimorUpdater.exe";
    ASSERT_TRUE(Fixture::WriteBytes(renamed, "MZ"));
    ASSERT_TRUE(Fixture::WriteBytes(game + L"\\Orvane.log.backup", "log"));
    const TargetRule rule(game, renamed);
    // The program's short name is its own entry; a leftover's is refused.
    for (const std::wstring& own : {renamed, game + L"\\Orvane.log.backup"}) {
        const std::wstring shortPath = ShortPathOf(own);
        const std::wstring shortName = shortPath.substr(shortPath.find_last_of(L'\\') + 1);
        ASSERT_NE(shortName.find(L'~'), std::wstring::npos) << testing::PrintToString(shortName);
        const TargetPath target = rule.Place(std::string(shortName.begin(), shortName.end()));
        EXPECT_EQ(target.file, own == renamed ? renamed : L"") << testing::PrintToString(shortName);
        EXPECT_EQ(target.isProgram, own == renamed) << testing::PrintToString(shortName);
    }
    // A '~' that names nothing of the program's is an ordinary name.
    EXPECT_EQ(rule.Place("ABC~1.TXT").file, game + L"\\ABC~1.TXT");
}

TEST_F(TargetRuleOnDisk, TheMovedAsideProgramIsWhereItsOwnEntryPutsIt)
{
    struct Case {
        std::wstring program;
        std::wstring aside;
    };
    // The longest program path there is: no room for the suffix beside it.
    const std::wstring longName = std::wstring(MAX_PATH - 2 - game.size() - 4, L'u') + L".exe";
    const Case cases[] = {
        {game + L"\\Orvane.exe", game + L"\\Orvane.exe" + kAsideSuffix},
        {shortGame + L"\\ORVANE.EXE", game + L"\\Orvane.exe" + kAsideSuffix},
        {L"", L""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MovedAsideProgramOf(c.program), c.aside) << testing::PrintToString(c.program);
    }
    // A name too long for the suffix: the short name in the folder that the run used.
    const std::wstring program = game + L"\\" + longName;
    ASSERT_TRUE(Fixture::WriteBytes(program, "MZ"));
    const TargetPath own = TargetRule(game, program).Place(std::string(longName.begin(), longName.end()));
    ASSERT_TRUE(own.isProgram);
    EXPECT_NE(own.aside, program + kAsideSuffix);
    EXPECT_EQ(MovedAsideProgramOf(program), own.aside);
}

}  // namespace
}  // namespace Orvane
