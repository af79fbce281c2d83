#include <windows.h>

#include <commctrl.h>

#include <iterator>
#include <string>

#include "base/Config.h"
#include "app/DllSearch.h"
#include "app/SingleInstance.h"
#include "base/Logger.h"
#include "base/Version.h"
#include "base/Paths.h"
#include "diagnostics/SystemState.h"
#include "flow/SelfUpdate.h"
#include "ui/MainWindow.h"
#include "update/TargetFiles.h"
#include "update/TargetPath.h"
#include "update/UpdateController.h"

namespace {

constexpr wchar_t kMutexName[] = L"Local\\Orvane_SingleInstance_Mutex_v" ORVANE_VERSION_TAG;
constexpr wchar_t kWindowClassName[] = L"OrvaneMainWindow";
// How long a closing program waits for a run to reach its next chunk.
constexpr unsigned kRunStopMs = 2000;

// Brings the running copy's window to the front and tells the user so.
void ActivateRunningCopy()
{
    const HWND window = FindWindowW(kWindowClassName, nullptr);
    if (window != nullptr) {
        if (IsIconic(window)) {
            ShowWindow(window, SW_RESTORE);
        }
        SetForegroundWindow(window);
        BringWindowToTop(window);
        FLASHWINFO flash{};
        flash.cbSize = sizeof(flash);
        flash.hwnd = window;
        flash.dwFlags = FLASHW_ALL;
        flash.uCount = 3;
        flash.dwTimeout = 0;
        FlashWindowEx(&flash);
    }
    MessageBoxW(nullptr, L"Kaimor 下载器已经在运行了\n\n已切换到已打开的窗口", L"提示",
                MB_ICONINFORMATION | MB_OK);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE /*previous*/, PWSTR /*commandLine*/,
                    int /*showCommand*/)
{
    using namespace Orvane;

    // Before anything can load a DLL by name: System32 only.
    HardenDllSearch();

    // Held for the life of the process, unless handed over to an updated copy.
    // A copy started by its own update waits for the old one to let go.
    const bool afterUpdate = StartedByUpdate(GetCommandLineW());
    InstanceLock singleInstance(kMutexName);
    if (singleInstance.Acquire(afterUpdate ? kHandOverWaitMs : 0) == InstanceMutex::AnotherCopy) {
        ActivateRunningCopy();
        return 0;
    }

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&controls);

    // A log a player can send to support; the program runs the same without it.
    // After an update the old program may still hold its log for a moment;
    // its log is then kept as the previous one.
    bool logOpen = Logger::Instance().OpenBesideExecutable();
    for (size_t pause = 0; afterUpdate && !logOpen && pause < std::size(kOldProgramExitPausesMs); ++pause) {
        Sleep(kOldProgramExitPausesMs[pause]);
        logOpen = Logger::Instance().OpenBesideExecutable();
    }
    Config::Instance().Load();
    // Support must tell at a glance whether this copy trusts any list it is
    // served (a build without a key) or only lists signed for it.
    const char* const buildKind = UpdateController::Instance().fileListPublicKey.empty()
                                      ? " started (build without a file list key: unsigned lists taken)"
                                      : " started (signed file lists only)";
    Logger::Instance().Write(LogLevel::Info, std::string("Orvane " ORVANE_VERSION_RELEASE) + buildKind +
                                                 ", portal " + Config::Instance().portalUrl);

    if (afterUpdate) {
        Logger::Instance().Write(LogLevel::Info, "Started by an update of the program");
    }
    // The program an update moved aside: the old process may still be
    // exiting after the hand-over, so a new program tries again briefly.
    const std::wstring asideProgram = MovedAsideProgramOf(GetExecutablePath());
    if (!asideProgram.empty()) {
        RemoveAsideProgram(
            asideProgram, kOldProgramExitPausesMs, afterUpdate ? std::size(kOldProgramExitPausesMs) : 0,
            [](const std::wstring& path) -> DWORD {
                return DeleteFileW(path.c_str()) ? ERROR_SUCCESS : GetLastError();
            },
            [](DWORD milliseconds) { Sleep(milliseconds); });
    }

    // The system DLLs loaded at first use (cmake/DelayLoad.cmake): a run that
    // needs one that System32 cannot give fails naming it, before any call.
    UpdateController& controller = UpdateController::Instance();
    controller.unusableLibrary = FirstUnloadableLibrary({"winhttp.dll", "bcrypt.dll", "crypt32.dll"});
    const std::string accessibilityLibrary = FirstUnloadableLibrary({"oleacc.dll"});
    for (const std::string& name : {controller.unusableLibrary, accessibilityLibrary}) {
        if (!name.empty()) {
            Logger::Instance().Write(LogLevel::Error, "Cannot load " + name + " from System32");
        }
    }

    MainWindow window(SystemState::Instance(), controller);
    window.accessibilityLibrary = accessibilityLibrary.empty();
    window.Work().startedByUpdate = afterUpdate;
    window.Work().handOver.releaseInstance = [&singleInstance] { singleInstance.Release(); };
    window.Work().handOver.reacquireInstance = [&singleInstance] {
        if (singleInstance.Acquire(0) == InstanceMutex::AnotherCopy) {
            Logger::Instance().Write(LogLevel::Warning, "Another copy took the single-instance mutex meanwhile");
        }
    };
    if (!window.Create(instance)) {
        MessageBoxW(nullptr, L"创建窗口失败", L"错误", MB_ICONERROR);
        return 1;
    }

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    const int exitCode = static_cast<int>(message.wParam);
    if (!window.Work().WaitForRuns(kRunStopMs)) {
        // A run stuck in a system call: end the process before anything it
        // uses is destroyed.
        Logger::Instance().Write(LogLevel::Warning, "A run did not stop in time; exiting");
        ExitProcess(static_cast<UINT>(exitCode));
    }
    return exitCode;
}
