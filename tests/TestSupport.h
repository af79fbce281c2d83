#pragma once

// Small fixtures shared by the test programs: a private temporary directory and
// whole-file helpers.

#include <atomic>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace Orvane::Fixture {

// A fresh directory under the system's temporary folder, removed with all its
// contents when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::wstring& Path() const { return path_; }
    // Path() + '\' + relative.
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring path_;
};

bool WriteBytes(const std::wstring& path, const std::string& bytes);
// The file's bytes; sets ok to false (when given) if it cannot be read.
std::string ReadBytes(const std::wstring& path, bool* ok = nullptr);
bool Exists(const std::wstring& path);
// How often `part` occurs in `text` (not overlapping).
size_t Occurrences(const std::string& text, const std::string& part);
void RemoveTree(const std::wstring& path);
// Relative paths (separators as '\\') of every file below root.
std::set<std::wstring> FilesBelow(const std::wstring& root);

}  // namespace Orvane::Fixture

namespace Orvane::Fixture {

// Text files as the Windows profile functions read them.
bool WriteUtf16WithBom(const std::wstring& path, const std::wstring& text);
bool WriteAnsi(const std::wstring& path, const std::wstring& text);

}  // namespace Orvane::Fixture

namespace Orvane::Fixture {

// Handles this thread's window messages until `done` holds or `timeoutMs` has
// passed. True when it held.
bool PumpMessagesUntil(const std::function<bool()>& done, unsigned timeoutMs = 20000);
// Handles what is queued now.
void PumpPendingMessages();

}  // namespace Orvane::Fixture

namespace Orvane::Fixture {

// Gives the calling thread slow work at its end, after whatever it ran has
// returned, as the C++ runtime and the system's DLLs have: a pause of
// `pauseMs`, then the flag returned is set. A wait for the thread that does
// not cover its end returns with the flag still clear. Null when the system
// cannot keep the work.
std::shared_ptr<std::atomic<bool>> EndThisThreadSlowly(unsigned pauseMs);

}  // namespace Orvane::Fixture
