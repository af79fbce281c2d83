#pragma once

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
class Logger {
public:
    static Logger& Instance();

    // Opens (and truncates) the log file; UTF-8 text. False when it cannot be
    // opened, in which case logging stays silent.
    bool OpenFile(const std::wstring& path);
    // Orvane.log beside the executable.
    bool OpenBesideExecutable();
    void Close();

    void Write(LogLevel level, const std::string& message);

    Logger() = default;
    Logger(const Logger&) = delete;
    Logger& operator=(const Logger&) = delete;

private:
    KernelHandle file_;
    std::mutex lock_;
};

// "INFO", "WARNING", "ERROR", or "UNKNOWN" for any other value.
const char* LogLevelText(LogLevel level);

// One log line without its line end.
std::string FormatLogLine(const std::string& timeStamp, LogLevel level, const std::string& message);

}  // namespace Orvane
