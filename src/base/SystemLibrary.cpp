#include "base/SystemLibrary.h"

#include <string>

namespace Orvane {

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

}  // namespace Orvane
