#include "update/TransfersProgress.h"

namespace Orvane {

TransfersProgress::TransfersProgress(int fileCount, int64_t totalBytes, int transfers)
    : fileCount_(fileCount), totalBytes_(totalBytes), transfers_(static_cast<size_t>(transfers > 0 ? transfers : 1))
{
}

void TransfersProgress::Begin(int transfer)
{
    ++started_;
    transfers_[static_cast<size_t>(transfer)] = Transfer();
}

RunProgress TransfersProgress::Update(int transfer, int64_t downloaded, double bytesPerSecond)
{
    Transfer& changed = transfers_[static_cast<size_t>(transfer)];
    changed.downloaded = downloaded;
    changed.bytesPerSecond = bytesPerSecond;
    RunProgress progress;
    progress.fileIndex = started_;
    progress.fileCount = fileCount_;
    progress.total = totalBytes_;
    progress.downloaded = finishedBytes_;
    for (const Transfer& each : transfers_) {
        progress.downloaded += each.downloaded;
        progress.bytesPerSecond += each.bytesPerSecond;
    }
    return progress;
}

void TransfersProgress::End(int transfer, int64_t listedBytes, bool arrived)
{
    transfers_[static_cast<size_t>(transfer)] = Transfer();
    if (arrived) {
        finishedBytes_ += listedBytes;
    }
}

}  // namespace Orvane
