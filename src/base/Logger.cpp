#include "base/Logger.h"

#include <windows.h>

#include <ctime>
#include <new>

#include "base/Paths.h"

namespace Orvane {

namespace {

const char kLimitNotice[] = "Log size limit reached; nothing more is logged in this run";

std::string LocalTimeStamp()
{
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    localtime_s(&local, &now);
    char buffer[64] = {};
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
    return buffer;
}

}  // namespace

const char* LogLevelText(LogLevel level)
{
    switch (level) {
    case LogLevel::Info:
        return "INFO";
    case LogLevel::Warning:
        return "WARNING";
    case LogLevel::Error:
        return "ERROR";
    default:
        return "UNKNOWN";
    }
}

std::string FormatLogLine(const std::string& timeStamp, LogLevel level, const std::string& message)
{
    return "[" + timeStamp + "] [" + LogLevelText(level) + "] " + message;
}

Logger& Logger::Instance()
{
    static Logger instance;
    return instance;
}

bool Logger::OpenFile(const std::wstring& path, int64_t maxBytes)
{
    KernelHandle handle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::lock_guard<std::mutex> guard(lock_);
    file_ = std::move(handle);
    written_ = 0;
    maxBytes_ = maxBytes;
    full_ = false;
    return file_.Valid();
}

bool Logger::OpenKeepingPrevious(const std::wstring& path, int64_t maxBytes)
{
    // Nothing to keep on a first run; a failed move only costs the old log.
    MoveFileExW(path.c_str(), (path + kPreviousLogSuffix).c_str(), MOVEFILE_REPLACE_EXISTING);
    return OpenFile(path, maxBytes);
}

bool Logger::OpenBesideExecutable()
{
    const std::wstring path = FileBesideProgram(kLogFileName);
    // Never truncate a file of that name in whatever the current directory is.
    if (DirectoryOfPath(path).empty()) {
        return false;
    }
    return OpenKeepingPrevious(path);
}

void Logger::Close()
{
    std::lock_guard<std::mutex> guard(lock_);
    file_.Reset();
}

void Logger::Write(LogLevel level, const std::string& message)
{
    std::lock_guard<std::mutex> guard(lock_);
    if (!file_.Valid() || full_) {
        return;
    }
    // Logging never throws: callers log while unwinding from a failure too.
    try {
        const std::string stamp = LocalTimeStamp();
        std::string line = FormatLogLine(stamp, level, message) + "\r\n";
        if (written_ + static_cast<int64_t>(line.size()) > maxBytes_) {
            // The notice may pass the limit by its own length, once.
            line = FormatLogLine(stamp, LogLevel::Warning, kLimitNotice) + "\r\n";
            full_ = true;
        }
        // One unbuffered write per line: whole lines, on disk even if the process dies.
        DWORD written = 0;
        WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
        written_ += written;
    } catch (const std::bad_alloc&) {
        // No memory for the line: it is lost, the program goes on.
    }
}

RepeatedWarning::RepeatedWarning(std::string message, std::string what, int shown)
    : message_(std::move(message)), what_(std::move(what)), shown_(shown)
{
}

void RepeatedWarning::Add()
{
    if (count_++ < shown_) {
        Logger::Instance().Write(LogLevel::Warning, message_);
    }
}

void RepeatedWarning::Finish()
{
    if (count_ > shown_) {
        try {
            Logger::Instance().Write(LogLevel::Warning,
                                     "... " + std::to_string(count_ - shown_) + " more " + what_);
        } catch (const std::bad_alloc&) {
            // Called from the destructor, possibly while unwinding: never throws.
        }
    }
    count_ = 0;
}

}  // namespace Orvane
