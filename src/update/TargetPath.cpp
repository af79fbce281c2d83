#include "update/TargetPath.h"

#include <windows.h>

#include <cstdint>

#include "base/Paths.h"
#include "base/Text.h"
#include "update/FileList.h"

namespace Orvane {

namespace {

constexpr size_t kLongestName = 255;
// CreateDirectoryW refuses a longer path (room for an 8.3 name below it).
constexpr size_t kLongestFolder = MAX_PATH - 12;

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool SameText(const wchar_t* a, size_t aLength, const std::wstring& b)
{
    return aLength == b.size() && CompareStringOrdinal(a, static_cast<int>(aLength), b.c_str(),
                                                       static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

size_t NameStart(const std::wstring& path)
{
    const size_t separator = path.find_last_of(L"\\/");
    return separator == std::wstring::npos ? 0 : separator + 1;
}

// '\' between names, no trailing separator except a drive root's ("C:\").
std::wstring Normalised(std::wstring path)
{
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    while (path.size() > 1 && path.back() == L'\\' && !(path.size() == 3 && path[1] == L':')) {
        path.pop_back();
    }
    return path;
}

// A full path with the short names of its existing part replaced by the long
// ones; the part that does not exist yet stays as written.
std::wstring LongFormOf(const std::wstring& full)
{
    std::wstring head = full;
    std::wstring tail;
    for (;;) {
        const DWORD length = GetLongPathNameW(head.c_str(), nullptr, 0);
        if (length != 0) {
            std::wstring resolved(length, L'\0');
            const DWORD written = GetLongPathNameW(head.c_str(), &resolved[0], length);
            if (written == 0 || written >= length) {
                return full;
            }
            resolved.resize(written);
            return JoinPath(resolved, tail);
        }
        const std::wstring parent = DirectoryOfPath(head);
        if (parent.empty() || parent == head) {
            return full;
        }
        const std::wstring name = head.substr(NameStart(head));
        tail = tail.empty() ? name : name + L'\\' + tail;
        head = parent;
    }
}

// One of the program's own files, or a leftover of one (the name followed by
// '.' and more, e.g. Orvane.log.1 or Orvane.exe.orvold).
bool IsOwnName(const std::wstring& name, const std::wstring& programName)
{
    for (const std::wstring& own : {programName, std::wstring(kConfigFileName), std::wstring(kSetupFileName),
                                    std::wstring(kLogFileName)}) {
        if (SameText(name.c_str(), name.size(), own) ||
            (name.size() > own.size() + 1 && name[own.size()] == L'.' &&
             SameText(name.c_str(), own.size(), own))) {
            return true;
        }
    }
    return false;
}

// The program's exe itself, which only its own entry may replace (unlike its
// settings, its log and its leftovers).
bool IsProgramName(const std::wstring& name, const std::wstring& programName)
{
    return SameText(name.c_str(), name.size(), programName) &&
           !SameText(name.c_str(), name.size(), kConfigFileName) &&
           !SameText(name.c_str(), name.size(), kSetupFileName) &&
           !SameText(name.c_str(), name.size(), kLogFileName);
}

// FNV-1a over the UTF-16 units, ASCII letters folded: one name per entry
// whatever letter case the list uses.
uint64_t NameHash(const std::wstring& text)
{
    uint64_t hash = 1469598103934665603ULL;
    for (wchar_t c : text) {
        if (c >= L'A' && c <= L'Z') {
            c = static_cast<wchar_t>(c - L'A' + L'a');
        }
        hash ^= static_cast<uint16_t>(c);
        hash *= 1099511628211ULL;
    }
    return hash;
}

std::wstring Hex16(uint64_t value)
{
    static const wchar_t kDigits[] = L"0123456789abcdef";
    std::wstring text(16, L'0');
    for (int i = 15; i >= 0; --i, value >>= 4) {
        text[static_cast<size_t>(i)] = kDigits[value & 15];
    }
    return text;
}

}  // namespace

TargetRule::TargetRule(const std::wstring& gameDirectory, const std::wstring& programPath)
{
    // A bare drive is the game directory at that drive's root, not its current directory.
    const std::wstring root = gameDirectory.empty() ? std::wstring() : FullPathOf(WithRootSeparator(gameDirectory));
    const std::wstring program = programPath.empty() ? std::wstring() : FullPathOf(programPath);
    Set(root.empty() ? root : LongFormOf(root), program.empty() ? program : LongFormOf(program));
}

TargetRule TargetRule::FromResolved(const std::wstring& gameDirectory, const std::wstring& programPath)
{
    TargetRule rule;
    rule.Set(gameDirectory, programPath);
    return rule;
}

void TargetRule::Set(std::wstring root, const std::wstring& programPath)
{
    root_ = Normalised(std::move(root));
    const std::wstring program = Normalised(programPath);
    programName_ = program.substr(NameStart(program));
    programFolder_ = Normalised(DirectoryOfPath(program));
    programDepth_ = -1;
    if (root_.empty() || programName_.empty() || programFolder_.empty()) {
        return;
    }
    if (SameText(programFolder_.c_str(), programFolder_.size(), root_)) {
        programDepth_ = 0;
        return;
    }
    const std::wstring prefix = root_.back() == L'\\' ? root_ : root_ + L'\\';
    if (programFolder_.size() > prefix.size() && SameText(programFolder_.c_str(), prefix.size(), prefix)) {
        programDepth_ = 1;
        for (size_t i = prefix.size(); i < programFolder_.size(); ++i) {
            programDepth_ += programFolder_[i] == L'\\' ? 1 : 0;
        }
    }
}

TargetRule::OwnFile TargetRule::OwnFileOf(const std::wstring& file) const
{
    // Only a '~' can make a name the short alias of another.
    const std::wstring resolved = file.find(L'~', root_.size()) == std::wstring::npos ? file : LongFormOf(file);
    const std::wstring folder = DirectoryOfPath(resolved);
    if (!SameText(folder.c_str(), folder.size(), programFolder_)) {
        return OwnFile::None;
    }
    const std::wstring name = resolved.substr(NameStart(resolved));
    if (programDepth_ == 0 && IsProgramName(name, programName_)) {
        return OwnFile::Program;
    }
    return IsOwnName(name, programName_) ? OwnFile::Refused : OwnFile::None;
}

std::wstring TargetRule::KeptFile(const std::wstring& file, const std::wstring& relative,
                                  const wchar_t* suffix) const
{
    std::wstring beside = file + suffix;
    if (beside.size() < MAX_PATH && beside.size() - NameStart(beside) <= kLongestName) {
        return beside;
    }
    const std::wstring inRoot = JoinPath(root_, L"orv" + Hex16(NameHash(relative)) + suffix);
    return inRoot.size() < MAX_PATH ? inRoot : std::wstring();
}

TargetPath TargetRule::Place(const std::string& entryPath) const
{
    if (root_.empty() || !IsSafeRelativePath(entryPath)) {
        return {};
    }
    const std::wstring entry = Utf8ToWide(entryPath);
    std::wstring relative;
    int names = 0;
    for (size_t start = 0; start <= entry.size();) {
        size_t end = start;
        while (end < entry.size() && !IsSeparator(entry[end])) {
            ++end;
        }
        const size_t length = end - start;
        if (length > kLongestName) {
            return {};
        }
        if (length > 0 && !(length == 1 && entry[start] == L'.')) {
            if (!relative.empty()) {
                relative += L'\\';
            }
            relative.append(entry, start, length);
            ++names;
        }
        start = end + 1;
    }
    if (names == 0) {
        return {};
    }
    TargetPath target;
    target.file = JoinPath(root_, relative);
    if (target.file.size() >= MAX_PATH) {
        return {};
    }
    const OwnFile own = names == programDepth_ + 1 ? OwnFileOf(target.file) : OwnFile::None;
    if (own == OwnFile::Refused) {
        return {};
    }
    if (own == OwnFile::Program) {
        // The program keeps the name it has on disk, whatever the list's spelling.
        relative = programName_;
        target.file = JoinPath(root_, relative);
        target.isProgram = true;
    }
    target.folder = DirectoryOfPath(target.file);
    if (names > 1 && target.folder.size() > kLongestFolder) {
        return {};
    }
    target.partial = KeptFile(target.file, relative, kPartialSuffix);
    target.aside = KeptFile(target.file, relative, kAsideSuffix);
    if (target.partial.empty() || target.aside.empty()) {
        return {};
    }
    return target;
}

std::wstring MovedAsideProgramOf(const std::wstring& programPath)
{
    const std::wstring folder = DirectoryOfPath(programPath);
    if (folder.empty()) {
        return {};
    }
    // The name as resolved: the one on disk, not a short alias.
    const TargetRule rule(folder, programPath);
    const TargetPath own = rule.Place(WideToUtf8(rule.programName_));
    return own.isProgram ? own.aside : std::wstring();
}

}  // namespace Orvane
