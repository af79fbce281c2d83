#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>

namespace Orvane {

// Logged where a listed file is a folder here: it is never replaced nor moved.
inline constexpr char kListedFolderWarning[] = "A listed file is a folder here; it is left alone";

// Removes what earlier runs may have left in `directory`: temporary files of
// earlier versions (orv*.tmp) and targets moved aside (*.orvold). Files still
// in use stay until a later run.
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

    static FileMoves System();
};

// Moves the verified `source` over `target`. A refused move has the target
// looked at: a folder is never replaced nor moved (false); a read-only file
// has the attribute cleared and the move tried again. A replace still refused
// (the target open elsewhere) is retried a few times with a short back-off; a
// target that still cannot be replaced but can be renamed (a running
// program's image) is moved to `aside` and the source moved in. False with
// the target as it was (apart from the read-only attribute) and the source
// kept.
bool ReplaceTarget(const std::wstring& source, const std::wstring& target, const std::wstring& aside,
                   const FileMoves& moves = FileMoves::System());

}  // namespace Orvane
