#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace Orvane {

struct TargetPath;

// What a folder holds of one target before it is downloaded.
struct TargetState {
    DWORD attributes = INVALID_FILE_ATTRIBUTES;  // of the target; INVALID_FILE_ATTRIBUTES: none
    int64_t partialBytes = -1;                   // of its partial file; -1: none
};

// One directory query where the partial file sits beside the target (every
// lookup of a missing name is one; under Wine it reads the whole folder).
TargetState ReadTargetState(const TargetPath& target);

// Removes what earlier runs may have left in `directory`: temporary files of
// earlier versions (orv*.tmp) and targets moved aside (*.orvold). Files still
// in use stay until a later run.
void RemoveLeftovers(const std::wstring& directory);

// How files are moved; replaceable so tests can refuse moves as Windows does.
struct FileMoves {
    // MoveFileExW; ERROR_SUCCESS or the system's error code.
    std::function<DWORD(const std::wstring& from, const std::wstring& to, DWORD flags)> move;
    std::function<void(DWORD milliseconds)> sleep;
    // Opens a file for deletion, sharing everything, and closes it again:
    // ERROR_SUCCESS, or the system's error code (ERROR_SHARING_VIOLATION while
    // another program holds it without sharing deletion).
    std::function<DWORD(const std::wstring& path)> openForDelete;

    static FileMoves System();
};

// How ReplaceTarget ended.
enum class ReplaceResult {
    Replaced,
    TargetIsFolder,  // a folder has the target's name; nothing was moved
    InUse,           // the target or the new file stayed held by another program
    Failed,          // any other refusal (access denied, the source gone, ...)
};

// Moves the verified `source` over `target`, whose attributes the caller has
// just read (INVALID_FILE_ATTRIBUTES: there is none). A folder is never
// replaced nor moved. A read-only target has the attribute cleared first; a
// refused replace (the target or the source open elsewhere: a virus scanner
// may hold a new file for seconds) is retried with a back-off of a few
// seconds in all; a target that still cannot be replaced but can be renamed
// (a running program's image) is moved to `aside` and the source moved in,
// unless it is the source that is held. Unless replaced, the target is as it
// was (apart from the read-only attribute) and the source kept.
ReplaceResult ReplaceTarget(const std::wstring& source, const std::wstring& target, DWORD targetAttributes,
                            const std::wstring& aside, const FileMoves& moves = FileMoves::System());

// Deletes a file so that its name is free at once. A file whose deletion
// waits for a program holding it (a virus scanner) keeps its name on
// Windows 7 and 8.1 and on FAT32/exFAT, and a new file cannot take it: it is
// renamed to a leftover name of its folder first (orvXXXX.tmp), which
// RemoveLeftovers clears later if it cannot go now. False when it could be
// neither renamed nor deleted.
bool DiscardFile(const std::wstring& path, const FileMoves& moves = FileMoves::System());

}  // namespace Orvane
