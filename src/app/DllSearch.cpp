#include "app/DllSearch.h"

#include <windows.h>

#include <string>

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

HMODULE LoadSystemLibrary(const char* name)
{
    wchar_t directory[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || name == nullptr) {
        return nullptr;
    }
    std::wstring path(directory, length);
    path += L'\\';
    for (const char* c = name; *c != '\0'; ++c) {
        path += static_cast<wchar_t>(static_cast<unsigned char>(*c));  // DLL names are ASCII
    }
    return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
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
