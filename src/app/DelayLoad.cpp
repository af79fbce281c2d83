// Delay-loaded DLLs (winhttp, bcrypt, crypt32, oleacc: see cmake/DelayLoad.cmake) are
// loaded by full path from System32. Linked into Orvane.exe only.
//
// Without this hook the delay-load helper would call LoadLibrary by name, and
// on a Windows 7 without SetDefaultDllDirectories that searches the program's
// own folder - the game folder the updater writes into - first.

#include <windows.h>

#include <delayimp.h>

#include "base/SystemLibrary.h"

namespace {

FARPROC WINAPI LoadDelayedFromSystem32(unsigned notification, PDelayLoadInfo info)
{
    if (notification == dliNotePreLoadLibrary && info != nullptr) {
        return reinterpret_cast<FARPROC>(Orvane::LoadSystemLibrary(info->szDll));
    }
    return nullptr;  // everything else as the helper does it
}

}  // namespace

// Declared by delayimp.h; this definition replaces the library's empty one.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedFromSystem32;
}
