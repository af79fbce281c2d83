#include "update/FileList.h"

#include <windows.h>

#include <limits>

#include <nlohmann/json.hpp>

#include "base/Logger.h"
#include "base/Paths.h"

namespace Orvane {

namespace {

const char kInvalidEntryWarning[] = "Skipping invalid file entry in JSON";
const char kWrongShapeError[] =
    "JSON \xE6\xA0\xBC\xE5\xBC\x8F\xE6\x97\xA0\xE6\x95\x88\xEF\xBC\x8C\xE6\x9C\x9F\xE6\x9C\x9B"
    "\xE6\x95\xB0\xE7\xBB\x84\xE6\x88\x96 {\"files\":[...]}";  // JSON 格式无效，期望数组或 {"files":[...]}

char AsciiUpper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDeviceName(const std::string& segment)
{
    // The device is named by the part before the first dot, trailing spaces ignored.
    std::string base = segment.substr(0, segment.find('.'));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    for (char& c : base) {
        c = AsciiUpper(c);
    }
    if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL") {
        return true;
    }
    return base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) &&
           base[3] >= '1' && base[3] <= '9';
}

bool IsOnlyDotsAndSpaces(const std::string& segment)
{
    return segment.find_first_not_of(". ") == std::string::npos;
}

int64_t VersionOf(const nlohmann::json& document)
{
    if (!document.is_object()) {
        return 0;
    }
    const auto version = document.find("version");
    if (version == document.end()) {
        return 0;
    }
    // Non-negative JSON integers are stored unsigned, negative ones signed.
    if (version->is_number_unsigned()) {
        const uint64_t value = version->get<uint64_t>();
        return value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) ? static_cast<int64_t>(value)
                                                                                  : 0;
    }
    return 0;
}

ParsedFileList Failed(const std::string& error)
{
    Logger::Instance().Write(LogLevel::Error, "FileManager error: " + error);
    ParsedFileList result;
    result.error = error;
    return result;
}

}  // namespace

bool IsSafeRelativePath(const std::string& path)
{
    if (path.empty()) {
        return false;
    }
    for (const unsigned char c : path) {
        if (c < 0x20 || c == ':' || c == '<' || c == '>' || c == '"' || c == '|' || c == '?' ||
            c == '*') {
            return false;
        }
    }
    // One leading separator is allowed ("/Data/x" joins as "<root>\/Data/x").
    size_t start = (path[0] == '/' || path[0] == '\\') ? 1 : 0;
    for (;;) {
        const size_t end = path.find_first_of("/\\", start);
        const std::string segment = path.substr(start, end == std::string::npos ? end : end - start);
        // Empty segments ("a//b", "\\host"), "..", and names Windows would trim to
        // ".." or to nothing ("...", ". .") are all refused; "." alone is harmless.
        if (segment.empty() || (segment != "." && IsOnlyDotsAndSpaces(segment)) ||
            IsDeviceName(segment)) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}

bool LiesInsideDirectory(const std::wstring& root, const std::wstring& path)
{
    auto fullPath = [](const std::wstring& p) {
        const DWORD length = GetFullPathNameW(p.c_str(), 0, nullptr, nullptr);
        if (length == 0) {
            return std::wstring();
        }
        std::wstring full(length, L'\0');
        const DWORD written = GetFullPathNameW(p.c_str(), length, &full[0], nullptr);
        full.resize(written < length ? written : 0);
        return full;
    };
    // A bare drive is the game directory at that drive's root, not its current directory.
    std::wstring fullRoot = fullPath(WithRootSeparator(root));
    const std::wstring fullTarget = fullPath(path);
    if (fullRoot.empty() || fullTarget.empty()) {
        return false;
    }
    if (fullRoot.back() != L'\\') {
        fullRoot += L'\\';
    }
    return fullTarget.size() > fullRoot.size() &&
           CompareStringOrdinal(fullTarget.c_str(), static_cast<int>(fullRoot.size()),
                                fullRoot.c_str(), static_cast<int>(fullRoot.size()),
                                TRUE) == CSTR_EQUAL;
}

ParsedFileList ParseFileList(const std::string& text)
{
    try {
        const nlohmann::json document = nlohmann::json::parse(text);
        nlohmann::json list;
        if (document.is_object() && document.contains("files")) {
            list = document["files"];
        } else if (document.is_array()) {
            list = document;
        } else {
            return Failed(kWrongShapeError);
        }

        ParsedFileList result;
        std::vector<FileEntry>& entries = result.list.entries;
        for (const nlohmann::json& element : list) {
            if (!element.is_object() || !element.contains("path") || !element.contains("hash") ||
                !element.contains("size")) {
                Logger::Instance().Write(LogLevel::Warning, kInvalidEntryWarning);
                continue;
            }
            FileEntry entry;
            entry.path = element["path"].get<std::string>();
            entry.hash = element["hash"].get<std::string>();
            entry.size = element["size"].get<int64_t>();
            if (!IsSafeRelativePath(entry.path)) {
                // Never hashed, requested or written: it could reach outside the game directory.
                Logger::Instance().Write(LogLevel::Warning, kInvalidEntryWarning);
                continue;
            }
            entries.push_back(std::move(entry));
        }
        result.list.version = VersionOf(document);
        result.ok = true;
        Logger::Instance().Write(LogLevel::Info,
                                 "Parsed " + std::to_string(entries.size()) + " files from JSON");
        return result;
    } catch (const nlohmann::json::exception& e) {
        return Failed(std::string("JSON parse error: ") + e.what());
    }
}

}  // namespace Orvane
