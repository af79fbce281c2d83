#include "diagnostics/DotNetProbe.h"

#include <cwchar>

#include "base/Handles.h"
#include "diagnostics/RegistryKey.h"

namespace Orvane {

namespace {

// Framework setup keys: the 64-bit view also from a 32-bit process.
constexpr REGSAM kReadAccess = KEY_READ | KEY_WOW64_64KEY;
constexpr int kFirstModernMajor = 5;
constexpr int kNet8Major = 8;

bool IsDecimalDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// Version folders of one runtime directory, in enumeration order. A directory
// that cannot be listed is skipped.
void ConsiderRuntimeFolders(const std::wstring& directory, RuntimeChoice& choice)
{
    WIN32_FIND_DATAW entry = {};
    FindHandle find(FindFirstFileW((directory + L"\\*.*").c_str(), &entry));
    if (!find.Valid()) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (!name.empty() && name[0] != L'.' && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            choice.Consider(name);
        }
    } while (FindNextFileW(find.Get(), &entry));
}

// The versions one runtime key names in one registry view: the installers
// write a value per version ("8.0.11" = 1); subkeys of that name count too.
// Each enumeration runs from index 0 until it fails.
void ConsiderRuntimeKey(HKEY root, const std::wstring& path, REGSAM view, RuntimeChoice& choice)
{
    const RegistryKey key = OpenRegistryKey(root, path.c_str(), KEY_READ | view);
    if (!key.Valid()) {
        return;
    }
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumValueW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        choice.Consider(std::wstring(name, length));
    }
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(key.Get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        choice.Consider(std::wstring(name, length));
    }
}

// A 4-byte value whatever its registry type; false when it cannot be read.
bool ReadFourByteValue(HKEY key, const wchar_t* valueName, DWORD& value)
{
    value = 0;
    DWORD size = sizeof value;
    return RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value), &size) ==
           ERROR_SUCCESS;
}

// A string value of at most 63 characters; false when it cannot be read.
bool ReadShortText(HKEY key, const wchar_t* valueName, std::wstring& text)
{
    wchar_t buffer[64] = {};
    DWORD size = sizeof buffer;
    if (RegQueryValueExW(key, valueName, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size) !=
        ERROR_SUCCESS) {
        return false;
    }
    // A stored value need not carry its terminator.
    text.assign(buffer, wcsnlen(buffer, 64));
    return true;
}

void UseModernRuntime(const RuntimeChoice& choice, EnvironmentInfo& info)
{
    info.HasDotNet = true;
    info.DotNetVersion = L"NET " + choice.Name();
    info.HasNet8 = choice.Major() >= kNet8Major;
}

void DetectFramework(const DotNetLocations& locations, EnvironmentInfo& info)
{
    const std::wstring base = locations.frameworkSetupKey + L"\\";
    {
        const RegistryKey v4 =
            OpenRegistryKey(locations.registryRoot, (base + L"v4\\Full").c_str(), kReadAccess);
        DWORD release = 0;
        if (v4.Valid() && ReadFourByteValue(v4.Get(), L"Release", release)) {
            info.HasDotNet = true;
            info.DotNetVersion = FrameworkNameForRelease(release);
            return;
        }
    }

    struct OlderFramework {
        const wchar_t* key;
        const wchar_t* name;
        bool namesItsVersion;  // "Framework 3.5 (3.5.30729.4926)"
    };
    static const OlderFramework kOlder[] = {
        {L"v3.5", L"Framework 3.5", true},
        {L"v3.0", L"Framework 3.0", false},
        {L"v2.0.50727", L"Framework 2.0", false},
        {L"v1.1.4322", L"Framework 1.1", false},
    };
    for (const OlderFramework& framework : kOlder) {
        const RegistryKey key =
            OpenRegistryKey(locations.registryRoot, (base + framework.key).c_str(), kReadAccess);
        DWORD install = 0;
        if (!key.Valid() || !ReadFourByteValue(key.Get(), L"Install", install) || install != 1) {
            continue;
        }
        info.HasDotNet = true;
        info.DotNetVersion = framework.name;
        std::wstring version;
        if (framework.namesItsVersion && ReadShortText(key.Get(), L"Version", version)) {
            info.DotNetVersion += L" (" + version + L")";
        }
        return;
    }
}

}  // namespace

int LeadingMajorVersion(const std::wstring& name)
{
    if (name.empty() || !IsDecimalDigit(name[0])) {
        return 0;
    }
    const int first = name[0] - L'0';
    if (name.size() >= 3 && IsDecimalDigit(name[1]) && name[2] == L'.') {
        return first * 10 + (name[1] - L'0');
    }
    return first;
}

void RuntimeChoice::Consider(const std::wstring& name)
{
    const int major = LeadingMajorVersion(name);
    if (major >= kFirstModernMajor && major > major_) {
        major_ = major;
        name_ = name;
    }
}

std::wstring FrameworkNameForRelease(std::uint32_t release)
{
    struct Row {
        std::uint32_t minimum;
        const wchar_t* name;
    };
    static const Row kReleases[] = {
        {533320, L"Framework 4.8.1"}, {528040, L"Framework 4.8"},   {461808, L"Framework 4.7.2"},
        {461308, L"Framework 4.7.1"}, {460798, L"Framework 4.7"},   {394802, L"Framework 4.6.2"},
        {394254, L"Framework 4.6.1"}, {393295, L"Framework 4.6"},   {379893, L"Framework 4.5.2"},
        {378675, L"Framework 4.5.1"}, {378389, L"Framework 4.5"},
    };
    for (const Row& row : kReleases) {
        if (release >= row.minimum) {
            return row.name;
        }
    }
    return L"Framework 4.0";
}

DotNetLocations DefaultDotNetLocations()
{
    DotNetLocations locations;
    locations.runtimeDirectories = {
        L"C:\\Program Files\\dotnet\\shared\\Microsoft.WindowsDesktop.App",
        L"C:\\Program Files\\dotnet\\shared\\Microsoft.NETCore.App",
    };
    locations.registryRoot = HKEY_LOCAL_MACHINE;
    locations.runtimeKeys = {
        L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.WindowsDesktop.App",
        L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x64\\sharedfx\\Microsoft.NETCore.App",
        L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x86\\sharedfx\\Microsoft.WindowsDesktop.App",
        L"SOFTWARE\\dotnet\\Setup\\InstalledVersions\\x86\\sharedfx\\Microsoft.NETCore.App",
    };
    locations.frameworkSetupKey = L"SOFTWARE\\Microsoft\\NET Framework Setup\\NDP";
    return locations;
}

void DetectDotNetIn(const DotNetLocations& locations, EnvironmentInfo& info)
{
    info.HasNet8 = false;
    info.HasDotNet = false;
    info.DotNetVersion.clear();

    RuntimeChoice folders;
    for (const std::wstring& directory : locations.runtimeDirectories) {
        ConsiderRuntimeFolders(directory, folders);
    }
    if (folders.Found()) {
        UseModernRuntime(folders, info);
        return;
    }

    // The installers register in the 32-bit view, x64 runtimes included; the
    // 64-bit view is read too. On 32-bit Windows both name the same keys.
    RuntimeChoice keys;
    for (const REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        for (const std::wstring& path : locations.runtimeKeys) {
            ConsiderRuntimeKey(locations.registryRoot, path, view, keys);
        }
    }
    if (keys.Found()) {
        UseModernRuntime(keys, info);
        return;
    }

    DetectFramework(locations, info);
}

void DetectDotNet(EnvironmentInfo& info)
{
    DetectDotNetIn(DefaultDotNetLocations(), info);
}

}  // namespace Orvane
