#include "base/Logger.h"

#include <windows.h>

#include <ctime>

#include "base/Paths.h"

namespace Orvane {

namespace {

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

bool Logger::OpenFile(const std::wstring& path)
{
    KernelHandle handle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    std::lock_guard<std::mutex> guard(lock_);
    file_ = std::move(handle);
    return file_.Valid();
}

bool Logger::OpenBesideExecutable()
{
    const std::wstring path = FileBesideProgram(kLogFileName);
    // Never truncate a file of that name in whatever the current directory is.
    if (DirectoryOfPath(path).empty()) {
        return false;
    }
    return OpenFile(path);
}

void Logger::Close()
{
    std::lock_guard<std::mutex> guard(lock_);
    file_.Reset();
}

void Logger::Write(LogLevel level, const std::string& message)
{
    std::lock_guard<std::mutex> guard(lock_);
    const std::string line = FormatLogLine(LocalTimeStamp(), level, message) + "\r\n";
    if (!file_.Valid()) {
        return;
    }
    // One unbuffered write per line: whole lines, on disk even if the process dies.
    DWORD written = 0;
    WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace Orvane
