#include "flow/SelfUpdate.h"

#include <shellapi.h>

#include "base/Handles.h"
#include "flow/LaunchRules.h"

namespace Orvane {

std::wstring AfterUpdateCommandLine(const std::wstring& programPath)
{
    return LauncherCommandLine(programPath) + L" " + kAfterUpdateFlag;
}

bool StartedByUpdate(const wchar_t* commandLine)
{
    if (commandLine == nullptr || *commandLine == L'\0') {
        return false;  // CommandLineToArgvW would name this program instead
    }
    int count = 0;
    wchar_t** const split = CommandLineToArgvW(commandLine, &count);
    const LocalMemory arguments(split);
    if (split == nullptr) {
        return false;
    }
    for (int i = 1; i < count; ++i) {
        if (lstrcmpiW(split[i], kAfterUpdateFlag) == 0) {
            return true;
        }
    }
    return false;
}

bool HandOverToNewProgram(const HandOverSteps& steps, DWORD& error)
{
    if (steps.releaseInstance) {
        steps.releaseInstance();
    }
    error = 0;
    if (steps.startProgram && steps.startProgram(error)) {
        return true;
    }
    if (steps.reacquireInstance) {
        steps.reacquireInstance();
    }
    return false;
}

bool StartProgramAfterUpdate(const std::wstring& programPath, DWORD& error)
{
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    // CreateProcessW may write into the command line, so it gets a copy of its own.
    std::wstring commandLine = AfterUpdateCommandLine(programPath);
    // No directory: the new program works where this one did.
    if (!CreateProcessW(programPath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        error = GetLastError();
        return false;
    }
    const KernelHandle thread(process.hThread);
    const KernelHandle started(process.hProcess);
    return true;
}

}  // namespace Orvane
