#include "diagnostics/SystemState.h"

#include <windows.h>

#include <cstdlib>
#include <utility>

#include "base/Ini.h"
#include "base/Paths.h"

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

    if (!SetupComplete || GameDir.empty() || !PathExists(GameDir) || !HasWowExe) {
        return false;
    }
    if (LauncherType == L"NET8_LAUNCHER" && (LauncherPath.empty() || !PathExists(LauncherPath))) {
        return false;
    }
    return true;
}

bool SystemState::Save()
{
    const IniFile ini(iniPath_);
    ini.CreateAsUnicodeIfMissing();

    ini.Write(L"System", L"OSName", OSName);
    ini.Write(L"System", L"OSVersion", OSVersion);
    ini.Write(L"System", L"OSBuild", OSBuild);
    ini.Write(L"System", L"Is64Bit", Is64Bit);
    ini.Write(L"System", L"IsWin7", IsWin7);
    ini.Write(L"System", L"IsWin10OrLater", IsWin10OrLater);
    ini.Write(L"System", L"HasDotNet", HasDotNet);
    ini.Write(L"System", L"DotNetVersion", DotNetVersion);
    ini.Write(L"System", L"HasNet8", HasNet8);

    ini.Write(L"Game", L"GameDir", GameDir);
    ini.Write(L"Game", L"HasGameDir", HasGameDir);
    ini.Write(L"Game", L"HasDataDir", HasDataDir);
    ini.Write(L"Game", L"HasWowExe", HasWowExe);
    ini.Write(L"Game", L"HasCompleteClient", HasCompleteClient);

    ini.Write(L"Server", L"ApiReachable", ApiReachable);
    ini.Write(L"Server", L"ApiLatencyMs", ApiLatencyMs);
    ini.Write(L"Server", L"GameReachable", GameReachable);
    ini.Write(L"Server", L"GameLatencyMs", GameLatencyMs);

    ini.Write(L"Launcher", L"LauncherType", LauncherType);
    ini.Write(L"Launcher", L"LauncherPath", LauncherPath);
    ini.Write(L"Launcher", L"LastCheckDate", LastCheckDate);
    ini.Write(L"Launcher", L"SetupComplete", SetupComplete);
    return true;
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
