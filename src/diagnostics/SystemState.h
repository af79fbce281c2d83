#pragma once

#include <cstdint>
#include <string>

namespace Orvane {

// The last diagnosis and the setup decision that followed it, persisted in
// setup.ini beside the executable. Field names are the INI keys.
class SystemState {
public:
    static SystemState& Instance();

    // A state bound to an explicit setup.ini (the process-wide one uses
    // GetSetupIniPath).
    explicit SystemState(std::wstring iniPath);

    // Reads the file into the record (every field is overwritten) and tells
    // whether it describes a finished setup that is still usable. False, with
    // the record untouched, when the file does not exist.
    bool Load();
    // Writes the record. Always true: a directory that cannot be written simply
    // leaves no valid state for the next start.
    bool Save();

    const std::wstring& IniPath() const { return iniPath_; }

    // [Update] FileListVersion: the highest signed file-list version accepted
    // so far; 0 when none. Kept apart from the diagnosis record: Load and Save
    // neither read nor touch it.
    int64_t LoadFileListVersion() const;
    // Stores it; a setup.ini that does not exist yet is created as UTF-16,
    // as Save does. False when it cannot be written.
    bool SaveFileListVersion(int64_t version) const;

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

private:
    std::wstring iniPath_;
};

// setup.ini beside the executable, or the bare name when the program's
// directory is unknown.
std::wstring GetSetupIniPath();

}  // namespace Orvane
