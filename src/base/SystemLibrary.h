#pragma once

#include <windows.h>

namespace Orvane {

// Loads the system DLL `name` (a bare file name such as "winhttp.dll") by its
// full path in System32, whatever the search order; its own imports are looked
// for beside it first. Null when there is no such DLL there.
HMODULE LoadSystemLibrary(const char* name);

}  // namespace Orvane
