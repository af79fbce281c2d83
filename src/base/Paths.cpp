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
    if (separator == std::wstring::npos) {
        return std::wstring();
    }
    const bool isRoot = separator == 0 || (separator == 2 && path[1] == L':');
    return path.substr(0, isRoot ? separator + 1 : separator);
}

std::wstring WithRootSeparator(const std::wstring& directory)
{
    return directory.size() == 2 && directory[1] == L':' ? directory + L'\\' : directory;
}

std::wstring FullPathOf(const std::wstring& path)
{
    const DWORD length = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (length == 0) {
        return std::wstring();
    }
    std::wstring full(length, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), length, &full[0], nullptr);
    full.resize(written < length ? written : 0);
    return full;
}

bool SameDirectory(const std::wstring& a, const std::wstring& b)
{
    auto normalised = [](const std::wstring& path) {
        std::wstring full = path.empty() ? std::wstring() : FullPathOf(WithRootSeparator(path));
        for (wchar_t& c : full) {
            if (c == L'/') {
                c = L'\\';
            }
        }
        // A drive root keeps its separator: "D:" names the drive's current directory.
        while (full.size() > 3 && full.back() == L'\\') {
            full.pop_back();
        }
        return full;
    };
    const std::wstring first = normalised(a);
    const std::wstring second = normalised(b);
    return !first.empty() && first.size() == second.size() &&
           CompareStringOrdinal(first.c_str(), static_cast<int>(first.size()), second.c_str(),
                                static_cast<int>(second.size()), TRUE) == CSTR_EQUAL;
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
