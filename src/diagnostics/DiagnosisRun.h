#pragma once

#include <functional>
#include <string>

#include "diagnostics/DiagnosisRecord.h"
#include "diagnostics/EnvironmentInfo.h"
#include "diagnostics/GameDirectory.h"
#include "diagnostics/NetworkProbe.h"

namespace Orvane {

// The checks of a diagnosis, in the order they are shown.
enum class DiagnosisStep {
    OperatingSystem,
    Architecture,
    DotNet,
    GameDirectory,
    Integrity,
    LoginServer,
    GameServer,
};

// The verdict a finished step reports, as the window's detection messages
// carry it: operating system 1 Windows 10 or later, 2 older; architecture 1
// 64-bit, 2 not; .NET 1 .NET 8 or later, 2 another .NET, 0 none; game
// directory and integrity 1 or 0; login server 1 reachable, 2 not; game
// server 1 reachable, 0 not.
int StepCode(DiagnosisStep step, const DiagnosisRecord& record);

// Receives a run's results on the run's thread: each step with the values
// known so far, then the whole record.
class DiagnosisSink {
public:
    virtual ~DiagnosisSink() = default;
    virtual void StepDone(DiagnosisStep step, const DiagnosisRecord& soFar) = 0;
    virtual void Finished(const DiagnosisRecord& record) = 0;
};

// What a run examines; the system's own probes unless replaced.
struct DiagnosisProbes {
    // Operating system, architecture, game directory and .NET.
    std::function<void(EnvironmentInfo& info)> local;
    std::function<IntegrityResult(const std::wstring& gameDirectory)> integrity;
    std::function<ConnectionTestResult(const std::string& host)> connect;

    static DiagnosisProbes System();
};

// Runs every probe in display order, handing each step's values to the sink.
// Blocks for as long as the probes take (the two connection tests up to 2 s
// each): call it on a worker thread.
void RunDiagnosis(const DiagnosisProbes& probes, DiagnosisSink& sink);

}  // namespace Orvane
