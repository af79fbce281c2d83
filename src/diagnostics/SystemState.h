#pragma once

#include <cstdint>
#include <string>

#include "diagnostics/DiagnosisRecord.h"

namespace Orvane {

// The last diagnosis and the setup decision that followed it, persisted in
// setup.ini beside the executable. Field names are the INI keys.
class SystemState : public DiagnosisRecord {
public:
    static SystemState& Instance();

    // A state bound to an explicit setup.ini (the process-wide one uses
    // GetSetupIniPath).
    explicit SystemState(std::wstring iniPath);

    // Reads the file into the record (every field is overwritten) and tells
    // whether it describes a finished setup that is still usable. False, with
    // the record untouched, when the file does not exist.
    bool Load();
    // Writes the record. Always true: a directory that cannot be written simply
    // leaves no valid state for the next start.
    bool Save();

    const std::wstring& IniPath() const { return iniPath_; }
    DiagnosisRecord& Record() { return *this; }
    const DiagnosisRecord& Record() const { return *this; }

    // [Update] FileListVersion: the highest signed file-list version accepted
    // so far; 0 when none. Kept apart from the diagnosis record: Load and Save
    // neither read nor touch it.
    int64_t LoadFileListVersion() const;
    // Stores it; a setup.ini that does not exist yet is created as UTF-16,
    // as Save does. False when it cannot be written.
    bool SaveFileListVersion(int64_t version) const;

private:
    std::wstring iniPath_;
};

// setup.ini beside the executable, or the bare name when the program's
// directory is unknown.
std::wstring GetSetupIniPath();

}  // namespace Orvane
