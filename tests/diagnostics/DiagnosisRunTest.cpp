#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/DiagnosisRun.h"

namespace Orvane {
namespace {

struct Recorded {
    DiagnosisStep step;
    int code;
    DiagnosisRecord soFar;
};

class RecordingSink : public DiagnosisSink {
public:
    void StepDone(DiagnosisStep step, const DiagnosisRecord& soFar) override
    {
        steps.push_back({step, StepCode(step, soFar), soFar});
    }
    void Finished(const DiagnosisRecord& record) override
    {
        finished = true;
        final = record;
    }
    std::vector<Recorded> steps;
    bool finished = false;
    DiagnosisRecord final;
};

// Probes that report a fixed machine and record what they were asked.
struct FakeMachine {
    EnvironmentInfo info;
    bool complete = true;
    bool apiReachable = true;
    bool gameReachable = true;
    std::vector<std::string> hosts;
    std::vector<std::wstring> checkedDirectories;

    DiagnosisProbes Probes()
    {
        DiagnosisProbes probes;
        probes.local = [this](EnvironmentInfo& out) { out = info; };
        probes.integrity = [this](const std::wstring& directory) {
            checkedDirectories.push_back(directory);
            return IntegrityResult{complete, complete ? L"" : L"缺少 base-zhCN.MPQ"};
        };
        probes.connect = [this](const std::string& host) {
            hosts.push_back(host);
            const bool reachable = host == "api.kaimor.com" ? apiReachable : gameReachable;
            return ConnectionTestResult{reachable, reachable ? 12 : 0};
        };
        return probes;
    }
};

FakeMachine Windows10Client()
{
    FakeMachine machine;
    machine.info.OSName = L"Windows 10 专业版";
    machine.info.IsWin10OrLater = true;
    machine.info.Is64Bit = true;
    machine.info.HasDotNet = true;
    machine.info.HasNet8 = true;
    machine.info.DotNetVersion = L"NET 8.0.11";
    machine.info.HasGameDir = true;
    machine.info.GameDir = L"C:\\Games\\WoW";
    machine.info.HasWowExe = true;
    machine.info.HasDataDir = true;
    return machine;
}

TEST(DiagnosisRunTest, StepsArriveInDisplayOrderWithTheValuesKnownSoFar)
{
    FakeMachine machine = Windows10Client();
    RecordingSink sink;
    RunDiagnosis(machine.Probes(), sink);

    const std::vector<DiagnosisStep> order = {
        DiagnosisStep::OperatingSystem, DiagnosisStep::Architecture, DiagnosisStep::DotNet,
        DiagnosisStep::GameDirectory,   DiagnosisStep::Integrity,    DiagnosisStep::LoginServer,
        DiagnosisStep::GameServer};
    ASSERT_EQ(sink.steps.size(), order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(sink.steps[i].step, order[i]) << i;
        EXPECT_EQ(sink.steps[i].code, 1) << i;
    }
    // A step's values are those of the steps before it and its own, no later ones.
    EXPECT_EQ(sink.steps[0].soFar.OSName, L"Windows 10 专业版");
    EXPECT_TRUE(sink.steps[0].soFar.DotNetVersion.empty());
    EXPECT_EQ(sink.steps[2].soFar.DotNetVersion, L"NET 8.0.11");
    EXPECT_TRUE(sink.steps[2].soFar.GameDir.empty());
    EXPECT_FALSE(sink.steps[5].soFar.GameReachable);
    EXPECT_EQ(sink.steps[5].soFar.ApiLatencyMs, 12);

    ASSERT_TRUE(sink.finished);
    EXPECT_EQ(sink.final.GameDir, L"C:\\Games\\WoW");
    EXPECT_TRUE(sink.final.HasCompleteClient);
    EXPECT_EQ(sink.final.ClientIntegrityInfo, L"完整客户端");
    EXPECT_TRUE(sink.final.GameReachable);
    EXPECT_EQ(sink.final.GameLatencyMs, 12);
    EXPECT_EQ(machine.checkedDirectories, std::vector<std::wstring>{L"C:\\Games\\WoW"});
    EXPECT_EQ(machine.hosts, (std::vector<std::string>{"api.kaimor.com", "game.kaimor.com"}));
}

TEST(DiagnosisRunTest, WithoutAGameDirectoryTheClientIsNotExamined)
{
    FakeMachine machine = Windows10Client();
    machine.info.HasGameDir = false;
    machine.info.HasWowExe = false;
    RecordingSink sink;
    RunDiagnosis(machine.Probes(), sink);
    EXPECT_TRUE(machine.checkedDirectories.empty());
    EXPECT_FALSE(sink.final.HasCompleteClient);
    EXPECT_EQ(sink.final.ClientIntegrityInfo, L"无法检测(游戏目录不存在)");
    EXPECT_EQ(sink.steps[3].code, 0);
    EXPECT_EQ(sink.steps[4].code, 0);
}

TEST(DiagnosisRunTest, EachStepsCodeFollowsItsVerdict)
{
    struct Case {
        const char* name;
        void (*change)(FakeMachine&);
        DiagnosisStep step;
        int code;
    };
    const Case cases[] = {
        {"older Windows", [](FakeMachine& m) { m.info.IsWin10OrLater = false; },
         DiagnosisStep::OperatingSystem, 2},
        {"32-bit", [](FakeMachine& m) { m.info.Is64Bit = false; }, DiagnosisStep::Architecture, 2},
        {"older .NET", [](FakeMachine& m) { m.info.HasNet8 = false; }, DiagnosisStep::DotNet, 2},
        {"no .NET",
         [](FakeMachine& m) {
             m.info.HasNet8 = false;
             m.info.HasDotNet = false;
         },
         DiagnosisStep::DotNet, 0},
        {"incomplete client", [](FakeMachine& m) { m.complete = false; }, DiagnosisStep::Integrity, 0},
        {"login server down", [](FakeMachine& m) { m.apiReachable = false; },
         DiagnosisStep::LoginServer, 2},
        {"game server down", [](FakeMachine& m) { m.gameReachable = false; },
         DiagnosisStep::GameServer, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakeMachine machine = Windows10Client();
        c.change(machine);
        RecordingSink sink;
        RunDiagnosis(machine.Probes(), sink);
        for (const Recorded& recorded : sink.steps) {
            EXPECT_EQ(recorded.code, recorded.step == c.step ? c.code : 1)
                << static_cast<int>(recorded.step);
        }
    }
}

}  // namespace
}  // namespace Orvane
