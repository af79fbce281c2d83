#pragma once

#include <windows.h>

namespace Orvane {

// Owns an open registry key and closes it on every path. Predefined root keys
// (HKEY_LOCAL_MACHINE, ...) are never owned: only keys this object opened.
class RegistryKey {
public:
    RegistryKey() = default;
    explicit RegistryKey(HKEY key) : key_(key) {}
    // Opens root\path with the given access; Valid() tells whether it worked.
    RegistryKey(HKEY root, const wchar_t* path, REGSAM access)
    {
        if (RegOpenKeyExW(root, path, 0, access, &key_) != ERROR_SUCCESS) {
            key_ = nullptr;
        }
    }
    ~RegistryKey()
    {
        if (key_) {
            RegCloseKey(key_);
        }
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Get() const { return key_; }
    bool Valid() const { return key_ != nullptr; }

private:
    HKEY key_ = nullptr;
};

}  // namespace Orvane
