#pragma once

#include <cstdint>
#include <string>

namespace Orvane {

// Decides which progress reports reach the window. Reports arrive for every
// received chunk and every hashed piece, far more often than a window can show
// them and more than a thread's message queue holds; one passes when the
// interval has passed since the last one that did, whatever changed (a new
// file alone is no reason: thousands of small files would otherwise post
// thousands of times). One held back is pending until the next passes or the
// sender flushes it, so the final state always arrives.
class ProgressThrottle {
public:
    // 50 ms: at most about 20 posts a second.
    explicit ProgressThrottle(uint64_t intervalMs = 50) : intervalMs_(intervalMs) {}

    bool ShouldPost(uint64_t nowMs)
    {
        const bool due = !anyPosted_ || nowMs - lastPostMs_ >= intervalMs_;
        if (due) {
            anyPosted_ = true;
            lastPostMs_ = nowMs;
        }
        pending_ = !due;
        return due;
    }

    // Whether the last report was held back; clears it. A held-back report
    // that is flushed counts as posted.
    bool TakePending()
    {
        const bool pending = pending_;
        pending_ = false;
        return pending;
    }

    void Reset()
    {
        anyPosted_ = false;
        pending_ = false;
    }

private:
    uint64_t intervalMs_;
    bool anyPosted_ = false;
    bool pending_ = false;
    uint64_t lastPostMs_ = 0;
};

// Whole percent of downloaded of total, 0 when the total is unknown.
int64_t ProgressPercent(int64_t downloaded, int64_t total);
// "下载进度: 3/12".
std::wstring FileCounterText(unsigned fileIndex, unsigned fileCount);
// "1.5 MB/s", "1.9 KB/s", "1023 B/s", or empty for 0; one decimal, truncated.
std::wstring SpeedText(uint32_t bytesPerSecond);

}  // namespace Orvane
