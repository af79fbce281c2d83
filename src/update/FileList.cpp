#include "update/FileList.h"

#include <windows.h>

#include <algorithm>
#include <limits>
#include <string>
#include <new>

#include <nlohmann/json.hpp>

#include "base/Logger.h"

namespace Orvane {

namespace {

// The JSON library quotes the portal's own text in its messages (the token it
// stopped at: "last read: '...'", a number too large: "parsing '...'"), at any
// length. The error reaches the player's message box, so the quote is cut to
// a short excerpt and the whole message kept to printable ASCII.
constexpr std::size_t kQuotedExcerptChars = 32;

// `text` in printable ASCII ('?' for any other byte), cut to its first
// `limit` characters and "..." when longer.
std::string PrintableExcerpt(const std::string& text, std::size_t limit)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (i >= limit) {
            result += "...";
            break;
        }
        const unsigned char c = static_cast<unsigned char>(text[i]);
        result += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return result;
}

std::string WithShortQuote(const std::string& message)
{
    std::size_t textStart = std::string::npos;
    for (const char* marker : {"last read: '", "parsing '"}) {
        const std::size_t at = message.find(marker);
        if (at != std::string::npos) {
            textStart = std::min(textStart, at + std::char_traits<char>::length(marker));
        }
    }
    if (textStart == std::string::npos) {
        return PrintableExcerpt(message, message.size());
    }
    std::size_t textEnd = message.size();
    if (textEnd > textStart && message.back() == '\'') {
        --textEnd;
    }
    const std::string quote = textStart < message.size() ? "'" : "";
    return PrintableExcerpt(message.substr(0, textStart), textStart) +
           PrintableExcerpt(message.substr(textStart, textEnd - textStart), kQuotedExcerptChars) + quote;
}

const char kOutOfMemoryError[] =
    "\xE6\x96\x87\xE4\xBB\xB6\xE5\x88\x97\xE8\xA1\xA8\xE8\xBF\x87\xE5\xA4\xA7";  // 文件列表过大
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
    if (base.size() < 4 || (base.compare(0, 3, "COM") != 0 && base.compare(0, 3, "LPT") != 0)) {
        return false;
    }
    // A digit 1 to 9, or the superscript digits Windows takes as 1 to 3
    // (U+00B9, U+00B2, U+00B3 in UTF-8).
    const std::string number = base.substr(3);
    return (number.size() == 1 && number[0] >= '1' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

// Reads the list as a stream of events, keeping only the entries: memory
// grows with what is kept, never with the document, and nothing allocates on
// the way out of an allocation failure (a DOM's destructor does).
//
// Shape: a top-level array of entries, or an object whose "files" holds them
// (null: none) and whose "version" is a whole number. Within an entry only
// "path", "hash" (strings) and "size" (a number) matter; other keys, of any
// depth, are passed over.
class ListReader final : public nlohmann::json_sax<nlohmann::json> {
public:
    std::string error;  // set when an event stops the parse

    bool HasList() const { return sawList_; }

    FileList Finish()
    {
        skipped_.Finish();
        FileList list;
        list.entries = std::move(entries_);
        list.version = version_;
        list.name = std::move(name_);
        list.connections = connections_;
        return list;
    }

    bool null() override { return Value(Kind::Null); }
    bool boolean(bool value) override { return Value(Kind::Number, value ? 1 : 0, "boolean"); }
    bool number_integer(number_integer_t value) override { return Value(Kind::Number, value, "number"); }
    bool number_unsigned(number_unsigned_t value) override
    {
        if (depth_ == 1 && topIsObject_ && key_ == Key::Version) {
            version_ = value <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max())
                           ? static_cast<int64_t>(value)
                           : 0;
            return true;
        }
        if (depth_ == 1 && topIsObject_ && key_ == Key::Connections) {
            connections_ = value >= 1 && value <= static_cast<uint64_t>(kMaxConnections) ? static_cast<int>(value)
                                                                                         : 1;
            return true;
        }
        return Value(Kind::Number, static_cast<int64_t>(value), "number");
    }
    bool number_float(number_float_t value, const string_t&) override
    {
        // Sizes are truncated towards zero; one no int64_t holds counts as 0.
        const bool fits = value > -9.2e18 && value < 9.2e18;
        return Value(Kind::Number, fits ? static_cast<int64_t>(value) : 0, "number");
    }
    bool string(string_t& value) override { return Value(Kind::String, 0, "string", &value); }
    bool binary(binary_t&) override { return Value(Kind::Other); }

    bool start_object(std::size_t) override { return Open(true); }
    bool start_array(std::size_t) override { return Open(false); }
    bool end_object() override { return Close(); }
    bool end_array() override { return Close(); }

    bool key(string_t& name) override
    {
        if (depth_ == 1 && topIsObject_) {
            key_ = name == "files"     ? Key::Files
                   : name == "version" ? Key::Version
                   : name == "name"    ? Key::Name
                   : name == "connections" ? Key::Connections
                                       : Key::Other;
        } else if (depth_ == entryDepth_) {
            key_ = name == "path"     ? Key::Path
                   : name == "hash"   ? Key::Hash
                   : name == "size"   ? Key::Size
                   : name == "sha256" ? Key::Sha256
                                      : Key::Other;
        }
        return true;
    }

    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override
    {
        error = "JSON parse error: " + WithShortQuote(e.what());
        return false;
    }

private:
    enum class Kind { Null, Number, String, Other };
    enum class Key { Other, Files, Version, Name, Connections, Path, Hash, Size, Sha256 };

    // True when a value starting at the current depth is an element of the list.
    bool AtElement() const { return listDepth_ != 0 && depth_ == listDepth_; }

    // A scalar value at the current depth; `text` is the string's, to be taken.
    bool Value(Kind kind, int64_t number = 0, const char* typeName = "null", string_t* text = nullptr)
    {
        if (depth_ == 0) {
            return true;  // a top-level scalar: no list (HasList stays false)
        }
        if (depth_ == 1 && topIsObject_ && key_ == Key::Version) {
            version_ = 0;  // anything but a whole number from 0 (number_unsigned) counts as 0
            return true;
        }
        if (depth_ == 1 && topIsObject_ && key_ == Key::Connections) {
            connections_ = 1;  // only a whole number in range (number_unsigned) allows more
            return true;
        }
        if (depth_ == 1 && topIsObject_ && key_ == Key::Name) {
            // Only a string names the list; the last "name" counts.
            name_ = kind == Kind::String ? std::move(*text) : std::string();
            return true;
        }
        if (depth_ == 1 && topIsObject_ && key_ == Key::Files) {
            sawList_ = true;
            if (kind != Kind::Null) {
                skipped_.Add();  // "files" that is no array holds no entry
            }
            return true;
        }
        if (AtElement()) {
            skipped_.Add();  // an element that is no object
            return true;
        }
        if (depth_ != entryDepth_) {
            return true;  // inside something passed over
        }
        if (key_ == Key::Sha256) {
            // Of any other type it is no digest: missing, for the lists that need one.
            entry_.sha256 = kind == Kind::String ? std::move(*text) : std::string();
        } else if (key_ == Key::Path || key_ == Key::Hash) {
            if (kind != Kind::String) {
                return TypeError("string", typeName);
            }
            (key_ == Key::Path ? entry_.path : entry_.hash) = std::move(*text);
            has_ |= key_ == Key::Path ? kHasPath : kHasHash;
        } else if (key_ == Key::Size) {
            if (kind != Kind::Number) {
                return TypeError("number", typeName);
            }
            entry_.size = number;
            has_ |= kHasSize;
        }
        return true;
    }

    bool Open(bool object)
    {
        ++depth_;
        if (depth_ == 1) {
            topIsObject_ = object;
            if (!object) {
                sawList_ = true;
                listDepth_ = 1;
            }
        } else if (depth_ == 2 && topIsObject_ && key_ == Key::Name) {
            name_.clear();  // an object or array names nothing
        } else if (depth_ == 2 && topIsObject_ && key_ == Key::Connections) {
            connections_ = 1;
        } else if (depth_ == 2 && topIsObject_ && key_ == Key::Files) {
            sawList_ = true;
            if (object) {
                skipped_.Add();  // "files" that is no array holds no entry
            } else {
                // A repeated "files" replaces the earlier one, as the last key wins.
                entries_.clear();
                listDepth_ = 2;
            }
        } else if (listDepth_ != 0 && depth_ == listDepth_ + 1) {
            if (object) {
                entryDepth_ = depth_;
                entry_ = FileEntry();
                has_ = 0;
                key_ = Key::Other;
            } else {
                skipped_.Add();  // an element that is an array
            }
        } else if (depth_ == entryDepth_ + 1 && key_ == Key::Sha256) {
            entry_.sha256.clear();
        } else if (depth_ == entryDepth_ + 1 && (key_ == Key::Path || key_ == Key::Hash || key_ == Key::Size)) {
            return TypeError(key_ == Key::Size ? "number" : "string", object ? "object" : "array");
        }
        return true;
    }

    bool Close()
    {
        if (depth_ == entryDepth_) {
            entryDepth_ = 0;
            if (has_ != (kHasPath | kHasHash | kHasSize) || !IsSafeRelativePath(entry_.path)) {
                // Never hashed, requested or written: it could reach outside the game directory.
                skipped_.Add();
            } else {
                entries_.push_back(std::move(entry_));
            }
        }
        if (depth_ == listDepth_) {
            listDepth_ = 0;
        }
        --depth_;
        return true;
    }

    bool TypeError(const char* wanted, const char* found)
    {
        error = std::string("JSON parse error: type must be ") + wanted + ", but is " + found;
        return false;
    }

    static constexpr int kHasPath = 1;
    static constexpr int kHasHash = 2;
    static constexpr int kHasSize = 4;

    int depth_ = 0;
    bool topIsObject_ = false;
    bool sawList_ = false;
    int listDepth_ = 0;   // depth of the array whose elements are entries; 0: none open
    int entryDepth_ = 0;  // depth of the entry object being read; 0: none
    Key key_ = Key::Other;
    FileEntry entry_;
    int has_ = 0;
    std::vector<FileEntry> entries_;
    int64_t version_ = 0;
    std::string name_;
    int connections_ = 1;
    RepeatedWarning skipped_{kInvalidEntryWarning, kEntriesSkipped};
};

ParsedFileList Failed(const std::string& error)
{
    Logger::Instance().Write(LogLevel::Error, "FileManager error: " + error);
    ParsedFileList result;
    result.error = error;
    return result;
}

bool IsLowerHexSha256(const std::string& text)
{
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

}  // namespace

std::string SignedListProblem(const FileList& list, const std::string& servedName)
{
    if (list.name != servedName) {
        return list.name.empty() ? "the list names no file name"
                                 : "the list is named '" + PrintableExcerpt(list.name, kQuotedExcerptChars) +
                                       "', fetched as '" + PrintableExcerpt(servedName, kQuotedExcerptChars) +
                                       "'";
    }
    for (const FileEntry& entry : list.entries) {
        if (!IsLowerHexSha256(entry.sha256)) {
            return "no SHA-256 of 64 lower-case hexadecimal digits for " +
                   PrintableExcerpt(entry.path, kQuotedExcerptChars);
        }
    }
    return {};
}

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
        // Empty segments ("a//b", "\\host") are refused. Windows drops trailing
        // dots and spaces ("wow.exe." opens wow.exe, "..." and ". ." become ".."
        // or nothing), so such a name is another spelling of some other path;
        // "." alone is harmless.
        if (segment.empty() || (segment != "." && (segment.back() == '.' || segment.back() == ' ')) ||
            IsDeviceName(segment)) {
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
        start = end + 1;
    }
}

ParsedFileList ParseFileList(const std::string& text)
{
    try {
        ListReader reader;
        if (!nlohmann::json::sax_parse(text, &reader)) {
            return Failed(reader.error.empty() ? std::string(kWrongShapeError) : reader.error);
        }
        if (!reader.HasList()) {
            return Failed(kWrongShapeError);
        }
        ParsedFileList result;
        result.list = reader.Finish();
        result.ok = true;
        Logger::Instance().Write(LogLevel::Info, "Parsed " + std::to_string(result.list.entries.size()) +
                                                     " files from JSON");
        return result;
    } catch (const std::bad_alloc&) {
        // Everything read so far is freed by now (nothing on the way out
        // allocates): a list too big for this process is a failed check, not
        // the end of the program.
        return Failed(kOutOfMemoryError);
    }
}

}  // namespace Orvane
