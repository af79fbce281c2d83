#include "base/Ini.h"

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "base/Handles.h"

namespace Orvane {

namespace {

constexpr DWORD kValueBufferLength = 1024;

}  // namespace

bool ParseIniBool(const std::wstring& text)
{
    return text == L"1";
}

int ParseIniInt(const std::wstring& text)
{
    return _wtoi(text.c_str());
}

IniFile::IniFile(std::wstring path) : path_(std::move(path)) {}

std::wstring IniFile::Text(const wchar_t* section, const wchar_t* key, const wchar_t* fallback) const
{
    wchar_t buffer[kValueBufferLength] = {};
    const DWORD length = GetPrivateProfileStringW(section, key, fallback, buffer, kValueBufferLength,
                                                  path_.c_str());
    return std::wstring(buffer, length);
}

bool IniFile::Bool(const wchar_t* section, const wchar_t* key) const
{
    return ParseIniBool(Text(section, key));
}

int IniFile::Int(const wchar_t* section, const wchar_t* key, int fallback) const
{
    // An empty value takes the fallback too, as GetPrivateProfileIntW does.
    const std::wstring text = Text(section, key);
    return text.empty() ? fallback : ParseIniInt(text);
}

bool IniFile::Write(const wchar_t* section, const wchar_t* key, const std::wstring& value) const
{
    return Write(section, key, value.c_str());
}

bool IniFile::Write(const wchar_t* section, const wchar_t* key, const wchar_t* value) const
{
    // A line break inside a value would end it there and turn the rest into
    // lines of their own (a forged key, or a section header).
    std::wstring oneLine = value;
    oneLine.erase(std::remove_if(oneLine.begin(), oneLine.end(),
                                 [](wchar_t c) { return c == L'\r' || c == L'\n'; }),
                  oneLine.end());
    return WritePrivateProfileStringW(section, key, oneLine.c_str(), path_.c_str()) != FALSE;
}

bool IniFile::Write(const wchar_t* section, const wchar_t* key, bool value) const
{
    return Write(section, key, value ? L"1" : L"0");
}

bool IniFile::Write(const wchar_t* section, const wchar_t* key, int value) const
{
    return Write(section, key, std::to_wstring(value));
}

void IniFile::CreateAsUnicodeIfMissing() const
{
    KernelHandle file(CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;  // exists already, or the directory is not writable
    }
    static const BYTE kUtf16LeBom[] = {0xFF, 0xFE};
    DWORD written = 0;
    WriteFile(file.Get(), kUtf16LeBom, sizeof kUtf16LeBom, &written, nullptr);
}

}  // namespace Orvane
