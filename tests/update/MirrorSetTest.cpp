#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "update/MirrorSet.h"

namespace Orvane {
namespace {

using Urls = std::vector<std::string>;

TEST(MirrorsOfRelayAnswer, EachLineIsTrimmedLikeTheOneLineAnswer)
{
    struct Case {
        const char* name;
        std::string body;
        Urls mirrors;
    };
    const Case cases[] = {
        {"one line", "http://a/files/", {"http://a/files/"}},
        {"one line, CR LF and no final slash", "http://a/files\r\n", {"http://a/files/"}},
        {"one line amid spaces and blank lines", "\r\n  http://a/files/  \n\n", {"http://a/files/"}},
        // Tabs are not trimmed, as in the one-line answer.
        {"a tab stays", "\thttp://a/\t\n", {"\thttp://a/\t/"}},
        {"nothing but line breaks", " \r\n \n\r ", {}},
        {"empty", "", {}},
        {"two lines in order", "http://a/files/\nhttp://b/mirror\n", {"http://a/files/", "http://b/mirror/"}},
        {"Windows line ends, blank lines between",
         "http://a/\r\n\r\n  http://b/  \r\nhttps://c:8443/x\r\n",
         {"http://a/", "http://b/", "https://c:8443/x/"}},
        {"old Mac line ends", "http://a/\rhttp://b/", {"http://a/", "http://b/"}},
        {"a repeated mirror is asked once", "http://a/\nhttp://b/\nhttp://a\n", {"http://a/", "http://b/"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MirrorsOfRelayAnswer(c.body), c.mirrors) << c.name;
    }
}

TEST(MirrorSet, AFilesAttemptsMoveOnAndADeadMirrorGoesLastForTheRun)
{
    using O = AttemptOutcome;
    struct Step {
        size_t from;
        O outcome;
        size_t next;  // the file's next attempt
    };
    struct Case {
        const char* name;
        size_t count;
        std::vector<Step> steps;
        std::vector<size_t> order;  // afterwards, most preferred first
    };
    const Case cases[] = {
        {"nothing failed", 3, {{0, O::Succeeded, 0}}, {0, 1, 2}},
        {"a single mirror is asked again whatever happened",
         1,
         {{0, O::MirrorFailed, 0}, {0, O::ConnectionFailed, 0}, {0, O::LocalFailure, 0}},
         {0}},
        {"a bad copy moves the file on, round the end, and demotes nobody",
         3,
         {{0, O::MirrorFailed, 1}, {1, O::MirrorFailed, 2}, {2, O::MirrorFailed, 0}},
         {0, 1, 2}},
        {"a held file or a full disk is not the mirror's fault", 2, {{0, O::LocalFailure, 0}}, {0, 1}},
        {"a refused first mirror goes last; the next file starts at the second",
         3,
         {{0, O::ConnectionFailed, 1}},
         {1, 2, 0}},
        {"a dead middle mirror goes last and the file moves to the one that was after it",
         3,
         {{1, O::ConnectionFailed, 2}},
         {0, 2, 1}},
        {"a dead last mirror sends the file back to the first",
         3,
         {{0, O::MirrorFailed, 1}, {1, O::MirrorFailed, 2}, {2, O::ConnectionFailed, 0}},
         {0, 1, 2}},
        {"the latest to fail a connection is the last asked",
         3,
         {{0, O::ConnectionFailed, 1}, {1, O::ConnectionFailed, 2}},
         {2, 0, 1}},
        {"every mirror dead: the order turns and each file still gets its attempts",
         2,
         {{0, O::ConnectionFailed, 1}, {1, O::ConnectionFailed, 0}, {0, O::ConnectionFailed, 1}},
         {1, 0}},
    };
    for (const Case& c : cases) {
        Urls urls;
        for (size_t i = 0; i < c.count; ++i) {
            urls.push_back("http://m" + std::to_string(i) + "/");
        }
        MirrorSet mirrors(urls);
        ASSERT_EQ(mirrors.Count(), c.count) << c.name;
        EXPECT_EQ(mirrors.First(), 0u) << c.name;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& step = c.steps[i];
            EXPECT_EQ(mirrors.Next(step.from, step.outcome), step.next) << c.name << ", step " << i;
        }
        EXPECT_EQ(mirrors.Order(), c.order) << c.name;
        EXPECT_EQ(mirrors.First(), c.order.front()) << c.name;
        EXPECT_EQ(mirrors.Url(2 % c.count), urls[2 % c.count]) << c.name;
    }
}

TEST(MirrorSet, TransfersFailingAtOnceOnSeveralThreadsDemoteTheDeadMirrorOnce)
{
    // Transfers that all started on the first mirror learn at about the same
    // time that it is down; each then goes on at a live one.
    MirrorSet mirrors({"http://dead/", "http://b/", "http://c/"});
    std::vector<size_t> next(8, 99);
    std::vector<std::thread> transfers;
    for (size_t i = 0; i < next.size(); ++i) {
        transfers.emplace_back([&mirrors, &next, i] {
            for (int round = 0; round < 200; ++round) {
                next[i] = mirrors.Next(0, AttemptOutcome::ConnectionFailed);
            }
        });
    }
    for (std::thread& transfer : transfers) {
        transfer.join();
    }
    EXPECT_EQ(mirrors.Order(), (std::vector<size_t>{1, 2, 0}));
    for (const size_t mirror : next) {
        EXPECT_EQ(mirror, 1u);
    }
}

}  // namespace
}  // namespace Orvane
