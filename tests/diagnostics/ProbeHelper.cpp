// A stand-in for the program in tests that need the real probes to run from a
// particular executable: copied into a folder and started there, it writes
// what the probes found as "Key=value" lines (UTF-8) to the file named by its
// first argument.

#include <windows.h>

#include <string>

#include "base/Text.h"
#include "diagnostics/EnvironmentInfo.h"
#include "diagnostics/GameDirectory.h"
#include "diagnostics/SystemProbe.h"
#include "TestSupport.h"

int wmain(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return 2;
    }
    Orvane::EnvironmentInfo info;
    Orvane::DetectOperatingSystem(info);
    info.Is64Bit = Orvane::DetectArchitecture();
    Orvane::DetectGameDirectory(info);

    const auto flag = [](bool value) { return std::wstring(value ? L"1" : L"0"); };
    const std::wstring text = L"OSName=" + info.OSName + L"\nOSVersion=" + info.OSVersion +
                              L"\nOSBuild=" + info.OSBuild + L"\nIsWin7=" + flag(info.IsWin7) +
                              L"\nIsWin10OrLater=" + flag(info.IsWin10OrLater) +
                              L"\nIs64Bit=" + flag(info.Is64Bit) + L"\nGameDir=" + info.GameDir +
                              L"\nHasWowExe=" + flag(info.HasWowExe) + L"\nHasDataDir=" +
                              flag(info.HasDataDir) + L"\nHasGameDir=" + flag(info.HasGameDir) + L"\n";
    return Orvane::Fixture::WriteBytes(argv[1], Orvane::WideToUtf8(text)) ? 0 : 1;
}
