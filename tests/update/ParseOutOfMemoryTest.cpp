// Allocation failures while a file list is parsed, in a program of its own:
// it replaces the global operator new to fail one chosen allocation.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "TestSupport.h"
#include "base/Logger.h"
#include "update/FileList.h"

namespace {

std::atomic<bool> g_armed{false};
std::atomic<long long> g_allocations{0};
std::atomic<long long> g_failAt{0};

}  // namespace

void* operator new(std::size_t size)
{
    if (g_armed.load() && ++g_allocations == g_failAt.load()) {
        throw std::bad_alloc();
    }
    void* block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    return block;
}

void operator delete(void* block) noexcept
{
    std::free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    std::free(block);
}

namespace Orvane {
namespace {

// 文件列表过大
const char kTooLargeError[] = "\xE6\x96\x87\xE4\xBB\xB6\xE5\x88\x97\xE8\xA1\xA8\xE8\xBF\x87\xE5\xA4\xA7";

// Parses `text` with the allocation number `failAt` (counted from the call)
// failing, as on a system out of memory at that moment.
ParsedFileList ParseWithFailingAllocation(const std::string& text, long long failAt, long long& made)
{
    g_allocations = 0;
    g_failAt = failAt;
    g_armed = true;
    ParsedFileList parsed = ParseFileList(text);
    g_armed = false;
    made = g_allocations.load();
    return parsed;
}

// Each allocation of a parse fails in turn: every run returns, either with the
// whole list (the allocation was a log line's, which is dropped) or with the
// list refused as too large - never with a partial list or termination.
TEST(ParseFileListOutOfMemory, EveryFailedAllocationIsAFailedListNotTheEnd)
{
    Fixture::TempDir temp;
    ASSERT_TRUE(Logger::Instance().OpenFile(temp / L"test.log"));
    const std::string list =
        R"({"version":4,"files":[{"path":"wow.exe","hash":"ab","size":3},{},)"
        R"({"path":"../x","hash":"h","size":1},{"path":"Data/a.MPQ","hash":"cd","size":5}]})";

    long long made = 0;
    int refused = 0;
    int kept = 0;
    for (long long failAt = 1;; ++failAt) {
        const ParsedFileList parsed = ParseWithFailingAllocation(list, failAt, made);
        if (made < failAt) {
            ASSERT_TRUE(parsed.ok) << "no allocation failed, yet: " << parsed.error;
            break;
        }
        if (parsed.ok) {
            ++kept;
            EXPECT_EQ(parsed.list.entries.size(), 2u) << "allocation " << failAt;
            EXPECT_EQ(parsed.list.version, 4) << "allocation " << failAt;
        } else {
            ++refused;
            EXPECT_EQ(parsed.error, kTooLargeError) << "allocation " << failAt;
            EXPECT_TRUE(parsed.list.entries.empty()) << "allocation " << failAt;
        }
        ASSERT_LT(failAt, 100000) << "the parse never finished without a failure";
    }
    EXPECT_GT(refused, 0) << "the reading of the document allocates too";
    Logger::Instance().Close();
    const std::string log = Fixture::ReadBytes(temp / L"test.log");
    EXPECT_NE(log.find("[ERROR] FileManager error: " + std::string(kTooLargeError)), std::string::npos);
    EXPECT_GT(kept, 0) << "a log line without memory is dropped, the list kept";
}

}  // namespace
}  // namespace Orvane
