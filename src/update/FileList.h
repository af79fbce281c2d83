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

// The portal's file list.
struct FileList {
    std::vector<FileEntry> entries;  // the usable entries, in document order
    // The top-level "version" of a list that is an object: a whole number
    // from 0 to 2^63-1. Anything else - no "version", another type, a value
    // out of that range, a bare array - counts as 0.
    int64_t version = 0;
};

// What ParseFileList made of a text: on failure `error` says why (it is
// shown to the user) and `list` is empty.
struct ParsedFileList {
    bool ok = false;
    FileList list;
    std::string error;
};

// The warning logged for each entry that is skipped (summarised after a few).
inline constexpr char kInvalidEntryWarning[] = "Skipping invalid file entry in JSON";
inline constexpr char kEntriesSkipped[] = "entries skipped";

// Reads the portal's file list, once: a JSON array of entries, or an object
// whose "files" key holds them. Entries that lack "path", "hash" or "size",
// or whose path is not IsSafeRelativePath, are skipped with a warning. Text
// that is not JSON, another top-level shape, a key of the wrong type, or a
// list that does not fit in memory fails the whole list.
ParsedFileList ParseFileList(const std::string& text);

// A file-list path that stays below the directory it is joined to: not empty,
// no ".." segment (split at '/' and '\'), no ':' (drives, streams), no Windows
// device name (CON, NUL.txt, COM1, COM¹ ...), no characters Windows forbids in names,
// no name ending in a dot or a space (Windows drops them: "wow.exe." is
// wow.exe), and no empty segment except one leading separator.
bool IsSafeRelativePath(const std::string& path);

}  // namespace Orvane
