#include <gtest/gtest.h>

#include "diagnostics/SystemState.h"
#include "flow/DetectionRows.h"

namespace Orvane {
namespace {

// Filled like a run on Windows 10 x64 with .NET 8 would leave it.
SystemState SampleState()
{
    SystemState state(L"unused.ini");
    state.OSName = L"Windows 10 专业版";
    state.Is64Bit = true;
    state.DotNetVersion = L"NET 8.0.11";
    state.ApiLatencyMs = 35;
    state.GameLatencyMs = 0;
    return state;
}

struct LiveCase {
    DiagnosisStep step;
    int code;
    size_t row;
    const wchar_t* result;
    RowStatus status;
    const wchar_t* advice;
    const wchar_t* statusText;
};

TEST(DetectionRowsTest, EachStepFillsItsRow)
{
    const wchar_t* const os = L"正在检测系统环境 - 操作系统...";
    const wchar_t* const arch = L"正在检测系统环境 - 架构版本...";
    const wchar_t* const net = L"正在检测系统环境 - .NET版本...";
    const wchar_t* const dir = L"正在检测系统环境 - 游戏目录...";
    const wchar_t* const integrity = L"正在检测系统环境 - 客户端完整性...";
    const wchar_t* const login = L"正在检测系统环境 - 登录服务器...";
    const wchar_t* const game = L"正在检测系统环境 - 游戏服务器...";
    using S = RowStatus;
    const LiveCase cases[] = {
        {DiagnosisStep::OperatingSystem, 1, 0, L"Windows 10 专业版", S::Ok, L"最佳游戏环境", os},
        {DiagnosisStep::OperatingSystem, 2, 0, L"Windows 10 专业版", S::Warning, L"非最佳游戏环境", os},
        {DiagnosisStep::OperatingSystem, 7, 0, L"Windows 10 专业版", S::Failed, L"", os},
        {DiagnosisStep::Architecture, 1, 1, L"64-bit", S::Ok, L"", arch},
        {DiagnosisStep::Architecture, 2, 1, L"64-bit", S::Warning, L"可运行, 推荐64位", arch},
        {DiagnosisStep::Architecture, 0, 1, L"64-bit", S::Failed, L"", arch},
        {DiagnosisStep::DotNet, 1, 2, L"NET 8.0.11", S::Ok, L"最佳游戏环境", net},
        {DiagnosisStep::DotNet, 2, 2, L"NET 8.0.11", S::Warning, L"建议升级到.NET 8.0", net},
        {DiagnosisStep::DotNet, 0, 2, L"NET 8.0.11", S::Failed, L"推荐下载.NET 8.0", net},
        {DiagnosisStep::GameDirectory, 1, 3, L"当前目录为魔兽世界目录", S::Ok, L"", dir},
        {DiagnosisStep::GameDirectory, 0, 3, L"当前目录为非魔兽世界目录", S::Failed,
         L"请将程序移至魔兽世界目录下", dir},
        {DiagnosisStep::Integrity, 1, 4, L"完整客户端", S::Ok, L"", integrity},
        {DiagnosisStep::Integrity, 0, 4, L"非完整客户端", S::Failed,
         L"客户端不完整, 请前往QQ群(文件夹)或官网下载完整版", integrity},
        {DiagnosisStep::LoginServer, 1, 5, L"可连通 (35ms)", S::Ok, L"", login},
        {DiagnosisStep::LoginServer, 2, 5, L"无法连通", S::Warning, L"可能无法获取全部服务, 但可游戏",
         login},
        {DiagnosisStep::GameServer, 1, 6, L"可连通", S::Ok, L"", game},  // 0 ms: no suffix
        {DiagnosisStep::GameServer, 0, 6, L"无法连通", S::Failed,
         L"无法连接游戏服务器, 请检查网络后重新检测", game},
    };
    const SystemState state = SampleState();
    for (const LiveCase& c : cases) {
        SCOPED_TRACE(testing::Message() << static_cast<int>(c.step) << "/" << c.code);
        const std::optional<DetectionStep> step = DescribeStep(c.step, c.code, state);
        EXPECT_EQ(step->row, c.row);
        EXPECT_EQ(step->result, c.result);
        EXPECT_EQ(step->status, c.status);
        EXPECT_EQ(step->advice, c.advice);
        EXPECT_EQ(step->statusText, c.statusText);
    }
}

TEST(DetectionRowsTest, EmptyProbeTextsGetPlaceholders)
{
    SystemState state(L"unused.ini");
    EXPECT_EQ(DescribeStep(DiagnosisStep::OperatingSystem, 1, state).result, L"检测失败");
    EXPECT_EQ(DescribeStep(DiagnosisStep::DotNet, 2, state).result, L".NET");
    EXPECT_EQ(DescribeStep(DiagnosisStep::DotNet, 0, state).result, L"未检测到");
    EXPECT_EQ(DescribeStep(DiagnosisStep::Architecture, 1, state).result, L"32-bit");
}

TEST(DetectionRowsTest, RestoredRowsDescribeASavedDiagnosis)
{
    SystemState state = SampleState();
    state.IsWin10OrLater = true;
    state.HasDotNet = true;
    state.HasNet8 = true;
    state.HasGameDir = true;
    state.HasCompleteClient = true;
    state.ApiReachable = true;
    state.GameReachable = true;
    state.GameLatencyMs = 12;
    CheckRows rows = RestoredRows(state);
    const std::pair<const wchar_t*, RowStatus> passing[] = {
        {L"Windows 10 专业版", RowStatus::Ok}, {L"64-bit", RowStatus::Ok},
        {L"NET 8.0.11", RowStatus::Ok},        {L"当前目录为魔兽世界目录", RowStatus::Ok},
        {L"完整客户端", RowStatus::Ok},         {L"可连通 (35ms)", RowStatus::Ok},
        {L"可连通 (12ms)", RowStatus::Ok},
    };
    for (size_t i = 0; i < kRowCount; ++i) {
        EXPECT_EQ(rows[i].result, passing[i].first) << i;
        EXPECT_EQ(rows[i].status, passing[i].second) << i;
        EXPECT_EQ(rows[i].name, InitialRows()[i].name);
        EXPECT_EQ(rows[i].recommended, InitialRows()[i].recommended);
    }
    EXPECT_FALSE(HasBlockingFailure(rows));

    SystemState failing(L"unused.ini");
    rows = RestoredRows(failing);
    const std::tuple<const wchar_t*, RowStatus, const wchar_t*> failed[] = {
        {L"未检测", RowStatus::Warning, L"非最佳游戏环境"},
        {L"32-bit", RowStatus::Warning, L"可运行, 推荐64位"},
        {L"未检测到", RowStatus::Failed, L"推荐下载.NET 8.0"},
        {L"当前目录为非魔兽世界目录", RowStatus::Failed, L"请将程序移至魔兽世界目录下"},
        {L"非完整客户端(有马赛克/绿皮)", RowStatus::Failed, L"客户端不完整, 请前往QQ群或官网下载完整版"},
        {L"无法连通", RowStatus::Warning, L"可能无法获取全部服务, 但可游戏"},
        {L"无法连通", RowStatus::Failed, L"无法连接游戏服务器, 请检查网络后重新检测"},
    };
    for (size_t i = 0; i < kRowCount; ++i) {
        EXPECT_EQ(rows[i].result, std::get<0>(failed[i])) << i;
        EXPECT_EQ(rows[i].status, std::get<1>(failed[i])) << i;
        EXPECT_EQ(rows[i].advice, std::get<2>(failed[i])) << i;
    }
    EXPECT_TRUE(HasBlockingFailure(rows));
}

TEST(DetectionRowsTest, RestoredDotNetRowDistinguishesOlderRuntimes)
{
    struct Case {
        bool hasDotNet, hasNet8;
        const wchar_t* version;
        const wchar_t* result;
        RowStatus status;
        const wchar_t* advice;
    };
    const Case cases[] = {
        {true, true, L"", L".NET 8.0", RowStatus::Ok, L"最佳游戏环境"},
        {true, false, L"NET 6.0.36", L"NET 6.0.36", RowStatus::Warning, L"建议升级到.NET 8.0"},
        {true, false, L"Framework 4.8", L"Framework 4.8", RowStatus::Warning, L"建议安装.NET 8.0运行时"},
        {false, false, L"Framework 3.5", L"Framework 3.5", RowStatus::Warning, L"建议安装.NET 8.0运行时"},
        {true, false, L"", L"", RowStatus::Warning, L"建议安装.NET 8.0运行时"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::wstring(c.version)));
        SystemState state(L"unused.ini");
        state.HasDotNet = c.hasDotNet;
        state.HasNet8 = c.hasNet8;
        state.DotNetVersion = c.version;
        const CheckRow row = RestoredRows(state)[DotNetRow];
        EXPECT_EQ(row.result, c.result);
        EXPECT_EQ(row.status, c.status);
        EXPECT_EQ(row.advice, c.advice);
    }
}

TEST(DetectionRowsTest, OnlyTheFiveGatingRowsBlock)
{
    for (size_t failing = 0; failing < kRowCount; ++failing) {
        CheckRows rows = InitialRows();
        for (CheckRow& row : rows) {
            row.status = RowStatus::Warning;
        }
        rows[failing].status = RowStatus::Failed;
        const bool gating = failing != IntegrityRow && failing != LoginServerRow;
        EXPECT_EQ(HasBlockingFailure(rows), gating) << failing;
    }
    EXPECT_FALSE(HasBlockingFailure(InitialRows()));
}

}  // namespace
}  // namespace Orvane
