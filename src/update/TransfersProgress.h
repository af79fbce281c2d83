#pragma once

#include <cstdint>
#include <vector>

namespace Orvane {

// What an update run reports: the file counter, the bytes of the whole run
// and the speed.
struct RunProgress {
    int fileIndex = 0;  // files started so far
    int fileCount = 0;
    int64_t downloaded = 0;  // finished files at their listed size, plus what the others hold so far
    int64_t total = 0;
    double bytesPerSecond = 0.0;  // the sum of the transfers under way
};

// Sums the transfers of an update run whose files travel side by side, one
// file per transfer at a time, into the one progress the window shows. With
// one transfer it reports what that transfer reports, on top of the files
// finished before. Not thread-safe: the run serialises the calls.
class TransfersProgress {
public:
    TransfersProgress(int fileCount, int64_t totalBytes, int transfers);

    // A file begins on `transfer`: it counts among the files started, and the
    // transfer's bytes and speed start from nothing.
    void Begin(int transfer);
    // A chunk of the file on `transfer` has arrived: the file holds
    // `downloaded` bytes, at an average of `bytesPerSecond` since its
    // request. Returns what the run reports now.
    RunProgress Update(int transfer, int64_t downloaded, double bytesPerSecond);
    // The file on `transfer` is done with: its listed size counts from now on
    // when it arrived, nothing of it when it did not.
    void End(int transfer, int64_t listedBytes, bool arrived);

private:
    struct Transfer {
        int64_t downloaded = 0;
        double bytesPerSecond = 0.0;
    };

    int fileCount_;
    int64_t totalBytes_;
    int started_ = 0;
    int64_t finishedBytes_ = 0;
    std::vector<Transfer> transfers_;
};

}  // namespace Orvane
