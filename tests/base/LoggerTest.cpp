#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "base/Logger.h"

namespace Orvane {
namespace {

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        EXPECT_NE(end, std::string::npos) << "last line has no line end";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    return lines;
}

TEST(FormatLogLine, NamesEachLevel)
{
    struct Case {
        LogLevel level;
        const char* expected;
    };
    const Case cases[] = {
        {LogLevel::Info, "[2024-03-05 09:07:02] [INFO] Parsed 42 files from JSON"},
        {LogLevel::Warning, "[2024-03-05 09:07:02] [WARNING] Parsed 42 files from JSON"},
        {LogLevel::Error, "[2024-03-05 09:07:02] [ERROR] Parsed 42 files from JSON"},
        {static_cast<LogLevel>(7), "[2024-03-05 09:07:02] [UNKNOWN] Parsed 42 files from JSON"},
        {static_cast<LogLevel>(-1), "[2024-03-05 09:07:02] [UNKNOWN] Parsed 42 files from JSON"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatLogLine("2024-03-05 09:07:02", c.level, "Parsed 42 files from JSON"),
                  c.expected);
    }
}

TEST(FormatLogLine, EmptyMessageEndsWithBracketAndSpace)
{
    EXPECT_EQ(FormatLogLine("t", LogLevel::Info, ""), "[t] [INFO] ");
}

TEST(Logger, WritesTimeStampedUtf8LinesToItsFile)
{
    Fixture::TempDir temp;
    Logger logger;
    ASSERT_TRUE(logger.OpenFile(temp / L"Orvane.log"));
    logger.Write(LogLevel::Warning, "Skipping invalid file entry in JSON");
    logger.Write(LogLevel::Error, "FileManager error: JSON \xE6\xA0\xBC\xE5\xBC\x8F");
    logger.Write(static_cast<LogLevel>(7), "");

    // Each line is on disk as soon as Write returns, even with the file still open.
    const std::vector<std::string> lines = Lines(Fixture::ReadBytes(temp / L"Orvane.log"));
    ASSERT_EQ(lines.size(), 3u);
    const std::regex stamp(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\] )");
    for (const std::string& line : lines) {
        EXPECT_TRUE(std::regex_search(line, stamp, std::regex_constants::match_continuous)) << line;
    }
    EXPECT_EQ(lines[0].substr(22), "[WARNING] Skipping invalid file entry in JSON");
    EXPECT_EQ(lines[1].substr(22), "[ERROR] FileManager error: JSON \xE6\xA0\xBC\xE5\xBC\x8F");
    EXPECT_EQ(lines[2].substr(22), "[UNKNOWN] ");
}

TEST(Logger, OpeningTruncatesThePreviousLog)
{
    Fixture::TempDir temp;
    ASSERT_TRUE(Fixture::WriteBytes(temp / L"Orvane.log", "old run\r\n"));
    Logger logger;
    ASSERT_TRUE(logger.OpenFile(temp / L"Orvane.log"));
    logger.Write(LogLevel::Info, "new run");
    logger.Close();
    const std::vector<std::string> lines = Lines(Fixture::ReadBytes(temp / L"Orvane.log"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("new run"), std::string::npos);
}

TEST(Logger, StopsAtItsSizeLimitWithOneNotice)
{
    Fixture::TempDir temp;
    Logger logger;
    constexpr int64_t kLimit = 10000;
    ASSERT_TRUE(logger.OpenFile(temp / L"Orvane.log", kLimit));
    const std::string entry(66, 'e');  // 100-byte lines with stamp, level and line end
    for (int i = 0; i < 1000; ++i) {
        logger.Write(LogLevel::Warning, entry);
    }
    const std::string text = Fixture::ReadBytes(temp / L"Orvane.log");
    const std::vector<std::string> lines = Lines(text);
    ASSERT_EQ(lines.size(), 101u);
    EXPECT_EQ(lines[99].substr(22), "[WARNING] " + entry);
    EXPECT_EQ(lines[100].substr(22), "[WARNING] Log size limit reached; nothing more is logged in this run");
    EXPECT_LT(text.size(), static_cast<size_t>(kLimit + 100));

    // Opening again starts a new allowance.
    logger.Close();
    ASSERT_TRUE(logger.OpenFile(temp / L"Orvane.log", kLimit));
    logger.Write(LogLevel::Info, "new run");
    logger.Close();
    ASSERT_EQ(Lines(Fixture::ReadBytes(temp / L"Orvane.log")).size(), 1u);
}

TEST(Logger, ThePreviousRunsLogIsKeptOnce)
{
    Fixture::TempDir temp;
    const std::wstring path = temp / L"Orvane.log";
    Logger logger;
    // First run: nothing to keep.
    ASSERT_TRUE(logger.OpenKeepingPrevious(path));
    logger.Write(LogLevel::Error, "first run failed");
    logger.Close();
    EXPECT_FALSE(Fixture::Exists(path + L".1"));

    for (const char* run : {"second run", "third run"}) {
        ASSERT_TRUE(logger.OpenKeepingPrevious(path));
        logger.Write(LogLevel::Info, run);
        logger.Close();
    }
    const std::vector<std::string> previous = Lines(Fixture::ReadBytes(path + L".1"));
    ASSERT_EQ(previous.size(), 1u);
    EXPECT_EQ(previous[0].substr(22), "[INFO] second run");
    const std::vector<std::string> current = Lines(Fixture::ReadBytes(path));
    ASSERT_EQ(current.size(), 1u);
    EXPECT_EQ(current[0].substr(22), "[INFO] third run");
    EXPECT_EQ(Fixture::FilesBelow(temp.Path()), (std::set<std::wstring>{L"Orvane.log", L"Orvane.log.1"}));
}

TEST(RepeatedWarning, ShowsTheFirstFewThenCountsTheRest)
{
    Fixture::TempDir temp;
    struct Case {
        int occurrences;
        std::vector<std::string> expected;
    };
    const std::string w = "[WARNING] bad entry";
    const Case cases[] = {
        {0, {}},
        {3, {w, w, w}},
        {5, {w, w, w, w, w}},
        {6, {w, w, w, w, w, "[WARNING] ... 1 more entries skipped"}},
        {40000, {w, w, w, w, w, "[WARNING] ... 39995 more entries skipped"}},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Logger::Instance().OpenFile(temp / L"Orvane.log"));
        {
            RepeatedWarning warning("bad entry", "entries skipped");
            for (int i = 0; i < c.occurrences; ++i) {
                warning.Add();
            }
        }  // the destructor summarises
        Logger::Instance().Close();
        std::vector<std::string> lines;
        for (const std::string& line : Lines(Fixture::ReadBytes(temp / L"Orvane.log"))) {
            lines.push_back(line.substr(22));
        }
        EXPECT_EQ(lines, c.expected) << c.occurrences;
    }
}

TEST(Logger, WithoutAFileWritingIsHarmless)
{
    Fixture::TempDir temp;
    Logger logger;
    logger.Write(LogLevel::Error, "nowhere");
    EXPECT_FALSE(logger.OpenFile(temp / L"missing-folder\\Orvane.log"));
    logger.Write(LogLevel::Error, "still nowhere");
    EXPECT_FALSE(Fixture::Exists(temp / L"missing-folder"));
}

TEST(Logger, ConcurrentWritersNeverMixLines)
{
    Fixture::TempDir temp;
    Logger logger;
    ASSERT_TRUE(logger.OpenFile(temp / L"Orvane.log"));
    constexpr int kLinesPerThread = 500;
    const std::string a(300, 'a');
    const std::string b(300, 'b');
    std::thread first([&] {
        for (int i = 0; i < kLinesPerThread; ++i) logger.Write(LogLevel::Info, a);
    });
    std::thread second([&] {
        for (int i = 0; i < kLinesPerThread; ++i) logger.Write(LogLevel::Warning, b);
    });
    first.join();
    second.join();
    logger.Close();

    const std::vector<std::string> lines = Lines(Fixture::ReadBytes(temp / L"Orvane.log"));
    ASSERT_EQ(lines.size(), 2u * kLinesPerThread);
    int countA = 0;
    int countB = 0;
    for (const std::string& line : lines) {
        const std::string rest = line.substr(22);
        if (rest == "[INFO] " + a) {
            ++countA;
        } else if (rest == "[WARNING] " + b) {
            ++countB;
        } else {
            ADD_FAILURE() << "mixed line: " << line.substr(0, 80);
        }
    }
    EXPECT_EQ(countA, kLinesPerThread);
    EXPECT_EQ(countB, kLinesPerThread);
}

}  // namespace
}  // namespace Orvane
