#pragma once

#include <string>

namespace Orvane {

// The values of one diagnosis and the setup decision that followed it. A plain
// value: a diagnosis run fills its own copy and hands copies to the UI thread,
// which alone keeps (and saves) the program's record. Field names are the
// setup.ini keys.
struct DiagnosisRecord {
    // [System]
    std::wstring OSName;
    std::wstring OSVersion;
    std::wstring OSBuild;
    bool Is64Bit = false;
    bool IsWin7 = false;
    bool IsWin10OrLater = false;
    bool HasDotNet = false;
    std::wstring DotNetVersion;
    bool HasNet8 = false;
    // [Game]
    std::wstring GameDir;
    bool HasGameDir = false;
    bool HasDataDir = false;
    bool HasWowExe = false;
    bool HasCompleteClient = false;
    std::wstring ClientIntegrityInfo;  // read, never written
    // [Server]
    bool ApiReachable = false;
    int ApiLatencyMs = 0;
    bool GameReachable = false;
    int GameLatencyMs = 0;
    // [Launcher]
    std::wstring LauncherType;  // "WIN32_NATIVE", "NET8_LAUNCHER" or empty
    std::wstring LauncherPath;
    std::wstring LastCheckDate;
    bool SetupComplete = false;
};

}  // namespace Orvane
