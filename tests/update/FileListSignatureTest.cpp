#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>

#include "SignedLists.h"
#include "TestSupport.h"
#include "diagnostics/SystemState.h"
#include "update/FileListSignature.h"
#include "update/UpdateController.h"

namespace Orvane {
namespace {

using Fixture::SignedListFile;

// A DER ECDSA-Sig-Value from big-endian r and s as given (no normalising).
std::string DerSignature(const std::string& r, const std::string& s)
{
    const std::string body = "\x02" + std::string(1, static_cast<char>(r.size())) + r + "\x02" +
                             std::string(1, static_cast<char>(s.size())) + s;
    return "\x30" + std::string(1, static_cast<char>(body.size())) + body;
}

std::string WithCrLf(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    return out;
}

TEST(FileListSignatureTest, VerifiesOnlyTheRightKeyListAndSignature)
{
    const std::string list = SignedListFile("v2.json");
    const std::string signature = SignedListFile("v2.json.sig");
    const std::string pem = SignedListFile("pub.pem");
    const std::string shortSignature = SignedListFile("v2.json.short.sig");
    size_t r = 0;
    size_t s = 0;
    ASSERT_TRUE(Fixture::SignatureValueLengths(shortSignature, r, s));
    ASSERT_LT(std::min(r, s), 32u) << "the fixture must have an r or s shorter than 32 bytes";

    std::string changedList = list;
    changedList[changedList.find("\"version\": 2") + 11] = '3';
    std::string changedSignature = signature;
    changedSignature[changedSignature.size() - 5] ^= 0x01;

    struct Case {
        const char* name;
        std::string key;
        std::string data;
        std::string signature;
        bool valid;
    };
    const Case cases[] = {
        {"PEM key", pem, list, signature, true},
        {"DER key", SignedListFile("pub.der"), list, signature, true},
        {"PEM key with CRLF line ends", WithCrLf(pem), list, signature, true},
        {"r or s shorter than 32 bytes", pem, list, shortSignature, true},
        {"list changed after signing", pem, changedList, signature, false},
        {"signature changed", pem, list, changedSignature, false},
        {"signature of another list", pem, list, SignedListFile("v1.json.sig"), false},
        {"empty list", pem, "", signature, false},
        {"wrong key", SignedListFile("other-pub.pem"), list, signature, false},
        {"signed by another key", pem, list, SignedListFile("v2.json.other.sig"), false},
        {"P-384 key and signature", SignedListFile("p384-pub.pem"), list, SignedListFile("v2.json.p384.sig"),
         false},
        {"private key given as key", SignedListFile("key.pem"), list, signature, false},
        {"garbage key", "this is not a key", list, signature, false},
        {"PEM armour around garbage", "-----BEGIN PUBLIC KEY-----\n!!!!\n-----END PUBLIC KEY-----\n", list,
         signature, false},
        {"empty key", "", list, signature, false},
        {"empty signature", pem, list, "", false},
        {"truncated signature", pem, list, signature.substr(0, signature.size() - 1), false},
        {"half a signature", pem, list, signature.substr(0, signature.size() / 2), false},
        {"raw r and s instead of DER", pem, list, std::string(64, '\x30'), false},
        {"r of 33 significant bytes", pem, list, DerSignature(std::string(33, '\x01'), std::string(32, '\x01')),
         false},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_EQ(VerifyFileListSignature(c.key, c.data, c.signature, &reason), c.valid) << c.name;
        EXPECT_EQ(reason.empty(), c.valid) << c.name << ": " << reason;
    }
}

// The r and s contents (with any sign padding) of a DER signature whose
// lengths all have the short form, as openssl writes P-256 signatures.
bool SplitShortFormSignature(const std::string& der, std::string& r, std::string& s)
{
    if (der.size() < 8 || der[0] != 0x30 || der[2] != 0x02) {
        return false;
    }
    const size_t rLength = static_cast<unsigned char>(der[3]);
    const size_t sAt = 4 + rLength;
    if (sAt + 2 > der.size() || der[sAt] != 0x02) {
        return false;
    }
    r = der.substr(4, rLength);
    s = der.substr(sAt + 2, static_cast<unsigned char>(der[sAt + 1]));
    return sAt + 2 + s.size() == der.size();
}

// The same r and s spelled in ways BER allows and DER does not: CryptoAPI's
// decoder reads every one of them as the original signature.
TEST(FileListSignatureTest, OnlyTheStrictDerSpellingOfASignatureIsAccepted)
{
    const std::string list = SignedListFile("v2.json");
    const std::string pem = SignedListFile("pub.pem");
    const std::string signature = SignedListFile("v2.json.sig");
    std::string r;
    std::string s;
    ASSERT_TRUE(SplitShortFormSignature(signature, r, s));
    ASSERT_EQ(DerSignature(r, s), signature);

    const auto byte = [](size_t value) { return std::string(1, static_cast<char>(value)); };
    const std::string rField = "\x02" + byte(r.size()) + r;
    const std::string sField = "\x02" + byte(s.size()) + s;
    const std::string body = rField + sField;
    struct Case {
        const char* name;
        std::string signature;
    };
    const Case cases[] = {
        {"sequence length in long form", "\x30\x81" + byte(body.size()) + body},
        {"sequence length in long form with a leading zero", "\x30\x82" + byte(0) + byte(body.size()) + body},
        {"indefinite sequence length", "\x30\x80" + body + std::string(2, '\0')},
        {"r length in long form", "\x30" + byte(body.size() + 1) + "\x02\x81" + byte(r.size()) + r + sField},
        {"extra leading zero on r", DerSignature(std::string(1, '\0') + r, s)},
        {"extra leading zero on s", DerSignature(r, std::string(1, '\0') + s)},
        {"one trailing zero byte", signature + std::string(1, '\0')},
        {"trailing garbage", signature + "\x05\x00"},
    };
    for (const Case& c : cases) {
        std::string reason;
        EXPECT_FALSE(VerifyFileListSignature(pem, list, c.signature, &reason)) << c.name;
        EXPECT_EQ(reason, "signature is not in strict DER") << c.name;
    }
    EXPECT_TRUE(VerifyFileListSignature(pem, list, signature));
}

TEST(FileListSignatureTest, KeyIsReadFromTheModulesResources)
{
    const std::string key = SignedListFile("pub.pem");
    // The build embeds the test key in this program as Orvane.exe's would be.
    EXPECT_EQ(ReadFileListKeyResource(GetModuleHandleW(nullptr)), key);
    EXPECT_EQ(LoadEmbeddedFileListKey(), key);
    EXPECT_EQ(ReadFileListKeyResource(GetModuleHandleW(L"kernel32.dll")), "");
    EXPECT_EQ(UpdateController::Instance().fileListPublicKey, key);
}

// [Update] FileListVersion in setup.ini, next to the diagnosis record.
class FileListVersionStoreTest : public testing::Test {
protected:
    Fixture::TempDir temp;
    std::wstring iniPath = temp / L"setup.ini";
};

TEST_F(FileListVersionStoreTest, NewFileIsUtf16AndTheVersionRoundTrips)
{
    const SystemState state(iniPath);
    EXPECT_EQ(state.LoadFileListVersion(), 0);
    EXPECT_FALSE(Fixture::Exists(iniPath)) << "reading creates nothing";

    ASSERT_TRUE(state.SaveFileListVersion(9000000000LL));  // beyond 32 bits
    const std::string bytes = Fixture::ReadBytes(iniPath);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE") << "created as UTF-16LE with a BOM";
    EXPECT_EQ(state.LoadFileListVersion(), 9000000000LL);
    EXPECT_EQ(SystemState(iniPath).LoadFileListVersion(), 9000000000LL);
}

TEST_F(FileListVersionStoreTest, SaveAndLoadOfTheDiagnosisKeepIt)
{
    SystemState state(iniPath);
    ASSERT_TRUE(state.SaveFileListVersion(7));
    state.GameDir = temp.Path();
    state.HasWowExe = true;
    state.SetupComplete = true;
    state.LauncherPath = L"C:\\游戏\\Kaimor登录器.exe";
    ASSERT_TRUE(state.Save());
    EXPECT_EQ(state.LoadFileListVersion(), 7);

    SystemState reread(iniPath);
    reread.Load();
    EXPECT_EQ(reread.LauncherPath, L"C:\\游戏\\Kaimor登录器.exe");
    ASSERT_TRUE(reread.Save());
    EXPECT_EQ(reread.LoadFileListVersion(), 7);

    // And the other way round: storing the version keeps the record.
    ASSERT_TRUE(reread.SaveFileListVersion(8));
    SystemState third(iniPath);
    third.Load();
    EXPECT_EQ(third.LauncherPath, L"C:\\游戏\\Kaimor登录器.exe");
    EXPECT_EQ(third.LoadFileListVersion(), 8);
}

TEST_F(FileListVersionStoreTest, ExistingAnsiFileStaysAnsiAndUnreadableValuesCountAsZero)
{
    ASSERT_TRUE(Fixture::WriteAnsi(iniPath, L"[Game]\r\nGameDir=C:\\Game\r\n[Update]\r\nFileListVersion=abc\r\n"));
    const SystemState state(iniPath);
    EXPECT_EQ(state.LoadFileListVersion(), 0);
    ASSERT_TRUE(state.SaveFileListVersion(3));
    const std::string bytes = Fixture::ReadBytes(iniPath);
    EXPECT_NE(bytes.substr(0, 2), "\xFF\xFE");
    EXPECT_NE(bytes.find("FileListVersion=3"), std::string::npos);
    EXPECT_NE(bytes.find("GameDir=C:\\Game"), std::string::npos);
    EXPECT_EQ(state.LoadFileListVersion(), 3);
}

}  // namespace
}  // namespace Orvane
