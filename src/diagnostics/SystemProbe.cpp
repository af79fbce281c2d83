#include "diagnostics/SystemProbe.h"

#include <windows.h>

#include <string>

namespace Orvane {

namespace {

using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

const wchar_t* OperatingSystemName(std::uint32_t major, std::uint32_t minor, std::uint32_t build)
{
    // Windows 10 and 11 both report 10.0: only the build tells them apart.
    if (build >= 22000) {
        return L"Windows 11";
    }
    if (build >= 10240) {
        return L"Windows 10";
    }
    if (major == 6) {
        switch (minor) {
        case 3:
            return L"Windows 8.1";
        case 2:
            return L"Windows 8";
        case 1:
            return L"Windows 7";
        case 0:
            return L"Windows Vista";
        default:
            return L"Windows";
        }
    }
    if (major == 5) {
        return L"Windows XP";
    }
    return L"Windows";
}

}  // namespace

void DescribeOperatingSystem(std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                             EnvironmentInfo& info)
{
    info.OSName = OperatingSystemName(major, minor, build);
    info.OSVersion = std::to_wstring(major) + L"." + std::to_wstring(minor);
    info.OSBuild = std::to_wstring(build);
    info.IsWin7 = major == 6 && minor == 1;
    info.IsWin10OrLater = !info.IsWin7 && (major > 6 || (major == 6 && minor >= 2));
}

bool IsX64Processor(std::uint16_t processorArchitecture)
{
    return processorArchitecture == PROCESSOR_ARCHITECTURE_AMD64;
}

bool ReadKernelVersion(std::uint32_t& major, std::uint32_t& minor, std::uint32_t& build)
{
    // ntdll is mapped into every process; no need to load it.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) {
        return false;
    }
    const FARPROC address = GetProcAddress(ntdll, "RtlGetVersion");
    if (!address) {
        return false;
    }
    const auto rtlGetVersion =
        reinterpret_cast<RtlGetVersionFunction>(reinterpret_cast<void*>(address));
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (rtlGetVersion(&version) != 0) {
        return false;
    }
    major = version.dwMajorVersion;
    minor = version.dwMinorVersion;
    build = version.dwBuildNumber;
    return true;
}

void DetectOperatingSystem(EnvironmentInfo& info)
{
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    if (ReadKernelVersion(major, minor, build)) {
        DescribeOperatingSystem(major, minor, build, info);
    }
}

bool DetectArchitecture()
{
    SYSTEM_INFO system = {};
    GetNativeSystemInfo(&system);
    return IsX64Processor(system.wProcessorArchitecture);
}

}  // namespace Orvane
