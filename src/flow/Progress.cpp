#include "flow/Progress.h"

#include <cmath>

namespace Orvane {

namespace {

// One decimal, truncated rather than rounded: 2047 B/s reads 1.9 KB/s.
std::wstring OneDecimal(double value, const wchar_t* unit)
{
    const double whole = std::floor(value);
    const int tenth = static_cast<int>(std::floor((value - whole) * 10.0));
    return std::to_wstring(static_cast<long long>(whole)) + L"." + std::to_wstring(tenth) + unit;
}

}  // namespace

std::wstring FileCounterText(unsigned fileIndex, unsigned fileCount)
{
    return L"下载进度: " + std::to_wstring(fileIndex) + L"/" + std::to_wstring(fileCount);
}

std::wstring SpeedText(uint32_t bytesPerSecond)
{
    const double value = bytesPerSecond;
    if (value >= 1048576.0) {
        return OneDecimal(value / 1048576.0, L" MB/s");
    }
    if (value >= 1024.0) {
        return OneDecimal(value / 1024.0, L" KB/s");
    }
    if (bytesPerSecond > 0) {
        return std::to_wstring(bytesPerSecond) + L" B/s";
    }
    return std::wstring();
}

int64_t ProgressPercent(int64_t downloaded, int64_t total)
{
    return total > 0 ? downloaded * 100 / total : 0;
}

}  // namespace Orvane
