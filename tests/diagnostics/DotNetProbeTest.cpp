#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "DiagnosticsTestSupport.h"
#include "TestSupport.h"
#include "base/Paths.h"
#include "diagnostics/DotNetProbe.h"

namespace Orvane {
namespace {

TEST(LeadingMajorVersion, FirstDigitOrTwoDigitsBeforeAPoint)
{
    const std::pair<const wchar_t*, int> cases[] = {
        {L"8.0.11", 8}, {L"10.0.0", 10}, {L"5", 5},     {L"7", 7},     {L"100.1", 1},
        {L"10", 1},     {L"12.0", 12},   {L"3.1.32", 3}, {L"9x", 9},    {L"05.1", 5},
        {L"", 0},       {L"v8.0", 0},    {L".8", 0},     {L"x", 0},     {L"\uFF18.0", 0},
    };
    for (const auto& [name, major] : cases) {
        EXPECT_EQ(LeadingMajorVersion(name), major) << testing::PrintToString(std::wstring(name));
    }
}

TEST(RuntimeChoice, FirstNameWithTheHighestMajorOfFiveOrMore)
{
    struct Case {
        std::vector<std::wstring> names;  // in search order
        const wchar_t* best;              // empty: nothing counts
        int major;
    };
    const Case cases[] = {
        {{L"6.0.36", L"8.0.11"}, L"8.0.11", 8},
        {{L"8.0.1", L"9.0.0"}, L"9.0.0", 9},
        {{L"8.0.1", L"8.0.10"}, L"8.0.1", 8},
        {{L"8.0.10", L"8.0.1"}, L"8.0.10", 8},
        {{L"10.0.0", L"9.0.1"}, L"10.0.0", 10},
        {{L"100.1", L"6.0.0"}, L"6.0.0", 6},
        {{L"7"}, L"7", 7},
        {{L"5.0.17"}, L"5.0.17", 5},
        {{L"latest", L"6.0.1"}, L"6.0.1", 6},
        {{L"3.1.32", L"2.1.30", L"4.8"}, L"", 0},
        {{}, L"", 0},
    };
    for (const Case& c : cases) {
        RuntimeChoice choice;
        for (const std::wstring& name : c.names) {
            choice.Consider(name);
        }
        const std::string label = testing::PrintToString(c.names);
        EXPECT_EQ(choice.Found(), c.major > 0) << label;
        EXPECT_EQ(choice.Name(), c.best) << label;
        EXPECT_EQ(choice.Major(), c.major) << label;
    }
}

TEST(FrameworkNameForRelease, EveryLowerBoundAndTheValueBelowIt)
{
    const std::pair<std::uint32_t, const wchar_t*> cases[] = {
        {0xFFFFFFFFu, L"Framework 4.8.1"},
        {533320, L"Framework 4.8.1"}, {533319, L"Framework 4.8"},
        {528040, L"Framework 4.8"},   {528039, L"Framework 4.7.2"},
        {461808, L"Framework 4.7.2"}, {461807, L"Framework 4.7.1"},
        {461308, L"Framework 4.7.1"}, {461307, L"Framework 4.7"},
        {460798, L"Framework 4.7"},   {460797, L"Framework 4.6.2"},
        {394802, L"Framework 4.6.2"}, {394801, L"Framework 4.6.1"},
        {394254, L"Framework 4.6.1"}, {394253, L"Framework 4.6"},
        {393295, L"Framework 4.6"},   {393294, L"Framework 4.5.2"},
        {379893, L"Framework 4.5.2"}, {379892, L"Framework 4.5.1"},
        {378675, L"Framework 4.5.1"}, {378674, L"Framework 4.5"},
        {378389, L"Framework 4.5"},   {378388, L"Framework 4.0"},
        {0, L"Framework 4.0"},
    };
    for (const auto& [release, name] : cases) {
        EXPECT_EQ(FrameworkNameForRelease(release), name) << release;
    }
}

// The default search with its two runtime folders moved into a temporary
// directory and its keys below a registry key of the test's own.
class DotNetSearch {
public:
    enum Folder { Desktop, NetCore };
    enum Key { X64Desktop, X64NetCore, X86Desktop, X86NetCore };

    DotNetSearch(const std::wstring& directory, HKEY parentKey, const std::wstring& keyName)
        : root_(parentKey, keyName)
    {
        locations_ = DefaultDotNetLocations();
        locations_.runtimeDirectories = {directory + L"\\Microsoft.WindowsDesktop.App",
                                         directory + L"\\Microsoft.NETCore.App"};
        locations_.registryRoot = root_.Key();
    }

    bool Valid() const { return root_.Valid() && locations_.runtimeKeys.size() == 4; }

    bool AddFolder(Folder folder, const std::wstring& name) const
    {
        return CreateDirectories(locations_.runtimeDirectories[folder] + L"\\" + name);
    }
    bool AddFile(Folder folder, const std::wstring& name) const
    {
        return CreateDirectories(locations_.runtimeDirectories[folder]) &&
               Fixture::WriteBytes(locations_.runtimeDirectories[folder] + L"\\" + name, "not a folder");
    }
    bool AddKey(Key key, const std::wstring& name) const { return AddKeyPath(locations_.runtimeKeys[key] + L"\\" + name); }
    bool AddKeyPath(const std::wstring& path) const { return Fixture::CreateRegistryKey(root_.Key(), path); }

    // Keys below the Framework setup key, e.g. "v4\Full".
    bool AddFrameworkKey(const std::wstring& version) const
    {
        return Fixture::CreateRegistryKey(root_.Key(), FrameworkKey(version));
    }
    bool SetFrameworkDword(const std::wstring& version, const wchar_t* name, DWORD value) const
    {
        return Fixture::SetRegistryDword(root_.Key(), FrameworkKey(version), name, value);
    }
    bool SetFrameworkString(const std::wstring& version, const wchar_t* name, const std::wstring& text) const
    {
        return Fixture::SetRegistryString(root_.Key(), FrameworkKey(version), name, text);
    }
    bool SetFrameworkBytes(const std::wstring& version, const wchar_t* name, DWORD type, const std::wstring& text) const
    {
        return Fixture::SetRegistryBytes(root_.Key(), FrameworkKey(version), name, type, text.data(),
                                         static_cast<DWORD>(text.size() * sizeof(wchar_t)));
    }

    EnvironmentInfo Detect() const
    {
        EnvironmentInfo info;
        DetectDotNetIn(locations_, info);
        return info;
    }
    void Detect(EnvironmentInfo& info) const { DetectDotNetIn(locations_, info); }

private:
    std::wstring FrameworkKey(const std::wstring& version) const
    {
        return locations_.frameworkSetupKey + L"\\" + version;
    }

    Fixture::OwnedRegistryTree root_;
    DotNetLocations locations_;
};

class DotNetSearchTest : public testing::Test {
protected:
    using Folder = DotNetSearch::Folder;
    using Key = DotNetSearch::Key;

    void SetUp() override { ASSERT_TRUE(root.Valid()); }

    Fixture::TempDir temp;
    Fixture::OwnedRegistryTree root{HKEY_CURRENT_USER, L"Software\\Orvane-test-dotnet-" +
                                                           std::to_wstring(GetCurrentProcessId()) + L"-" +
                                                           std::to_wstring(GetTickCount())};
    DotNetSearch search{temp.Path(), root.Key(), L"search"};
};

TEST_F(DotNetSearchTest, NothingInstalledClearsEveryField)
{
    EnvironmentInfo info;
    info.HasDotNet = true;
    info.HasNet8 = true;
    info.DotNetVersion = L"NET 8.0.0";
    search.Detect(info);
    EXPECT_FALSE(info.HasDotNet);
    EXPECT_FALSE(info.HasNet8);
    EXPECT_EQ(info.DotNetVersion, L"");
}

TEST_F(DotNetSearchTest, ModernRuntimeFromFoldersThenKeys)
{
    struct Case {
        const char* name;
        std::vector<std::pair<Folder, std::wstring>> folders;
        std::vector<std::pair<Key, std::wstring>> keys;
        DWORD release;  // v4\Full Release; 0: no such key
        const wchar_t* version;
        bool hasNet8;
    };
    const Case cases[] = {
        {"desktop folders win, the registry is not read",
         {{Folder::Desktop, L"6.0.36"}, {Folder::Desktop, L"8.0.11"}}, {{Key::X64Desktop, L"9.0.0"}}, 533320,
         L"NET 8.0.11", true},
        {"NETCore folder alone", {{Folder::NetCore, L"8.0.11"}}, {}, 0, L"NET 8.0.11", true},
        {"higher major wins across folders", {{Folder::Desktop, L"8.0.1"}, {Folder::NetCore, L"9.0.0"}}, {}, 0,
         L"NET 9.0.0", true},
        {"equal major keeps the desktop folder", {{Folder::Desktop, L"9.0.5"}, {Folder::NetCore, L"9.0.9"}}, {},
         0, L"NET 9.0.5", true},
        {"folder without a point", {{Folder::NetCore, L"7"}}, {}, 0, L"NET 7", false},
        {"3.1 folders do not count, a key decides",
         {{Folder::Desktop, L"3.1.32"}, {Folder::NetCore, L"3.1.32"}}, {{Key::X86NetCore, L"6.0.5"}}, 0,
         L"NET 6.0.5", false},
        {"keys in search order, equal major keeps the first", {},
         {{Key::X64Desktop, L"8.0.3"}, {Key::X64NetCore, L"8.0.9"}, {Key::X86Desktop, L"3.1.0"}}, 0,
         L"NET 8.0.3", true},
        {"higher major wins across keys", {},
         {{Key::X86NetCore, L"6.0.1"}, {Key::X86Desktop, L"9.0.1"}}, 0, L"NET 9.0.1", true},
        {"3.1 everywhere: .NET Framework 4 decides", {{Folder::NetCore, L"3.1.32"}},
         {{Key::X64NetCore, L"3.1.32"}}, 528040, L"Framework 4.8", false},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::wstring name = L"case" + std::to_wstring(index++);
        const DotNetSearch caseSearch(temp / name, root.Key(), name);
        ASSERT_TRUE(caseSearch.Valid());
        for (const auto& [folder, version] : c.folders) {
            ASSERT_TRUE(caseSearch.AddFolder(folder, version)) << c.name;
        }
        for (const auto& [key, version] : c.keys) {
            ASSERT_TRUE(caseSearch.AddKey(key, version)) << c.name;
        }
        if (c.release != 0) {
            ASSERT_TRUE(caseSearch.SetFrameworkDword(L"v4\\Full", L"Release", c.release)) << c.name;
        }
        const EnvironmentInfo info = caseSearch.Detect();
        EXPECT_TRUE(info.HasDotNet) << c.name;
        EXPECT_EQ(info.DotNetVersion, c.version) << c.name;
        EXPECT_EQ(info.HasNet8, c.hasNet8) << c.name;
    }
}

TEST_F(DotNetSearchTest, FilesAndOtherRuntimesDoNotCount)
{
    ASSERT_TRUE(search.AddFile(Folder::NetCore, L"9.0.0"));
    ASSERT_TRUE(search.AddKeyPath(L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\"
                                  L"Microsoft.AspNetCore.App\\10.0.0"));
    ASSERT_TRUE(search.SetFrameworkDword(L"v4\\Full", L"Release", 378388));
    const EnvironmentInfo info = search.Detect();
    EXPECT_EQ(info.DotNetVersion, L"Framework 4.0");
    EXPECT_FALSE(info.HasNet8);
}

TEST_F(DotNetSearchTest, OldFrameworksInOrder)
{
    struct Case {
        const char* name;
        std::vector<std::pair<std::wstring, DWORD>> installs;
        const wchar_t* expected;
    };
    const std::vector<Case> cases = {
        {"3.5 before 3.0", {{L"v3.5", 1}, {L"v3.0", 1}}, L"Framework 3.5"},
        {"3.5 not installed", {{L"v3.5", 0}, {L"v3.0", 1}}, L"Framework 3.0"},
        {"Install 2 is not installed", {{L"v3.0", 2}, {L"v2.0.50727", 1}}, L"Framework 2.0"},
        {"1.1 alone", {{L"v1.1.4322", 1}}, L"Framework 1.1"},
        {"nothing installed", {{L"v3.5", 0}, {L"v2.0.50727", 0}}, L""},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::wstring name = L"case" + std::to_wstring(index++);
        const DotNetSearch caseSearch(temp / name, root.Key(), name);
        ASSERT_TRUE(caseSearch.Valid());
        for (const auto& [version, install] : c.installs) {
            ASSERT_TRUE(caseSearch.SetFrameworkDword(version, L"Install", install));
        }
        const EnvironmentInfo info = caseSearch.Detect();
        EXPECT_EQ(info.DotNetVersion, c.expected) << c.name;
        EXPECT_EQ(info.HasDotNet, *c.expected != L'\0') << c.name;
        EXPECT_FALSE(info.HasNet8) << c.name;
    }
}

TEST_F(DotNetSearchTest, FrameworkThreeFiveNamesItsVersion)
{
    ASSERT_TRUE(search.SetFrameworkDword(L"v3.5", L"Install", 1));
    ASSERT_TRUE(search.SetFrameworkString(L"v3.5", L"Version", L"3.5.30729.4926"));
    EXPECT_EQ(search.Detect().DotNetVersion, L"Framework 3.5 (3.5.30729.4926)");
}

TEST_F(DotNetSearchTest, FourKeyWithoutReleaseFallsBackToOlderFrameworks)
{
    ASSERT_TRUE(search.AddFrameworkKey(L"v4\\Full"));
    ASSERT_TRUE(search.SetFrameworkDword(L"v3.5", L"Install", 1));
    const EnvironmentInfo info = search.Detect();
    EXPECT_TRUE(info.HasDotNet);
    EXPECT_EQ(info.DotNetVersion, L"Framework 3.5");
}

TEST_F(DotNetSearchTest, VersionTextFillingOrOverflowingItsBuffer)
{
    ASSERT_TRUE(search.SetFrameworkDword(L"v3.5", L"Install", 1));
    // 64 characters without a terminator fill the buffer exactly. (The value's
    // type plays no part; as REG_SZ the registry itself may refuse to return
    // it without room for a terminator.)
    const std::wstring full(64, L'9');
    ASSERT_TRUE(search.SetFrameworkBytes(L"v3.5", L"Version", REG_BINARY, full));
    EXPECT_EQ(search.Detect().DotNetVersion, L"Framework 3.5 (" + full + L")");

    // With its terminator it no longer fits: the version is left out.
    ASSERT_TRUE(search.SetFrameworkString(L"v3.5", L"Version", full));
    EXPECT_EQ(search.Detect().DotNetVersion, L"Framework 3.5");
}

// The runtime keys as the official installers leave them: a DWORD value named
// after the version ("8.0.11" = 1), in the 32-bit registry view, for x64 and
// x86 runtimes alike. Subkeys named after the version, and either view, count
// too. Written below HKLM\SOFTWARE, where the two views differ.
TEST(DotNetRegistry, RuntimesRegisteredAsValuesOrSubkeysInEitherView)
{
    struct Case {
        const char* name;
        const wchar_t* arch;
        const wchar_t* runtime;
        REGSAM view;
        bool asValue;
        const wchar_t* version;
        bool hasNet8;
    };
    const wchar_t* const netCore = L"Microsoft.NETCore.App";
    const wchar_t* const desktop = L"Microsoft.WindowsDesktop.App";
    const Case cases[] = {
        {"x64 NETCore value, 32-bit view", L"x64", netCore, KEY_WOW64_32KEY, true, L"8.0.11", true},
        {"x64 desktop value, 32-bit view", L"x64", desktop, KEY_WOW64_32KEY, true, L"8.0.11", true},
        {"x86 NETCore value, 32-bit view", L"x86", netCore, KEY_WOW64_32KEY, true, L"8.0.4", true},
        {"x86 desktop value, 32-bit view", L"x86", desktop, KEY_WOW64_32KEY, true, L"9.0.0", true},
        {"x64 NETCore value, 64-bit view", L"x64", netCore, KEY_WOW64_64KEY, true, L"8.0.11", true},
        {"x64 NETCore subkey, 32-bit view", L"x64", netCore, KEY_WOW64_32KEY, false, L"8.0.2", true},
        {"x86 desktop subkey, 64-bit view", L"x86", desktop, KEY_WOW64_64KEY, false, L"8.0.3", true},
        {"an older runtime by value", L"x64", netCore, KEY_WOW64_32KEY, true, L"6.0.36", false},
    };
    int index = 0;
    for (const Case& c : cases) {
        const std::wstring root = L"SOFTWARE\\Orvane-test-dotnet-" + std::to_wstring(GetCurrentProcessId()) +
                                  L"-" + std::to_wstring(index++);
        const Fixture::OwnedRegistryTree tree(HKEY_LOCAL_MACHINE, root, c.view);
        ASSERT_TRUE(tree.Valid()) << c.name;
        const std::wstring runtimeKey =
            L"dotnet\\Setup\\InstalledVersions\\" + std::wstring(c.arch) + L"\\sharedfx\\" + c.runtime;
        if (c.asValue) {
            ASSERT_TRUE(Fixture::SetRegistryDword(tree.Key(), runtimeKey, c.version, 1, c.view)) << c.name;
        } else {
            ASSERT_TRUE(Fixture::CreateRegistryKey(tree.Key(), runtimeKey + L"\\" + c.version, c.view)) << c.name;
        }

        DotNetLocations locations = DefaultDotNetLocations();
        locations.runtimeDirectories.clear();
        locations.registryRoot = HKEY_LOCAL_MACHINE;
        for (std::wstring& key : locations.runtimeKeys) {
            key = root + key.substr(key.find(L'\\'));  // "SOFTWARE\..." below the test's key
        }
        locations.frameworkSetupKey = root + L"\\NDP";
        EnvironmentInfo info;
        DetectDotNetIn(locations, info);
        EXPECT_TRUE(info.HasDotNet) << c.name;
        EXPECT_EQ(info.DotNetVersion, L"NET " + std::wstring(c.version)) << c.name;
        EXPECT_EQ(info.HasNet8, c.hasNet8) << c.name;
    }
}

// The real probe in the test prefix: a runtime folder under C:\Program Files,
// then a runtime key, then a Framework key. Skipped where any of them exists
// already, so an installed .NET is never touched.
TEST(DetectDotNet, ReadsProgramFilesThenRuntimeKeysThenFrameworkKeys)
{
    const std::wstring dotnetFolder = L"C:\\Program Files\\dotnet";
    const std::wstring dotnetKey = L"SOFTWARE\\dotnet";
    const std::wstring frameworkKey = L"SOFTWARE\\Microsoft\\NET Framework Setup";
    if (!Fixture::RunningUnderWine()) {
        GTEST_SKIP() << "changes machine-wide folders and keys: only in the Wine test prefix";
    }
    if (Fixture::Exists(dotnetFolder) || Fixture::RegistryKeyExists(HKEY_LOCAL_MACHINE, dotnetKey) ||
        Fixture::RegistryKeyExists(HKEY_LOCAL_MACHINE, frameworkKey)) {
        GTEST_SKIP() << "the prefix has a .NET installation of its own";
    }
    EnvironmentInfo info;
    DetectDotNet(info);
    EXPECT_FALSE(info.HasDotNet);

    {
        struct RemoveFolder {
            std::wstring path;
            ~RemoveFolder() { Fixture::RemoveTree(path); }
        } removeFolder{dotnetFolder};
        ASSERT_TRUE(CreateDirectories(dotnetFolder + L"\\shared\\Microsoft.NETCore.App\\8.0.11"));
        DetectDotNet(info);
        EXPECT_EQ(info.DotNetVersion, L"NET 8.0.11");
        EXPECT_TRUE(info.HasNet8);
    }
    {
        const Fixture::OwnedRegistryTree runtimes(HKEY_LOCAL_MACHINE, dotnetKey);
        ASSERT_TRUE(runtimes.Valid());
        ASSERT_TRUE(Fixture::CreateRegistryKey(
            runtimes.Key(), L"Setup\\InstalledVersions\\x86\\sharedfx\\Microsoft.WindowsDesktop.App\\6.0.36"));
        DetectDotNet(info);
        EXPECT_EQ(info.DotNetVersion, L"NET 6.0.36");
        EXPECT_FALSE(info.HasNet8);
    }
    {
        const Fixture::OwnedRegistryTree framework(HKEY_LOCAL_MACHINE, frameworkKey);
        ASSERT_TRUE(framework.Valid());
        ASSERT_TRUE(Fixture::SetRegistryDword(framework.Key(), L"NDP\\v4\\Full", L"Release", 461808));
        DetectDotNet(info);
        EXPECT_EQ(info.DotNetVersion, L"Framework 4.7.2");
        EXPECT_TRUE(info.HasDotNet);
    }
    DetectDotNet(info);
    EXPECT_FALSE(info.HasDotNet);
    EXPECT_FALSE(Fixture::Exists(dotnetFolder));
}

}  // namespace
}  // namespace Orvane
