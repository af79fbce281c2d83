// Delay-loaded DLLs (winhttp, bcrypt, crypt32, oleacc: see cmake/DelayLoad.cmake) are
// loaded by full path from System32. Linked into Orvane.exe only.
//
// Without this hook the delay-load helper would call LoadLibrary by name, and
// on a Windows 7 without SetDefaultDllDirectories that searches the program's
// own folder - the game folder the updater writes into - first. The helper
// (MinGW-w64's, as Microsoft's) falls back to that search whenever the notify
// hook returns no module, and raises an exception nothing catches when the
// failure hook returns nothing either. So neither hook ever returns without a
// module or function: a DLL that System32 cannot give ends the process with a
// log line naming it. The program checks its DLLs at start
// (FirstUnloadableLibrary) and does not call into one that failed, so this is
// the last line of defence only.

#include <windows.h>

#include <delayimp.h>

#include <string>

#include "app/DllSearch.h"
#include "base/Logger.h"
#include "base/SystemLibrary.h"

namespace {

[[noreturn]] void EndWithout(const DelayLoadInfo& info, DWORD error)
{
    std::string what = info.szDll != nullptr ? info.szDll : "?";
    if (info.dlp.fImportByName && info.dlp.szProcName != nullptr) {
        what += std::string("!") + info.dlp.szProcName;
    }
    Orvane::Logger::Instance().Write(Orvane::LogLevel::Error, "Cannot load " + what + " from System32 (error " +
                                                                  std::to_string(error) + "); the program ends");
    ExitProcess(Orvane::kSystemLibraryMissingExitCode);
}

FARPROC WINAPI LoadDelayedFromSystem32(unsigned notification, PDelayLoadInfo info)
{
    if (notification == dliNotePreLoadLibrary && info != nullptr) {
        const HMODULE module = Orvane::LoadSystemLibrary(info->szDll);
        if (module == nullptr) {
            EndWithout(*info, GetLastError());  // never the helper's search by name
        }
        return reinterpret_cast<FARPROC>(module);
    }
    return nullptr;  // everything else as the helper does it
}

FARPROC WINAPI EndOnDelayLoadFailure(unsigned notification, PDelayLoadInfo info)
{
    if (info != nullptr && (notification == dliFailLoadLib || notification == dliFailGetProc)) {
        EndWithout(*info, info->dwLastError);
    }
    return nullptr;
}

}  // namespace

// Declared by delayimp.h; these definitions replace the library's empty ones.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = LoadDelayedFromSystem32;
PfnDliHook __pfnDliFailureHook2 = EndOnDelayLoadFailure;
}
