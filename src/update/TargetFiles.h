#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace Orvane {

// The files an update keeps beside a target: where a download of it grows
// (kept across runs, so an interrupted download continues), and where a
// target that cannot be replaced in place (a running program) is moved aside.
// One name of each per target.
inline constexpr wchar_t kPartialSuffix[] = L".orvpart";
inline constexpr wchar_t kAsideSuffix[] = L".orvold";

std::wstring PartialPathOf(const std::wstring& target);
std::wstring AsidePathOf(const std::wstring& target);

// Whether the target and the files kept beside it can be named without the
// long-path prefix, which Windows 7 requires beyond MAX_PATH: the longest of
// them below MAX_PATH characters and its last component at most 255.
bool FitsWindowsPathLimits(const std::wstring& target);

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

// Moves the verified `source` over `target`. A read-only target has the
// attribute cleared first; a refused replace (the target open elsewhere) is
// retried a few times with a short back-off; a target that still cannot be
// replaced but can be renamed (a running program's image) is moved aside to
// AsidePathOf(target) and the source moved in. False with the target as it
// was (apart from the read-only attribute) and the source kept.
bool ReplaceTarget(const std::wstring& source, const std::wstring& target,
                   const FileMoves& moves = FileMoves::System());

}  // namespace Orvane
