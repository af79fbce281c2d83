#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Orvane {

// One file the portal can deliver.
struct FileEntry {
    std::string path;  // relative to the game directory, UTF-8, as in the file list
    std::string hash;  // expected MD5, any letter case
    int64_t size = 0;  // bytes; used for progress totals
};

// Reads the portal's file list: a JSON array of entries, or an object whose
// "files" key holds them.
class FileManager {
public:
    // On success `entries` holds the usable entries in document order. On
    // failure the reason is in lastError and `entries` must be discarded.
    bool ParseFileList(const std::string& text, std::vector<FileEntry>& entries);

    std::string lastError;

private:
    bool Fail(const std::string& error);
};

// A file-list path that stays below the directory it is joined to: not empty,
// no ".." segment (split at '/' and '\'), no ':' (drives, streams), no Windows
// device name (CON, NUL.txt, COM1 ...), no characters Windows forbids in names,
// and no empty segment except one leading separator.
bool IsSafeRelativePath(const std::string& path);

// True when `path`, made absolute, lies strictly below `root`.
bool LiesInsideDirectory(const std::wstring& root, const std::wstring& path);

}  // namespace Orvane
