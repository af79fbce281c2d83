#include <gtest/gtest.h>

#include <vector>

#include "update/TransfersProgress.h"

namespace Orvane {
namespace {

struct Event {
    enum Kind { Begin, Update, EndArrived, EndFailed } kind;
    int transfer;
    int64_t bytes;          // Update: the file's bytes so far; End: its listed size
    double bytesPerSecond;  // Update only
    RunProgress expected;   // Update only: what the run reports
};

struct Case {
    const char* name;
    int fileCount;
    int64_t totalBytes;
    int transfers;
    std::vector<Event> events;
};

TEST(TransfersProgressTest, SumsTheTransfersIntoOneProgress)
{
    using E = Event;
    const Case cases[] = {
        {"one transfer reports what it reports, on top of the files before",
         2,
         300,
         1,
         {
             {E::Begin, 0, 0, 0, {}},
             {E::Update, 0, 50, 10, {1, 2, 50, 300, 10}},
             {E::Update, 0, 100, 20, {1, 2, 100, 300, 20}},
             {E::EndArrived, 0, 100, 0, {}},
             {E::Begin, 0, 0, 0, {}},
             {E::Update, 0, 30, 5, {2, 2, 130, 300, 5}},
         }},
        {"side by side the bytes and speeds add up, and the counter counts files started",
         3,
         600,
         2,
         {
             {E::Begin, 0, 0, 0, {}},
             {E::Begin, 1, 0, 0, {}},
             {E::Update, 0, 10, 100, {2, 3, 10, 600, 100}},
             {E::Update, 1, 20, 50, {2, 3, 30, 600, 150}},
             {E::EndArrived, 0, 200, 0, {}},
             {E::Begin, 0, 0, 0, {}},
             // The new file on transfer 0 has no bytes nor speed yet.
             {E::Update, 1, 40, 60, {3, 3, 240, 600, 60}},
             {E::Update, 0, 5, 70, {3, 3, 245, 600, 130}},
         }},
        {"a failed file counts nothing, and an attempt begun again starts from its own bytes",
         2,
         200,
         2,
         {
             {E::Begin, 0, 0, 0, {}},
             {E::Begin, 1, 0, 0, {}},
             {E::Update, 1, 60, 30, {2, 2, 60, 200, 30}},
             {E::Update, 0, 80, 10, {2, 2, 140, 200, 40}},
             {E::Update, 0, 20, 5, {2, 2, 80, 200, 35}},
             {E::EndFailed, 1, 100, 0, {}},
             {E::Update, 0, 30, 5, {2, 2, 30, 200, 5}},
         }},
    };
    for (const Case& c : cases) {
        TransfersProgress tally(c.fileCount, c.totalBytes, c.transfers);
        int step = 0;
        for (const Event& event : c.events) {
            ++step;
            switch (event.kind) {
            case E::Begin:
                tally.Begin(event.transfer);
                break;
            case E::EndArrived:
            case E::EndFailed:
                tally.End(event.transfer, event.bytes, event.kind == E::EndArrived);
                break;
            case E::Update: {
                const RunProgress got = tally.Update(event.transfer, event.bytes, event.bytesPerSecond);
                EXPECT_EQ(got.fileIndex, event.expected.fileIndex) << c.name << ", step " << step;
                EXPECT_EQ(got.fileCount, event.expected.fileCount) << c.name << ", step " << step;
                EXPECT_EQ(got.downloaded, event.expected.downloaded) << c.name << ", step " << step;
                EXPECT_EQ(got.total, event.expected.total) << c.name << ", step " << step;
                EXPECT_DOUBLE_EQ(got.bytesPerSecond, event.expected.bytesPerSecond) << c.name << ", step " << step;
                break;
            }
            }
        }
    }
}

}  // namespace
}  // namespace Orvane
