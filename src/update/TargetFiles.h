#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace Orvane {

// Logged where a listed file is a folder here: it is never replaced nor moved.
inline constexpr char kListedFolderWarning[] = "A listed file is a folder here; it is left alone";

// Removes what earlier runs may have left in `directory`: temporary files of
// earlier versions (orv*.tmp) and targets moved aside (*.orvold). A target
// moved aside whose own name is free again is moved back instead (a run cut
// off between moving it aside and moving its new version in). Files still in
// use stay until a later run.
void RemoveLeftovers(const std::wstring& directory);

// How new files reach the disk and are moved in; replaceable so tests can
// refuse moves as Windows does and see the order of the steps.
struct FileMoves {
    // FlushFileBuffers of a finished file, before it is moved in: after a
    // power cut NTFS may keep a rename (its metadata is journaled) yet lose
    // data still in the cache, leaving the right size full of zeros.
    std::function<bool(HANDLE file)> flush;
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

// Moves the verified `source` over `target`. A refused move has the target
// looked at: a folder is never replaced nor moved; a read-only file has the
// attribute cleared and the move tried again. A replace still refused (the
// target or the source open elsewhere: a virus scanner may hold a new file for
// seconds) is retried with a back-off of a few seconds in all; a target that
// still cannot be replaced but can be renamed (a running program's image) is
// moved to `aside` and the source moved in, unless it is the source that is
// held. Unless replaced, the target is as it was (apart from the read-only
// attribute) and the source kept.
ReplaceResult ReplaceTarget(const std::wstring& source, const std::wstring& target, const std::wstring& aside,
                            const FileMoves& moves = FileMoves::System());

// Replaces the running program's own file with the verified `source`: the
// program is always moved to `aside` first (never replaced in place), so it
// can come back when the new one cannot be started. A failed move-in puts it
// back at once.
ReplaceResult ReplaceProgram(const std::wstring& source, const std::wstring& target, const std::wstring& aside,
                             const FileMoves& moves = FileMoves::System());

// Puts the program moved to `aside` back over `target` (the new program that
// could not be started). False with the system's error code.
bool RestoreProgram(const std::wstring& target, const std::wstring& aside, DWORD& error,
                    const FileMoves& moves = FileMoves::System());

// Deletes the moved-aside program `aside`, trying again after each pause of
// `pausesMs` while it is still held (`remove` gives the system's error code,
// ERROR_SUCCESS when deleted). True when it is gone.
bool RemoveAsideProgram(const std::wstring& aside, const DWORD* pausesMs, size_t pauseCount,
                        const std::function<DWORD(const std::wstring& path)>& remove,
                        const std::function<void(DWORD milliseconds)>& sleep);

// Deletes a file so that its name is free at once. A file whose deletion
// waits for a program holding it (a virus scanner) keeps its name on
// Windows 7 and 8.1 and on FAT32/exFAT, and a new file cannot take it: it is
// renamed to a leftover name of its folder first (orvXXXX.tmp), which
// RemoveLeftovers clears later if it cannot go now. False when it could be
// neither renamed nor deleted.
bool DiscardFile(const std::wstring& path, const FileMoves& moves = FileMoves::System());

}  // namespace Orvane
