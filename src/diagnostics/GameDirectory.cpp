#include "diagnostics/GameDirectory.h"

#include <windows.h>

#include <utility>

#include "base/Paths.h"
#include "diagnostics/FileDigest.h"

namespace Orvane {

namespace {

ClientFileState Examine(const std::wstring& path, const std::string& expectedMd5)
{
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return ClientFileState::Missing;
    }
    // A folder in the file's place has attributes but no digest: it counts as altered.
    return ComputeFileMd5(path) == expectedMd5 ? ClientFileState::Intact : ClientFileState::Altered;
}

}  // namespace

void DetectGameDirectoryOf(const std::wstring& executablePath, EnvironmentInfo& info)
{
    if (executablePath.find_last_of(L"\\/") != std::wstring::npos) {
        info.GameDir = DirectoryOfPath(executablePath);
    }
    // No directory known: nothing is looked up (joined to nothing, the names would mean the current directory).
    const DWORD wowExe = info.GameDir.empty() ? INVALID_FILE_ATTRIBUTES
                                              : GetFileAttributesW(JoinPath(info.GameDir, L"wow.exe").c_str());
    const DWORD data = info.GameDir.empty() ? INVALID_FILE_ATTRIBUTES
                                            : GetFileAttributesW(JoinPath(info.GameDir, L"Data").c_str());
    info.HasWowExe = wowExe != INVALID_FILE_ATTRIBUTES;
    info.HasDataDir = data != INVALID_FILE_ATTRIBUTES && (data & FILE_ATTRIBUTE_DIRECTORY) != 0;
    info.HasGameDir = info.HasWowExe && info.HasDataDir;
}

void DetectGameDirectory(EnvironmentInfo& info)
{
    DetectGameDirectoryOf(GetExecutablePath(), info);
}

std::vector<ClientFileEntry> ExpectedClientFiles()
{
    return {
        {L"Data\\zhCN\\base-zhCN.MPQ", "c98b5e25449f918c46ce506898bc6d3b", L"base-zhCN.MPQ"},
        {L"Data\\zhCN\\lichking-locale-zhCN.MPQ", "d58757c065d603e46358d990b79e490a",
         L"lichking-locale-zhCN.MPQ"},
    };
}

ClientIntegrityChecker::ClientIntegrityChecker() : entries_(ExpectedClientFiles()) {}

ClientIntegrityChecker::ClientIntegrityChecker(std::vector<ClientFileEntry> entries)
    : entries_(std::move(entries))
{
}

IntegrityResult ClientIntegrityChecker::Check(const std::wstring& gameDirectory) const
{
    if (gameDirectory.empty()) {
        return {false, L"游戏目录未设置"};
    }
    std::vector<ClientFileFinding> findings;
    findings.reserve(entries_.size());
    for (const ClientFileEntry& entry : entries_) {
        findings.push_back(
            {entry.DisplayName, Examine(JoinPath(gameDirectory, entry.RelativePath), entry.ExpectedMd5)});
    }
    return SummarizeIntegrity(findings);
}

IntegrityResult SummarizeIntegrity(const std::vector<ClientFileFinding>& findings)
{
    IntegrityResult result;
    result.IsComplete = true;
    for (const ClientFileFinding& finding : findings) {
        if (finding.state == ClientFileState::Intact) {
            continue;
        }
        result.IsComplete = false;
        if (!result.Info.empty()) {
            result.Info += L", ";
        }
        result.Info += finding.displayName;
        result.Info += finding.state == ClientFileState::Missing ? L" 文件缺失" : L" 文件校验失败";
    }
    return result;
}

}  // namespace Orvane
