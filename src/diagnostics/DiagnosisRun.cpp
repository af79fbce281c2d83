#include "diagnostics/DiagnosisRun.h"

#include "base/ServiceEndpoints.h"
#include "diagnostics/DotNetProbe.h"
#include "diagnostics/SystemProbe.h"

namespace Orvane {

int StepCode(DiagnosisStep step, const DiagnosisRecord& record)
{
    switch (step) {
    case DiagnosisStep::OperatingSystem:
        return record.IsWin10OrLater ? 1 : 2;
    case DiagnosisStep::Architecture:
        return record.Is64Bit ? 1 : 2;
    case DiagnosisStep::DotNet:
        return record.HasNet8 ? 1 : record.HasDotNet ? 2 : 0;
    case DiagnosisStep::GameDirectory:
        return record.HasGameDir ? 1 : 0;
    case DiagnosisStep::Integrity:
        return record.HasCompleteClient ? 1 : 0;
    case DiagnosisStep::LoginServer:
        return record.ApiReachable ? 1 : 2;
    case DiagnosisStep::GameServer:
        return record.GameReachable ? 1 : 0;
    }
    return 0;
}

DiagnosisProbes DiagnosisProbes::System()
{
    DiagnosisProbes probes;
    probes.local = [](EnvironmentInfo& info) {
        DetectOperatingSystem(info);
        info.Is64Bit = DetectArchitecture();
        DetectGameDirectory(info);
        DetectDotNet(info);
    };
    probes.integrity = [](const std::wstring& gameDirectory) {
        return ClientIntegrityChecker().Check(gameDirectory);
    };
    probes.connect = [](const std::string& host) { return TestServerConnection(host); };
    return probes;
}

void RunDiagnosis(const DiagnosisProbes& probes, DiagnosisSink& sink)
{
    EnvironmentInfo info;
    probes.local(info);

    DiagnosisRecord record;
    record.OSName = info.OSName;
    record.OSVersion = info.OSVersion;
    record.OSBuild = info.OSBuild;
    record.Is64Bit = info.Is64Bit;
    record.IsWin7 = info.IsWin7;
    record.IsWin10OrLater = info.IsWin10OrLater;
    sink.StepDone(DiagnosisStep::OperatingSystem, record);
    sink.StepDone(DiagnosisStep::Architecture, record);

    record.HasDotNet = info.HasDotNet;
    record.DotNetVersion = info.DotNetVersion;
    record.HasNet8 = info.HasNet8;
    sink.StepDone(DiagnosisStep::DotNet, record);

    record.GameDir = info.GameDir;
    record.HasGameDir = info.HasGameDir;
    record.HasDataDir = info.HasDataDir;
    record.HasWowExe = info.HasWowExe;
    sink.StepDone(DiagnosisStep::GameDirectory, record);

    if (info.HasGameDir) {
        const IntegrityResult integrity = probes.integrity(info.GameDir);
        record.HasCompleteClient = integrity.IsComplete;
        record.ClientIntegrityInfo =
            integrity.IsComplete ? L"完整客户端" : L"非完整客户端 - " + integrity.Info;
    } else {
        record.HasCompleteClient = false;
        record.ClientIntegrityInfo = L"无法检测(游戏目录不存在)";
    }
    sink.StepDone(DiagnosisStep::Integrity, record);

    const ConnectionTestResult api = probes.connect(ServiceEndpoints::ApiHost);
    record.ApiReachable = api.Reachable;
    record.ApiLatencyMs = api.LatencyMs;
    sink.StepDone(DiagnosisStep::LoginServer, record);

    const ConnectionTestResult game = probes.connect(ServiceEndpoints::GameHost);
    record.GameReachable = game.Reachable;
    record.GameLatencyMs = game.LatencyMs;
    sink.StepDone(DiagnosisStep::GameServer, record);

    sink.Finished(record);
}

}  // namespace Orvane
