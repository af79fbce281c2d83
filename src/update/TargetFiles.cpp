#include "update/TargetFiles.h"

#include <cwchar>

#include "base/Handles.h"
#include "base/Logger.h"
#include "base/Paths.h"
#include "update/TargetPath.h"

namespace Orvane {

namespace {

// Back-off between replace attempts, 3.6 s in all: an indexer lets go within
// a moment, a virus scanner that scans a new file within a few seconds.
constexpr DWORD kReplaceBackoffMs[] = {50, 150, 400, 1000, 2000};

bool Held(DWORD error)
{
    return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
}

bool Refused(DWORD error)
{
    return error == ERROR_ACCESS_DENIED || Held(error);
}

ReplaceResult FailedWith(DWORD error)
{
    return Held(error) ? ReplaceResult::InUse : ReplaceResult::Failed;
}

wchar_t AsciiLower(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EndsWithNoCase(const std::wstring& name, const std::wstring& suffix)
{
    if (name.size() <= suffix.size()) {
        return false;
    }
    for (size_t i = 0; i < suffix.size(); ++i) {
        if (AsciiLower(name[name.size() - suffix.size() + i]) != AsciiLower(suffix[i])) {
            return false;
        }
    }
    return true;
}

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (AsciiLower(c) >= L'a' && AsciiLower(c) <= L'f');
}

// What GetTempFileNameW made for the prefix "orv": "orv" and one to four
// hexadecimal digits, ".tmp". Nothing else a player may have named so.
bool IsEarlierTemporaryFile(const std::wstring& name)
{
    if (name.size() < 8 || name.size() > 11 || AsciiLower(name[0]) != L'o' ||
        AsciiLower(name[1]) != L'r' || AsciiLower(name[2]) != L'v' || !EndsWithNoCase(name, L".tmp")) {
        return false;
    }
    for (size_t i = 3; i < name.size() - 4; ++i) {
        if (!IsHexDigit(name[i])) {
            return false;
        }
    }
    return true;
}

bool IsLeftover(const std::wstring& name)
{
    return IsEarlierTemporaryFile(name) || EndsWithNoCase(name, kAsideSuffix);
}

// "orv", 16 hexadecimal digits and the aside suffix: a target moved aside
// under a name of the game directory's own (its path too long for the
// suffix), which does not tell whose it is.
bool IsAsideWithoutTargetName(const std::wstring& name)
{
    const size_t suffix = std::wcslen(kAsideSuffix);
    if (name.size() != 3 + 16 + suffix || AsciiLower(name[0]) != L'o' || AsciiLower(name[1]) != L'r' ||
        AsciiLower(name[2]) != L'v') {
        return false;
    }
    for (size_t i = 3; i < 3 + 16; ++i) {
        if (!IsHexDigit(name[i])) {
            return false;
        }
    }
    return true;
}

// A target moved aside whose own name is free was cut off before its new
// version was moved in (the program killed, the power lost between the two
// moves): it goes back rather than away, so the file is never lost. The
// move never replaces: a target that is there (the new version) stays.
bool MovedBack(const std::wstring& directory, const std::wstring& name)
{
    if (!EndsWithNoCase(name, kAsideSuffix) || IsAsideWithoutTargetName(name)) {
        return false;
    }
    const std::wstring target = directory + L"\\" + name.substr(0, name.size() - std::wcslen(kAsideSuffix));
    return MoveFileExW((directory + L"\\" + name).c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != FALSE;
}

// The search also matches short (8.3) names, so every name found is checked
// again in full.
void RemoveMatching(const std::wstring& directory, const wchar_t* pattern)
{
    WIN32_FIND_DATAW found{};
    const FindHandle search(FindFirstFileW((directory + L"\\" + pattern).c_str(), &found));
    if (!search) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && IsLeftover(found.cFileName) &&
            !MovedBack(directory, found.cFileName)) {
            const std::wstring path = directory + L"\\" + found.cFileName;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) {
                SetFileAttributesW(path.c_str(), found.dwFileAttributes & ~FILE_ATTRIBUTE_READONLY);
            }
            DeleteFileW(path.c_str());
        }
    } while (FindNextFileW(search.Get(), &found));
}

}  // namespace

void RemoveLeftovers(const std::wstring& directory)
{
    RemoveMatching(directory, L"orv*.tmp");
    RemoveMatching(directory, L"*.orvold");
}

FileMoves FileMoves::System()
{
    FileMoves moves;
    moves.flush = [](HANDLE file) { return FlushFileBuffers(file) != FALSE; };
    moves.move = [](const std::wstring& from, const std::wstring& to, DWORD flags) -> DWORD {
        return MoveFileExW(from.c_str(), to.c_str(), flags) ? ERROR_SUCCESS : GetLastError();
    };
    moves.sleep = [](DWORD milliseconds) { Sleep(milliseconds); };
    moves.openForDelete = [](const std::wstring& path) -> DWORD {
        const KernelHandle file(CreateFileW(path.c_str(), DELETE,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return file ? ERROR_SUCCESS : GetLastError();
    };
    return moves;
}

ReplaceResult ReplaceTarget(const std::wstring& source, const std::wstring& target, const std::wstring& aside,
                            const FileMoves& moves)
{
    const DWORD replace = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    DWORD error = moves.move(source, target, replace);
    if (error == ERROR_ACCESS_DENIED) {
        // Only a refusal makes the target worth a look: a folder in the way
        // would look like a file in use (and be moved aside whole), and
        // Windows refuses to replace a read-only file (Wine does not).
        const DWORD attributes = GetFileAttributesW(target.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            Logger::Instance().Write(LogLevel::Warning, kListedFolderWarning);
            return ReplaceResult::TargetIsFolder;
        }
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            const DWORD cleared = attributes & ~FILE_ATTRIBUTE_READONLY;
            SetFileAttributesW(target.c_str(), cleared == 0 ? FILE_ATTRIBUTE_NORMAL : cleared);
            error = moves.move(source, target, replace);
        }
    }
    for (const DWORD pause : kReplaceBackoffMs) {
        if (!Refused(error)) {
            break;
        }
        moves.sleep(pause);
        error = moves.move(source, target, replace);
    }
    if (error == ERROR_SUCCESS) {
        return ReplaceResult::Replaced;
    }
    if (!Refused(error)) {
        Logger::Instance().Write(LogLevel::Warning,
                                 "Cannot replace a file, error " + std::to_string(error));
        return ReplaceResult::Failed;
    }
    // The refusal may be the new file's (a scanner still reading it): then a
    // healthy target must not be moved aside and back.
    const DWORD sourceError = moves.openForDelete(source);
    if (Held(sourceError)) {
        Logger::Instance().Write(LogLevel::Warning, "The new file is held by another program, error " +
                                                        std::to_string(sourceError));
        return ReplaceResult::InUse;
    }

    // A running program's image cannot be replaced or deleted, but renamed.
    DeleteFileW(aside.c_str());
    const DWORD asideError = moves.move(target, aside, MOVEFILE_REPLACE_EXISTING);
    if (asideError != ERROR_SUCCESS) {
        Logger::Instance().Write(LogLevel::Warning, "A file in use cannot be replaced, error " +
                                                        std::to_string(error) + ", moving it aside: " +
                                                        std::to_string(asideError));
        return FailedWith(Held(asideError) ? asideError : error);
    }
    const DWORD moveInError = moves.move(source, target, MOVEFILE_WRITE_THROUGH);
    if (moveInError == ERROR_SUCCESS) {
        Logger::Instance().Write(LogLevel::Info, "A file in use was moved aside and replaced");
        return ReplaceResult::Replaced;
    }
    moves.move(aside, target, 0);
    Logger::Instance().Write(LogLevel::Warning,
                             "Cannot move a file in after moving the old one aside, error " +
                                 std::to_string(moveInError));
    return FailedWith(moveInError);
}

ReplaceResult ReplaceProgram(const std::wstring& source, const std::wstring& target, const std::wstring& aside,
                             const FileMoves& moves)
{
    // An earlier update's program that could not be removed yet is in the way.
    DiscardFile(aside, moves);
    const DWORD asideError = moves.move(target, aside, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (asideError != ERROR_SUCCESS) {
        Logger::Instance().Write(LogLevel::Warning,
                                 "Cannot move the program aside, error " + std::to_string(asideError));
        return FailedWith(asideError);
    }
    const DWORD moveInError = moves.move(source, target, MOVEFILE_WRITE_THROUGH);
    if (moveInError != ERROR_SUCCESS) {
        const DWORD backError = moves.move(aside, target, MOVEFILE_WRITE_THROUGH);
        Logger::Instance().Write(LogLevel::Warning,
                                 "Cannot move the new program in, error " + std::to_string(moveInError) +
                                     (backError == ERROR_SUCCESS ? std::string("; the program is back")
                                                                 : "; moving it back: " + std::to_string(backError)));
        return FailedWith(moveInError);
    }
    Logger::Instance().Write(LogLevel::Info, "The program was moved aside and replaced");
    return ReplaceResult::Replaced;
}

bool RestoreProgram(const std::wstring& target, const std::wstring& aside, DWORD& error, const FileMoves& moves)
{
    error = moves.move(aside, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    return error == ERROR_SUCCESS;
}

bool RemoveAsideProgram(const std::wstring& aside, const DWORD* pausesMs, size_t pauseCount,
                        const std::function<DWORD(const std::wstring& path)>& remove,
                        const std::function<void(DWORD milliseconds)>& sleep)
{
    for (size_t attempt = 0;; ++attempt) {
        const DWORD error = remove(aside);
        if (error == ERROR_SUCCESS || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return true;
        }
        if (attempt == pauseCount || !Refused(error)) {
            Logger::Instance().Write(LogLevel::Warning,
                                     "Cannot remove the program moved aside, error " + std::to_string(error));
            return false;
        }
        sleep(pausesMs[attempt]);
    }
}

bool DiscardFile(const std::wstring& path, const FileMoves& moves)
{
    // "orv" and four hexadecimal digits: a name IsEarlierTemporaryFile knows.
    static const wchar_t kDigits[] = L"0123456789abcdef";
    const std::wstring folder = DirectoryOfPath(path);
    DWORD seed = GetTickCount() ^ (GetCurrentThreadId() << 8);
    for (int tries = 0; tries < 8 && !folder.empty(); ++tries, seed = seed * 1103515245u + 12345u) {
        std::wstring name = L"orv0000.tmp";
        for (int i = 0; i < 4; ++i) {
            name[static_cast<size_t>(3 + i)] = kDigits[(seed >> (16 + 4 * i)) & 15];
        }
        const std::wstring leftover = JoinPath(folder, name);
        const DWORD error = moves.move(path, leftover, 0);
        if (error == ERROR_SUCCESS) {
            DeleteFileW(leftover.c_str());  // or at the next sweep
            return true;
        }
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) {
            break;  // held without sharing deletion, or gone already
        }
    }
    return DeleteFileW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

}  // namespace Orvane
