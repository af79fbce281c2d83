#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "diagnostics/DiagnosisRecord.h"

namespace Orvane {

// The last diagnosis and the setup decision that followed it, persisted in
// Whether a saved record describes a finished setup still usable by the
// program in `ownDirectory`: set up completely, for that very directory
// (SameDirectory), which exists and held wow.exe, with the full launcher it
// chose (if any) still present. `exists` tells whether a path exists.
bool SavedSetupUsable(const DiagnosisRecord& saved, const std::wstring& ownDirectory,
                      const std::function<bool(const std::wstring&)>& exists);

// setup.ini beside the executable. Field names are the INI keys.
class SystemState : public DiagnosisRecord {
public:
    static SystemState& Instance();

    // A state bound to an explicit setup.ini (the process-wide one uses
    // GetSetupIniPath).
    explicit SystemState(std::wstring iniPath);

    // Reads the file into the record (every field is overwritten) and tells
    // whether it describes a finished setup that is still usable
    // (SavedSetupUsable, the directory holding the file being the program's
    // own). False, with the record untouched, when the file does not exist;
    // false with an empty record when it describes another directory (a
    // copied or moved client): nothing of that folder applies here.
    bool Load();
    // Writes the record. False when any value could not be written (each such
    // write is logged as a warning with its error code); the next start then
    // finds no usable state and diagnoses again.
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

// Whether a saved record describes a finished setup still usable by the
// program in `ownDirectory`: set up completely, for that very directory
// (SameDirectory), which exists and held wow.exe, with the full launcher it
// chose (if any) still present. `exists` tells whether a path exists.
bool SavedSetupUsable(const DiagnosisRecord& saved, const std::wstring& ownDirectory,
                      const std::function<bool(const std::wstring&)>& exists);

// setup.ini beside the executable, or the bare name when the program's
// directory is unknown.
std::wstring GetSetupIniPath();

}  // namespace Orvane
