#pragma once

#include <windows.h>

#include <initializer_list>
#include <string>

#include "base/SystemLibrary.h"

namespace Orvane {

// Restricts the DLLs this process loads at run time by name (LoadLibrary
// without a path) to System32, so a DLL planted beside the program or in the
// current directory is never picked up. Call it first thing at start. False,
// with nothing changed, on a Windows 7 without update KB2533623, which lacks
// SetDefaultDllDirectories.
bool HardenDllSearch();

// Loads a system DLL for the check below; LoadSystemLibrary unless a test
// makes it fail.
using SystemLibraryLoader = HMODULE (*)(const char* name);

// The first of `names` (system DLLs the program loads at first use) that
// `load` cannot load, or empty when all of them load. The modules loaded stay
// loaded: the first call into one then finds it. Checked at start, so a run
// that needs a missing DLL fails with its name instead of the process ending
// part-way.
std::string FirstUnloadableLibrary(std::initializer_list<const char*> names,
                                   SystemLibraryLoader load = LoadSystemLibrary);

// The exit code of a process whose delay-load hook could not load a DLL, or
// a function in it, from System32 (app/DelayLoad.cpp).
constexpr UINT kSystemLibraryMissingExitCode = 0x0D11;

}  // namespace Orvane
