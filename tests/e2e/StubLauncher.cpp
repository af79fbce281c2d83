// Stands in for the game service's launcher in the end-to-end tests: copied
// beside Orvane.exe as "Kaimor登录器.exe", it records how it was started in
// "launcher-started.txt" beside itself and exits with 0:
//
//   cwd=<current directory>
//   cmdline=<command line>
//
// (UTF-8). The file is written under another name and renamed, so a reader
// never sees half of it. Each start also adds a line to "launcher-starts.txt",
// so a test can tell how often it was started.

#include <windows.h>

#include <string>

#include "base/Paths.h"
#include "base/Handles.h"
#include "base/Text.h"

int WINAPI wWinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*showCommand*/)
{
    using namespace Orvane;

    wchar_t current[MAX_PATH] = {};
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, current);
    const std::string text = "cwd=" + WideToUtf8(std::wstring(current, length < MAX_PATH ? length : 0)) +
                             "\ncmdline=" + WideToUtf8(GetCommandLineW()) + "\n";

    const std::wstring directory = GetProgramDirectory();
    {
        KernelHandle starts(CreateFileW((directory + L"\\launcher-starts.txt").c_str(), FILE_APPEND_DATA,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!starts || !WriteFile(starts.Get(), "started\n", 8, &written, nullptr) || written != 8) {
            return 1;
        }
    }
    const std::wstring partial = directory + L"\\launcher-started.partial";
    const std::wstring complete = directory + L"\\launcher-started.txt";
    {
        KernelHandle file(CreateFileW(partial.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        if (!file || !WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written,
                                nullptr) ||
            written != text.size()) {
            return 1;
        }
    }
    return MoveFileExW(partial.c_str(), complete.c_str(), MOVEFILE_REPLACE_EXISTING) ? 0 : 1;
}
