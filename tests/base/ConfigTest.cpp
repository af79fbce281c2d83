#include <gtest/gtest.h>

#include "TestSupport.h"
#include "base/Config.h"
#include "base/Paths.h"
#include "base/ServiceEndpoints.h"

namespace Orvane {
namespace {

const char kDefaultNet8Name[] =
    ".NET 8.0\xEF\xBC\x88\xE7\x99\xBB\xE5\xBD\x95\xE5\x99\xA8\xE6\x89\x93\xE4\xB8\x8D\xE5\xBC\x80"
    "\xEF\xBC\x8C\xE5\xAE\x89\xE8\xA3\x85\xE6\xAD\xA4\xE7\xBB\x84\xE4\xBB\xB6\xEF\xBC\x89.exe";
const char kDefaultLauncherName[] = "Kaimor\xE7\x99\xBB\xE5\xBD\x95\xE5\x99\xA8.exe";

class ConfigTest : public testing::Test {
protected:
    Config LoadUtf16(const std::wstring& text)
    {
        EXPECT_TRUE(Fixture::WriteUtf16WithBom(iniPath, text));
        Config config;
        EXPECT_TRUE(config.LoadFrom(iniPath));
        return config;
    }

    Fixture::TempDir temp;
    std::wstring iniPath = temp / L"config.ini";
};

void ExpectDefaults(const Config& config)
{
    EXPECT_EQ(config.portalUrl, ServiceEndpoints::DefaultPortalUrl);
    EXPECT_EQ(config.fileListName, "filelist.json");
    EXPECT_EQ(config.executableName, "wow.exe");
    EXPECT_EQ(config.launcherName, kDefaultLauncherName);
    EXPECT_EQ(config.net8FileName, kDefaultNet8Name);
    EXPECT_EQ(config.retryCount, 3);
    EXPECT_TRUE(config.fallbackPortalUrls.empty());
}

TEST_F(ConfigTest, NewInstanceHoldsTheDefaultPortal)
{
    Config config;
    EXPECT_EQ(config.portalUrl, ServiceEndpoints::DefaultPortalUrl);
    EXPECT_EQ(config.portalUrl.back(), '/');
    EXPECT_EQ(config.retryCount, 3);
}

TEST_F(ConfigTest, MissingFileGivesEveryDefault)
{
    Config config;
    EXPECT_TRUE(config.LoadFrom(temp / L"absent.ini"));
    ExpectDefaults(config);
}

TEST_F(ConfigTest, MissingSectionsAndKeysGiveDefaults)
{
    // FileListName belongs to [Server]; under [Game] it is not found.
    ExpectDefaults(LoadUtf16(L"[Game]\r\nFileListName=other.json\r\n[Other]\r\nRetryCount=9\r\n"));
}

TEST_F(ConfigTest, ReadsEveryKeyFromUtf16File)
{
    const Config config = LoadUtf16(
        L"[Server]\r\nPortalUrl=http://127.0.0.1:8080/relay/\r\nFileListName=列表.json\r\n"
        L"[Game]\r\nExecutableName=Wow.exe\r\n"
        L"[Launcher]\r\nLauncherName=启动器.exe\r\n"
        L"[Download]\r\nNet8FileName=运行库.exe\r\nRetryCount=5\r\n");
    EXPECT_EQ(config.portalUrl, "http://127.0.0.1:8080/relay/");
    EXPECT_EQ(config.fileListName, "\xE5\x88\x97\xE8\xA1\xA8.json");
    EXPECT_EQ(config.executableName, "Wow.exe");
    EXPECT_EQ(config.launcherName, "\xE5\x90\xAF\xE5\x8A\xA8\xE5\x99\xA8.exe");
    EXPECT_EQ(config.net8FileName, "\xE8\xBF\x90\xE8\xA1\x8C\xE5\xBA\x93.exe");
    EXPECT_EQ(config.retryCount, 5);
}

TEST_F(ConfigTest, ReadsAnsiFile)
{
    ASSERT_TRUE(Fixture::WriteAnsi(
        iniPath, L"[Server]\r\nPortalUrl=http://portal.test/x\r\nFileListName=files.json\r\n"
                 L"[Download]\r\nRetryCount=1\r\n"));
    Config config;
    config.LoadFrom(iniPath);
    EXPECT_EQ(config.portalUrl, "http://portal.test/x/");
    EXPECT_EQ(config.fileListName, "files.json");
    EXPECT_EQ(config.retryCount, 1);
    EXPECT_EQ(config.executableName, "wow.exe");
}

TEST_F(ConfigTest, PortalUrlGetsExactlyOneTrailingSlash)
{
    struct Case {
        const wchar_t* value;
        const char* expected;
    };
    const Case cases[] = {
        {L"http://h/p", "http://h/p/"},
        {L"http://h/p/", "http://h/p/"},
        {L"http://h/p\\", "http://h/p\\/"},  // '\' is not a separator in a URL
        {L"", ""},                           // present but empty stays empty
    };
    for (const Case& c : cases) {
        const Config config = LoadUtf16(std::wstring(L"[Server]\r\nPortalUrl=") + c.value + L"\r\n");
        EXPECT_EQ(config.portalUrl, c.expected) << testing::PrintToString(std::wstring(c.value));
    }
}

TEST_F(ConfigTest, FurtherRelaysAreReadInOrderUpToTheFirstGap)
{
    using Urls = std::vector<std::string>;
    struct Case {
        const char* name;
        const wchar_t* server;  // the [Server] section's lines
        Urls fallbacks;
    };
    const Case cases[] = {
        {"only PortalUrl", L"PortalUrl=http://a/\r\n", {}},
        {"two more, each made a folder", L"PortalUrl=http://a/\r\nPortalUrl2=http://b/r\r\nPortalUrl3=http://c/\r\n",
         {"http://b/r/", "http://c/"}},
        {"written out of order", L"PortalUrl3=http://c/\r\nPortalUrl2=http://b/\r\n", {"http://b/", "http://c/"}},
        {"a missing number ends them", L"PortalUrl2=http://b/\r\nPortalUrl4=http://d/\r\n", {"http://b/"}},
        {"an empty one ends them", L"PortalUrl2=\r\nPortalUrl3=http://c/\r\n", {}},
        {"PortalUrl1 is not one of them", L"PortalUrl1=http://x/\r\n", {}},
    };
    for (const Case& c : cases) {
        const Config config = LoadUtf16(std::wstring(L"[Server]\r\n") + c.server);
        EXPECT_EQ(config.fallbackPortalUrls, c.fallbacks) << c.name;
    }
    // Loading again replaces them.
    Config config = LoadUtf16(L"[Server]\r\nPortalUrl2=http://b/\r\n");
    ASSERT_TRUE(config.LoadFrom(temp / L"absent.ini"));
    EXPECT_TRUE(config.fallbackPortalUrls.empty());
}

TEST_F(ConfigTest, PresentButEmptyKeysGiveEmptyMembers)
{
    const Config config = LoadUtf16(
        L"[Server]\r\nFileListName=\r\n[Game]\r\nExecutableName=\r\n[Launcher]\r\nLauncherName=\r\n");
    EXPECT_EQ(config.fileListName, "");
    EXPECT_EQ(config.executableName, "");
    EXPECT_EQ(config.launcherName, "");
}

TEST_F(ConfigTest, RetryCountFollowsTheProfileIntegerRules)
{
    struct Case {
        const wchar_t* file;
        int expected;
    };
    const Case cases[] = {
        {L"[Download]\r\nRetryCount=5\r\n", 5},
        {L"[Download]\r\nRetryCount=0\r\n", 0},
        {L"[Download]\r\nRetryCount=many\r\n", 0},
        {L"[Download]\r\nRetryCount=7x\r\n", 7},
        {L"[Download]\r\nRetryCount=\r\n", 3},  // unlike text keys, empty counts as missing
        {L"[Download]\r\nNet8FileName=a.exe\r\n", 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LoadUtf16(c.file).retryCount, c.expected) << testing::PrintToString(std::wstring(c.file));
    }
}

TEST_F(ConfigTest, LongValueIsCutTo1023Units)
{
    const std::wstring longName(1500, L'n');
    const Config config = LoadUtf16(L"[Server]\r\nFileListName=" + longName + L"\r\n");
    EXPECT_EQ(config.fileListName, std::string(1023, 'n'));
}

TEST(GetConfigPath, LiesBesideTheExecutable)
{
    EXPECT_EQ(GetConfigPath(), GetProgramDirectory() + L"\\config.ini");
}

}  // namespace
}  // namespace Orvane
