#pragma once

#include <array>
#include <string>

#include "diagnostics/DiagnosisRun.h"

namespace Orvane {

enum class RowStatus : int { NotChecked = 0, Ok = 1, Warning = 2, Failed = 3 };

struct CheckRow {
    std::wstring name;
    std::wstring result;
    std::wstring recommended;
    std::wstring advice;
    RowStatus status = RowStatus::NotChecked;
};

constexpr size_t kRowCount = 7;
using CheckRows = std::array<CheckRow, kRowCount>;

enum RowIndex : size_t {
    OperatingSystemRow = 0,
    ArchitectureRow = 1,
    DotNetRow = 2,
    GameDirectoryRow = 3,
    IntegrityRow = 4,
    LoginServerRow = 5,
    GameServerRow = 6,
};

// The seven rows with their names and recommended values, nothing checked yet.
CheckRows InitialRows();

// What one finished diagnosis step puts into the table: the row it fills and
// the status line that names the step.
struct DetectionStep {
    size_t row = 0;
    std::wstring result;
    RowStatus status = RowStatus::NotChecked;
    std::wstring advice;
    std::wstring statusText;
};
// The step's row for its verdict code (see StepCode) and the values known so far.
DetectionStep DescribeStep(DiagnosisStep step, int code, const DiagnosisRecord& record);

// The table as a saved diagnosis describes it, without probing again.
CheckRows RestoredRows(const DiagnosisRecord& state);

// True when a row that must pass (system, architecture, .NET, game directory,
// game server) has failed.
bool HasBlockingFailure(const CheckRows& rows);

// "可连通", with " (12ms)" when a latency was measured.
std::wstring ReachableText(int latencyMs);

}  // namespace Orvane
