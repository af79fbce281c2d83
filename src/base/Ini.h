#pragma once

#include <string>

namespace Orvane {

// One INI file, read and written through the system's profile functions, which
// take UTF-16 (with BOM) and ANSI files alike. A value is cut to 1023
// characters. A key that is present but empty reads as empty: a fallback
// stands in for a missing key only.
class IniFile {
public:
    explicit IniFile(std::wstring path);

    const std::wstring& Path() const { return path_; }

    std::wstring Text(const wchar_t* section, const wchar_t* key, const wchar_t* fallback = L"") const;
    // ParseIniBool of the value; false when the key is missing.
    bool Bool(const wchar_t* section, const wchar_t* key) const;
    // ParseIniInt of the value; `fallback` when the key is missing or empty.
    int Int(const wchar_t* section, const wchar_t* key, int fallback = 0) const;

    // False when the file cannot be written.
    bool Write(const wchar_t* section, const wchar_t* key, const std::wstring& value) const;
    // Also keeps a literal from being taken for a bool.
    bool Write(const wchar_t* section, const wchar_t* key, const wchar_t* value) const;
    // "1" or "0".
    bool Write(const wchar_t* section, const wchar_t* key, bool value) const;
    bool Write(const wchar_t* section, const wchar_t* key, int value) const;

    // The profile functions keep an existing file's encoding but create new
    // files in the ANSI code page, which loses text in other scripts. Call
    // before writing: a missing file is started as UTF-16LE with a BOM. An
    // existing file (ANSI or not) is left as it is.
    void CreateAsUnicodeIfMissing() const;

private:
    std::wstring path_;
};

// INI value rules: only the exact text "1" is true; integers read like _wtoi
// (leading white space, a sign, the leading digits; 0 when there are none).
bool ParseIniBool(const std::wstring& text);
int ParseIniInt(const std::wstring& text);

}  // namespace Orvane
