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

    static FileMoves System();
};

// Moves the verified `source` over `target`, whose attributes the caller has
// just read (INVALID_FILE_ATTRIBUTES: there is none). A folder is never
// replaced nor moved: false at once. A read-only target has the attribute
// cleared first; a refused replace (the target open elsewhere) is retried a
// few times with a short back-off; a target that still cannot be replaced but
// can be renamed (a running program's image) is moved to `aside` and the
// source moved in. False with the target as it was (apart from the read-only
// attribute) and the source kept.
bool ReplaceTarget(const std::wstring& source, const std::wstring& target, DWORD targetAttributes,
                   const std::wstring& aside, const FileMoves& moves = FileMoves::System());

}  // namespace Orvane
