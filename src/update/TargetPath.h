#pragma once

#include <string>

namespace Orvane {

// Suffixes of the files an update keeps beside a target: where a download of
// it grows (kept across runs, so an interrupted download continues), and
// where a target that cannot be replaced in place (a running program) is
// moved aside.
inline constexpr wchar_t kPartialSuffix[] = L".orvpart";
inline constexpr wchar_t kAsideSuffix[] = L".orvold";

// Where one list entry is written. Empty `file`: the entry may not be written.
struct TargetPath {
    std::wstring file;     // the game directory (long form) + '\' + the entry, '\' between names
    std::wstring folder;   // the folder holding `file`
    std::wstring partial;  // where its download grows
    std::wstring aside;    // where it is moved when it can only be renamed
    // The entry is the running program's own file: it is fetched first and
    // alone, and the program hands over to the new one.
    bool isProgram = false;

    explicit operator bool() const { return !file.empty(); }
};

// The one rule for where an entry of the file list may be written. Made once
// per run: the game directory and the program's path are resolved there
// (full path, short names expanded). Placing an entry is then text work only,
// except for a name with '~' in the program's own folder, which may be the
// short (8.3) name of one of its files and is looked up.
//
// An entry is placed when
//  - it is IsSafeRelativePath (stays below the game directory; "." names are
//    dropped, nothing else is rewritten);
//  - it names none of the program's own files beside it (config.ini,
//    setup.ini, Orvane.log, its exe as named on disk, or one of them followed
//    by '.' and more), in any letter case or short name. The exe's own name
//    alone is placed when the program lies directly in the game directory:
//    that entry is the program's own (isProgram);
//  - Windows can open it without the long-path prefix: below MAX_PATH
//    characters, each name at most 255, and its folder (unless it is the
//    game directory) at most MAX_PATH - 12, the longest CreateDirectoryW makes.
// The partial and aside files sit beside the target; where the suffix would
// pass those limits, they take a short name of their own in the game
// directory instead ("orv" + 16 hexadecimal digits + suffix, the same for
// the same entry in every run).
std::wstring MovedAsideProgramOf(const std::wstring& programPath);

class TargetRule {
public:
    TargetRule(const std::wstring& gameDirectory, const std::wstring& programPath);

    // A rule from paths that are already full and in long form (no
    // file-system call); for tests of the text rules.
    static TargetRule FromResolved(const std::wstring& gameDirectory, const std::wstring& programPath);

    TargetPath Place(const std::string& entryPath) const;

    // The game directory as resolved, without a trailing separator except a
    // drive root's; empty when it could not be resolved (nothing is placed).
    const std::wstring& Root() const { return root_; }

private:
    friend std::wstring MovedAsideProgramOf(const std::wstring& programPath);
    TargetRule() = default;
    void Set(std::wstring root, const std::wstring& programPath);
    enum class OwnFile { None, Program, Refused };
    OwnFile OwnFileOf(const std::wstring& file) const;
    std::wstring KeptFile(const std::wstring& file, const std::wstring& relative, const wchar_t* suffix) const;

    std::wstring root_;
    std::wstring programFolder_;  // the program's folder, resolved like the root
    std::wstring programName_;
    // How many names the program's folder lies below the root; -1 when it
    // lies outside it (then no entry can name its files).
    int programDepth_ = -1;
};

// Where the update that replaced the program at `programPath` moved the old
// one (its aside file as the program's own entry); empty when it has none.
std::wstring MovedAsideProgramOf(const std::wstring& programPath);

}  // namespace Orvane
