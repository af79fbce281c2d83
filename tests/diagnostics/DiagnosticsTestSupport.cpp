#include "DiagnosticsTestSupport.h"

#include <utility>

#include "TestSupport.h"
#include "base/Paths.h"
#include "base/Handles.h"
#include "base/Text.h"
#include "diagnostics/RegistryKey.h"

namespace Orvane::Fixture {

namespace {

constexpr REGSAM kView = KEY_WOW64_64KEY;

RegistryKey CreateKey(HKEY root, const std::wstring& path, REGSAM view = kView)
{
    HKEY key = nullptr;
    if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS | view,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return RegistryKey();
    }
    return RegistryKey(key);
}

std::map<std::wstring, std::wstring> ParseLines(const std::wstring& text)
{
    std::map<std::wstring, std::wstring> values;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        const std::wstring line = text.substr(start, end - start);
        const size_t equals = line.find(L'=');
        if (equals != std::wstring::npos) {
            values[line.substr(0, equals)] = line.substr(equals + 1);
        }
        start = end + 1;
    }
    return values;
}

}  // namespace

bool RunningUnderWine()
{
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

OwnedRegistryTree::OwnedRegistryTree(HKEY root, std::wstring path, REGSAM view)
    : root_(root), path_(std::move(path)), view_(view)
{
    created_ = RegCreateKeyExW(root_, path_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                               KEY_ALL_ACCESS | view_, nullptr, &key_, nullptr) == ERROR_SUCCESS;
}

OwnedRegistryTree::~OwnedRegistryTree()
{
    if (!created_) {
        return;
    }
    RegCloseKey(key_);
    // RegDeleteTreeW takes no view flag: open the parent in the tree's view.
    const size_t separator = path_.find_last_of(L'\\');
    const std::wstring parentPath = separator == std::wstring::npos ? L"" : path_.substr(0, separator);
    const std::wstring name = separator == std::wstring::npos ? path_ : path_.substr(separator + 1);
    const RegistryKey parent = OpenRegistryKey(root_, parentPath.c_str(), KEY_ALL_ACCESS | view_);
    if (parent.Valid()) {
        RegDeleteTreeW(parent.Get(), name.c_str());
    }
}

bool RegistryKeyExists(HKEY root, const std::wstring& path)
{
    return OpenRegistryKey(root, path.c_str(), KEY_READ | kView).Valid();
}

bool CreateRegistryKey(HKEY root, const std::wstring& path, REGSAM view)
{
    return CreateKey(root, path, view).Valid();
}

bool SetRegistryBytes(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type,
                      const void* data, DWORD size, REGSAM view)
{
    const RegistryKey key = CreateKey(root, path, view);
    return key.Valid() &&
           RegSetValueExW(key.Get(), name, 0, type, static_cast<const BYTE*>(data), size) == ERROR_SUCCESS;
}

bool SetRegistryDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value, REGSAM view)
{
    return SetRegistryBytes(root, path, name, REG_DWORD, &value, sizeof value, view);
}

bool SetRegistryString(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text)
{
    return SetRegistryBytes(root, path, name, REG_SZ, text.c_str(),
                            static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
}

std::map<std::wstring, std::wstring> RunProbeHelperAt(const std::wstring& executablePath)
{
    const std::wstring helper = GetProgramDirectory() + L"\\orvane_probe_helper.exe";
    if (!CopyFileW(helper.c_str(), executablePath.c_str(), FALSE)) {
        return {};
    }
    const std::wstring output = executablePath + L".out";
    std::wstring commandLine = L"\"" + executablePath + L"\" \"" + output + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(executablePath.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &process)) {
        return {};
    }
    const KernelHandle processHandle(process.hProcess);
    const KernelHandle threadHandle(process.hThread);
    if (WaitForSingleObject(processHandle.Get(), 60000) != WAIT_OBJECT_0) {
        TerminateProcess(processHandle.Get(), 1);
        return {};
    }
    DWORD exitCode = 1;
    if (!GetExitCodeProcess(processHandle.Get(), &exitCode) || exitCode != 0) {
        return {};
    }
    return ParseLines(Utf8ToWide(ReadBytes(output)));
}

}  // namespace Orvane::Fixture
