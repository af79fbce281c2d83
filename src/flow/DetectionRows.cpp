#include "flow/DetectionRows.h"


namespace Orvane {

namespace {

struct RowDefinition {
    const wchar_t* name;
    const wchar_t* recommended;
};

constexpr RowDefinition kRowDefinitions[kRowCount] = {
    {L"操作系统", L"Windows 10及以上"},
    {L"架构版本", L"64-bit"},
    {L".NET版本", L".NET 8.0及以上"},
    {L"游戏目录", L"魔兽世界目录"},
    {L"客户端完整性", L"完整客户端"},
    {L"登录服务器", L"可连通"},
    {L"游戏服务器", L"可连通"},
};

constexpr size_t kBlockingRows[] = {OperatingSystemRow, ArchitectureRow, DotNetRow,
                                    GameDirectoryRow, GameServerRow};

const wchar_t* const kUnreachable = L"无法连通";
const wchar_t* const kLoginServerAdvice = L"可能无法获取全部服务, 但可游戏";
const wchar_t* const kGameServerAdvice = L"无法连接游戏服务器, 请检查网络后重新检测";
const wchar_t* const kGameDirectoryAdvice = L"请将程序移至魔兽世界目录下";
const wchar_t* const kBestEnvironment = L"最佳游戏环境";

std::wstring StepText(size_t row)
{
    return std::wstring(L"正在检测系统环境 - ") + kRowDefinitions[row].name + L"...";
}

std::wstring ArchitectureText(bool is64Bit)
{
    return is64Bit ? L"64-bit" : L"32-bit";
}

DetectionStep Step(size_t row, std::wstring result, RowStatus status, std::wstring advice)
{
    return DetectionStep{row, std::move(result), status, std::move(advice), StepText(row)};
}

// Statuses for the messages whose "bad" value is 2 and anything else a failure.
RowStatus OneTwoStatus(int wParam)
{
    return wParam == 1 ? RowStatus::Ok : wParam == 2 ? RowStatus::Warning : RowStatus::Failed;
}

}  // namespace

CheckRows InitialRows()
{
    CheckRows rows;
    for (size_t i = 0; i < kRowCount; ++i) {
        rows[i].name = kRowDefinitions[i].name;
        rows[i].recommended = kRowDefinitions[i].recommended;
    }
    return rows;
}

std::wstring ReachableText(int latencyMs)
{
    std::wstring text = L"可连通";
    if (latencyMs > 0) {
        text += L" (" + std::to_wstring(latencyMs) + L"ms)";
    }
    return text;
}

DetectionStep DescribeStep(DiagnosisStep step, int wParam, const DiagnosisRecord& state)
{
    switch (step) {
    case DiagnosisStep::OperatingSystem: {
        const std::wstring name = state.OSName.empty() ? L"检测失败" : state.OSName;
        const RowStatus status = OneTwoStatus(wParam);
        const wchar_t* advice = status == RowStatus::Ok        ? kBestEnvironment
                                : status == RowStatus::Warning ? L"非最佳游戏环境"
                                                               : L"";
        return Step(OperatingSystemRow, name, status, advice);
    }
    case DiagnosisStep::Architecture: {
        const RowStatus status = OneTwoStatus(wParam);
        return Step(ArchitectureRow, ArchitectureText(state.Is64Bit), status,
                    status == RowStatus::Warning ? L"可运行, 推荐64位" : L"");
    }
    case DiagnosisStep::DotNet: {
        std::wstring version = state.DotNetVersion;
        if (version.empty()) {
            version = wParam != 0 ? L".NET" : L"未检测到";
        }
        if (wParam == 1) {
            return Step(DotNetRow, version, RowStatus::Ok, kBestEnvironment);
        }
        if (wParam == 2) {
            return Step(DotNetRow, version, RowStatus::Warning, L"建议升级到.NET 8.0");
        }
        return Step(DotNetRow, version, RowStatus::Failed, L"推荐下载.NET 8.0");
    }
    case DiagnosisStep::GameDirectory:
        if (wParam == 1) {
            return Step(GameDirectoryRow, L"当前目录为魔兽世界目录", RowStatus::Ok, L"");
        }
        return Step(GameDirectoryRow, L"当前目录为非魔兽世界目录", RowStatus::Failed,
                    kGameDirectoryAdvice);
    case DiagnosisStep::Integrity:
        if (wParam == 1) {
            return Step(IntegrityRow, L"完整客户端", RowStatus::Ok, L"");
        }
        return Step(IntegrityRow, L"非完整客户端", RowStatus::Failed,
                    L"客户端不完整, 请前往QQ群(文件夹)或官网下载完整版");
    case DiagnosisStep::LoginServer:
        if (wParam == 1) {
            return Step(LoginServerRow, ReachableText(state.ApiLatencyMs), RowStatus::Ok, L"");
        }
        return Step(LoginServerRow, kUnreachable, RowStatus::Warning, kLoginServerAdvice);
    case DiagnosisStep::GameServer:
        if (wParam == 1) {
            return Step(GameServerRow, ReachableText(state.GameLatencyMs), RowStatus::Ok, L"");
        }
        return Step(GameServerRow, kUnreachable, RowStatus::Failed, kGameServerAdvice);
    }
    return Step(OperatingSystemRow, L"", RowStatus::NotChecked, L"");
}

CheckRows RestoredRows(const DiagnosisRecord& state)
{
    CheckRows rows = InitialRows();
    auto set = [&rows](size_t row, std::wstring result, RowStatus status, std::wstring advice) {
        rows[row].result = std::move(result);
        rows[row].status = status;
        rows[row].advice = std::move(advice);
    };

    set(OperatingSystemRow, state.OSName.empty() ? L"未检测" : state.OSName,
        state.IsWin10OrLater ? RowStatus::Ok : RowStatus::Warning,
        state.IsWin10OrLater ? kBestEnvironment : L"非最佳游戏环境");
    set(ArchitectureRow, ArchitectureText(state.Is64Bit),
        state.Is64Bit ? RowStatus::Ok : RowStatus::Warning,
        state.Is64Bit ? L"" : L"可运行, 推荐64位");

    if (state.HasNet8) {
        set(DotNetRow, state.DotNetVersion.empty() ? L".NET 8.0" : state.DotNetVersion,
            RowStatus::Ok, kBestEnvironment);
    } else if (state.HasDotNet || !state.DotNetVersion.empty()) {
        const bool isModernNet = state.DotNetVersion.rfind(L"NET ", 0) == 0;
        set(DotNetRow, state.DotNetVersion, RowStatus::Warning,
            isModernNet ? L"建议升级到.NET 8.0" : L"建议安装.NET 8.0运行时");
    } else {
        set(DotNetRow, L"未检测到", RowStatus::Failed, L"推荐下载.NET 8.0");
    }

    if (state.HasGameDir) {
        set(GameDirectoryRow, L"当前目录为魔兽世界目录", RowStatus::Ok, L"");
    } else {
        set(GameDirectoryRow, L"当前目录为非魔兽世界目录", RowStatus::Failed,
            kGameDirectoryAdvice);
    }

    if (state.HasCompleteClient) {
        set(IntegrityRow, L"完整客户端", RowStatus::Ok, L"");
    } else {
        set(IntegrityRow, L"非完整客户端(有马赛克/绿皮)", RowStatus::Failed,
            L"客户端不完整, 请前往QQ群或官网下载完整版");
    }

    if (state.ApiReachable) {
        set(LoginServerRow, ReachableText(state.ApiLatencyMs), RowStatus::Ok, L"");
    } else {
        set(LoginServerRow, kUnreachable, RowStatus::Warning, kLoginServerAdvice);
    }

    if (state.GameReachable) {
        set(GameServerRow, ReachableText(state.GameLatencyMs), RowStatus::Ok, L"");
    } else {
        set(GameServerRow, kUnreachable, RowStatus::Failed, kGameServerAdvice);
    }
    return rows;
}

bool HasBlockingFailure(const CheckRows& rows)
{
    for (size_t row : kBlockingRows) {
        if (rows[row].status == RowStatus::Failed) {
            return true;
        }
    }
    return false;
}

}  // namespace Orvane
