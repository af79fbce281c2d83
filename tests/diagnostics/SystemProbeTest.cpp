#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "DiagnosticsTestSupport.h"
#include "TestSupport.h"
#include "diagnostics/RegistryKey.h"
#include "diagnostics/SystemProbe.h"

namespace Orvane {
namespace {

TEST(DescribeOperatingSystem, NamesAndFlagsFromTheReportedVersion)
{
    struct Case {
        std::uint32_t major, minor, build;
        const wchar_t* name;
        const wchar_t* version;
        const wchar_t* buildText;
        bool isWin7;
        bool isWin10OrLater;
    };
    const Case cases[] = {
        {10, 0, 22631, L"Windows 11", L"10.0", L"22631", false, true},
        {10, 0, 22000, L"Windows 11", L"10.0", L"22000", false, true},
        {10, 0, 21999, L"Windows 10", L"10.0", L"21999", false, true},
        {10, 0, 19045, L"Windows 10", L"10.0", L"19045", false, true},
        {10, 0, 10240, L"Windows 10", L"10.0", L"10240", false, true},
        // A 10.0 preview below the first release build has no name of its own.
        {10, 0, 10239, L"Windows", L"10.0", L"10239", false, true},
        {6, 4, 9841, L"Windows", L"6.4", L"9841", false, true},
        {6, 3, 9600, L"Windows 8.1", L"6.3", L"9600", false, true},
        {6, 2, 9200, L"Windows 8", L"6.2", L"9200", false, true},
        {6, 1, 7601, L"Windows 7", L"6.1", L"7601", true, false},
        {6, 0, 6002, L"Windows Vista", L"6.0", L"6002", false, false},
        {5, 1, 2600, L"Windows XP", L"5.1", L"2600", false, false},
        {5, 2, 3790, L"Windows XP", L"5.2", L"3790", false, false},
        {5, 0, 2195, L"Windows XP", L"5.0", L"2195", false, false},
        {4, 0, 1381, L"Windows", L"4.0", L"1381", false, false},
        // The build rules come first, the flags look at major.minor only.
        {6, 1, 22000, L"Windows 11", L"6.1", L"22000", true, false},
        {11, 12, 4294967295u, L"Windows 11", L"11.12", L"4294967295", false, true},
    };
    for (const Case& c : cases) {
        EnvironmentInfo info;
        DescribeOperatingSystem(c.major, c.minor, c.build, info);
        const std::string label = testing::PrintToString(std::to_string(c.major) + "." +
                                                         std::to_string(c.minor) + "." +
                                                         std::to_string(c.build));
        EXPECT_EQ(info.OSName, c.name) << label;
        EXPECT_EQ(info.OSVersion, c.version) << label;
        EXPECT_EQ(info.OSBuild, c.buildText) << label;
        EXPECT_EQ(info.IsWin7, c.isWin7) << label;
        EXPECT_EQ(info.IsWin10OrLater, c.isWin10OrLater) << label;
    }
}

TEST(DescribeOperatingSystem, OverwritesAnEarlierResult)
{
    EnvironmentInfo info;
    DescribeOperatingSystem(6, 1, 7601, info);
    DescribeOperatingSystem(10, 0, 19045, info);
    EXPECT_EQ(info.OSName, L"Windows 10");
    EXPECT_FALSE(info.IsWin7);
    EXPECT_TRUE(info.IsWin10OrLater);
    DescribeOperatingSystem(6, 1, 7601, info);
    EXPECT_TRUE(info.IsWin7);
    EXPECT_FALSE(info.IsWin10OrLater);
}

TEST(IsX64Processor, OnlyAmd64Counts)
{
    const std::pair<std::uint16_t, bool> cases[] = {
        {PROCESSOR_ARCHITECTURE_AMD64, true},  // 9
        {PROCESSOR_ARCHITECTURE_INTEL, false},  // 0
        {PROCESSOR_ARCHITECTURE_ARM, false},    // 5
        {PROCESSOR_ARCHITECTURE_IA64, false},   // 6
        {12, false},                            // ARM64
        {PROCESSOR_ARCHITECTURE_UNKNOWN, false},
    };
    for (const auto& [architecture, expected] : cases) {
        EXPECT_EQ(IsX64Processor(architecture), expected) << architecture;
    }
}

// The version text the system keeps in its registry: "CurrentMajorVersionNumber
// . CurrentMinorVersionNumber" since Windows 10, "CurrentVersion" before.
std::wstring RegistryVersionText(HKEY key)
{
    DWORD major = 0;
    DWORD minor = 0;
    DWORD size = sizeof major;
    if (RegQueryValueExW(key, L"CurrentMajorVersionNumber", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&major), &size) == ERROR_SUCCESS) {
        size = sizeof minor;
        RegQueryValueExW(key, L"CurrentMinorVersionNumber", nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&minor), &size);
        return std::to_wstring(major) + L"." + std::to_wstring(minor);
    }
    wchar_t text[32] = {};
    size = sizeof text - sizeof(wchar_t);
    RegQueryValueExW(key, L"CurrentVersion", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    return text;
}

TEST(DetectOperatingSystem, AgreesWithTheVersionTheSystemRecords)
{
    const RegistryKey currentVersion = OpenRegistryKey(
        HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", KEY_READ | KEY_WOW64_64KEY);
    ASSERT_TRUE(currentVersion.Valid());
    wchar_t build[32] = {};
    DWORD size = sizeof build - sizeof(wchar_t);
    ASSERT_EQ(RegQueryValueExW(currentVersion.Get(), L"CurrentBuildNumber", nullptr, nullptr,
                               reinterpret_cast<BYTE*>(build), &size),
              ERROR_SUCCESS);

    EnvironmentInfo info;
    DetectOperatingSystem(info);
    EXPECT_EQ(info.OSBuild, build);
    EXPECT_EQ(info.OSVersion, RegistryVersionText(currentVersion.Get()));
    EXPECT_FALSE(info.OSName.empty());
}

TEST(DetectOperatingSystem, SeesTheVersionWineReportsToAProgram)
{
    if (!Fixture::RunningUnderWine()) {
        GTEST_SKIP() << "the reported version can only be chosen under Wine";
    }
    struct Case {
        const wchar_t* wineVersion;
        const wchar_t* name;
        const wchar_t* version;
        const wchar_t* build;  // nullptr: any
        const wchar_t* isWin7;
        const wchar_t* isWin10OrLater;
    };
    const Case cases[] = {
        // Wine's Windows 10 build differs between Wine releases (18362 in Wine 8).
        {L"win10", L"Windows 10", L"10.0", nullptr, L"0", L"1"},
        {L"win7", L"Windows 7", L"6.1", L"7601", L"1", L"0"},
        {L"win81", L"Windows 8.1", L"6.3", L"9600", L"0", L"1"},
        {L"winvista", L"Windows Vista", L"6.0", L"6002", L"0", L"0"},
        {L"winxp64", L"Windows XP", L"5.2", L"3790", L"0", L"0"},
    };
    Fixture::TempDir temp;
    for (const Case& c : cases) {
        // Wine picks the version per executable name; this name is the test's own.
        const std::wstring exeName = L"orvane-os-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                     c.wineVersion + L".exe";
        const Fixture::OwnedRegistryTree appDefaults(HKEY_CURRENT_USER,
                                                     L"Software\\Wine\\AppDefaults\\" + exeName);
        ASSERT_TRUE(appDefaults.Valid());
        ASSERT_TRUE(Fixture::SetRegistryString(appDefaults.Key(), L"", L"Version", c.wineVersion));

        auto found = Fixture::RunProbeHelperAt(temp / exeName);
        ASSERT_FALSE(found.empty()) << "probe helper did not run";
        EXPECT_EQ(found[L"OSName"], c.name) << c.wineVersion;
        EXPECT_EQ(found[L"OSVersion"], c.version) << c.wineVersion;
        if (c.build) {
            EXPECT_EQ(found[L"OSBuild"], c.build) << c.wineVersion;
        }
        EXPECT_EQ(found[L"IsWin7"], c.isWin7) << c.wineVersion;
        EXPECT_EQ(found[L"IsWin10OrLater"], c.isWin10OrLater) << c.wineVersion;
    }
}

TEST(DetectArchitecture, ReportsTheProcessorNotTheProcess)
{
#if defined(_WIN64)
    // A 64-bit process runs on a 64-bit x64 system here (ARM64 is not a test target).
    EXPECT_TRUE(DetectArchitecture());
#else
    // A 32-bit process: 64-bit only when it runs under WOW64.
    BOOL wow64 = FALSE;
    ASSERT_TRUE(IsWow64Process(GetCurrentProcess(), &wow64));
    EXPECT_EQ(DetectArchitecture(), wow64 != FALSE);
#endif
}

}  // namespace
}  // namespace Orvane
