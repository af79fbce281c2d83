#include "diagnostics/SystemState.h"

#include <windows.h>

#include <cstdlib>
#include <utility>

#include "base/Ini.h"
#include "base/Logger.h"
#include "base/Paths.h"
#include "base/Text.h"

namespace Orvane {

namespace {

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

std::wstring GetSetupIniPath()
{
    return FileBesideProgram(kSetupFileName);
}

SystemState::SystemState(std::wstring iniPath) : iniPath_(std::move(iniPath)) {}

SystemState& SystemState::Instance()
{
    static SystemState instance(GetSetupIniPath());
    return instance;
}

bool SystemState::Load()
{
    if (!PathExists(iniPath_)) {
        return false;
    }
    const IniFile ini(iniPath_);

    OSName = ini.Text(L"System", L"OSName");
    OSVersion = ini.Text(L"System", L"OSVersion");
    OSBuild = ini.Text(L"System", L"OSBuild");
    Is64Bit = ini.Bool(L"System", L"Is64Bit");
    IsWin7 = ini.Bool(L"System", L"IsWin7");
    IsWin10OrLater = ini.Bool(L"System", L"IsWin10OrLater");
    HasDotNet = ini.Bool(L"System", L"HasDotNet");
    DotNetVersion = ini.Text(L"System", L"DotNetVersion");
    HasNet8 = ini.Bool(L"System", L"HasNet8");

    GameDir = ini.Text(L"Game", L"GameDir");
    HasGameDir = ini.Bool(L"Game", L"HasGameDir");
    HasDataDir = ini.Bool(L"Game", L"HasDataDir");
    HasWowExe = ini.Bool(L"Game", L"HasWowExe");
    HasCompleteClient = ini.Bool(L"Game", L"HasCompleteClient");
    ClientIntegrityInfo = ini.Text(L"Game", L"ClientIntegrityInfo");

    ApiReachable = ini.Bool(L"Server", L"ApiReachable");
    ApiLatencyMs = ini.Int(L"Server", L"ApiLatencyMs");
    GameReachable = ini.Bool(L"Server", L"GameReachable");
    GameLatencyMs = ini.Int(L"Server", L"GameLatencyMs");

    LauncherType = ini.Text(L"Launcher", L"LauncherType");
    LauncherPath = ini.Text(L"Launcher", L"LauncherPath");
    LastCheckDate = ini.Text(L"Launcher", L"LastCheckDate");
    SetupComplete = ini.Bool(L"Launcher", L"SetupComplete");

    const std::wstring ownDirectory = DirectoryOfPath(iniPath_);
    if (!GameDir.empty() && !SameDirectory(GameDir, ownDirectory)) {
        Logger::Instance().Write(LogLevel::Info, "setup.ini describes another game directory; starting afresh");
        Record() = DiagnosisRecord();
        return false;
    }
    return SavedSetupUsable(*this, ownDirectory, PathExists);
}

bool SavedSetupUsable(const DiagnosisRecord& saved, const std::wstring& ownDirectory,
                      const std::function<bool(const std::wstring&)>& exists)
{
    if (!saved.SetupComplete || saved.GameDir.empty() || !saved.HasWowExe ||
        !SameDirectory(saved.GameDir, ownDirectory) || !exists(saved.GameDir)) {
        return false;
    }
    if (saved.LauncherType == L"NET8_LAUNCHER" && (saved.LauncherPath.empty() || !exists(saved.LauncherPath))) {
        return false;
    }
    return true;
}

bool SystemState::Save()
{
    const IniFile ini(iniPath_);
    ini.CreateAsUnicodeIfMissing();
    bool allWritten = true;
    // Every value is tried, so one refused key does not leave the others stale.
    auto write = [&](const wchar_t* section, const wchar_t* key, const auto& value) {
        if (!ini.Write(section, key, value)) {
            const DWORD error = GetLastError();
            allWritten = false;
            Logger::Instance().Write(LogLevel::Warning, "Cannot write " + WideToUtf8(key) + " to " +
                                                            WideToUtf8(iniPath_) + ", error " +
                                                            std::to_string(error));
        }
    };

    write(L"System", L"OSName", OSName);
    write(L"System", L"OSVersion", OSVersion);
    write(L"System", L"OSBuild", OSBuild);
    write(L"System", L"Is64Bit", Is64Bit);
    write(L"System", L"IsWin7", IsWin7);
    write(L"System", L"IsWin10OrLater", IsWin10OrLater);
    write(L"System", L"HasDotNet", HasDotNet);
    write(L"System", L"DotNetVersion", DotNetVersion);
    write(L"System", L"HasNet8", HasNet8);

    write(L"Game", L"GameDir", GameDir);
    write(L"Game", L"HasGameDir", HasGameDir);
    write(L"Game", L"HasDataDir", HasDataDir);
    write(L"Game", L"HasWowExe", HasWowExe);
    write(L"Game", L"HasCompleteClient", HasCompleteClient);

    write(L"Server", L"ApiReachable", ApiReachable);
    write(L"Server", L"ApiLatencyMs", ApiLatencyMs);
    write(L"Server", L"GameReachable", GameReachable);
    write(L"Server", L"GameLatencyMs", GameLatencyMs);

    write(L"Launcher", L"LauncherType", LauncherType);
    write(L"Launcher", L"LauncherPath", LauncherPath);
    write(L"Launcher", L"LastCheckDate", LastCheckDate);
    write(L"Launcher", L"SetupComplete", SetupComplete);
    return allWritten;
}

int64_t SystemState::LoadFileListVersion() const
{
    return _wcstoi64(IniFile(iniPath_).Text(L"Update", L"FileListVersion", L"0").c_str(), nullptr, 10);
}

bool SystemState::SaveFileListVersion(int64_t version) const
{
    const IniFile ini(iniPath_);
    ini.CreateAsUnicodeIfMissing();
    return ini.Write(L"Update", L"FileListVersion", std::to_wstring(version));
}

}  // namespace Orvane
