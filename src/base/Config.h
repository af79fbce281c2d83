#pragma once

#include <string>
#include <vector>

namespace Orvane {

// Settings that tie the program to one game service, read once at start from
// config.ini beside the executable. Every key has a default, so the file is
// optional. Text members are UTF-8.
class Config {
public:
    static Config& Instance();

    // Reads config.ini beside the executable. Always succeeds: missing file,
    // section or key leaves the default in place.
    bool Load();
    // Same, from an explicit file.
    bool LoadFrom(const std::wstring& iniPath);

    std::string portalUrl;        // relay base URL; ends in '/' unless empty
    // Further relays (PortalUrl2, PortalUrl3, ... up to the first key that is
    // missing or empty), asked in order when the one before cannot be reached
    // or gives no usable answer. Each ends in '/'.
    std::vector<std::string> fallbackPortalUrls;
    std::string fileListName;
    std::string executableName;
    std::string launcherName;
    std::string net8FileName;
    int retryCount = 3;           // download attempts per file

    Config();
};

// Full path of config.ini beside the executable, or the bare name when the
// program's directory is unknown.
std::wstring GetConfigPath();

}  // namespace Orvane
