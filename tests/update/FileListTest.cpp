#include <gtest/gtest.h>

#include <windows.h>

#include "TestSupport.h"
#include <cstdint>
#include <limits>

#include "base/Logger.h"
#include "update/FileList.h"

namespace Orvane {
namespace {

const char kShapeError[] =
    "JSON \xE6\xA0\xBC\xE5\xBC\x8F\xE6\x97\xA0\xE6\x95\x88\xEF\xBC\x8C\xE6\x9C\x9F\xE6\x9C\x9B"
    "\xE6\x95\xB0\xE7\xBB\x84\xE6\x88\x96 {\"files\":[...]}";

// Routes the process-wide log into a temporary file for one test.
class FileListTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(Logger::Instance().OpenFile(logPath)); }
    void TearDown() override { Logger::Instance().Close(); }

    // The logged lines without their time stamps.
    std::vector<std::string> LogLines() const
    {
        std::vector<std::string> lines;
        const std::string text = Fixture::ReadBytes(logPath);
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
            lines.push_back(text.substr(start + 22, end - start - 22));
        }
        return lines;
    }

    Fixture::TempDir temp;
    std::wstring logPath = temp / L"test.log";
};

TEST_F(FileListTest, AcceptsBareAndWrappedLists)
{
    const char* documents[] = {
        R"([{"path":"Data/a.MPQ","hash":"AB12","size":10},{"path":"wow.exe","hash":"cd","size":2.9}])",
        R"({"version":3,"files":[{"path":"Data/a.MPQ","hash":"AB12","size":10,"extra":1},
            {"path":"wow.exe","hash":"cd","size":2.9}]})",
    };
    for (const char* document : documents) {
        const ParsedFileList parsed = ParseFileList(document);
        ASSERT_TRUE(parsed.ok) << parsed.error;
        const std::vector<FileEntry>& entries = parsed.list.entries;
        ASSERT_EQ(entries.size(), 2u);
        EXPECT_EQ(entries[0].path, "Data/a.MPQ");  // separators and case untouched
        EXPECT_EQ(entries[0].hash, "AB12");
        EXPECT_EQ(entries[0].size, 10);
        EXPECT_EQ(entries[1].path, "wow.exe");
        EXPECT_EQ(entries[1].size, 2);  // fractional sizes are truncated
    }
    EXPECT_EQ(LogLines().back(), "[INFO] Parsed 2 files from JSON");
}

TEST_F(FileListTest, LargeSizesAndDuplicatesAreKept)
{
    const ParsedFileList parsed = ParseFileList(
        R"([{"path":"big.MPQ","hash":"x","size":6000000000},{"path":"big.MPQ","hash":"y","size":1}])");
    ASSERT_TRUE(parsed.ok);
    const std::vector<FileEntry>& entries = parsed.list.entries;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].size, 6000000000LL);
    EXPECT_EQ(entries[1].hash, "y");
}

TEST_F(FileListTest, EmptyListsParseToNothing)
{
    for (const char* document : {"[]", R"({"files":[]})", R"({"files":null})"}) {
        const ParsedFileList parsed = ParseFileList(document);
        EXPECT_TRUE(parsed.ok) << document;
        EXPECT_TRUE(parsed.list.entries.empty()) << document;
    }
    EXPECT_EQ(LogLines().back(), "[INFO] Parsed 0 files from JSON");
}

TEST_F(FileListTest, InvalidEntriesAreSkippedWithAWarning)
{
    const ParsedFileList parsed = ParseFileList(
        R"([{"path":"a","size":1}, 7, "text", {"hash":"h","size":1}, {"path":"b","hash":"h"},
            {"path":"ok","hash":"h","size":3}])");
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(parsed.list.entries.size(), 1u);
    EXPECT_EQ(parsed.list.entries[0].path, "ok");
    const std::vector<std::string> expected = {
        "[WARNING] Skipping invalid file entry in JSON", "[WARNING] Skipping invalid file entry in JSON",
        "[WARNING] Skipping invalid file entry in JSON", "[WARNING] Skipping invalid file entry in JSON",
        "[WARNING] Skipping invalid file entry in JSON", "[INFO] Parsed 1 files from JSON",
    };
    EXPECT_EQ(LogLines(), expected);
}

TEST_F(FileListTest, WrongTopLevelShapeFailsWithNoEntries)
{
    for (const char* document : {R"({"list":[]})", R"({"version":5})", R"("files")", "42", "true", "null"}) {
        const ParsedFileList parsed = ParseFileList(document);
        EXPECT_FALSE(parsed.ok) << document;
        EXPECT_EQ(parsed.error, kShapeError) << document;
        EXPECT_TRUE(parsed.list.entries.empty()) << document;
        EXPECT_EQ(parsed.list.version, 0) << document;
    }
    EXPECT_EQ(LogLines().back(), std::string("[ERROR] FileManager error: ") + kShapeError);
}

TEST_F(FileListTest, MalformedJsonAndTypeMismatchesFailTheWholeList)
{
    const char* documents[] = {
        "",
        "[{\"path\":\"a\",",
        R"([{"path":"a","hash":"h","size":1},])",           // trailing comma
        R"(// comment
           [])",
        R"([{"path":"a","hash":"h","size":"12"}])",         // size as a string
        R"([{"path":5,"hash":"h","size":1}])",
        R"([{"path":"a","hash":null,"size":1}])",
    };
    for (const char* document : documents) {
        const ParsedFileList parsed = ParseFileList(document);
        EXPECT_FALSE(parsed.ok) << document;
        EXPECT_EQ(parsed.error.rfind("JSON parse error: ", 0), 0u) << parsed.error;
        EXPECT_GT(parsed.error.size(), 18u) << "the library's own message follows";
        EXPECT_TRUE(parsed.list.entries.empty()) << document;
    }
    const std::vector<std::string> lines = LogLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("[ERROR] FileManager error: JSON parse error: ", 0), 0u);
}

TEST_F(FileListTest, AParseErrorQuotesOnlyAShortPrintableExcerptOfThePortalsText)
{
    const std::string paragraph = "[{\"path\":\"" + std::string(5000, 'A') + "\n\x01\xE4\xB8\xAD";
    const struct {
        const char* name;
        std::string document;
        const char* quoteStart;
    } cases[] = {
        {"an endless string", paragraph, "last read: '\"AAAAAAAA"},
        {"a long number", "[" + std::string(3000, '7') + "]", "parsing '77777777"},
        {"a Chinese word", "[\xE4\xB8\xAD\xE6\x96\x87]", "last read: '[?'"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const ParsedFileList parsed = ParseFileList(c.document);
        ASSERT_FALSE(parsed.ok);
        const std::size_t quote = parsed.error.find(c.quoteStart);
        ASSERT_NE(quote, std::string::npos);
        EXPECT_LE(parsed.error.size() - quote, std::string(c.quoteStart).size() + 40) << "the excerpt is short";
        EXPECT_EQ(parsed.error.back(), '\'');
        for (const char ch : parsed.error) {
            EXPECT_TRUE(ch >= 0x20 && ch < 0x7F) << "byte " << int(static_cast<unsigned char>(ch));
        }
    }
}

TEST_F(FileListTest, EntriesThatCouldLeaveTheGameDirectoryAreSkipped)
{
    const ParsedFileList parsed = ParseFileList(
        R"([{"path":"../x","hash":"h","size":1},{"path":"..\\x","hash":"h","size":1},
            {"path":"a/../../x","hash":"h","size":1},{"path":"C:\\x","hash":"h","size":1},
            {"path":"C:x","hash":"h","size":1},{"path":"\\\\h\\s\\x","hash":"h","size":1},
            {"path":"x:ads","hash":"h","size":1},{"path":"CON","hash":"h","size":1},
            {"path":"nul.txt","hash":"h","size":1},{"path":"","hash":"h","size":1},
            {"path":"sub/ok.dat","hash":"h","size":1}])");
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(parsed.list.entries.size(), 1u);
    EXPECT_EQ(parsed.list.entries[0].path, "sub/ok.dat");
    // Five warnings, then the other five summarised.
    const std::string warning = "[WARNING] Skipping invalid file entry in JSON";
    const std::vector<std::string> expected = {
        warning, warning, warning, warning, warning,
        "[WARNING] ... 5 more entries skipped", "[INFO] Parsed 1 files from JSON",
    };
    EXPECT_EQ(LogLines(), expected);
}

// A list of nothing but invalid entries, as a hostile portal sends it.
TEST_F(FileListTest, AFloodOfInvalidEntriesLogsAFewLinesOnly)
{
    std::string document = "[";
    for (int i = 0; i < 100000; ++i) {
        document += i % 2 ? R"({"path":"../x","hash":"h","size":1},)" : "{},";
    }
    document += R"({"path":"ok","hash":"h","size":1}])";
    const ParsedFileList parsed = ParseFileList(document);
    ASSERT_TRUE(parsed.ok);
    ASSERT_EQ(parsed.list.entries.size(), 1u);
    const std::vector<std::string> lines = LogLines();
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], "[WARNING] ... 99995 more entries skipped");
}

TEST_F(FileListTest, VersionIsAWholeNumberOrZero)
{
    struct Case {
        const char* text;
        int64_t version;
    };
    const Case cases[] = {
        {R"({"version": 2, "files": []})", 2},
        {R"({"files": [], "version": 17})", 17},
        {R"({"version": 0, "files": []})", 0},
        {R"({"version": 9223372036854775807, "files": []})", std::numeric_limits<int64_t>::max()},
        {R"({"version": 9223372036854775808, "files": []})", 0},
        {R"({"version": 18446744073709551616, "files": []})", 0},
        {R"({"version": -3, "files": []})", 0},
        {R"({"version": 2.5, "files": []})", 0},
        {R"({"version": "9", "files": []})", 0},
        {R"({"version": true, "files": []})", 0},
        {R"({"version": null, "files": []})", 0},
        {R"({"files": []})", 0},
        {R"([{"version": 4}])", 0},
        {R"({"nested": {"version": 4}, "files": []})", 0},
        {R"({"version": 6, "files": [{"path":"a","hash":"h","size":1}, {"path":"../b","hash":"h","size":1}]})", 6},
    };
    for (const Case& c : cases) {
        const ParsedFileList parsed = ParseFileList(c.text);
        ASSERT_TRUE(parsed.ok) << c.text << ": " << parsed.error;
        EXPECT_EQ(parsed.list.version, c.version) << c.text;
    }
    // Text that is not JSON has no version: the whole list fails.
    for (const char* text : {"not json", ""}) {
        const ParsedFileList parsed = ParseFileList(text);
        EXPECT_FALSE(parsed.ok) << text;
        EXPECT_EQ(parsed.list.version, 0) << text;
    }
}

// The operator allows parallel transfers with a top-level "connections"; a
// list that says nothing, or something out of range, keeps one at a time.
TEST_F(FileListTest, ConnectionsAreAWholeNumberFromOneToEightOrOne)
{
    struct Case {
        const char* text;
        int connections;
    };
    const Case cases[] = {
        {R"({"connections": 4, "files": []})", 4},
        {R"({"files": [], "connections": 1})", 1},
        {R"({"connections": 8, "files": []})", 8},
        {R"({"connections": 9, "files": []})", 1},
        {R"({"connections": 0, "files": []})", 1},
        {R"({"connections": -4, "files": []})", 1},
        {R"({"connections": 4.5, "files": []})", 1},
        {R"({"connections": 4.0, "files": []})", 1},
        {R"({"connections": 18446744073709551620, "files": []})", 1},
        {R"({"connections": "4", "files": []})", 1},
        {R"({"connections": true, "files": []})", 1},
        {R"({"connections": null, "files": []})", 1},
        {R"({"connections": [4], "files": []})", 1},
        {R"({"connections": {"n": 4}, "files": []})", 1},
        {R"({"connections": 3, "connections": "x", "files": []})", 1},
        {R"({"connections": "x", "connections": 3, "files": []})", 3},
        {R"({"files": []})", 1},
        {R"([{"path":"a","hash":"h","size":1,"connections":4}])", 1},
        {R"({"files": [{"path":"a","hash":"h","size":1,"connections":4}]})", 1},
        {R"({"nested": {"connections": 4}, "files": []})", 1},
        {R"({"version": 7, "connections": 2, "files": [{"path":"a","hash":"h","size":1}]})", 2},
    };
    for (const Case& c : cases) {
        const ParsedFileList parsed = ParseFileList(c.text);
        ASSERT_TRUE(parsed.ok) << c.text << ": " << parsed.error;
        EXPECT_EQ(parsed.list.connections, c.connections) << c.text;
    }
}

// What a verified signature must find bound in the list: its own name and
// each file's SHA-256. Parsing never fails for either (a key-less build
// ignores them); SignedListProblem decides for builds with a key.
TEST_F(FileListTest, SignedListsMustNameThemselvesAndEveryFilesSha256)
{
    const std::string good = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
    const auto list = [](const std::string& top, const std::string& sha256Member) {
        return "{" + top + R"("files":[{"path":"wow.exe","hash":"d41d8cd98f00b204e9800998ecf8427e","size":0)" +
               sha256Member + "}]}";
    };
    const auto sha256 = [](const std::string& value) { return R"(,"sha256":)" + value; };
    const std::string named = R"("name":"filelist.json",)";
    struct Case {
        const char* what;
        std::string text;
        std::string servedAs;
        const char* problem;  // part of SignedListProblem's text; nullptr: none
    };
    const Case cases[] = {
        {"as published", list(named, sha256('"' + good + '"')), "filelist.json", nullptr},
        {"another FileListName, named so", list(R"("name":"lists/beta.json",)", sha256('"' + good + '"')),
         "lists/beta.json", nullptr},
        {"no sha256", list(named, ""), "filelist.json", "no SHA-256"},
        {"upper-case sha256", list(named, sha256("\"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855\"")),
         "filelist.json", "no SHA-256"},
        {"63 digits", list(named, sha256('"' + good.substr(1) + '"')), "filelist.json", "no SHA-256"},
        {"65 digits", list(named, sha256('"' + good + "0\"")), "filelist.json", "no SHA-256"},
        {"not hexadecimal", list(named, sha256("\"x" + good.substr(1) + '"')), "filelist.json", "no SHA-256"},
        {"a number", list(named, sha256("7")), "filelist.json", "no SHA-256"},
        {"an array", list(named, sha256("[\"" + good + "\"]")), "filelist.json", "no SHA-256"},
        {"null", list(named, sha256("null")), "filelist.json", "no SHA-256"},
        {"no name", list("", sha256('"' + good + '"')), "filelist.json", "names no file name"},
        {"another name", list(R"("name":"filelist-beta.json",)", sha256('"' + good + '"')), "filelist.json",
         "named 'filelist-beta.json', fetched as 'filelist.json'"},
        {"name in another case", list(R"("name":"FileList.json",)", sha256('"' + good + '"')), "filelist.json",
         "named 'FileList.json'"},
        {"name that is no string", list(R"("name":["filelist.json"],)", sha256('"' + good + '"')),
         "filelist.json", "names no file name"},
        {"a bare array",
         R"([{"path":"wow.exe","hash":"d41d8cd98f00b204e9800998ecf8427e","size":0,"sha256":")" + good + R"("}])",
         "filelist.json", "names no file name"},
    };
    for (const Case& c : cases) {
        const ParsedFileList parsed = ParseFileList(c.text);
        ASSERT_TRUE(parsed.ok) << c.what << ": " << parsed.error;
        ASSERT_EQ(parsed.list.entries.size(), 1u) << c.what;
        EXPECT_EQ(parsed.list.entries[0].path, "wow.exe") << c.what;
        const std::string problem = SignedListProblem(parsed.list, c.servedAs);
        if (c.problem == nullptr) {
            EXPECT_EQ(problem, "") << c.what;
            EXPECT_EQ(parsed.list.entries[0].sha256, good) << c.what;
        } else {
            EXPECT_NE(problem.find(c.problem), std::string::npos) << c.what << ": " << problem;
        }
    }
    // An entry the parser skips binds nothing and asks for nothing; one of
    // several entries without a digest is enough to refuse the list.
    const ParsedFileList mixed = ParseFileList(
        R"({"name":"filelist.json","files":[{"path":"../x","hash":"h","size":1},)"
        R"({"path":"a","hash":"h","size":1,"sha256":")" + good + R"("},{"path":"b","hash":"h","size":1}]})");
    ASSERT_TRUE(mixed.ok);
    EXPECT_NE(SignedListProblem(mixed.list, "filelist.json").find("for b"), std::string::npos);
    EXPECT_EQ(mixed.list.entries.size(), 2u);
}

TEST(IsSafeRelativePath, AcceptsOrdinaryClientPaths)
{
    for (const char* path : {"wow.exe", "Data/zhCN/patch-zhCN-4.MPQ", "Data\\zhCN\\a.MPQ",
                             "/Data/x.MPQ", "\\Data\\x.MPQ", "./a", "Interface/AddOns/.hidden",
                             "con-fig.txt", "COM10", "LPT0.dat", "\xE8\xA1\xA5\xE4\xB8\x81/a.MPQ",
                             // Superscripts Windows takes as no device digit: 0 and 4.
                             "COM\xE2\x81\xB0", "LPT\xE2\x81\xB4.txt", "COM\xC2\xB9\xC2\xB9"}) {
        EXPECT_TRUE(IsSafeRelativePath(path)) << path;
    }
}

TEST(IsSafeRelativePath, RefusesEscapesDrivesStreamsAndDevices)
{
    for (const char* path : {"", "..", "../x", "..\\x", "a/../../x", "a/..", "C:\\x", "C:x", "x:ads",
                             "\\\\h\\s\\x", "//h/s/x", "a//b", "a/", "CON", "con", "nul.txt",
                             "Data/AUX.MPQ", "COM1", "lpt9.log", "CON .txt", "...", "a/. ./b",
                             "a<b", "a|b", "a?", "a*", "a\"b", "a\tb", "wow.exe.", "wow.exe ",
                             "Data./x.MPQ", "Data /x.MPQ", "config.ini. . ",
                             // COM¹, LPT², com³.txt, Data/lpt¹ .log: superscript 1 to 3 name devices too.
                             "COM\xC2\xB9", "LPT\xC2\xB2", "com\xC2\xB3.txt", "Data/lpt\xC2\xB9 .log"}) {
        EXPECT_FALSE(IsSafeRelativePath(path)) << testing::PrintToString(std::string(path));
    }
}

}  // namespace
}  // namespace Orvane
