#include "app/DllSearch.h"

#include <windows.h>

namespace Orvane {

bool HardenDllSearch()
{
    // Looked up at run time: a static import would keep the program from
    // starting at all where the function is missing.
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return false;
    }
    const auto setDefaultDllDirectories = reinterpret_cast<SetDefaultDllDirectoriesFunction>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
    return setDefaultDllDirectories != nullptr &&
           setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

std::string FirstUnloadableLibrary(std::initializer_list<const char*> names, SystemLibraryLoader load)
{
    for (const char* name : names) {
        if (load(name) == nullptr) {
            return name;
        }
    }
    return {};
}

}  // namespace Orvane
