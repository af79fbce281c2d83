#pragma once

#include <cstdint>
#include <string>

namespace Orvane {

// Decides which download progress reports reach the window. Reports arrive for
// every received chunk, far more often than a window can show them and more
// than a thread's message queue holds; a report passes when the percentage or
// the file changed, or when the interval has passed since the last one that did.
class ProgressThrottle {
public:
    explicit ProgressThrottle(uint64_t intervalMs = 100) : intervalMs_(intervalMs) {}

    bool ShouldPost(int64_t percent, int fileIndex, uint64_t nowMs)
    {
        const bool due = !anyPosted_ || percent != lastPercent_ || fileIndex != lastFileIndex_ ||
                         nowMs - lastPostMs_ >= intervalMs_;
        if (due) {
            anyPosted_ = true;
            lastPercent_ = percent;
            lastFileIndex_ = fileIndex;
            lastPostMs_ = nowMs;
        }
        return due;
    }

    void Reset() { anyPosted_ = false; }

private:
    uint64_t intervalMs_;
    bool anyPosted_ = false;
    int64_t lastPercent_ = 0;
    int lastFileIndex_ = 0;
    uint64_t lastPostMs_ = 0;
};

// Whole percent of downloaded of total, 0 when the total is unknown.
int64_t ProgressPercent(int64_t downloaded, int64_t total);
// "下载进度: 3/12".
std::wstring FileCounterText(unsigned fileIndex, unsigned fileCount);
// "1.5 MB/s", "1.9 KB/s", "1023 B/s", or empty for 0; one decimal, truncated.
std::wstring SpeedText(uint32_t bytesPerSecond);

}  // namespace Orvane
