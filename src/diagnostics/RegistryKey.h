#pragma once

#include "base/Handles.h"

namespace Orvane {

// Opens root\path with the given access; the result is not Valid() when that fails.
inline RegistryKey OpenRegistryKey(HKEY root, const wchar_t* path, REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path, 0, access, &key) != ERROR_SUCCESS) {
        return RegistryKey();
    }
    return RegistryKey(key);
}

}  // namespace Orvane
