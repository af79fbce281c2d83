#pragma once

#include <string>
#include <vector>

#include "diagnostics/EnvironmentInfo.h"

namespace Orvane {

// Decides whether the program sits in a game client directory: the directory
// of its own executable (never the current directory) must hold wow.exe (file
// or folder) and a Data folder. Fills GameDir, HasWowExe, HasDataDir and
// HasGameDir.
void DetectGameDirectory(EnvironmentInfo& info);

// DetectGameDirectory for an explicit executable path. A path without any
// separator leaves GameDir as it was.
void DetectGameDirectoryOf(const std::wstring& executablePath, EnvironmentInfo& info);

// One client file whose content is fixed.
struct ClientFileEntry {
    std::wstring RelativePath;  // below the game directory
    std::string ExpectedMd5;    // 32 lower-case hexadecimal characters
    std::wstring DisplayName;   // file name used in messages
};

struct IntegrityResult {
    bool IsComplete = false;
    std::wstring Info;  // empty when complete; else the problems joined by ", "
};

// The two large zhCN archives, in the order they are examined.
std::vector<ClientFileEntry> ExpectedClientFiles();

// Compares client files with their expected MD5 digests.
class ClientIntegrityChecker {
public:
    // Checks the archives of ExpectedClientFiles.
    ClientIntegrityChecker();
    explicit ClientIntegrityChecker(std::vector<ClientFileEntry> entries);

    // Examines every entry below gameDirectory (no trailing separator); a
    // failing entry does not stop the others. An empty directory touches no
    // file and reports "游戏目录未设置".
    IntegrityResult Check(const std::wstring& gameDirectory) const;

    const std::vector<ClientFileEntry>& Entries() const { return entries_; }

private:
    std::vector<ClientFileEntry> entries_;
};

// The decision behind Check, on what was found for each entry in list order.
enum class ClientFileState {
    Intact,
    Missing,  // no attributes readable at the path
    Altered,  // present, but its digest differs or cannot be computed
};

struct ClientFileFinding {
    std::wstring displayName;
    ClientFileState state = ClientFileState::Intact;
};

// Complete when every file is intact; otherwise Info lists "<name> 文件缺失" and
// "<name> 文件校验失败" in list order, joined by ", ".
IntegrityResult SummarizeIntegrity(const std::vector<ClientFileFinding>& findings);

}  // namespace Orvane
