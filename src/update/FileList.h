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
    // The "sha256" as listed when it is a string, else empty. Only builds
    // that take signed lists use it (SignedListProblem), for MD5 alone binds
    // nothing: a twin with the same MD5 and size takes seconds to make.
    std::string sha256;
};

// The portal's file list.
struct FileList {
    std::vector<FileEntry> entries;  // the usable entries, in document order
    // The top-level "version" of a list that is an object: a whole number
    // from 0 to 2^63-1. Anything else - no "version", another type, a value
    // out of that range, a bare array - counts as 0.
    int64_t version = 0;
    // The top-level "name" of a list that is an object, when a string: the
    // file name the list was published under (a signed list must be fetched
    // under it). Empty otherwise.
    std::string name;
    // How many files the portal lets a client fetch at once: the top-level
    // "connections" of a list that is an object, a whole number from 1 to
    // kMaxConnections. Anything else - absent, another type, out of range, a
    // bare array - is 1, one file after the other.
    int connections = 1;
};

inline constexpr int kMaxConnections = 8;

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

// Why a list whose signature has verified still cannot be taken, for the log;
// empty when it can. The signature covers the bytes, so what the list binds
// must be in them: its own name, equal to `servedName` (the name it was
// fetched under, so a list signed for another name cannot be replayed under
// this one), and for every entry a "sha256" of 64 lower-case hexadecimal
// characters.
std::string SignedListProblem(const FileList& list, const std::string& servedName);

// A file-list path that stays below the directory it is joined to: not empty,
// no ".." segment (split at '/' and '\'), no ':' (drives, streams), no Windows
// device name (CON, NUL.txt, COM1, COM¹ ...), no characters Windows forbids in names,
// no name ending in a dot or a space (Windows drops them: "wow.exe." is
// wow.exe), and no empty segment except one leading separator.
bool IsSafeRelativePath(const std::string& path);

}  // namespace Orvane
