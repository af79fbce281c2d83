#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "PortalServer.h"
#include "TestSupport.h"
#include "base/Config.h"
#include "base/Logger.h"
#include "base/Text.h"
#include "diagnostics/FileDigest.h"
#include "diagnostics/SystemState.h"
#include "update/UpdateController.h"

namespace Orvane {

using State = UpdateController::State;

void PrintTo(State state, std::ostream* out)
{
    *out << "State(" << static_cast<int>(state) << ")";
}

namespace {

using Fixture::Serve;
using Step = std::pair<State, std::wstring>;

const wchar_t kConnecting[] = L"正在连接更新服务器";
const wchar_t kChecking[] = L"正在检查更新";
const wchar_t kVerifying[] = L"正在校验本地文件";
const wchar_t kUpToDate[] = L"游戏已是最新版本";
const wchar_t kDownloading[] = L"正在更新";
const wchar_t kUpdated[] = L"更新完成";
const wchar_t kRelayUnreachable[] = L"二次寻址失败: 无法连接跳板服务器";
const wchar_t kRelayEmpty[] = L"二次寻址失败: 跳板服务器返回空地址";
const wchar_t kListFailed[] = L"下载文件列表失败";
const wchar_t kWrongShape[] = L"JSON 格式无效，期望数组或 {\"files\":[...]}";

std::string Pattern(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 31 + seed * 17 + i / 509) & 0xFF);
    }
    return bytes;
}

std::string JsonString(const std::string& text)
{
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

std::string Upper(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; });
    return text;
}

// Relative paths of every file below `root` (separators as '\').
struct Notification {
    State state;
    std::wstring text;
    DWORD thread;
};

struct ProgressCall {
    int fileIndex;
    int fileCount;
    int64_t downloaded;
    int64_t total;
    double bytesPerSecond;
};

// A local controller on its own Config and SystemState, a game directory in a
// temporary folder and a portal on 127.0.0.1 whose url.txt points at /files/.
class UpdateControllerTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << server.Error();
        ASSERT_TRUE(CreateDirectoryW(gameDir.c_str(), nullptr));
        ASSERT_TRUE(Logger::Instance().OpenFile(temp / L"test.log"));
        config.portalUrl = server.Url();
        config.fileListName = "filelist.json";
        config.retryCount = 3;
        systemState.GameDir = gameDir;
        Hook(controller);
        server.Route("url.txt", server.Url("files/") + "\r\n");
    }

    // Short limits, and every report recorded.
    void Hook(UpdateController& target)
    {
        target.timeouts.resolveMs = 2000;
        target.timeouts.connectMs = 2000;
        target.timeouts.sendMs = 2000;
        target.timeouts.receiveMs = 1000;
        target.onStateChanged = [this](const UpdateController::Report& report) {
            notifications.push_back({report.state, report.text, GetCurrentThreadId()});
            counts.push_back(report.fileCount);
        };
        target.onProgress = [this](int index, int count, int64_t downloaded, int64_t total,
                                   double speed) {
            progress.push_back({index, count, downloaded, total, speed});
        };
        target.onComplete = [this](bool success) { completions.push_back(success); };
        // Pauses are recorded, not waited out.
        target.pauseBetweenAttempts = [this](unsigned ms) { pauses.push_back(ms); };
        target.fileMoves.sleep = [](DWORD) {};
    }

    void TearDown() override
    {
        EXPECT_TRUE(controller.WaitForRuns(30000));
        Logger::Instance().Close();
    }

    // Publishes a file under /files/ and lists it with its digest and size
    // (by default the content's own).
    void Offer(const std::string& path, const std::string& content, Serve mode = Serve::Normal,
               int status = 200, int64_t size = -1, const std::string& badBody = "", int badCount = 0)
    {
        server.Route("files/" + path, content, status, mode, badBody, badCount);
        List(path, Md5(content), size < 0 ? static_cast<int64_t>(content.size()) : size);
    }

    void List(const std::string& path, const std::string& hash, int64_t size)
    {
        entries.push_back("{\"path\":" + JsonString(path) + ",\"hash\":" + JsonString(hash) +
                          ",\"size\":" + std::to_string(size) + "}");
    }

    // Writes filelist.json from the listed entries, as {"files":[...]} or a
    // bare array; `connections` > 0 lists them as the list's "connections".
    void PublishList(bool wrapped = true, int connections = 0)
    {
        std::string list = "[";
        for (size_t i = 0; i < entries.size(); ++i) {
            list += (i ? "," : "") + entries[i];
        }
        list += "]";
        const std::string allowed =
            connections > 0 ? "\"connections\":" + std::to_string(connections) + "," : std::string();
        server.Route("files/filelist.json",
                     wrapped ? "{\"version\":2," + allowed + "\"files\":" + list + "}" : list);
    }

    std::string Md5(const std::string& bytes)
    {
        const std::wstring scratch = temp / L"md5-scratch";
        EXPECT_TRUE(Fixture::WriteBytes(scratch, bytes));
        const std::string digest = ComputeFileMd5(scratch);
        DeleteFileW(scratch.c_str());
        return digest;
    }

    std::wstring Local(const std::wstring& relative) const { return gameDir + L"\\" + relative; }

    // Entries skipped so far, by the warnings in the log.
    size_t SkippedEntryWarnings() const
    {
        const std::string log = Fixture::ReadBytes(temp / L"test.log");
        size_t warnings = 0;
        for (size_t at = 0; (at = log.find("[WARNING] Skipping invalid file entry in JSON", at)) !=
                            std::string::npos;
             ++at) {
            ++warnings;
        }
        return warnings;
    }

    void Check()
    {
        controller.CheckForUpdates();
        ASSERT_TRUE(controller.WaitForRuns(20000));
    }

    void Update()
    {
        controller.StartUpdate();
        ASSERT_TRUE(controller.WaitForRuns(20000));
    }

    std::vector<Step> Steps() const
    {
        std::vector<Step> steps;
        for (const Notification& n : notifications) {
            steps.emplace_back(n.state, n.text);
        }
        return steps;
    }

    std::vector<std::string> Paths(const std::vector<FileEntry>& files) const
    {
        std::vector<std::string> paths;
        for (const FileEntry& file : files) {
            paths.push_back(file.path);
        }
        return paths;
    }

    void Reset()
    {
        notifications.clear();
        counts.clear();
        progress.clear();
        completions.clear();
        pauses.clear();
    }

    Fixture::PortalServer server;
    Fixture::TempDir temp;
    std::wstring gameDir = temp / L"game";
    Config config;
    SystemState systemState{temp / L"setup.ini"};
    UpdateController controller{config, systemState};
    std::vector<std::string> entries;
    std::vector<Notification> notifications;
    std::vector<size_t> counts;  // fileCount of each report
    std::vector<ProgressCall> progress;
    std::vector<bool> completions;
    std::vector<unsigned> pauses;  // between the attempts of a file
};

TEST_F(UpdateControllerTest, AFailedListFetchAsksTheRelayAgain)
{
    Offer("wow.exe", "new client");
    PublishList();
    server.Route("files/filelist.json", "", 404);
    Check();
    ASSERT_EQ(controller.state, State::Error);
    EXPECT_EQ(controller.ResolvedBaseUrl(), "");

    // The operators moved the file server and pointed the relay at it.
    server.Route("url.txt", server.Url("moved/"));
    server.Route("moved/filelist.json", "[{\"path\":\"wow.exe\",\"hash\":\"" + Md5("new client") +
                                            "\",\"size\":10}]");
    Check();
    EXPECT_EQ(controller.state, State::UpdateAvailable) << testing::PrintToString(controller.message);
    EXPECT_EQ(server.RequestCount("url.txt"), 2);
    EXPECT_EQ(controller.ResolvedBaseUrl(), server.Url("moved/"));
}

TEST_F(UpdateControllerTest, AnEntryThatCannotBePlacedFailsTheUpdate)
{
    // The check lists a file that the download then may not place (here the
    // program turns out to live in the game directory, so "config.ini" is its
    // own): the run fails on it instead of passing it over.
    Offer("a.bin", "a");
    Offer("config.ini", "[Server]\r\nPortalUrl=http://elsewhere/\r\n");
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    EXPECT_EQ(Paths(controller.filesToUpdate), (std::vector<std::string>{"a.bin", "config.ini"}));
    controller.programPath = Local(L"Orvane.exe");
    Reset();
    Update();
    EXPECT_EQ(controller.state, State::Error);
    EXPECT_EQ(Steps().back(), Step(State::Error, L"下载失败: config.ini"));
    EXPECT_EQ(completions, std::vector<bool>{false});
    EXPECT_FALSE(Fixture::Exists(Local(L"config.ini")));
}

TEST(UpdateFailureText, NamesThePathAndWhatThePlayerCanDo)
{
    struct Case {
        const char* path;
        FailureCause cause;
        std::wstring text;
    };
    const Case cases[] = {
        {"Data/补丁.MPQ", FailureCause::Unknown, L"下载失败: Data/补丁.MPQ"},
        {"wow.exe", FailureCause::WriteDenied, L"下载失败: wow.exe\n无法写入游戏目录, 请以管理员身份运行本程序或将游戏客户端移出此文件夹"},
        {"wow.exe", FailureCause::FileInUse, L"下载失败: wow.exe\n请关闭游戏和登录器后重试"},
        {"Data/a.MPQ", FailureCause::Certificate, L"下载失败: Data/a.MPQ\n" + std::wstring(kCertificateReason)},
        {"Data/a.MPQ", FailureCause::DiskFull, L"下载失败: Data/a.MPQ\n磁盘空间不足"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UpdateFailureText(c.path, c.cause), c.text) << c.path << static_cast<int>(c.cause);
    }
}

TEST(WithFailureReason, AnUntrustedCertificateAddsWhatToCheckAfterTheFailure)
{
    const std::wstring relay = L"二次寻址失败: 无法连接跳板服务器";
    struct Case {
        unsigned long code;  // HttpClient::lastErrorCode
        std::wstring text;
    };
    const Case cases[] = {
        {12175, relay + L"\n" + kCertificateReason},  // ERROR_WINHTTP_SECURE_FAILURE
        {12045, relay + L"\n" + kCertificateReason},  // unknown root
        {12037, relay + L"\n" + kCertificateReason},  // the PC's clock far off
        {12029, relay},                                // cannot connect
        {12007, relay},                                // name not resolved
        {12002, relay},
        {0, relay},                                    // e.g. a wrong status
        {ERROR_DISK_FULL, relay + L"\n磁盘空间不足"},    // WriteFile on a full volume
        {ERROR_HANDLE_DISK_FULL, relay + L"\n磁盘空间不足"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(WithFailureReason(relay, CauseOfRequestFailure(c.code)), c.text) << c.code;
    }
    // The reason is short and names what the player can check.
    const std::wstring reason = kCertificateReason;
    EXPECT_NE(reason.find(L"日期和时间"), std::wstring::npos);
    EXPECT_NE(reason.find(L"根证书"), std::wstring::npos);
}

TEST(DiskSpace, TheShortageNamesWhatIsNeededAndWhatIsFreeInMegabytes)
{
    constexpr int64_t MB = 1024 * 1024;
    struct Case {
        int64_t needed;
        int64_t free;
        std::wstring text;  // empty: it fits
    };
    const Case cases[] = {
        {0, 0, L""},
        {100 * MB, 100 * MB, L""},  // exactly fits
        {100 * MB, 100 * MB + 1, L""},
        {100 * MB + 1, 100 * MB, L"磁盘空间不足: 需要 101 MB, 可用 100 MB"},  // never "100 of 100"
        {1, 0, L"磁盘空间不足: 需要 1 MB, 可用 0 MB"},
        {300 * MB, 200 * MB + MB - 1, L"磁盘空间不足: 需要 300 MB, 可用 200 MB"},
        {5LL * 1024 * MB, 512 * MB, L"磁盘空间不足: 需要 5120 MB, 可用 512 MB"},  // past 32 bits
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DiskSpaceShortage(c.needed, c.free), c.text) << c.needed << " " << c.free;
    }
}

TEST(DiskSpace, APartialFileCountsOnlyWhenItCanBeContinued)
{
    struct Case {
        int64_t listed;
        int64_t held;  // -1: no partial file
        int64_t toFetch;
    };
    const Case cases[] = {
        {1000, -1, 1000}, {1000, 0, 1000},    {1000, 400, 600}, {1000, 1000, 0},
        {1000, 1500, 1000},  // longer than listed: begun again
        {0, -1, 0},          {-5, 3, 0},      // a size the list got wrong counts nothing
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BytesStillToFetch(c.listed, c.held), c.toFetch) << c.listed << " " << c.held;
    }
}

TEST(DiskSpace, TheGameDirectorysVolumeHasFreeSpace)
{
    Fixture::TempDir temp;
    int64_t free = -1;
    ASSERT_TRUE(FreeBytesOnVolumeOf(temp.Path(), free));
    EXPECT_GT(free, 0);
    EXPECT_FALSE(FreeBytesOnVolumeOf(temp / L"missing\\deeper", free));
}

TEST(WritingDeniedIn, WritableFoldersAndTheirMissingSubfoldersAreNotDenied)
{
    Fixture::TempDir temp;
    EXPECT_FALSE(WritingDeniedIn(temp.Path()));
    EXPECT_FALSE(WritingDeniedIn(temp / L"missing\\deeper"));
    EXPECT_FALSE(WritingDeniedIn(L""));
    // The test file is removed again.
    EXPECT_TRUE(Fixture::FilesBelow(temp.Path()).empty());
}

TEST_F(UpdateControllerTest, RelayAnswerIsTrimmedAndAskedForOnce)
{
    PublishList();
    const std::string base = server.Url("files");
    const std::string bodies[] = {
        base + "\r\n", "  " + base + "/  ", "\r\n \n" + base + "/\r\n", base, base + "/",
    };
    int relayRequests = 0;
    for (const std::string& body : bodies) {
        Reset();
        // Each controller asks the relay once.
        UpdateController fresh{config, systemState};
        Hook(fresh);
        server.Route("url.txt", body);
        fresh.CheckForUpdates();
        ASSERT_TRUE(fresh.WaitForRuns(20000));
        ++relayRequests;
        const std::vector<Step> expected = {{State::Connecting, kConnecting},
                                            {State::Checking, kChecking},
                                            {State::Verifying, kVerifying},
                                            {State::UpToDate, kUpToDate}};
        EXPECT_EQ(Steps(), expected) << body;
        EXPECT_EQ(fresh.ResolvedBaseUrl(), base + "/") << body;
        EXPECT_EQ(server.RequestCount("url.txt"), relayRequests);
    }
    Reset();
    Check();
    ++relayRequests;

    // The first notification comes on the caller's thread, the rest on the run's.
    ASSERT_EQ(notifications.size(), 4u);
    EXPECT_EQ(notifications[0].thread, GetCurrentThreadId());
    EXPECT_NE(notifications[1].thread, GetCurrentThreadId());
    EXPECT_EQ(notifications[2].thread, notifications[1].thread);
    EXPECT_EQ(notifications[3].thread, notifications[1].thread);

    // Resolved once per controller: later checks go straight to the file list.
    Reset();
    Check();
    EXPECT_EQ(server.RequestCount("url.txt"), relayRequests);
    EXPECT_EQ(controller.state, State::UpToDate);
    EXPECT_TRUE(completions.empty()) << "a check run never completes an update";
}

TEST_F(UpdateControllerTest, RelayFailuresEndInError)
{
    struct Case {
        const char* name;
        std::string body;
        int status;
        Serve mode;
        const wchar_t* text;
    };
    const Case cases[] = {
        {"empty body", "", 200, Serve::Normal, kRelayEmpty},
        {"only spaces and line breaks", " \r\n \n\r ", 200, Serve::Normal, kRelayEmpty},
        {"not found", "x", 404, Serve::Normal, kRelayUnreachable},
        {"server error", "x", 500, Serve::Normal, kRelayUnreachable},
        {"never answers", "", 200, Serve::Silent, kRelayUnreachable},
        {"stalls mid-body", server.Url("files/") + std::string(5000, ' '), 200, Serve::Stall,
         kRelayUnreachable},
        {"cut short", server.Url("files/") + std::string(5000, ' '), 200, Serve::Cut,
         kRelayUnreachable},
    };
    int relayRequests = 0;
    for (const Case& c : cases) {
        Reset();
        server.Route("url.txt", c.body, c.status, c.mode);
        Check();
        ++relayRequests;
        const std::vector<Step> expected = {{State::Connecting, kConnecting}, {State::Error, c.text}};
        EXPECT_EQ(Steps(), expected) << c.name;
        EXPECT_EQ(controller.message, c.text) << c.name;
        EXPECT_EQ(controller.ResolvedBaseUrl(), "") << c.name;
        // Not resolved, so every check asks again.
        EXPECT_EQ(server.RequestCount("url.txt"), relayRequests) << c.name;
    }
    EXPECT_EQ(server.RequestCount("files/filelist.json"), 0);
}

TEST_F(UpdateControllerTest, FileListFailuresEndInErrorAndKeepTheLastComparison)
{
    Offer("wow.exe", "new client", Serve::Normal, 200, 4321);
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);

    const std::string validList = "[{\"path\":\"wow.exe\",\"hash\":\"" + Md5("x") + "\",\"size\":1}]";
    struct Case {
        const char* name;
        std::string body;
        int status;
        Serve mode;
        std::wstring text;  // a trailing '*' matches any rest
    };
    const Case cases[] = {
        {"not found", "[]", 404, Serve::Normal, kListFailed},
        {"server error", "[]", 500, Serve::Normal, kListFailed},
        {"never answers", "", 200, Serve::Silent, kListFailed},
        {"stalls mid-body", validList, 200, Serve::Stall, kListFailed},
        {"malformed", "[{\"path\":", 200, Serve::Normal, L"JSON parse error: *"},
        {"cut short", validList, 200, Serve::Cut, kListFailed},
        {"size as a string", R"([{"path":"a","hash":"b","size":"12"}])", 200, Serve::Normal,
         L"JSON parse error: *"},
        {"object without files", R"({"version":1})", 200, Serve::Normal, kWrongShape},
        {"a number", "42", 200, Serve::Normal, kWrongShape},
    };
    for (const Case& c : cases) {
        Reset();
        server.Route("files/filelist.json", c.body, c.status, c.mode);
        Check();
        ASSERT_EQ(notifications.size(), 3u) << c.name;
        EXPECT_EQ(Steps()[1], Step(State::Checking, kChecking)) << c.name;
        EXPECT_EQ(notifications[2].state, State::Error) << c.name;
        const std::wstring& text = notifications[2].text;
        if (c.text.back() == L'*') {
            const std::wstring prefix = c.text.substr(0, c.text.size() - 1);
            EXPECT_EQ(text.substr(0, prefix.size()), prefix) << c.name;
            EXPECT_GT(text.size(), prefix.size()) << c.name;
        } else {
            EXPECT_EQ(text, c.text) << c.name;
        }
        EXPECT_EQ(controller.message, text) << c.name;
        // The comparison of the last successful check stays.
        EXPECT_EQ(Paths(controller.filesToUpdate), std::vector<std::string>{"wow.exe"}) << c.name;
        EXPECT_EQ(controller.totalBytes, 4321) << c.name;
    }
}

TEST_F(UpdateControllerTest, ComparesLocalFilesByDigestInBothListShapes)
{
    ASSERT_TRUE(CreateDirectoryW(Local(L"Data").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(Local(L"Interface").c_str(), nullptr));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"wow.exe"), "current client"));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Data\\a.MPQ"), "old archive"));

    List("wow.exe", Upper(Md5("current client")), 1);      // current, digest in upper case
    List("Data/a.MPQ", Md5("new archive"), 1000);           // differs
    List("Data/new/b.MPQ", Md5("b"), 20000);                // missing, directories too
    entries.push_back(R"({"path":"Data/c.MPQ","size":5})");  // no hash: skipped
    List("Interface", Md5("i"), 300);                       // a directory where a file belongs
    List("Data/a.MPQ", Md5("new archive"), 1000);           // listed twice
    // Unreadable (held open elsewhere): its digest fails, which matches nothing.
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Data\\locked.MPQ"), "locked"));
    List("Data/locked.MPQ", "", 5);
    const std::vector<std::string> expected = {"Data/a.MPQ", "Data/new/b.MPQ", "Interface", "Data/a.MPQ",
                                               "Data/locked.MPQ"};

    HANDLE holder = CreateFileW(Local(L"Data\\locked.MPQ").c_str(), GENERIC_READ, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    for (const bool wrapped : {true, false}) {
        Reset();
        PublishList(wrapped);
        Check();
        EXPECT_EQ(Steps().back(), Step(State::UpdateAvailable, L"需要更新 5 个文件")) << wrapped;
        EXPECT_EQ(controller.state, State::UpdateAvailable);
        EXPECT_EQ(Paths(controller.filesToUpdate), expected) << wrapped;
        EXPECT_EQ(controller.totalBytes, 1000 + 20000 + 300 + 1000 + 5) << wrapped;
    }
    CloseHandle(holder);
    // Checking writes nothing.
    EXPECT_EQ(Fixture::ReadBytes(Local(L"Data\\a.MPQ")), "old archive");
    EXPECT_EQ(Fixture::FilesBelow(gameDir),
              (std::set<std::wstring>{L"wow.exe", L"Data\\a.MPQ", L"Data\\locked.MPQ"}));
}

TEST_F(UpdateControllerTest, WithoutGameDirectoryTheCurrentDirectoryIsUsed)
{
    systemState.GameDir.clear();
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(gameDir.c_str()));

    ASSERT_TRUE(Fixture::WriteBytes(Local(L"a.txt"), "same"));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"b.txt"), "old"));
    Offer("a.txt", "same");
    Offer("b.txt", "new");
    PublishList();
    Check();
    EXPECT_EQ(Paths(controller.filesToUpdate), std::vector<std::string>{"b.txt"});
    Update();
    EXPECT_EQ(controller.state, State::UpToDate);
    EXPECT_EQ(Fixture::ReadBytes(Local(L"b.txt")), "new");

    SetCurrentDirectoryW(previous);
}

TEST_F(UpdateControllerTest, HostileFileListTouchesNothingOutsideTheGameDirectory)
{
    const std::wstring outside = temp / L"x";
    ASSERT_TRUE(Fixture::WriteBytes(outside, "outside"));
    const char* hostile[] = {"../x", "..\\x", "a/../../x", "C:\\x", "C:x", "\\\\h\\s\\x",
                             "x:ads", "CON", "nul.txt", "."};
    for (const char* path : hostile) {
        List(path, Md5("evil"), 4);
    }
    Offer("sub/ok.dat", "good data");
    PublishList();

    Check();
    EXPECT_EQ(Steps().back(), Step(State::UpdateAvailable, L"需要更新 1 个文件"));
    EXPECT_EQ(Paths(controller.filesToUpdate), std::vector<std::string>{"sub/ok.dat"});
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));

    EXPECT_EQ(Fixture::ReadBytes(Local(L"sub\\ok.dat")), "good data");
    EXPECT_EQ(Fixture::ReadBytes(outside), "outside");
    EXPECT_EQ(Fixture::FilesBelow(temp.Path()),
              (std::set<std::wstring>{L"x", L"test.log", L"game\\sub\\ok.dat"}));
    const std::vector<std::string> requests = {"/url.txt", "/files/filelist.json", "/files/sub/ok.dat"};
    EXPECT_EQ(server.Requests(), requests);

    // The parser warns for the first five of its nine and summarises the rest;
    // "." is caught by the final full-path test, with a warning of its own.
    const std::string log = Fixture::ReadBytes(temp / L"test.log");
    EXPECT_EQ(Fixture::Occurrences(log, "[WARNING] Skipping invalid file entry in JSON"), 6u);
    EXPECT_EQ(Fixture::Occurrences(log, "[WARNING] ... 4 more entries skipped"), 1u);
}

// The program lives in the game directory; the list names its settings, its
// log and leftovers of its files in the spellings Windows takes for them.
TEST_F(UpdateControllerTest, TheProgramsOwnFilesAreNeverRequestedNorWritten)
{
    controller.programPath = Local(L"Orvane.exe");
    const std::map<std::wstring, std::string> own = {
        {L"Orvane.exe", "MZ program"}, {L"config.ini", "[Server]\r\nPortalUrl=http://real/\r\n"},
        {L"setup.ini", "[Game]\r\n"}, {L"Orvane.log", "log"}, {L"Orvane.log.1", "old log"}};
    for (const auto& [name, content] : own) {
        ASSERT_TRUE(Fixture::WriteBytes(Local(name), content));
    }
    const char* hostile[] = {"Orvane.exe.orvold", "orvane.EXE.orvpart", "config.ini", "/CONFIG.INI",
                             "sub/../setup.ini", "Orvane.log", "Orvane.log.1", "config.ini.", "setup.ini ",
                             "wow.exe."};
    for (const char* path : hostile) {
        List(path, Md5("evil"), 4);
    }
    Offer("sub/ok.dat", "good data");
    PublishList();

    Check();
    EXPECT_EQ(Paths(controller.filesToUpdate), std::vector<std::string>{"sub/ok.dat"});
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));
    for (const auto& [name, content] : own) {
        EXPECT_EQ(Fixture::ReadBytes(Local(name)), content) << testing::PrintToString(name);
    }
    EXPECT_FALSE(Fixture::Exists(Local(L"wow.exe")));
    const std::vector<std::string> requests = {"/url.txt", "/files/filelist.json", "/files/sub/ok.dat"};
    EXPECT_EQ(server.Requests(), requests);
}

TEST(PlanUpdateRun, TheProgramsOwnEntryIsFetchedFirstAndAlone)
{
    const TargetRule rule = TargetRule::FromResolved(L"C:\\Game", L"C:\\Game\\Orvane.exe");
    const auto entries = [](std::initializer_list<const char*> paths) {
        std::vector<FileEntry> files;
        for (const char* path : paths) {
            FileEntry entry;
            entry.path = path;
            files.push_back(entry);
        }
        return files;
    };
    struct Case {
        std::vector<FileEntry> differing;
        std::vector<std::string> fetched;
        bool replacesProgram;
    };
    const Case cases[] = {
        {entries({"wow.exe", "Data/a.MPQ"}), {"wow.exe", "Data/a.MPQ"}, false},
        {entries({"wow.exe", "ORVANE.exe", "Data/a.MPQ"}), {"ORVANE.exe"}, true},
        {entries({"Orvane.exe"}), {"Orvane.exe"}, true},
        // The same name elsewhere is an ordinary file.
        {entries({"Tools/Orvane.exe", "wow.exe"}), {"Tools/Orvane.exe", "wow.exe"}, false},
        {entries({}), {}, false},
    };
    for (const Case& c : cases) {
        const UpdateRunPlan plan = PlanUpdateRun(c.differing, rule);
        std::vector<std::string> fetched;
        for (const FileEntry& entry : plan.files) {
            fetched.push_back(entry.path);
        }
        EXPECT_EQ(fetched, c.fetched);
        EXPECT_EQ(plan.replacesProgram, c.replacesProgram) << testing::PrintToString(c.fetched);
    }
}

// A new program on the portal: the run takes it alone, keeps the old one
// aside for the hand-over, and leaves the other files to the new program.
TEST_F(UpdateControllerTest, AnUpdateOfTheProgramReplacesItAloneAndCanPutTheOldOneBack)
{
    controller.programPath = Local(L"Orvane.exe");
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Orvane.exe"), "MZ old program"));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"wow.exe"), "old client"));
    Offer("wow.exe", "new client");
    Offer("orvane.exe", "MZ new program, a few bytes longer");
    PublishList();
    Check();
    ASSERT_EQ(Paths(controller.filesToUpdate), (std::vector<std::string>{"wow.exe", "orvane.exe"}));

    Reset();
    Update();
    const std::vector<Step> expected = {{State::Downloading, kDownloading},
                                        {State::ProgramReplaced, L"程序已更新"}};
    EXPECT_EQ(Steps(), expected);
    EXPECT_TRUE(completions.empty());  // the run succeeds only once the new program runs
    EXPECT_EQ(Fixture::ReadBytes(Local(L"Orvane.exe")), "MZ new program, a few bytes longer");
    EXPECT_EQ(Fixture::ReadBytes(Local(L"Orvane.exe") + kAsideSuffix), "MZ old program");
    EXPECT_EQ(Fixture::ReadBytes(Local(L"wow.exe")), "old client");
    EXPECT_EQ(server.RequestCount("files/wow.exe"), 0);
    EXPECT_EQ(controller.replacedProgram.file, Local(L"Orvane.exe"));  // its name on disk stays
    EXPECT_EQ(controller.replacedProgramEntry, "orvane.exe");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().fileCount, 1);
    EXPECT_EQ(progress.back().total, 34);

    // The new program could not be started: the old one is back.
    EXPECT_EQ(controller.RestoreReplacedProgram(), L"下载失败: orvane.exe");
    EXPECT_EQ(controller.state, State::Error);
    EXPECT_EQ(Fixture::ReadBytes(Local(L"Orvane.exe")), "MZ old program");
    EXPECT_EQ(Fixture::FilesBelow(gameDir), (std::set<std::wstring>{L"Orvane.exe", L"wow.exe"}));
}

TEST_F(UpdateControllerTest, AProgramThatFailsItsDigestFailsTheRunAndStaysUntouched)
{
    controller.programPath = Local(L"Orvane.exe");
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Orvane.exe"), "MZ old program"));
    Offer("wow.exe", "new client");
    const std::string listed = "MZ new program";
    List("Orvane.exe", Md5(listed), static_cast<int64_t>(listed.size()));
    server.Route("files/Orvane.exe", "MZ bad program");  // same length, other bytes
    PublishList();
    Check();
    Reset();
    Update();
    EXPECT_EQ(Steps().back(), Step(State::Error, L"下载失败: Orvane.exe"));
    EXPECT_EQ(completions, std::vector<bool>{false});
    EXPECT_EQ(Fixture::ReadBytes(Local(L"Orvane.exe")), "MZ old program");
    EXPECT_FALSE(Fixture::Exists(Local(L"Orvane.exe") + kAsideSuffix));
    EXPECT_FALSE(Fixture::Exists(Local(L"wow.exe")));
    EXPECT_EQ(server.RequestCount("files/Orvane.exe"), config.retryCount);
}

// Started through a short (8.3) path, the program sees its folder, and the
// game directory, in that form; its missing files are still its own.
TEST_F(UpdateControllerTest, StartedThroughAShortPathTheListCannotCreateTheProgramsFiles)
{
    const std::wstring client = temp / L"Kaimor Game Client";
    ASSERT_TRUE(CreateDirectoryW(client.c_str(), nullptr));
    ASSERT_TRUE(Fixture::WriteBytes(client + L"\\Orvane.exe", "MZ program"));
    wchar_t shortPath[MAX_PATH] = {};
    const DWORD length = GetShortPathNameW(client.c_str(), shortPath, MAX_PATH);
    ASSERT_GT(length, 0u);
    const std::wstring shortClient(shortPath, length);
    ASSERT_NE(shortClient, client);
    systemState.GameDir = shortClient;
    controller.programPath = shortClient + L"\\Orvane.exe";
    for (const char* own : {"config.ini", "Setup.ini", "Orvane.log"}) {
        Offer(own, "[Server]\r\nPortalUrl=http://elsewhere/\r\n");
    }
    Offer("wow.exe", "client");
    PublishList();
    Check();
    EXPECT_EQ(Paths(controller.filesToUpdate), std::vector<std::string>{"wow.exe"});
    Update();
    EXPECT_EQ(controller.state, State::UpToDate) << testing::PrintToString(controller.message);
    EXPECT_EQ(Fixture::FilesBelow(client), (std::set<std::wstring>{L"Orvane.exe", L"wow.exe"}));
}

TEST_F(UpdateControllerTest, UpdatesEveryDifferingFile)
{
    const std::string client = Pattern(70000, 1);
    const std::string archive = Pattern(300000, 2);
    const std::string newPath = "Data/sub/\xE8\xA1\xA5\xE4\xB8\x81/new.MPQ";  // Data/sub/补丁/new.MPQ
    ASSERT_TRUE(CreateDirectoryW(Local(L"Data").c_str(), nullptr));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"wow.exe"), "old client"));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"empty.txt"), "stale"));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Data\\current.bin"), "current"));
    Offer("wow.exe", client, Serve::NoLength);  // length only known at the end
    Offer("empty.txt", "");                      // zero bytes: no progress report
    Offer("Data/current.bin", "current");
    Offer(newPath, archive);
    PublishList();

    Check();
    ASSERT_EQ(Steps().back(), Step(State::UpdateAvailable, L"需要更新 3 个文件"));
    ASSERT_EQ(controller.totalBytes, 370000);

    Reset();
    Update();
    const std::vector<Step> expected = {{State::Downloading, kDownloading}, {State::UpToDate, kUpdated}};
    EXPECT_EQ(Steps(), expected);
    ASSERT_EQ(notifications.size(), 2u);
    EXPECT_EQ(notifications[0].thread, GetCurrentThreadId());
    EXPECT_NE(notifications[1].thread, GetCurrentThreadId());
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(controller.message, L"");

    EXPECT_EQ(Fixture::ReadBytes(Local(L"wow.exe")), client);
    bool readable = false;
    EXPECT_EQ(Fixture::ReadBytes(Local(L"empty.txt"), &readable), "");
    EXPECT_TRUE(readable);
    EXPECT_EQ(Fixture::ReadBytes(Local(L"Data\\sub\\补丁\\new.MPQ")), archive);
    // Nothing else: no temporary files left behind.
    EXPECT_EQ(Fixture::FilesBelow(gameDir), (std::set<std::wstring>{L"wow.exe", L"empty.txt",
                                                           L"Data\\current.bin",
                                                           L"Data\\sub\\补丁\\new.MPQ"}));
    EXPECT_EQ(server.RequestCount("files/Data/current.bin"), 0);
    EXPECT_EQ(server.RequestCount("files/" + newPath), 1);

    // Overall progress: 1-based index, bytes from the list's sizes, never backwards.
    ASSERT_FALSE(progress.empty());
    std::set<int> indexes;
    int64_t previous = 0;
    for (const ProgressCall& call : progress) {
        indexes.insert(call.fileIndex);
        EXPECT_EQ(call.fileCount, 3);
        EXPECT_EQ(call.total, 370000);
        EXPECT_GE(call.bytesPerSecond, 0.0);
        EXPECT_GE(call.downloaded, previous);
        previous = call.downloaded;
        if (call.fileIndex == 3) {
            EXPECT_GT(call.downloaded, 70000);  // the first file's bytes come first
        }
    }
    EXPECT_EQ(indexes, (std::set<int>{1, 3}));
    EXPECT_EQ(progress.back().downloaded, 370000);
    EXPECT_EQ(progress.back().fileIndex, 3);

    Reset();
    Check();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpToDate));
}

TEST_F(UpdateControllerTest, RetriesRestartTheFileProgress)
{
    const std::string first = Pattern(100000, 3);
    const std::string second = Pattern(200000, 4);
    Offer("a.bin", first);
    // The first two deliveries are damaged; the third is right.
    Offer("b.bin", second, Serve::Normal, 200, -1, Pattern(200000, 5), 2);
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);

    Reset();
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(server.RequestCount("files/b.bin"), 3);
    EXPECT_EQ(Fixture::ReadBytes(Local(L"b.bin")), second);

    int drops = 0;
    int64_t previous = 0;
    for (const ProgressCall& call : progress) {
        if (call.fileIndex == 2) {
            EXPECT_GT(call.downloaded, 100000);  // completed bytes of a.bin, plus this attempt's
            EXPECT_LE(call.downloaded, 300000);
        }
        drops += call.downloaded < previous ? 1 : 0;
        previous = call.downloaded;
    }
    EXPECT_EQ(drops, 2);
    EXPECT_EQ(progress.back().downloaded, 300000);
}

TEST_F(UpdateControllerTest, FailedAttemptsLeaveTheOldFileIntact)
{
    config.retryCount = 2;
    const std::string good = Pattern(50000, 6);
    struct Case {
        const char* name;
        std::string body;
        int status;
        Serve mode;
        int64_t listedSize;
        bool partialLeft;     // the bytes so far stay beside the target
        const char* resumed;  // the second attempt's Range, when it asked for the rest
    };
    const Case cases[] = {
        {"wrong digest", Pattern(50000, 7), 200, Serve::Normal, -1, false, nullptr},
        {"body cut short", good, 200, Serve::Cut, -1, true, "bytes=25000-"},
        {"not found", good, 404, Serve::Normal, -1, false, nullptr},
        {"server error", good, 500, Serve::Normal, -1, false, nullptr},
        {"stalls mid-body", good, 200, Serve::Stall, -1, true, "bytes=25000-"},
        {"never answers", good, 200, Serve::Silent, -1, false, nullptr},
        // Cut off at the listed size: the bytes may yet be right.
        {"never ends", Pattern(50000, 8), 200, Serve::Endless, -1, true, nullptr},
        {"larger than listed", good, 200, Serve::Normal, 40000, false, nullptr},
    };
    const std::string old = "old game file";
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string dir = "case" + std::to_string(i);
        const std::wstring wideDir = L"case" + std::to_wstring(i);
        ASSERT_TRUE(CreateDirectoryW(Local(wideDir).c_str(), nullptr));
        ASSERT_TRUE(Fixture::WriteBytes(Local(wideDir + L"\\target.bin"), old));

        entries.clear();
        Offer(dir + "/first.bin", "first");
        server.Route("files/" + dir + "/target.bin", c.body, c.status, c.mode);
        List(dir + "/target.bin", Md5(good), c.listedSize < 0 ? 50000 : c.listedSize);
        Offer(dir + "/later.bin", "later");
        PublishList();
        Check();
        ASSERT_EQ(controller.state, State::UpdateAvailable) << c.name;

        Reset();
        Update();
        const std::wstring text = L"下载失败: case" + std::to_wstring(i) + L"/target.bin";
        const std::vector<Step> expected = {{State::Downloading, kDownloading}, {State::Error, text}};
        EXPECT_EQ(Steps(), expected) << c.name;
        EXPECT_EQ(controller.message, text) << c.name;
        EXPECT_EQ(completions, std::vector<bool>{false}) << c.name;
        EXPECT_EQ(server.RequestCount("files/" + dir + "/target.bin"), 2) << c.name;
        EXPECT_EQ(server.RequestCount("files/" + dir + "/later.bin"), 0) << c.name;

        // Byte-identical old file; files finished before stay; the part
        // received so far only where it is the start of the right file.
        EXPECT_EQ(Fixture::ReadBytes(Local(wideDir + L"\\target.bin")), old) << c.name;
        std::set<std::wstring> left = {L"first.bin", L"target.bin"};
        if (c.partialLeft) {
            left.insert(L"target.bin.orvpart");
        }
        if (c.resumed != nullptr) {
            const std::string part = Fixture::ReadBytes(Local(wideDir + L"\\target.bin.orvpart"));
            EXPECT_EQ(part.size(), 37500u) << c.name;  // half, then half of the rest
            EXPECT_EQ(part, good.substr(0, part.size())) << c.name;
            EXPECT_EQ(server.Ranges().back(), "/files/" + dir + "/target.bin\t" + c.resumed) << c.name;
        }
        EXPECT_EQ(Fixture::FilesBelow(Local(wideDir)), left) << c.name;
    }
}

TEST_F(UpdateControllerTest, RetryCountBoundsTheAttempts)
{
    server.Route("files/bad.bin", "delivered");
    List("bad.bin", Md5("expected"), 9);  // the portal never delivers this
    PublishList();
    for (const int retryCount : {0, 1, 3, -1}) {
        const int before = server.RequestCount("files/bad.bin");
        config.retryCount = retryCount;
        Reset();
        Check();
        ASSERT_EQ(controller.state, State::UpdateAvailable);
        progress.clear();  // the check's own
        Update();
        EXPECT_EQ(Steps().back(), Step(State::Error, L"下载失败: bad.bin")) << retryCount;
        EXPECT_EQ(completions, std::vector<bool>{false}) << retryCount;
        EXPECT_EQ(server.RequestCount("files/bad.bin") - before, std::max(retryCount, 0)) << retryCount;
        if (retryCount <= 0) {
            EXPECT_TRUE(progress.empty()) << retryCount;
        }
        // A pause before each later attempt, growing, a few seconds in all.
        EXPECT_EQ(pauses.size(), static_cast<size_t>(std::max(retryCount - 1, 0))) << retryCount;
        unsigned paused = 0;
        for (size_t i = 0; i < pauses.size(); ++i) {
            EXPECT_TRUE(i == 0 || pauses[i] > pauses[i - 1]) << retryCount;
            paused += pauses[i];
        }
        if (retryCount == 3) {
            EXPECT_GE(paused, 1000u);
            EXPECT_LE(paused, 6000u);
        }
    }
    EXPECT_EQ(Fixture::FilesBelow(gameDir), std::set<std::wstring>{});
}

TEST_F(UpdateControllerTest, StartUpdateOnlyFromUpdateAvailable)
{
    controller.StartUpdate();  // Idle
    EXPECT_TRUE(notifications.empty());
    EXPECT_EQ(controller.state, State::Idle);

    PublishList();
    Check();  // UpToDate
    Reset();
    controller.StartUpdate();
    EXPECT_TRUE(notifications.empty());

    server.Route("files/filelist.json", "", 404);
    Check();  // Error
    Reset();
    controller.StartUpdate();
    EXPECT_TRUE(notifications.empty());

    entries.clear();
    Offer("a.bin", Pattern(100000, 8));
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Reset();
    controller.StartUpdate();
    controller.StartUpdate();  // already Downloading (or done): ignored
    ASSERT_TRUE(controller.WaitForRuns(20000));
    const std::vector<Step> expected = {{State::Downloading, kDownloading}, {State::UpToDate, kUpdated}};
    EXPECT_EQ(Steps(), expected);
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(server.RequestCount("files/a.bin"), 1);
}

TEST_F(UpdateControllerTest, DuplicatePathsAreFetchedInListOrder)
{
    Offer("dup.bin", "content");
    Offer("dup.bin", "content");
    PublishList();
    Check();
    EXPECT_EQ(Steps().back(), Step(State::UpdateAvailable, L"需要更新 2 个文件"));
    EXPECT_EQ(controller.totalBytes, 14);

    Reset();
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));
    EXPECT_EQ(server.RequestCount("files/dup.bin"), 2);
    ASSERT_EQ(progress.size(), 2u);
    EXPECT_EQ(progress[0].fileIndex, 1);
    EXPECT_EQ(progress[1].fileIndex, 2);
    EXPECT_EQ(progress[1].downloaded, 14);
    EXPECT_EQ(Fixture::ReadBytes(Local(L"dup.bin")), "content");
}

// A file held open without sharing, as a running game or a scanner holds it.
// The system checks sharing per open handle, whichever process holds it; a
// handle of the test's own lets go the moment it is closed, where an ended
// holder process is let go of by Wine's server only seconds later under load.
class HeldOpenFile {
public:
    explicit HeldOpenFile(const std::wstring& path)
        : file_(CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
    }

    bool Held() const { return static_cast<bool>(file_); }
    void LetGo() { file_.Reset(); }

private:
    KernelHandle file_;
};

TEST_F(UpdateControllerTest, TargetHeldOpenElsewhereKeepsItsContentAndIsNotDownloadedAgain)
{
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"locked.bin"), "in use"));
    Offer("locked.bin", "replacement");
    PublishList();
    HeldOpenFile holder(Local(L"locked.bin"));
    ASSERT_TRUE(holder.Held());
    config.retryCount = 2;
    Check();  // the locked file cannot be read, so it is scheduled
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Reset();
    Update();

    EXPECT_EQ(Steps().back(), Step(State::Error, L"下载失败: locked.bin\n请关闭游戏和登录器后重试"));
    // Every attempt retried the move of the verified file, not the download.
    EXPECT_EQ(server.RequestCount("files/locked.bin"), 1);
    EXPECT_EQ(Fixture::FilesBelow(gameDir),
              (std::set<std::wstring>{L"locked.bin", L"locked.bin.orvpart"}));

    // Once the holder lets go, the old file is there as it was, and the next
    // run moves the kept file in.
    holder.LetGo();
    EXPECT_EQ(Fixture::ReadBytes(Local(L"locked.bin")), "in use");
    Reset();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));
    EXPECT_EQ(server.RequestCount("files/locked.bin"), 1);
    EXPECT_EQ(Fixture::ReadBytes(Local(L"locked.bin")), "replacement");
    EXPECT_EQ(Fixture::FilesBelow(gameDir), std::set<std::wstring>{L"locked.bin"});
}

TEST_F(UpdateControllerTest, AFolderThatCannotBeMadeFailsItsFileWithItsPath)
{
    // A file where the folder should be.
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Interface"), "not a folder"));
    Offer("Interface/AddOns/x.lua", "addon");
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Reset();
    Update();
    EXPECT_EQ(Steps().back(), Step(State::Error, L"下载失败: Interface/AddOns/x.lua"));
    EXPECT_EQ(completions, std::vector<bool>{false});
    EXPECT_EQ(server.RequestCount("files/Interface/AddOns/x.lua"), 0);
    EXPECT_EQ(Fixture::ReadBytes(Local(L"Interface")), "not a folder");
}

TEST_F(UpdateControllerTest, RunsWithoutASystemDllTheyNeedFailNamingIt)
{
    Offer("a.bin", "a");
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    const int listRequests = server.RequestCount("files/filelist.json");
    // What the start-up check found: System32 cannot give winhttp.dll.
    controller.unusableLibrary = "winhttp.dll";
    const std::wstring text = L"无法从系统目录加载 winhttp.dll, 请修复或更新 Windows";
    EXPECT_EQ(MissingLibraryText("winhttp.dll"), text);

    Reset();
    Update();
    EXPECT_EQ(Steps(), (std::vector<Step>{{State::Downloading, kDownloading}, {State::Error, text}}));
    EXPECT_EQ(completions, std::vector<bool>{false});
    EXPECT_EQ(server.RequestCount("files/a.bin"), 0);

    Reset();
    controller.state = State::Idle;
    Check();
    EXPECT_EQ(Steps(), (std::vector<Step>{{State::Connecting, kConnecting}, {State::Error, text}}));
    EXPECT_EQ(server.RequestCount("files/filelist.json"), listRequests);
    EXPECT_FALSE(Fixture::Exists(Local(L"a.bin")));
}

// The listed sizes against a small disk: nothing is fetched and no old file
// touched when they cannot fit; what partial files hold is still to come only
// for the rest.
TEST_F(UpdateControllerTest, AnUpdateThatCannotFitOnTheDiskDoesNotStart)
{
    constexpr int64_t MB = 1024 * 1024;
    const std::string archive = Pattern(static_cast<size_t>(3 * MB), 11);
    ASSERT_TRUE(CreateDirectoryW(Local(L"Data").c_str(), nullptr));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"wow.exe"), "old client"));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Data\\patch.MPQ"), "old patch"));
    Offer("wow.exe", Pattern(static_cast<size_t>(MB / 2), 12));
    Offer("Data/patch.MPQ", archive);
    PublishList();
    std::vector<std::wstring> asked;
    int64_t freeBytes = 0;
    controller.freeSpace = [&](const std::wstring& directory, int64_t& free) {
        asked.push_back(directory);
        free = freeBytes;
        return true;
    };
    struct Case {
        const char* name;
        int64_t free;
        std::string partial;  // left beside Data/patch.MPQ by an earlier run
        std::wstring failure;  // empty: the update runs
    };
    const Case cases[] = {
        {"nothing free", 0, "", L"无法开始更新\n磁盘空间不足: 需要 4 MB, 可用 0 MB"},
        {"one byte short", MB / 2 + 3 * MB - 1, "", L"无法开始更新\n磁盘空间不足: 需要 4 MB, 可用 3 MB"},
        {"a partial file too short to make room", 2 * MB, archive.substr(0, MB / 4),
         L"无法开始更新\n磁盘空间不足: 需要 4 MB, 可用 2 MB"},
        {"a partial file longer than listed", 2 * MB, archive + "tail",
         L"无法开始更新\n磁盘空间不足: 需要 4 MB, 可用 2 MB"},
        {"a partial file holding most of it", 2 * MB, archive.substr(0, static_cast<size_t>(2 * MB)), L""},
        {"exactly enough", MB / 2 + 3 * MB, "", L""},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Fixture::WriteBytes(Local(L"wow.exe"), "old client"));
        ASSERT_TRUE(Fixture::WriteBytes(Local(L"Data\\patch.MPQ"), "old patch"));
        const std::wstring partial = Local(L"Data\\patch.MPQ.orvpart");
        DeleteFileW(partial.c_str());
        if (!c.partial.empty()) {
            ASSERT_TRUE(Fixture::WriteBytes(partial, c.partial));
        }
        freeBytes = c.free;
        Reset();
        Check();
        ASSERT_EQ(controller.state, State::UpdateAvailable) << c.name;
        const int fetchedBefore = server.RequestCount("files/wow.exe") + server.RequestCount("files/Data/patch.MPQ");
        asked.clear();
        Update();
        EXPECT_EQ(asked, std::vector<std::wstring>{gameDir}) << c.name;
        const int fetched =
            server.RequestCount("files/wow.exe") + server.RequestCount("files/Data/patch.MPQ") - fetchedBefore;
        if (c.failure.empty()) {
            EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated)) << c.name;
            EXPECT_EQ(Fixture::ReadBytes(Local(L"Data\\patch.MPQ")), archive) << c.name;
            EXPECT_EQ(fetched, 2) << c.name;
            continue;
        }
        EXPECT_EQ(Steps().back(), Step(State::Error, c.failure)) << c.name;
        EXPECT_EQ(completions, std::vector<bool>{false}) << c.name;
        EXPECT_EQ(controller.message, c.failure) << c.name;
        EXPECT_EQ(fetched, 0) << c.name;
        EXPECT_EQ(Fixture::ReadBytes(Local(L"wow.exe")), "old client") << c.name;
        EXPECT_EQ(Fixture::ReadBytes(Local(L"Data\\patch.MPQ")), "old patch") << c.name;
        // What an earlier run left stays for the day there is room.
        EXPECT_EQ(Fixture::ReadBytes(partial), c.partial) << c.name;
    }
}

// A disk that fills while a file is written: no second attempt can help, the
// partial file goes, and the old file stays.
TEST_F(UpdateControllerTest, ADiskThatFillsFailsTheFileAtOnceAndRemovesItsPartialFile)
{
    constexpr int64_t MB = 1024 * 1024;
    config.retryCount = 3;
    const std::string client = Pattern(static_cast<size_t>(MB + MB / 2), 13);
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"wow.exe"), "old client"));
    Offer("a.txt", "first file");
    Offer("wow.exe", client);
    Offer("z.txt", Pattern(static_cast<size_t>(MB), 14));
    PublishList();
    for (const DWORD code : {static_cast<DWORD>(ERROR_DISK_FULL), static_cast<DWORD>(ERROR_HANDLE_DISK_FULL)}) {
        const std::wstring moved = Local(L"a.txt");
        DeleteFileW(moved.c_str());
        controller.fileMoves = FileMoves::System();
        controller.fileMoves.sleep = [](DWORD) {};
        int flushes = 0;
        controller.freeSpace = [&](const std::wstring&, int64_t& free) {
            free = flushes == 0 ? 10 * MB : 300 * 1024;  // room enough to start
            return true;
        };
        // The second file's data cannot reach the disk.
        controller.fileMoves.flush = [&flushes, code](HANDLE file) {
            if (++flushes == 2) {
                SetLastError(code);
                return false;
            }
            return FlushFileBuffers(file) != FALSE;
        };
        Reset();
        Check();
        ASSERT_EQ(controller.state, State::UpdateAvailable) << code;
        const int before = server.RequestCount("files/wow.exe");
        Update();
        // wow.exe itself and z.txt still to come: 2.5 MB, rounded up.
        EXPECT_EQ(Steps().back(), Step(State::Error, L"下载失败: wow.exe\n磁盘空间不足: 需要 3 MB, 可用 0 MB"))
            << code;
        EXPECT_EQ(server.RequestCount("files/wow.exe") - before, 1) << code;
        EXPECT_TRUE(pauses.empty()) << code;
        EXPECT_EQ(server.RequestCount("files/z.txt"), 0) << code;
        EXPECT_EQ(Fixture::ReadBytes(Local(L"wow.exe")), "old client") << code;
        EXPECT_EQ(Fixture::ReadBytes(moved), "first file") << code;
        EXPECT_EQ(Fixture::FilesBelow(gameDir), (std::set<std::wstring>{L"wow.exe", L"a.txt"})) << code;
    }
}

TEST_F(UpdateControllerTest, AReadOnlyTargetIsReplacedAndLeftWritable)
{
    ASSERT_TRUE(CreateDirectoryW(Local(L"Data").c_str(), nullptr));
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Data\\disc.MPQ"), "from the disc"));
    ASSERT_TRUE(SetFileAttributesW(Local(L"Data\\disc.MPQ").c_str(),
                                   FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));
    Offer("Data/disc.MPQ", "patched");
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));
    EXPECT_EQ(Fixture::ReadBytes(Local(L"Data\\disc.MPQ")), "patched");
    const DWORD attributes = GetFileAttributesW(Local(L"Data\\disc.MPQ").c_str());
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    SetFileAttributesW(Local(L"Data\\disc.MPQ").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(UpdateControllerTest, EveryFileIsOnTheDiskBeforeItIsMovedIn)
{
    // What the update asks of the disk, in order: "flush <bytes>" and
    // "<from> -> <to>" with the move's write-through. Replacing the running
    // image is refused as Windows refuses it; a failing flush is a disk
    // error.
    std::vector<std::string> steps;
    bool flushFails = false;
    const auto name = [](const std::wstring& path) { return WideToUtf8(path.substr(path.find_last_of(L'\\') + 1)); };
    controller.fileMoves.flush = [&](HANDLE file) {
        LARGE_INTEGER size{};
        GetFileSizeEx(file, &size);
        steps.push_back("flush " + std::to_string(size.QuadPart));
        return !flushFails && FlushFileBuffers(file) != FALSE;
    };
    controller.fileMoves.move = [&](const std::wstring& from, const std::wstring& to, DWORD flags) -> DWORD {
        steps.push_back(name(from) + " -> " + name(to) + ((flags & MOVEFILE_WRITE_THROUGH) ? " write-through" : ""));
        if (name(to) == "running.exe" && (flags & MOVEFILE_REPLACE_EXISTING) &&
            GetFileAttributesW(to.c_str()) != INVALID_FILE_ATTRIBUTES) {
            return ERROR_ACCESS_DENIED;
        }
        return MoveFileExW(from.c_str(), to.c_str(), flags) ? ERROR_SUCCESS : GetLastError();
    };
    controller.fileMoves.sleep = [](DWORD) {};
    config.retryCount = 1;

    struct Case {
        const char* name;
        const wchar_t* file;
        std::string kept;  // what an earlier run left in the partial file
        bool flushFails;
        std::vector<std::string> steps;
        const char* after;  // the file's content afterwards
    };
    const std::string fresh = "fresh bytes";
    const Case cases[] = {
        {"downloaded", L"new.bin", "", false, {"flush 11", "new.bin.orvpart -> new.bin write-through"}, "fresh bytes"},
        {"complete before", L"kept.bin", fresh, false,
         {"flush 11", "kept.bin.orvpart -> kept.bin write-through"}, "fresh bytes"},
        {"running image moved aside", L"running.exe", "", false,
         {"flush 11", "running.exe.orvpart -> running.exe write-through",
          "running.exe.orvpart -> running.exe write-through", "running.exe.orvpart -> running.exe write-through",
          "running.exe.orvpart -> running.exe write-through", "running.exe.orvpart -> running.exe write-through",
          "running.exe.orvpart -> running.exe write-through", "running.exe -> running.exe.orvold",
          "running.exe.orvpart -> running.exe write-through"},
         "fresh bytes"},
        {"flush fails", L"disk.bin", "", true, {"flush 11"}, "old"},
    };
    for (const Case& c : cases) {
        const std::string path = WideToUtf8(c.file);
        ASSERT_TRUE(Fixture::WriteBytes(Local(c.file), "old"));
        if (!c.kept.empty()) {
            ASSERT_TRUE(Fixture::WriteBytes(Local(c.file) + L".orvpart", c.kept));
        }
        entries.clear();
        Offer(path, fresh);
        PublishList();
        Reset();
        Check();
        ASSERT_EQ(controller.state, State::UpdateAvailable) << c.name;
        steps.clear();
        flushFails = c.flushFails;
        Update();
        EXPECT_EQ(steps, c.steps) << c.name;
        EXPECT_EQ(Fixture::ReadBytes(Local(c.file)), c.after) << c.name;
    }
}

TEST_F(UpdateControllerTest, ADownloadContinuesFromWhatAnEarlierRunLeft)
{
    const std::string good = Pattern(300000, 9);
    struct Case {
        const char* name;
        std::string partial;  // what the earlier run left beside the target
        Serve mode;
        std::vector<std::string> ranges;  // Range headers the portal received
        int requests;
    };
    const std::string wrongStart = Pattern(90000, 4);
    const Case cases[] = {
        {"the right first bytes", good.substr(0, 90000), Serve::Normal, {"bytes=90000-"}, 1},
        {"the whole file", good, Serve::Normal, {}, 0},
        {"wrong first bytes: the whole file again", wrongStart, Serve::Normal, {"bytes=90000-"}, 2},
        {"longer than the listed size", good + "tail", Serve::Normal, {}, 1},
        {"a server ignoring Range", good.substr(0, 90000), Serve::NoRange, {"bytes=90000-"}, 1},
        {"nothing", "", Serve::Normal, {}, 1},
    };
    config.retryCount = 1;  // each case within one attempt
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string path = "resume" + std::to_string(i) + ".bin";
        const std::wstring local = Local(L"resume" + std::to_wstring(i) + L".bin");
        ASSERT_TRUE(Fixture::WriteBytes(local, "old"));
        if (!c.partial.empty()) {
            ASSERT_TRUE(Fixture::WriteBytes(local + L".orvpart", c.partial));
        }
        entries.clear();
        Offer(path, good, c.mode);
        PublishList();
        Reset();
        Check();
        ASSERT_EQ(controller.state, State::UpdateAvailable) << c.name;
        const size_t rangesBefore = server.Ranges().size();
        progress.clear();  // the check's own
        Update();

        EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated)) << c.name;
        EXPECT_EQ(Fixture::ReadBytes(local), good) << c.name;
        EXPECT_FALSE(Fixture::Exists(local + L".orvpart")) << c.name;
        EXPECT_EQ(server.RequestCount("files/" + path), c.requests) << c.name;
        std::vector<std::string> ranges;
        const std::vector<std::string> all = server.Ranges();
        for (size_t k = rangesBefore; k < all.size(); ++k) {
            ranges.push_back(all[k].substr(all[k].find('\t') + 1));
        }
        EXPECT_EQ(ranges, c.ranges) << c.name;
        // Progress counts the whole file, resumed bytes included.
        if (!progress.empty()) {
            EXPECT_EQ(progress.back().downloaded, static_cast<int64_t>(good.size())) << c.name;
        }
    }
}

TEST_F(UpdateControllerTest, AnUpdateRemovesLeftoversOfEarlierRunsFromTheFoldersItWrites)
{
    const std::wstring stale[] = {L"orv1A2B.tmp", L"Data\\orvFFFF.tmp", L"wow.exe.orvold"};
    const std::wstring kept[] = {L"Data\\a.MPQ", L"orvane-notes.txt", L"notes.tmp", L"orvane-backup.tmp",
                                 L"Other\\orv1234.tmp", L"Other\\b.MPQ.orvold"};
    ASSERT_TRUE(CreateDirectoryW(Local(L"Data").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(Local(L"Other").c_str(), nullptr));
    for (const std::wstring& name : stale) {
        ASSERT_TRUE(Fixture::WriteBytes(Local(name), "left over"));
    }
    for (const std::wstring& name : kept) {
        ASSERT_TRUE(Fixture::WriteBytes(Local(name), "keep"));
    }
    Offer("wow.exe", "new client");
    Offer("Data/b.MPQ", "new archive");
    Offer("Data/a.MPQ", "keep");
    Offer("Other/b.MPQ", "keep");  // current: Other is read, not written
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"Other\\b.MPQ"), "keep"));
    PublishList();
    const std::set<std::wstring> before = Fixture::FilesBelow(gameDir);
    // The check only reads.
    Check();
    ASSERT_EQ(Paths(controller.filesToUpdate), (std::vector<std::string>{"wow.exe", "Data/b.MPQ"}));
    EXPECT_EQ(Fixture::FilesBelow(gameDir), before);
    Update();
    ASSERT_EQ(controller.state, State::UpToDate) << testing::PrintToString(controller.message);
    EXPECT_EQ(Fixture::FilesBelow(gameDir),
              (std::set<std::wstring>{L"wow.exe", L"Data\\a.MPQ", L"Data\\b.MPQ", L"orvane-notes.txt",
                                      L"notes.tmp", L"orvane-backup.tmp", L"Other\\orv1234.tmp",
                                      L"Other\\b.MPQ", L"Other\\b.MPQ.orvold"}));
}

TEST_F(UpdateControllerTest, ACheckReportsTheShareOfListedBytesCompared)
{
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"big.bin"), Pattern(3 << 20, 1)));
    Offer("big.bin", Pattern(3 << 20, 1));
    Offer("missing.bin", "absent locally");
    Offer("small.bin", "x");
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"small.bin"), "x"));
    PublishList();
    Check();
    const std::vector<Step> expected = {{State::Connecting, kConnecting},
                                        {State::Checking, kChecking},
                                        {State::Verifying, kVerifying},
                                        {State::UpdateAvailable, L"需要更新 1 个文件"}};
    EXPECT_EQ(Steps(), expected);
    const int64_t listed = (3 << 20) + 14 + 1;
    ASSERT_GT(progress.size(), 3u);  // the large file reports while it is hashed
    for (size_t k = 0; k < progress.size(); ++k) {
        EXPECT_EQ(progress[k].total, listed);
        EXPECT_EQ(progress[k].fileCount, 3);
        EXPECT_DOUBLE_EQ(progress[k].bytesPerSecond, 0.0);
        if (k > 0) {
            EXPECT_GE(progress[k].downloaded, progress[k - 1].downloaded);
            EXPECT_GE(progress[k].fileIndex, progress[k - 1].fileIndex);
        }
    }
    EXPECT_EQ(progress.back().downloaded, listed);
    EXPECT_EQ(progress.back().fileIndex, 3);
}

TEST_F(UpdateControllerTest, EveryPathWindowsCanOpenIsUpdatedAndLongerOnesAreSkipped)
{
    // Without the long-path prefix Windows opens paths below MAX_PATH whose
    // names are at most 255 characters; the partial file's suffix must not
    // take any of them out of reach.
    const size_t room = MAX_PATH - 1 - gameDir.size() - 1;  // the separator
    struct Case {
        std::string path;
        bool updated;
    };
    const Case cases[] = {
        {std::string(room - 8, 'a'), true},      // with ".orvpart" at the limit
        {std::string(room - 7, 'b'), true},      // 252 and more: a shorter partial name
        {std::string(room - 1, 'c'), true},
        {std::string(room, 'd'), true},          // 259 characters
        {"e/" + std::string(room - 2, 'e'), true},
        {std::string(room + 1, 'f'), false},     // 260: Windows cannot open it
        {"g/" + std::string(256, 'g'), false},   // a name past 255
    };
    std::vector<std::string> listed;
    for (const Case& c : cases) {
        Offer(c.path, "content of " + c.path.substr(0, 1));
        if (c.updated) {
            listed.push_back(c.path);
        }
    }
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    EXPECT_EQ(Paths(controller.filesToUpdate), listed);
    EXPECT_EQ(SkippedEntryWarnings(), 2u);
    Update();
    ASSERT_EQ(controller.state, State::UpToDate) << testing::PrintToString(controller.message);
    std::set<std::wstring> expected;
    for (const std::string& path : listed) {
        const std::wstring file = Utf8ToWide(path);
        EXPECT_EQ(Fixture::ReadBytes(Local(file)), "content of " + path.substr(0, 1));
        expected.insert(file.find(L'/') == std::wstring::npos ? file : L"e\\" + file.substr(2));
    }
    // No partial file is left anywhere.
    EXPECT_EQ(Fixture::FilesBelow(gameDir), expected);
}

// Waits until the condition holds, up to `timeoutMs`.
template <typename Condition>
bool WaitUntil(Condition done, DWORD timeoutMs = 20000)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!done()) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(5);
    }
    return true;
}

TEST_F(UpdateControllerTest, ASecondRunIsRefusedWhileOneIsActive)
{
    using RunStart = UpdateController::RunStart;
    // A list and files on a slow link, so each run lasts long enough to be overlapped.
    const std::string first = Pattern(20000, 1);
    const std::string second = Pattern(20000, 2);
    Offer("a.bin", first, Serve::Slow);
    Offer("b.bin", second, Serve::Slow);
    PublishList();
    server.Route("files/filelist.json", "{\"files\":[" + entries[0] + "," + entries[1] + "]}", 200,
                 Serve::Slow);

    ASSERT_EQ(controller.CheckForUpdates(), RunStart::Started);
    ASSERT_TRUE(controller.RunActive());
    EXPECT_EQ(controller.CheckForUpdates(), RunStart::Refused);
    EXPECT_EQ(controller.StartUpdate(), RunStart::Refused);
    ASSERT_TRUE(controller.WaitForRuns(20000));
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    EXPECT_EQ(counts.back(), 2u) << "the report carries the number of files";
    EXPECT_EQ(server.RequestCount("files/filelist.json"), 1) << "the refused check sent nothing";

    Reset();
    ASSERT_EQ(controller.StartUpdate(), RunStart::Started);
    ASSERT_TRUE(WaitUntil([this] { return !progress.empty(); }));
    // Neither a check (which would rebuild the list) nor a second download may start.
    EXPECT_EQ(controller.CheckForUpdates(), RunStart::Refused);
    EXPECT_EQ(controller.StartUpdate(), RunStart::Refused);
    ASSERT_TRUE(controller.WaitForRuns(30000));

    const std::vector<Step> expected = {{State::Downloading, kDownloading}, {State::UpToDate, kUpdated}};
    EXPECT_EQ(Steps(), expected);
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(Fixture::ReadBytes(Local(L"a.bin")), first);
    EXPECT_EQ(Fixture::ReadBytes(Local(L"b.bin")), second);
    EXPECT_EQ(server.RequestCount("files/a.bin"), 1);
    EXPECT_EQ(server.RequestCount("files/b.bin"), 1);
    EXPECT_EQ(server.RequestCount("files/filelist.json"), 1);
}

TEST_F(UpdateControllerTest, CancelStopsADownloadAtItsNextChunkAndKeepsTheOldFile)
{
    ASSERT_TRUE(Fixture::WriteBytes(Local(L"big.bin"), "old content"));
    // Spread over 3 s: the body is still arriving when the run is cancelled.
    Offer("big.bin", Pattern(500000, 3), Serve::Slow);
    PublishList();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Reset();

    ASSERT_EQ(controller.StartUpdate(), UpdateController::RunStart::Started);
    ASSERT_TRUE(WaitUntil([this] { return !progress.empty(); }));
    const ULONGLONG cancelled = GetTickCount64();
    controller.Cancel();
    ASSERT_TRUE(controller.WaitForRuns(2000));
    EXPECT_LT(GetTickCount64() - cancelled, 2000u);

    EXPECT_EQ(Fixture::ReadBytes(Local(L"big.bin")), "old content");
    EXPECT_TRUE(completions.empty()) << "a cancelled run reports nothing";
    EXPECT_EQ(server.RequestCount("files/big.bin"), 1) << "no retry after a cancel";

    // The bytes received so far stay beside the target, and the next run
    // asks only for the rest.
    const std::string part = Fixture::ReadBytes(Local(L"big.bin.orvpart"));
    ASSERT_GT(part.size(), 0u);
    ASSERT_LT(part.size(), 500000u);
    EXPECT_EQ(part, Pattern(500000, 3).substr(0, part.size()));
    Reset();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));
    EXPECT_EQ(Fixture::ReadBytes(Local(L"big.bin")), Pattern(500000, 3));
    EXPECT_EQ(server.Ranges(),
              std::vector<std::string>{"/files/big.bin\tbytes=" + std::to_string(part.size()) + "-"});
    EXPECT_EQ(Fixture::FilesBelow(gameDir), std::set<std::wstring>{L"big.bin"});
}

TEST_F(UpdateControllerTest, TheWaitForRunsCoversTheEndOfTheirThreads)
{
    using RunStart = UpdateController::RunStart;
    Offer("a.bin", "new");
    PublishList();
    const DWORD caller = GetCurrentThreadId();
    const auto record = controller.onStateChanged;
    // Set on the run's thread, read once the wait says it has ended.
    std::shared_ptr<std::atomic<bool>> ended;
    controller.onStateChanged = [&](const UpdateController::Report& report) {
        record(report);
        if (GetCurrentThreadId() != caller && !ended) {
            ended = Fixture::EndThisThreadSlowly(300);
        }
    };
    const struct {
        const char* name;
        RunStart (UpdateController::*start)();
    } runs[] = {{"check", &UpdateController::CheckForUpdates}, {"update", &UpdateController::StartUpdate}};
    for (const auto& run : runs) {
        SCOPED_TRACE(run.name);
        ended = nullptr;
        ASSERT_EQ((controller.*run.start)(), RunStart::Started);
        ASSERT_TRUE(controller.WaitForRuns(20000));
        ASSERT_TRUE(ended) << "the run reported nothing from its own thread";
        EXPECT_TRUE(ended->load()) << "the wait returned while the run's thread was still ending";
    }
    EXPECT_EQ(Fixture::ReadBytes(Local(L"a.bin")), "new");
}

TEST_F(UpdateControllerTest, AControllerThatGoesCancelsItsRunAndWaitsForItsThread)
{
    // The list never arrives whole: the run waits in its request.
    server.Route("files/filelist.json", std::string(64 * 1024, 'x'), 200, Serve::Stall);
    auto doomed = std::make_unique<UpdateController>(config, systemState);
    Hook(*doomed);
    KernelHandle runThread;
    const KernelHandle checking(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    doomed->onStateChanged = [&runThread, &checking](const UpdateController::Report& report) {
        if (report.state == State::Checking) {
            runThread.Reset(OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId()));
            SetEvent(checking.Get());
        }
    };
    ASSERT_EQ(doomed->CheckForUpdates(), UpdateController::RunStart::Started);
    ASSERT_EQ(WaitForSingleObject(checking.Get(), 20000), static_cast<DWORD>(WAIT_OBJECT_0));
    ASSERT_TRUE(runThread);
    doomed.reset();
    EXPECT_EQ(WaitForSingleObject(runThread.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the run outlived its controller";
}

TEST_F(UpdateControllerTest, ARunWithoutAThreadLeavesNothingStuck)
{
    using RunStart = UpdateController::RunStart;
    Offer("a.bin", "new");
    PublishList();
    const auto realStart = controller.startThread;
    controller.startThread = [](std::function<void()>) { return KernelHandle(); };

    EXPECT_EQ(controller.CheckForUpdates(), RunStart::NoThread);
    EXPECT_FALSE(controller.RunActive());
    EXPECT_EQ(controller.state, State::Idle);

    controller.startThread = realStart;
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);

    controller.startThread = [](std::function<void()>) { return KernelHandle(); };
    EXPECT_EQ(controller.StartUpdate(), RunStart::NoThread);
    EXPECT_FALSE(controller.RunActive());
    EXPECT_EQ(controller.state, State::UpdateAvailable) << "not stuck in Downloading";

    controller.startThread = realStart;
    Reset();
    Update();
    EXPECT_EQ(completions, std::vector<bool>{true});
    EXPECT_EQ(Fixture::ReadBytes(Local(L"a.bin")), "new");
}

// ---- Parallel transfers ----------------------------------------------------

// Files on a slow link, so transfers that may overlap do.
TEST_F(UpdateControllerTest, FilesTransferSideBySideAsTheListAllows)
{
    struct Case {
        const char* name;
        int listed;  // the list's "connections"; 0: none
        int files;
        int concurrency;  // the most requests the portal answers at once
    };
    const Case cases[] = {
        {"a list that allows nothing", 0, 3, 1},
        {"one connection", 1, 3, 1},
        {"four connections for six files", 4, 6, 4},
        {"more connections than files", 8, 3, 3},
    };
    for (const Case& c : cases) {
        // A portal of its own, to count its concurrent requests, and a
        // controller of its own, which asks the portal's relay once.
        Fixture::PortalServer portal;
        ASSERT_TRUE(portal.Started()) << portal.Error();
        portal.Route("url.txt", portal.Url("files/"));
        config.portalUrl = portal.Url();
        systemState.GameDir = temp / Utf8ToWide(std::string("game-") + c.name);
        ASSERT_TRUE(CreateDirectoryW(systemState.GameDir.c_str(), nullptr));
        UpdateController run{config, systemState};
        Hook(run);
        entries.clear();
        std::vector<std::string> contents;
        int64_t size = 0;
        for (int i = 0; i < c.files; ++i) {
            // Side by side in one new folder and in folders of their own.
            const std::string path = (i % 2 ? "d" + std::to_string(i) : std::string("shared")) + "/f" +
                                     std::to_string(i) + ".bin";
            contents.push_back(Pattern(30000 + 1000 * static_cast<size_t>(i), static_cast<unsigned>(i)));
            portal.Route("files/" + path, contents.back(), 200, Serve::SlowOneSecond);
            List(path, Md5(contents.back()), static_cast<int64_t>(contents.back().size()));
            size = static_cast<int64_t>(contents.front().size());
        }
        std::string list = "{" +
                           (c.listed ? "\"connections\":" + std::to_string(c.listed) + "," : std::string()) +
                           "\"files\":[";
        for (size_t i = 0; i < entries.size(); ++i) {
            list += (i ? "," : "") + entries[i];
        }
        portal.Route("files/filelist.json", list + "]}");
        Reset();
        run.CheckForUpdates();
        ASSERT_TRUE(run.WaitForRuns(20000)) << c.name;
        ASSERT_EQ(run.state, State::UpdateAvailable) << c.name;
        Reset();
        run.StartUpdate();
        ASSERT_TRUE(run.WaitForRuns(20000)) << c.name;

        ASSERT_EQ(Steps().back(), Step(State::UpToDate, kUpdated))
            << c.name << ": " << testing::PrintToString(run.message);
        EXPECT_EQ(completions, std::vector<bool>{true}) << c.name;
        for (int i = 0; i < c.files; ++i) {
            const std::string path = run.filesToUpdate[static_cast<size_t>(i)].path;
            EXPECT_EQ(Fixture::ReadBytes(systemState.GameDir + L"\\" + Utf8ToWide(path)),
                      contents[static_cast<size_t>(i)])
                << c.name;
            EXPECT_EQ(portal.RequestCount("files/" + path), 1) << c.name << " " << path;
        }
        EXPECT_EQ(portal.MaxConcurrency(), c.concurrency) << c.name;

        // One progress for the whole run: its bytes and files only grow, and
        // it ends with every byte of every file.
        ASSERT_FALSE(progress.empty()) << c.name;
        bool startedAhead = false;
        for (size_t i = 0; i < progress.size(); ++i) {
            const ProgressCall& call = progress[i];
            EXPECT_EQ(call.fileCount, c.files) << c.name;
            EXPECT_EQ(call.total, run.totalBytes) << c.name;
            if (i > 0) {
                EXPECT_GE(call.fileIndex, progress[i - 1].fileIndex) << c.name;
                EXPECT_GE(call.downloaded, progress[i - 1].downloaded) << c.name;
            }
            // The counter counts files started, the bytes those of all of
            // them: started files ahead of the bytes finished show transfers
            // side by side.
            startedAhead |= call.downloaded < (call.fileIndex - 1) * size;
        }
        EXPECT_EQ(progress.back().fileIndex, c.files) << c.name;
        EXPECT_EQ(progress.back().downloaded, run.totalBytes) << c.name;
        EXPECT_EQ(startedAhead, c.concurrency > 1) << c.name;
    }
}

TEST_F(UpdateControllerTest, TheFirstFileToFailForGoodFailsTheRunAndStopsTheOthers)
{
    std::vector<std::string> slow;
    for (int i = 0; i < 3; ++i) {
        const std::string path = "slow" + std::to_string(i) + ".bin";
        slow.push_back(path);
        ASSERT_TRUE(Fixture::WriteBytes(Local(Utf8ToWide(path)), "old " + path));
        Offer(path, Pattern(400000, static_cast<unsigned>(i)), Serve::Slow);
    }
    // Under way beside the others for a second, then wrong; with one attempt
    // per file it fails for good while the others are a third of the way.
    config.retryCount = 1;
    server.Route("files/wrong.bin", Pattern(20000, 9), 200, Serve::SlowOneSecond);
    List("wrong.bin", Md5("what the list promised"), 20000);
    PublishList(true, 4);
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Reset();

    const ULONGLONG started = GetTickCount64();
    Update();
    // The slow files would take 3 s; they stop at their next chunk.
    EXPECT_LT(GetTickCount64() - started, 2500u);
    EXPECT_EQ(Steps().back(), Step(State::Error, L"下载失败: wrong.bin"));
    EXPECT_EQ(controller.message, L"下载失败: wrong.bin");
    EXPECT_EQ(completions, std::vector<bool>{false});
    EXPECT_FALSE(Fixture::Exists(Local(L"wrong.bin")));
    for (size_t i = 0; i < slow.size(); ++i) {
        EXPECT_EQ(server.RequestCount("files/" + slow[i]), 1) << slow[i] << ": no retry once stopped";
        EXPECT_EQ(Fixture::ReadBytes(Local(Utf8ToWide(slow[i]))), "old " + slow[i]);
        // What arrived stays for the next run.
        const std::string part = Fixture::ReadBytes(Local(Utf8ToWide(slow[i] + ".orvpart")));
        EXPECT_GT(part.size(), 0u) << slow[i];
        EXPECT_LT(part.size(), 400000u) << slow[i];
        EXPECT_EQ(part, Pattern(400000, static_cast<unsigned>(i)).substr(0, part.size())) << slow[i];
    }
}

TEST_F(UpdateControllerTest, CancelStopsEveryTransferAndTheNextRunAsksForTheRest)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 4; ++i) {
        paths.push_back("part" + std::to_string(i) + ".bin");
        ASSERT_TRUE(Fixture::WriteBytes(Local(Utf8ToWide(paths.back())), "old content"));
        Offer(paths.back(), Pattern(300000, 10 + static_cast<unsigned>(i)), Serve::Slow);
    }
    PublishList(true, 4);
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    EXPECT_EQ(controller.connections, 4);
    Reset();

    ASSERT_EQ(controller.StartUpdate(), UpdateController::RunStart::Started);
    // Bytes are arriving on every transfer.
    ASSERT_TRUE(WaitUntil([&] {
        for (const std::string& path : paths) {
            WIN32_FILE_ATTRIBUTE_DATA data{};
            if (!GetFileAttributesExW(Local(Utf8ToWide(path + ".orvpart")).c_str(), GetFileExInfoStandard, &data) ||
                data.nFileSizeLow == 0) {
                return false;
            }
        }
        return true;
    }));
    EXPECT_EQ(server.MaxConcurrency(), 4);
    const ULONGLONG cancelled = GetTickCount64();
    controller.Cancel();
    ASSERT_TRUE(controller.WaitForRuns(2000));
    EXPECT_LT(GetTickCount64() - cancelled, 2000u);
    EXPECT_TRUE(completions.empty()) << "a cancelled run reports nothing";

    std::vector<std::string> ranges;
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(Fixture::ReadBytes(Local(Utf8ToWide(paths[i]))), "old content");
        EXPECT_EQ(server.RequestCount("files/" + paths[i]), 1) << paths[i];
        const std::string part = Fixture::ReadBytes(Local(Utf8ToWide(paths[i] + ".orvpart")));
        ASSERT_GT(part.size(), 0u) << paths[i];
        ASSERT_LT(part.size(), 300000u) << paths[i];
        ranges.push_back("/files/" + paths[i] + "\tbytes=" + std::to_string(part.size()) + "-");
    }
    Reset();
    Check();
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));
    for (size_t i = 0; i < paths.size(); ++i) {
        EXPECT_EQ(Fixture::ReadBytes(Local(Utf8ToWide(paths[i]))), Pattern(300000, 10 + static_cast<unsigned>(i)));
    }
    std::vector<std::string> asked = server.Ranges();
    std::sort(asked.begin(), asked.end());
    EXPECT_EQ(asked, ranges);
}

}  // namespace
}  // namespace Orvane

namespace Orvane {
namespace {

// Lines of the log that say `text`.
size_t LogLinesWith(const std::wstring& logPath, const std::string& text)
{
    const std::string log = Fixture::ReadBytes(logPath);
    size_t lines = 0;
    for (size_t at = 0; (at = log.find(text, at)) != std::string::npos; at += text.size()) {
        ++lines;
    }
    return lines;
}

// A portal whose url.txt names a second file server (another process on
// another port) after the first.
class MirrorsTest : public UpdateControllerTest {
protected:
    void SetUp() override
    {
        UpdateControllerTest::SetUp();
        ASSERT_TRUE(second.Started()) << second.Error();
        server.Route("url.txt", server.Url("files/") + "\r\n" + second.Url("copy/") + "\r\n");
    }

    // The same file at both mirrors; the first may serve it otherwise.
    void OfferAtBoth(const std::string& path, const std::string& content, Serve mode = Serve::Normal,
                     int status = 200, const std::string& firstBody = "")
    {
        Offer(path, firstBody.empty() ? content : firstBody, mode, status, static_cast<int64_t>(content.size()));
        entries.back() = "{\"path\":" + JsonString(path) + ",\"hash\":" + JsonString(Md5(content)) +
                         ",\"size\":" + std::to_string(content.size()) + "}";
        second.Route("copy/" + path, content);
    }

    // The list as PublishList writes it.
    std::string ListText() const
    {
        std::string list = "{\"version\":2,\"files\":[";
        for (size_t i = 0; i < entries.size(); ++i) {
            list += (i ? "," : "") + entries[i];
        }
        return list + "]}";
    }

    // The list at both mirrors.
    void PublishAtBoth()
    {
        PublishList();
        second.Route("copy/filelist.json", ListText());
    }

    size_t LogLines(const std::string& text) const { return LogLinesWith(temp / L"test.log", text); }

    Fixture::PortalServer second;
};

TEST_F(MirrorsTest, TheListComesFromTheFirstMirrorThatGivesAUsableOne)
{
    struct Case {
        const char* name;
        int status;
        Serve mode;
        std::string body;  // the first mirror's list; empty: the right one
    };
    const Case cases[] = {
        {"server error", 503, Serve::Normal, ""},
        {"not found", 404, Serve::Normal, ""},
        {"never answers", 200, Serve::Silent, ""},
        {"cut short", 200, Serve::Cut, ""},
        {"not JSON", 200, Serve::Normal, "<html>maintenance</html>"},
    };
    for (const Case& c : cases) {
        entries.clear();
        OfferAtBoth("wow.exe", "new client");
        PublishAtBoth();
        server.Route("files/filelist.json", c.body.empty() ? ListText() : c.body, c.status, c.mode);
        Reset();
        UpdateController fresh{config, systemState};
        Hook(fresh);
        fresh.CheckForUpdates();
        ASSERT_TRUE(fresh.WaitForRuns(20000));
        ASSERT_EQ(fresh.state, State::UpdateAvailable) << c.name << ": " << testing::PrintToString(fresh.message);
        EXPECT_EQ(fresh.UpdateMirrors(), std::vector<std::string>{second.Url("copy/")}) << c.name;
        const size_t skipped = LogLines("Mirror " + server.Url("files/") + " skipped for this run");

        // The update fetches nothing from the mirror skipped for the run.
        const int firstRequests = server.RequestCount("files/wow.exe");
        fresh.StartUpdate();
        ASSERT_TRUE(fresh.WaitForRuns(20000));
        EXPECT_EQ(fresh.state, State::UpToDate) << c.name;
        EXPECT_EQ(Fixture::ReadBytes(Local(L"wow.exe")), "new client") << c.name;
        EXPECT_EQ(server.RequestCount("files/wow.exe"), firstRequests) << c.name;
        EXPECT_GE(skipped, 1u) << c.name;
        ASSERT_TRUE(DeleteFileW(Local(L"wow.exe").c_str()));
    }
    EXPECT_EQ(LogLines("skipped for this run"), std::size(cases));
}

TEST_F(MirrorsTest, AnUnreachableFirstMirrorIsSkippedForTheList)
{
    Fixture::PortalServer gone;
    ASSERT_TRUE(gone.Started()) << gone.Error();
    const std::string dead = gone.Url("files/");
    gone.Stop();
    server.Route("url.txt", dead + "\n" + second.Url("copy/"));
    OfferAtBoth("wow.exe", "new client");
    PublishAtBoth();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable) << testing::PrintToString(controller.message);
    EXPECT_EQ(controller.ResolvedBaseUrl(), dead);
    EXPECT_EQ(controller.UpdateMirrors(), std::vector<std::string>{second.Url("copy/")});
    EXPECT_EQ(LogLines("Mirror " + dead + " skipped for this run: file list request failed: WinHttpSendRequest"), 1u);
}

TEST_F(MirrorsTest, WhenNoMirrorGivesAListTheLastOnesFailureIsShown)
{
    struct Case {
        const char* name;
        int firstStatus;
        int secondStatus;
        std::string secondList;
        std::wstring text;
        bool relayAskedAgain;  // nothing arrived: the relay may have moved them
    };
    const Case cases[] = {
        {"both fail", 500, 404, "[]", kListFailed, true},
        {"the last one unreadable", 500, 200, "42", kWrongShape, false},
    };
    int relayRequests = 0;
    for (const Case& c : cases) {
        server.Route("files/filelist.json", "[]", c.firstStatus);
        second.Route("copy/filelist.json", c.secondList, c.secondStatus);
        Reset();
        UpdateController fresh{config, systemState};
        Hook(fresh);
        for (int check = 0; check < 2; ++check) {
            fresh.CheckForUpdates();
            ASSERT_TRUE(fresh.WaitForRuns(20000));
            EXPECT_EQ(fresh.state, State::Error) << c.name;
            EXPECT_EQ(fresh.message, c.text) << c.name;
        }
        relayRequests += c.relayAskedAgain ? 2 : 1;
        EXPECT_EQ(server.RequestCount("url.txt"), relayRequests) << c.name;
    }
}

TEST_F(MirrorsTest, AFailedAttemptTakesTheFileToTheNextMirrorAndTheRestStayAtTheFirst)
{
    const std::string good = Pattern(60000, 11);
    struct Case {
        const char* name;
        int status;
        Serve mode;
        std::string firstBody;  // empty: the right bytes
        const char* range;      // what the second mirror is asked for; null: the whole file
    };
    const Case cases[] = {
        {"a wrong copy", 200, Serve::Normal, Pattern(60000, 12), nullptr},
        {"not found", 404, Serve::Normal, "", nullptr},
        {"server error", 500, Serve::Normal, "", nullptr},
        {"never answers", 200, Serve::Silent, "", nullptr},
        // The bytes so far are kept; the next mirror is asked for the rest.
        {"cut short", 200, Serve::Cut, "", "bytes=30000-"},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const std::string dir = "m" + std::to_string(i) + "/";
        entries.clear();
        OfferAtBoth(dir + "a.bin", "first file");
        OfferAtBoth(dir + "b.bin", good, c.mode, c.status, c.firstBody);
        OfferAtBoth(dir + "c.bin", "last file");
        PublishAtBoth();
        Reset();
        Check();
        ASSERT_EQ(controller.state, State::UpdateAvailable) << c.name;
        const size_t rangesBefore = second.Ranges().size();
        Update();
        EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated)) << c.name;
        const std::wstring local = Local(L"m" + std::to_wstring(i));
        EXPECT_EQ(Fixture::ReadBytes(local + L"\\b.bin"), good) << c.name;
        EXPECT_EQ(Fixture::FilesBelow(local), (std::set<std::wstring>{L"a.bin", L"b.bin", L"c.bin"})) << c.name;
        // One attempt at each mirror, at once; the files around it from the first.
        EXPECT_EQ(server.RequestCount("files/" + dir + "b.bin"), 1) << c.name;
        EXPECT_EQ(second.RequestCount("copy/" + dir + "b.bin"), 1) << c.name;
        EXPECT_TRUE(pauses.empty()) << c.name;
        for (const char* name : {"a.bin", "c.bin"}) {
            EXPECT_EQ(server.RequestCount("files/" + dir + name), 1) << c.name << " " << name;
            EXPECT_EQ(second.RequestCount("copy/" + dir + name), 0) << c.name << " " << name;
        }
        const std::vector<std::string> ranges = second.Ranges();
        if (c.range != nullptr) {
            ASSERT_EQ(ranges.size(), rangesBefore + 1) << c.name;
            EXPECT_EQ(ranges.back(), "/copy/" + dir + "b.bin\t" + c.range) << c.name;
        } else {
            EXPECT_EQ(ranges.size(), rangesBefore) << c.name;
        }
        EXPECT_EQ(LogLines("Mirror " + server.Url("files/") + " skipped for " + dir + "b.bin"), 1u) << c.name;
    }
    EXPECT_EQ(LogLines("it is asked last"), 0u) << "a mirror that answers is never moved back";
}

TEST_F(MirrorsTest, TheAttemptsOfAFileStayItsOwnAcrossMirrors)
{
    // Both mirrors serve a wrong copy: the file gets RetryCount attempts in
    // all, alternating, the same one again only after a pause.
    config.retryCount = 3;
    OfferAtBoth("bad.bin", "expected");
    second.Route("copy/bad.bin", "delivered");
    server.Route("files/bad.bin", "delivered");
    PublishAtBoth();
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable);
    Reset();
    Update();
    EXPECT_EQ(Steps().back(), Step(State::Error, L"下载失败: bad.bin"));
    EXPECT_EQ(server.RequestCount("files/bad.bin"), 2);
    EXPECT_EQ(second.RequestCount("copy/bad.bin"), 1);
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(Fixture::FilesBelow(gameDir), std::set<std::wstring>{});
}

TEST_F(MirrorsTest, AFirstMirrorThatDiesCostsOneRefusedConnectionPerRun)
{
    // The first mirror serves the check, then goes down before the update.
    auto first = std::make_unique<Fixture::PortalServer>();
    ASSERT_TRUE(first->Started()) << first->Error();
    const std::string dead = first->Url("files/");
    server.Route("url.txt", dead + "\n" + second.Url("copy/") + "\n");
    const char* names[] = {"a.bin", "b.bin", "c.bin", "d.bin"};
    for (const char* name : names) {
        OfferAtBoth(name, std::string("content of ") + name);
    }
    PublishAtBoth();
    first->Route("files/filelist.json", ListText());
    Check();
    ASSERT_EQ(controller.state, State::UpdateAvailable) << testing::PrintToString(controller.message);
    ASSERT_EQ(controller.UpdateMirrors(), (std::vector<std::string>{dead, second.Url("copy/")}));
    first.reset();

    Reset();
    Update();
    EXPECT_EQ(Steps().back(), Step(State::UpToDate, kUpdated));
    for (const char* name : names) {
        EXPECT_EQ(Fixture::ReadBytes(Local(Utf8ToWide(name))), std::string("content of ") + name) << name;
        EXPECT_EQ(second.RequestCount(std::string("copy/") + name), 1) << name;
    }
    EXPECT_TRUE(pauses.empty());
    EXPECT_EQ(LogLines("Mirror " + dead + " cannot be reached"), 1u);
    EXPECT_EQ(LogLines("Download failed: "), 1u) << "one failed connection for the whole run";
}

TEST_F(UpdateControllerTest, FurtherRelaysAreAskedWhenTheOneBeforeGivesNothingUsable)
{
    Fixture::PortalServer relay2;
    Fixture::PortalServer gone;
    ASSERT_TRUE(relay2.Started()) << relay2.Error();
    ASSERT_TRUE(gone.Started()) << gone.Error();
    const std::string deadRelay = gone.Url();
    gone.Stop();
    Offer("wow.exe", "new client");
    PublishList();
    relay2.Route("url.txt", server.Url("files/"));
    const std::string noList = server.Url("nothing/");

    struct Case {
        const char* name;
        std::vector<std::string> relays;  // PortalUrl, PortalUrl2, ...
        std::string firstAnswer;          // the first relay's url.txt (when it is ours)
        int firstStatus;
        bool listed;
        std::wstring text;  // with !listed
    };
    const Case cases[] = {
        {"the first relay unreachable", {deadRelay, relay2.Url()}, "", 200, true, L""},
        {"the first relay failing", {server.Url(), relay2.Url()}, "x", 502, true, L""},
        {"the first relay empty", {server.Url(), relay2.Url()}, " \r\n", 200, true, L""},
        {"no mirror of the first relay gives a list", {server.Url(), relay2.Url()}, noList, 200, true, L""},
        {"a relay later in line is asked too", {deadRelay, server.Url(), relay2.Url()}, " ", 200, true, L""},
        {"every relay unreachable", {deadRelay, deadRelay}, "", 200, false, kRelayUnreachable},
        {"a list that failed says more than a relay that did", {server.Url(), deadRelay}, noList, 200, false,
         kListFailed},
    };
    for (const Case& c : cases) {
        server.Route("url.txt", c.firstAnswer, c.firstStatus);
        config.portalUrl = c.relays[0];
        config.fallbackPortalUrls.assign(c.relays.begin() + 1, c.relays.end());
        Reset();
        UpdateController fresh{config, systemState};
        Hook(fresh);
        fresh.CheckForUpdates();
        ASSERT_TRUE(fresh.WaitForRuns(30000));
        if (c.listed) {
            EXPECT_EQ(fresh.state, State::UpdateAvailable) << c.name << ": " << testing::PrintToString(fresh.message);
            EXPECT_EQ(fresh.ResolvedBaseUrl(), server.Url("files/")) << c.name;
        } else {
            EXPECT_EQ(Steps().back(), Step(State::Error, c.text)) << c.name;
        }
    }
}

}  // namespace
}  // namespace Orvane
