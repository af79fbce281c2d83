#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace Orvane {

// The argument a program started by its own update gets: it then waits for
// the single-instance mutex its predecessor hands over, and carries on with
// the update the player asked for.
inline constexpr wchar_t kAfterUpdateFlag[] = L"--after-update";

// How long a program started by an update waits for its predecessor to let
// go of the single-instance mutex.
inline constexpr DWORD kHandOverWaitMs = 5000;

// Pauses of a program started by its update while the old one, which handed
// over before it exits, still holds its files (its image, its log).
inline constexpr DWORD kOldProgramExitPausesMs[] = {50, 100, 200, 400, 800, 1200};

// The command line of the program started after its update: its path in
// quotes (it may hold spaces) and the flag.
std::wstring AfterUpdateCommandLine(const std::wstring& programPath);

// True when one of the arguments after the program's own name in
// `commandLine` (as GetCommandLineW gives it) is kAfterUpdateFlag.
bool StartedByUpdate(const wchar_t* commandLine);

// The steps of handing over to the new program, in the order they must run.
struct HandOverSteps {
    // Lets go of the single-instance mutex, so the new program can take it.
    std::function<void()> releaseInstance;
    // Starts the new program; false with the system's error code.
    std::function<bool(DWORD& error)> startProgram;
    // Takes the mutex again: this program stays.
    std::function<void()> reacquireInstance;
};

// Releases the mutex before the new program starts (it would otherwise meet
// the old copy), and takes it back when the new one cannot be started. True
// when the new program runs; the caller then exits.
bool HandOverToNewProgram(const HandOverSteps& steps, DWORD& error);

// Starts `programPath` with AfterUpdateCommandLine, in this process's current
// directory. False with the system's error code.
bool StartProgramAfterUpdate(const std::wstring& programPath, DWORD& error);

}  // namespace Orvane
