#include "diagnostics/SystemState.h"

#include <windows.h>

#include <cstdlib>
#include <utility>

#include "app/Paths.h"
#include "app/ScopedHandle.h"

namespace Orvane {

namespace {

constexpr DWORD kValueBufferLength = 1024;

bool PathExists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class IniFile {
public:
    explicit IniFile(const std::wstring& path) : path_(path) {}

    std::wstring Text(const wchar_t* section, const wchar_t* key, const wchar_t* fallback = L"") const
    {
        wchar_t buffer[kValueBufferLength] = {};
        const DWORD length = GetPrivateProfileStringW(section, key, fallback, buffer,
                                                      kValueBufferLength, path_.c_str());
        return std::wstring(buffer, length);
    }
    bool Bool(const wchar_t* section, const wchar_t* key) const
    {
        return ParseIniBool(Text(section, key, L"0"));
    }
    int Int(const wchar_t* section, const wchar_t* key) const
    {
        return ParseIniInt(Text(section, key, L"0"));
    }

    bool Write(const wchar_t* section, const wchar_t* key, const std::wstring& value) const
    {
        return WritePrivateProfileStringW(section, key, value.c_str(), path_.c_str()) != FALSE;
    }
    void Write(const wchar_t* section, const wchar_t* key, bool value) const
    {
        Write(section, key, std::wstring(value ? L"1" : L"0"));
    }
    void Write(const wchar_t* section, const wchar_t* key, int value) const
    {
        Write(section, key, std::to_wstring(value));
    }

    // The profile functions keep an existing file's encoding but create new
    // files in the ANSI code page, which loses paths with other characters.
    // Starting the file as UTF-16LE with a BOM keeps every value intact.
    void CreateAsUnicodeIfMissing() const
    {
        ScopedHandle file(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) {
            return;  // exists already, or the directory is not writable
        }
        static const BYTE kUtf16LeBom[] = {0xFF, 0xFE};
        DWORD written = 0;
        WriteFile(file.Get(), kUtf16LeBom, sizeof kUtf16LeBom, &written, nullptr);
    }

private:
    const std::wstring& path_;
};

}  // namespace

bool ParseIniBool(const std::wstring& text)
{
    return text == L"1";
}

int ParseIniInt(const std::wstring& text)
{
    return _wtoi(text.c_str());
}

std::wstring GetSetupIniPath()
{
    const std::wstring directory = GetProgramDirectory();
    return directory.empty() ? std::wstring(L"setup.ini") : directory + L"\\setup.ini";
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
