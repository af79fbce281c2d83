#pragma once

#include <windows.h>

#include "app/UniqueHandle.h"

namespace Orvane {

// An open registry key. Predefined root keys (HKEY_LOCAL_MACHINE, ...) are
// never owned: only keys opened or created through this program.
using RegistryKey = UniqueHandle<NullHandleTraits<HKEY, RegCloseKey>>;

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
