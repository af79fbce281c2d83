#pragma once

#include <string>

namespace Orvane {

// Scratch record of one detection run: the local probes fill it, the run copies
// it into SystemState. Field names are the setup.ini keys they end up under.
// A fresh record has empty strings and false flags; a probe that fails leaves
// its fields so.
struct EnvironmentInfo {
    // DetectOperatingSystem
    std::wstring OSName;
    std::wstring OSVersion;  // "major.minor", e.g. "10.0"
    std::wstring OSBuild;    // decimal build number, e.g. "19045"
    // DetectArchitecture (the caller stores its result here)
    bool Is64Bit = false;
    // DetectOperatingSystem
    bool IsWin7 = false;
    bool IsWin10OrLater = false;
    // DetectDotNet
    bool HasDotNet = false;
    std::wstring DotNetVersion;  // "NET 8.0.11", "Framework 4.8", ...
    bool HasNet8 = false;
    // DetectGameDirectory
    bool HasGameDir = false;
    std::wstring GameDir;  // the program's directory, no trailing separator
    bool HasWowExe = false;
    bool HasDataDir = false;
};

}  // namespace Orvane
