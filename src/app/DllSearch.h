#pragma once

#include <windows.h>

namespace Orvane {

// Restricts the DLLs this process loads at run time by name (LoadLibrary
// without a path) to System32, so a DLL planted beside the program or in the
// current directory is never picked up. Call it first thing at start. False,
// with nothing changed, on a Windows 7 without update KB2533623, which lacks
// SetDefaultDllDirectories.
bool HardenDllSearch();

}  // namespace Orvane
