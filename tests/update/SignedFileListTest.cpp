#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <set>
#include <utility>
#include <vector>

#include "PortalServer.h"
#include "SignedLists.h"
#include "TestSupport.h"
#include "base/Config.h"
#include "base/Handles.h"
#include "base/Logger.h"
#include "diagnostics/FileDigest.h"
#include "diagnostics/SystemState.h"
#include "update/UpdateController.h"

namespace Orvane {

void PrintTo(UpdateController::State state, std::ostream* out);  // UpdateControllerTest.cpp

namespace {

using Fixture::Serve;
using Fixture::SignedListFile;
using State = UpdateController::State;
using Step = std::pair<State, std::wstring>;

const wchar_t kConnecting[] = L"正在连接更新服务器";
const wchar_t kChecking[] = L"正在检查更新";
const wchar_t kTwoFiles[] = L"需要更新 2 个文件";
const wchar_t kSignatureInvalid[] = L"文件列表签名无效";
const wchar_t kVersionTooOld[] = L"文件列表版本过旧";

const char kClient[] = "wow.exe";
const char kArchive[] = "Data/zhCN/patch-zhCN-2.MPQ";

// A controller with the test key against the local portal, which offers the
// two files the signed test lists name.
class SignedFileListTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.Started()) << server.Error();
        ASSERT_TRUE(CreateDirectoryW(gameDir.c_str(), nullptr));
        ASSERT_TRUE(Logger::Instance().OpenFile(temp / L"test.log"));
        config.portalUrl = server.Url();
        config.fileListName = "filelist.json";
        config.retryCount = 2;
        systemState.GameDir = gameDir;
        controller.timeouts.resolveMs = 2000;
        controller.timeouts.connectMs = 2000;
        controller.timeouts.sendMs = 2000;
        controller.timeouts.receiveMs = 2000;
        controller.fileListPublicKey = SignedListFile("pub.pem");
        controller.onStateChanged = [this](const UpdateController::Report& report) {
            steps.emplace_back(report.state, report.text);
        };
        server.Route("url.txt", server.Url("files/"));
        server.Route(std::string("files/") + kClient, SignedListFile(std::string("payload/") + kClient));
        server.Route(std::string("files/") + kArchive, SignedListFile(std::string("payload/") + kArchive));
    }

    void TearDown() override
    {
        EXPECT_TRUE(controller.WaitForRuns(30000));
        Logger::Instance().Close();
    }

    // Serves `list` as the file list and `signature` beside it with `status`
    // (0: no route at all, so the portal answers 404).
    void Publish(const std::string& list, const std::string& signature, int status = 200)
    {
        server.Route("files/" + config.fileListName, list);
        if (status != 0) {
            server.Route("files/" + config.fileListName + ".sig", signature, status);
        }
    }

    // Serves a list of the fixtures with its own signature.
    void PublishSigned(const std::string& name)
    {
        Publish(SignedListFile(name), SignedListFile(name + ".sig"));
    }

    std::vector<Step> Check()
    {
        steps.clear();
        controller.CheckForUpdates();
        EXPECT_TRUE(controller.WaitForRuns(20000));
        return steps;
    }

    int SignatureRequests() const
    {
        int count = 0;
        for (const std::string& request : server.Requests()) {
            count += request.size() > 4 && request.compare(request.size() - 4, 4, ".sig") == 0 ? 1 : 0;
        }
        return count;
    }

    int PayloadRequests() const
    {
        return server.RequestCount(std::string("files/") + kClient) +
               server.RequestCount(std::string("files/") + kArchive) + server.RequestCount("files/evil.dll");
    }

    std::vector<Step> Available() const
    {
        return {{State::Connecting, kConnecting},
                {State::Checking, kChecking},
                {State::Verifying, L"正在校验本地文件"},
                {State::UpdateAvailable, kTwoFiles}};
    }

    std::vector<Step> Refused(const wchar_t* text) const
    {
        return {{State::Connecting, kConnecting}, {State::Checking, kChecking}, {State::Error, text}};
    }

    Fixture::PortalServer server;
    Fixture::TempDir temp;
    std::wstring gameDir = temp / L"game";
    std::wstring iniPath = temp / L"setup.ini";
    Config config;
    SystemState systemState{iniPath};
    UpdateController controller{config, systemState};
    std::vector<Step> steps;
};

TEST_F(SignedFileListTest, SignedListIsAcceptedAndTheUpdateRuns)
{
    PublishSigned("v2.json");
    EXPECT_EQ(Check(), Available());
    EXPECT_EQ(server.RequestCount("files/filelist.json.sig"), 1);
    EXPECT_EQ(systemState.LoadFileListVersion(), 2);
    EXPECT_EQ(Fixture::ReadBytes(iniPath).substr(0, 2), "\xFF\xFE") << "setup.ini is created as UTF-16";

    steps.clear();
    controller.StartUpdate();
    ASSERT_TRUE(controller.WaitForRuns(20000));
    EXPECT_EQ(steps.back(), Step(State::UpToDate, L"更新完成"));
    EXPECT_EQ(Fixture::ReadBytes(gameDir + L"\\wow.exe"), SignedListFile("payload/wow.exe"));
    EXPECT_EQ(Fixture::ReadBytes(gameDir + L"\\Data\\zhCN\\patch-zhCN-2.MPQ"),
              SignedListFile("payload/Data/zhCN/patch-zhCN-2.MPQ"));

    // The signature is asked for on every check, not once.
    EXPECT_EQ(Check().back(), Step(State::UpToDate, L"游戏已是最新版本"));
    EXPECT_EQ(server.RequestCount("files/filelist.json.sig"), 2);
}

TEST_F(SignedFileListTest, EveryFormOfValidSignatureIsAccepted)
{
    struct Case {
        const char* name;
        const char* key;
        const char* list;
        const char* signature;
        const char* listName;
    };
    const Case cases[] = {
        {"PEM key", "pub.pem", "v2.json", "v2.json.sig", "filelist.json"},
        {"DER key", "pub.der", "v2.json", "v2.json.sig", "filelist.json"},
        {"r or s shorter than 32 bytes", "pub.pem", "v2.json", "v2.json.short.sig", "filelist.json"},
        {"another list name, the list's own", "pub.pem", "beta-name.json", "beta-name.json.sig",
         "filelist-beta.json"},
    };
    size_t r = 0;
    size_t s = 0;
    ASSERT_TRUE(Fixture::SignatureValueLengths(SignedListFile("v2.json.short.sig"), r, s));
    ASSERT_LT(std::min(r, s), 32u);
    for (const Case& c : cases) {
        controller.fileListPublicKey = SignedListFile(c.key);
        config.fileListName = c.listName;
        Publish(SignedListFile(c.list), SignedListFile(c.signature));
        const std::string signaturePath = "files/" + config.fileListName + ".sig";
        const int before = server.RequestCount(signaturePath);
        EXPECT_EQ(Check(), Available()) << c.name;
        EXPECT_EQ(server.RequestCount(signaturePath), before + 1) << c.name;
        config.fileListName = "filelist.json";
    }
}

TEST_F(SignedFileListTest, ListsWithoutAValidSignatureChangeNothing)
{
    const std::string list = SignedListFile("v2.json");
    const std::string signature = SignedListFile("v2.json.sig");
    std::string raisedVersion = list;
    raisedVersion[raisedVersion.find("\"version\": 2") + 11] = '9';
    std::string otherDigest = list;
    const size_t hashAt = otherDigest.find("\"hash\": \"") + 9;
    otherDigest[hashAt] = otherDigest[hashAt] == '0' ? '1' : '0';

    // An attacker's list with right digests for a file of his own.
    const std::string evil = "MZ planted";
    server.Route("files/evil.dll", evil);
    const std::wstring scratch = temp / L"evil";
    ASSERT_TRUE(Fixture::WriteBytes(scratch, evil));
    const std::string forged = R"({"version": 99, "files": [{"path": "evil.dll", "hash": ")" +
                               ComputeFileMd5(scratch) + R"(", "size": 10}]})";

    struct Case {
        const char* name;
        std::string list;
        std::string signature;
        int status;
    };
    const Case cases[] = {
        {"forged list, no signature", forged, "", 0},
        {"forged list, signature of the real list", forged, signature, 200},
        {"real list, no signature", list, "", 0},
        {"signature not found", list, signature, 404},
        {"signature server error", list, signature, 500},
        {"empty signature", list, "", 200},
        {"signature that is not DER", list, "not a signature", 200},
        {"truncated signature", list, signature.substr(0, signature.size() - 2), 200},
        {"signed by another key", list, SignedListFile("v2.json.other.sig"), 200},
        {"signature of another list", list, SignedListFile("v1.json.sig"), 200},
        {"P-384 signature", list, SignedListFile("v2.json.p384.sig"), 200},
        {"version raised after signing", raisedVersion, signature, 200},
        {"digest changed after signing", otherDigest, signature, 200},
    };
    int signatureRequests = 0;
    for (const Case& c : cases) {
        server.Route("files/filelist.json.sig", "", 404);  // the previous case's signature goes
        Publish(c.list, c.signature, c.status);
        EXPECT_EQ(Check(), Refused(kSignatureInvalid)) << c.name;
        EXPECT_EQ(controller.message, kSignatureInvalid) << c.name;
        EXPECT_EQ(SignatureRequests(), ++signatureRequests) << c.name;
        EXPECT_TRUE(controller.filesToUpdate.empty()) << c.name;

        // Nothing can be downloaded, nothing was written.
        steps.clear();
        controller.StartUpdate();
        EXPECT_TRUE(controller.WaitForRuns(20000));
        EXPECT_TRUE(steps.empty()) << c.name;
        EXPECT_EQ(PayloadRequests(), 0) << c.name;
        EXPECT_EQ(Fixture::FilesBelow(gameDir), std::set<std::wstring>{}) << c.name;
        EXPECT_FALSE(Fixture::Exists(iniPath)) << c.name << ": no version is stored";
    }
}

TEST_F(SignedFileListTest, OlderVersionsAreRefusedAndTheHighestIsKept)
{
    struct Stage {
        const char* list;
        bool accepted;
        int64_t stored;  // FileListVersion afterwards
    };
    const Stage sequence[] = {
        {"v2.json", true, 2},
        {"v1.json", false, 2},
        {"unversioned.json", false, 2},  // counts as 0
        {"text-version.json", false, 2},  // "9" is text, so 0
        {"v2.json", true, 2},             // the same version again
        {"v3.json", true, 3},
        {"v2.json", false, 3},
    };
    for (const Stage& step : sequence) {
        PublishSigned(step.list);
        const auto result = Check();
        EXPECT_EQ(result, step.accepted ? Available() : Refused(kVersionTooOld)) << step.list;
        EXPECT_EQ(controller.message, step.accepted ? L"" : kVersionTooOld) << step.list;
        EXPECT_EQ(SystemState(iniPath).LoadFileListVersion(), step.stored) << step.list;
        controller.message.clear();
    }
    // A refused check keeps the last comparison, as other failed checks do.
    EXPECT_EQ(controller.filesToUpdate.size(), 2u);

    // Saving the diagnosis record leaves the version in place.
    systemState.OSName = L"Windows 10";
    ASSERT_TRUE(systemState.Save());
    PublishSigned("v2.json");
    EXPECT_EQ(Check(), Refused(kVersionTooOld));
    EXPECT_EQ(SystemState(iniPath).LoadFileListVersion(), 3);
    EXPECT_EQ(PayloadRequests(), 0);
}

TEST_F(SignedFileListTest, AFreshInstallRefusesListsBelowTheBuildsMinimum)
{
    controller.minimumListVersion = 2;
    for (const char* list : {"v1.json", "unversioned.json"}) {
        PublishSigned(list);
        EXPECT_EQ(Check(), Refused(kVersionTooOld)) << list;
    }
    EXPECT_FALSE(Fixture::Exists(iniPath));
    PublishSigned("v2.json");
    EXPECT_EQ(Check(), Available());
    PublishSigned("v3.json");
    EXPECT_EQ(Check(), Available());
    EXPECT_EQ(SystemState(iniPath).LoadFileListVersion(), 3);
}

// The digests match the files; only the signed sizes do not.
TEST_F(SignedFileListTest, AFileOfAnotherSizeThanSignedIsNeverWritten)
{
    ASSERT_TRUE(Fixture::WriteBytes(gameDir + L"\\wow.exe", "old client"));
    PublishSigned("wrong-size.json");
    ASSERT_EQ(Check(), Available());
    steps.clear();
    controller.StartUpdate();
    ASSERT_TRUE(controller.WaitForRuns(20000));
    EXPECT_EQ(steps.back().first, State::Error);
    EXPECT_EQ(Fixture::ReadBytes(gameDir + L"\\wow.exe"), "old client");
    EXPECT_FALSE(Fixture::Exists(gameDir + L"\\Data\\zhCN\\patch-zhCN-2.MPQ"));
    // The list's first file (the archive) fails every attempt; the run stops there.
    EXPECT_EQ(server.RequestCount(std::string("files/") + kArchive), config.retryCount);
    EXPECT_EQ(server.RequestCount(std::string("files/") + kClient), 0);

    // Unsigned, the size only bounds the body and the digest decides.
    controller.fileListPublicKey.clear();
    ASSERT_EQ(Check(), Available());
    controller.StartUpdate();
    ASSERT_TRUE(controller.WaitForRuns(20000));
    EXPECT_EQ(Fixture::ReadBytes(gameDir + L"\\wow.exe"), SignedListFile("payload/wow.exe"));
}

// Signed by the right key, yet binding too little: the signature then vouches
// for nothing a download can be held to, or for a list meant to be served
// under another name.
TEST_F(SignedFileListTest, SignedListsThatBindTooLittleAreRefused)
{
    const char* lists[] = {
        "no-sha256.json",      // files bound by MD5 alone
        "sha256-upper.json",   // digests must be lower-case
        "sha256-short.json",   // 63 digits
        "sha256-not-hex.json",
        "unnamed.json",        // could be served under any name
        "beta-name.json",      // named filelist-beta.json, served as filelist.json
        "array.json",          // a bare array cannot name itself
    };
    for (const char* list : lists) {
        PublishSigned(list);
        EXPECT_EQ(Check(), Refused(kSignatureInvalid)) << list;
        EXPECT_EQ(controller.message, kSignatureInvalid) << list;
        EXPECT_TRUE(controller.filesToUpdate.empty()) << list;
        EXPECT_FALSE(Fixture::Exists(iniPath)) << list << ": no version is stored";
    }
    EXPECT_EQ(PayloadRequests(), 0);

    // Without a key neither "name" nor "sha256" matters.
    controller.fileListPublicKey.clear();
    for (const char* list : lists) {
        PublishSigned(list);
        EXPECT_EQ(Check(), Available()) << list;
    }
}

// The signed list names wow.exe by the MD5, size and SHA-256 of one message
// of a published MD5 collision pair; the portal serves the other.
TEST_F(SignedFileListTest, AnMd5TwinOfASignedFileIsNeverWritten)
{
    const std::string listed = SignedListFile("collision/listed.bin");
    const std::string twin = SignedListFile("collision/twin.bin");
    // The fixture proves itself: the same size and MD5, another SHA-256.
    ASSERT_EQ(listed.size(), twin.size());
    ASSERT_NE(listed, twin);
    const ContentDigests listedDigests = ComputeFileDigests(Fixture::SignedListPath("collision/listed.bin"), true);
    const ContentDigests twinDigests = ComputeFileDigests(Fixture::SignedListPath("collision/twin.bin"), true);
    ASSERT_EQ(listedDigests.md5, twinDigests.md5);
    ASSERT_NE(listedDigests.sha256, twinDigests.sha256);

    const std::wstring client = gameDir + L"\\wow.exe";
    ASSERT_TRUE(Fixture::WriteBytes(client, "old client"));
    PublishSigned("collision.json");
    server.Route(std::string("files/") + kClient, twin);
    const std::vector<Step> oneFile = {{State::Connecting, kConnecting},
                                       {State::Checking, kChecking},
                                       {State::Verifying, L"正在校验本地文件"},
                                       {State::UpdateAvailable, L"需要更新 1 个文件"}};
    ASSERT_EQ(Check(), oneFile);
    steps.clear();
    controller.StartUpdate();
    ASSERT_TRUE(controller.WaitForRuns(20000));
    EXPECT_EQ(steps.back(), Step(State::Error, L"下载失败: wow.exe"));
    EXPECT_EQ(server.RequestCount(std::string("files/") + kClient), config.retryCount);
    EXPECT_EQ(Fixture::ReadBytes(client), "old client");
    EXPECT_EQ(Fixture::FilesBelow(gameDir), std::set<std::wstring>{L"wow.exe"}) << "no partial file is kept";

    // The file the list names is taken.
    server.Route(std::string("files/") + kClient, listed);
    ASSERT_EQ(Check(), oneFile);
    steps.clear();
    controller.StartUpdate();
    ASSERT_TRUE(controller.WaitForRuns(20000));
    EXPECT_EQ(steps.back(), Step(State::UpToDate, L"更新完成"));
    EXPECT_EQ(Fixture::ReadBytes(client), listed);
}

// A newer list is taken only once setup.ini holds its version: else the next
// start would take the older one again.
TEST_F(SignedFileListTest, AVersionThatCannotBeStoredFailsTheCheck)
{
    const wchar_t kVersionNotStored[] = L"无法将文件列表版本保存到 setup.ini";
    // (A read-only file is no case here: Wine run as root writes it anyway.)
    KernelHandle holder;
    struct Case {
        const char* name;
        std::function<bool()> makeUnwritable;
        std::function<void()> restore;
    };
    const Case cases[] = {
        {"setup.ini held open without sharing",
         [this, &holder] {
             if (!Fixture::WriteBytes(iniPath, "[Update]\r\nFileListVersion=1\r\n")) {
                 return false;
             }
             holder.Reset(CreateFileW(iniPath.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
             return static_cast<bool>(holder);
         },
         [this, &holder] {
             holder.Reset();
             DeleteFileW(iniPath.c_str());
         }},
        {"setup.ini is a folder", [this] { return CreateDirectoryW(iniPath.c_str(), nullptr) != FALSE; },
         [this] { RemoveDirectoryW(iniPath.c_str()); }},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(c.makeUnwritable()) << c.name;
        PublishSigned("v2.json");
        // Refused before any local file is compared.
        EXPECT_EQ(Check(), Refused(kVersionNotStored)) << c.name;
        EXPECT_EQ(controller.message, kVersionNotStored) << c.name;
        EXPECT_EQ(PayloadRequests(), 0) << c.name;
        c.restore();
    }
    // Once it can be written, the same list is taken.
    EXPECT_EQ(Check(), Available());
    EXPECT_EQ(SystemState(iniPath).LoadFileListVersion(), 2);
}

TEST_F(SignedFileListTest, UnnumberedListsAreAcceptedWhileNoNumberedOneWas)
{
    for (const char* list : {"unversioned.json", "text-version.json"}) {
        PublishSigned(list);
        EXPECT_EQ(Check(), Available()) << list;
    }
    // Version 0 is no news: setup.ini is not even created.
    EXPECT_FALSE(Fixture::Exists(iniPath));
}

TEST_F(SignedFileListTest, WithoutAKeyListsAreTakenUnsignedAsBefore)
{
    controller.fileListPublicKey.clear();
    PublishSigned("v3.json");
    EXPECT_EQ(Check(), Available());
    // An older list, and one whose signature would not verify: both taken.
    PublishSigned("v1.json");
    EXPECT_EQ(Check(), Available());
    Publish(SignedListFile("v2.json"), "garbage");
    EXPECT_EQ(Check(), Available());

    EXPECT_EQ(SignatureRequests(), 0) << "no signature is asked for";
    EXPECT_EQ(server.RequestCount("files/filelist.json"), 3);
    EXPECT_FALSE(Fixture::Exists(iniPath)) << "no version is stored";
}

}  // namespace
}  // namespace Orvane
