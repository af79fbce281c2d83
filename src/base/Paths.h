#pragma once

#include <string>

namespace Orvane {

// The files the program keeps beside itself.
inline constexpr wchar_t kConfigFileName[] = L"config.ini";
inline constexpr wchar_t kSetupFileName[] = L"setup.ini";
inline constexpr wchar_t kLogFileName[] = L"Orvane.log";

// Full path of the running executable.
std::wstring GetExecutablePath();

// Directory of the running executable, without a trailing separator unless it
// is a drive root ("D:\\"); empty when the module path has no separator at all.
std::wstring GetProgramDirectory();

// `name` in the program's directory; the bare name when that directory is
// unknown (callers that must not fall back to the current directory check
// DirectoryOfPath of the result).
std::wstring FileBesideProgram(const wchar_t* name);

// The part of a path before its last '\' or '/'; empty when there is none. A
// root keeps its separator ("D:\\x" gives "D:\\", "\\x" gives "\\"): "D:" alone
// would name the drive's current directory.
std::wstring DirectoryOfPath(const std::wstring& path);

// A bare drive ("D:") as its root ("D:\\"); any other path unchanged. For
// directories that are never meant relative to a drive's current directory.
std::wstring WithRootSeparator(const std::wstring& directory);

// The absolute form of a path (GetFullPathNameW); empty when it has none.
std::wstring FullPathOf(const std::wstring& path);

// True when both name the same directory: compared without regard to letter
// case after normalising (absolute path, '/' as '\\', no trailing separator
// except a root's, a bare drive as its root). Empty paths name nothing.
bool SameDirectory(const std::wstring& a, const std::wstring& b);

// Joins a directory and a relative path with a single '\'. The relative part is
// not normalised (forward slashes stay; the Windows file functions accept them).
std::wstring JoinPath(const std::wstring& directory, const std::wstring& relative);

// Creates a directory and every missing parent. True when the directory exists
// afterwards.
bool CreateDirectories(const std::wstring& directory);

}  // namespace Orvane
