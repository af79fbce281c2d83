#include "update/MirrorSet.h"

#include <algorithm>

namespace Orvane {

namespace {

bool IsTrimmed(char c)
{
    return c == '\r' || c == '\n' || c == ' ';
}

}  // namespace

std::vector<std::string> MirrorsOfRelayAnswer(const std::string& body)
{
    std::vector<std::string> mirrors;
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find_first_of("\r\n", start);
        if (end == std::string::npos) {
            end = body.size();
        }
        size_t first = start;
        size_t last = end;
        while (first < last && IsTrimmed(body[first])) {
            ++first;
        }
        while (last > first && IsTrimmed(body[last - 1])) {
            --last;
        }
        if (last > first) {
            std::string url = body.substr(first, last - first);
            if (url.back() != '/') {
                url += '/';
            }
            if (std::find(mirrors.begin(), mirrors.end(), url) == mirrors.end()) {
                mirrors.push_back(std::move(url));
            }
        }
        start = end + 1;
    }
    return mirrors;
}

MirrorSet::MirrorSet(std::vector<std::string> baseUrls)
    : urls_(std::move(baseUrls))
{
    for (size_t i = 0; i < urls_.size(); ++i) {
        order_.push_back(i);
    }
}

size_t MirrorSet::First() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return order_.empty() ? 0 : order_.front();
}

std::vector<size_t> MirrorSet::Order() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return order_;
}

size_t MirrorSet::Next(size_t mirror, AttemptOutcome outcome)
{
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto at = std::find(order_.begin(), order_.end(), mirror);
    if (at == order_.end() || outcome == AttemptOutcome::Succeeded || outcome == AttemptOutcome::LocalFailure) {
        return mirror;
    }
    // The one after it in the order the file met, before any demotion.
    const size_t next = order_[static_cast<size_t>(at - order_.begin() + 1) % order_.size()];
    if (outcome == AttemptOutcome::ConnectionFailed) {
        // The latest to fail is the last asked.
        order_.erase(at);
        order_.push_back(mirror);
    }
    return next;
}

}  // namespace Orvane
