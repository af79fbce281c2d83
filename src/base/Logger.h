#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "base/Handles.h"

namespace Orvane {

// Values are stable: a value outside the list is logged as "UNKNOWN".
enum class LogLevel : int {
    Info = 0,
    Warning = 1,
    Error = 2,
};

// Process-wide sink for diagnostic lines "[time] [LEVEL] message". Nothing is
// written until OpenFile succeeds; after that every line goes to the file at
// once, so the log survives a crash.
//
// A run writes at most a size limit: a hostile file list must not fill the
// player's disk. The line that would pass it is replaced by one notice, and
// nothing more is written until the file is opened again.
class Logger {
public:
    // Far above what any real run writes, far below what a flood would.
    static constexpr int64_t kDefaultMaxBytes = 4 * 1024 * 1024;
    // Appended to the log's name for the previous run's log.
    static constexpr wchar_t kPreviousLogSuffix[] = L".1";

    static Logger& Instance();

    // Opens (and truncates) the log file; UTF-8 text. False when it cannot be
    // opened, in which case logging stays silent.
    bool OpenFile(const std::wstring& path, int64_t maxBytes = kDefaultMaxBytes);
    // Like OpenFile, but first keeps an existing log as `path` + ".1"
    // (replacing an older one), so the previous run's log survives a restart.
    bool OpenKeepingPrevious(const std::wstring& path, int64_t maxBytes = kDefaultMaxBytes);
    // Orvane.log beside the executable, the previous one kept as Orvane.log.1.
    bool OpenBesideExecutable();
    void Close();

    void Write(LogLevel level, const std::string& message);

    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    KernelHandle file_;
    std::mutex lock_;
    int64_t written_ = 0;
    int64_t maxBytes_ = kDefaultMaxBytes;
    bool full_ = false;  // the limit notice is written: nothing more until reopened
};

// One warning that may repeat once per entry of a list: the first `shown`
// occurrences are logged as they come, the rest only counted, and Finish (or
// the destructor) logs "... N more <what>" once when any were held back.
class RepeatedWarning {
public:
    static constexpr int kDefaultShown = 5;

    RepeatedWarning(std::string message, std::string what, int shown = kDefaultShown);
    ~RepeatedWarning() { Finish(); }
    RepeatedWarning(const RepeatedWarning&) = delete;
    RepeatedWarning& operator=(const RepeatedWarning&) = delete;

    void Add();
    void Finish();

private:
    std::string message_;
    std::string what_;
    int shown_;
    int64_t count_ = 0;
};

// "INFO", "WARNING", "ERROR", or "UNKNOWN" for any other value.
const char* LogLevelText(LogLevel level);

// One log line without its line end.
std::string FormatLogLine(const std::string& timeStamp, LogLevel level, const std::string& message);

}  // namespace Orvane
