#pragma once

// Fixtures shared by the diagnostics tests: registry keys the test owns, and a
// copy of the probe helper program started from a folder of the test's choice.

#include <windows.h>

#include <map>
#include <string>

namespace Orvane::Fixture {

// True when the tests run under Wine rather than on Windows.
bool RunningUnderWine();

// Creates root\path (and its missing parents) in the given registry view
// (KEY_WOW64_64KEY or KEY_WOW64_32KEY) and deletes root\path with everything
// below it in that view when the object goes away. Only create keys that did
// not exist before: the whole tree is removed.
class OwnedRegistryTree {
public:
    OwnedRegistryTree(HKEY root, std::wstring path, REGSAM view = KEY_WOW64_64KEY);
    ~OwnedRegistryTree();
    OwnedRegistryTree(const OwnedRegistryTree&) = delete;
    OwnedRegistryTree& operator=(const OwnedRegistryTree&) = delete;

    bool Valid() const { return created_; }
    HKEY Key() const { return key_; }  // the created key itself, for use as a root

private:
    HKEY root_;
    std::wstring path_;
    REGSAM view_;
    HKEY key_ = nullptr;
    bool created_ = false;
};

// True when root\path exists in the 64-bit view.
bool RegistryKeyExists(HKEY root, const std::wstring& path);
// Creates root\path\... in the 64-bit view; the value helpers create the key too.
bool CreateRegistryKey(HKEY root, const std::wstring& path, REGSAM view = KEY_WOW64_64KEY);
// The value helpers write in the 64-bit view unless told another.
bool SetRegistryDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value,
                      REGSAM view = KEY_WOW64_64KEY);
// Stores exactly the given bytes under the given type (a string keeps no
// terminator unless the bytes hold one).
bool SetRegistryBytes(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type,
                      const void* data, DWORD size, REGSAM view = KEY_WOW64_64KEY);
bool SetRegistryString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text);

// Copies the probe helper to executablePath, starts it there and returns the
// "Key=value" lines it wrote. Empty when it could not be run.
std::map<std::wstring, std::wstring> RunProbeHelperAt(const std::wstring& executablePath);

}  // namespace Orvane::Fixture
