#pragma once

#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace Orvane {

// The file server base URLs an answer of the relay (url.txt) names, one a
// line in order of preference, each line trimmed of spaces, CR and LF and
// given a final '/'. Empty lines are dropped, and so is a repeated URL. A
// one-line answer gives the one URL it always gave.
std::vector<std::string> MirrorsOfRelayAnswer(const std::string& body);

// How one download attempt from a mirror ended, as far as the mirror goes.
enum class AttemptOutcome {
    Succeeded,
    ConnectionFailed,  // refused, timed out or not resolved: the mirror seems down
    MirrorFailed,      // it answered, but with a bad status, a short body or wrong bytes
    LocalFailure,      // nothing the mirror did: the file was held, the disk full, ...
};

// The order a run asks its mirrors in. A mirror that failed a connection is
// moved behind all the others for the rest of the run (the latest to fail
// last), so a dead first
// mirror costs one failed connection per run, not one per file. Each file
// starts at the first mirror of the current order; an attempt the mirror
// failed moves that file's next attempt to the mirror after it (round the
// end back to the first). Safe to call from several threads.
class MirrorSet {
public:
    explicit MirrorSet(std::vector<std::string> baseUrls);
    MirrorSet(const MirrorSet&) = delete;
    MirrorSet& operator=(const MirrorSet&) = delete;

    size_t Count() const { return urls_.size(); }
    // The base URL of mirror `mirror` (an index into the URLs given).
    const std::string& Url(size_t mirror) const { return urls_[mirror]; }

    // The mirror a file's first attempt goes to. Count() must not be 0.
    size_t First() const;
    // The mirror the file's next attempt goes to after `outcome` from
    // `mirror`; a connection failure also moves `mirror` behind the others.
    size_t Next(size_t mirror, AttemptOutcome outcome);
    // The current order, most preferred first.
    std::vector<size_t> Order() const;

private:
    const std::vector<std::string> urls_;
    mutable std::mutex mutex_;
    std::vector<size_t> order_;
};

}  // namespace Orvane
