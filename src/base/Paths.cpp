#include "base/Paths.h"

#include <windows.h>

namespace Orvane {

namespace {

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool IsExistingDirectory(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

std::wstring DirectoryOfPath(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? std::wstring() : path.substr(0, separator);
}

std::wstring GetExecutablePath()
{
    // A program cannot be started from a path longer than MAX_PATH, so the
    // buffer holds every path it can have.
    wchar_t modulePath[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, modulePath, MAX_PATH);
    return std::wstring(modulePath, length);
}

std::wstring GetProgramDirectory()
{
    return DirectoryOfPath(GetExecutablePath());
}

std::wstring FileBesideProgram(const wchar_t* name)
{
    return JoinPath(GetProgramDirectory(), name);
}

std::wstring JoinPath(const std::wstring& directory, const std::wstring& relative)
{
    if (directory.empty()) {
        return relative;
    }
    if (relative.empty()) {
        return directory;
    }
    if (IsSeparator(directory.back())) {
        return directory + relative;
    }
    return directory + L'\\' + relative;
}

bool CreateDirectories(const std::wstring& directory)
{
    if (directory.empty()) {
        return false;
    }
    if (IsExistingDirectory(directory)) {
        return true;
    }
    // A separator at position 0 is the root of the current drive: nothing to create above it.
    const size_t separator = directory.find_last_of(L"\\/");
    if (separator != std::wstring::npos && separator > 0 &&
        !CreateDirectories(directory.substr(0, separator))) {
        return false;
    }
    if (CreateDirectoryW(directory.c_str(), nullptr)) {
        return true;
    }
    // "Already exists" only counts when it is a directory: a file of that name
    // would make every later file creation inside it fail.
    return GetLastError() == ERROR_ALREADY_EXISTS && IsExistingDirectory(directory);
}

}  // namespace Orvane
