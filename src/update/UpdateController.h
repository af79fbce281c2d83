#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/Handles.h"
#include "base/Thread.h"
#include "update/FileList.h"
#include "update/HttpClient.h"
#include "update/TargetFiles.h"
#include "update/TargetPath.h"

namespace Orvane {

class Config;
class HashingThread;
class RepeatedWarning;
class SystemState;

// Why an update could not write into the game directory when the system
// denied access (a client under Program Files without administrator rights).
inline constexpr wchar_t kWriteDeniedReason[] = L"无法写入游戏目录, 请以管理员身份运行本程序或将游戏客户端移出此文件夹";
// Why a file could not be replaced when another program held it or the
// target (the game or its launcher running, a virus scanner).
inline constexpr wchar_t kFileInUseReason[] = L"请关闭游戏和登录器后重试";
// A run's failure when a system DLL it needs cannot be loaded from System32.
std::wstring MissingLibraryText(const std::string& library);

// Why a request failed when the system refused the server's certificate or
// could not set up the secure channel.
inline constexpr wchar_t kCertificateReason[] = L"无法建立安全连接, 请检查电脑的日期和时间是否正确, 或更新系统的根证书";

// Why an update cannot write its files: the volume of the game directory is
// full, or the bytes still to fetch exceed its free space.
inline constexpr wchar_t kDiskFullReason[] = L"磁盘空间不足";
// The first line of an update that did not start for want of disk space.
inline constexpr wchar_t kUpdateNotStartedText[] = L"无法开始更新";

// What a player can do about a failure, as far as the program can tell.
enum class FailureCause {
    Unknown,
    WriteDenied,   // kWriteDeniedReason
    FileInUse,     // kFileInUseReason
    Certificate,   // kCertificateReason
    DiskFull,      // kDiskFullReason
};

// `text`, and on a line of its own the reason that goes with `cause`, if any.
std::wstring WithFailureReason(const std::wstring& text, FailureCause cause);

// The cause of a failed request with the system error `code` (HttpClient::lastErrorCode).
FailureCause CauseOfRequestFailure(unsigned long code);

// The failure of one file of an update run: "下载失败: " + its path, and the
// reason that goes with `cause`.
std::wstring UpdateFailureText(const std::string& path, FailureCause cause);

// kDiskFullReason with the space needed and free, in MB (needed rounded up,
// free rounded down, so a shortage never reads as enough).
std::wstring DiskSpaceText(int64_t neededBytes, int64_t freeBytes);
// DiskSpaceText when `neededBytes` do not fit into `freeBytes`; empty when they do.
std::wstring DiskSpaceShortage(int64_t neededBytes, int64_t freeBytes);
// What a file listed with `listedSize` bytes still needs when its partial file
// holds `heldBytes` (negative: none): the rest, or the whole file when the
// partial one is longer than listed and is begun again.
int64_t BytesStillToFetch(int64_t listedSize, int64_t heldBytes);

// The bytes the caller may still write on the volume of `directory`
// (GetDiskFreeSpaceExW, which honours quotas); false when it cannot be told.
bool FreeBytesOnVolumeOf(const std::wstring& directory, int64_t& freeBytes);

// True when the system refuses to create a file in `directory`, or in the
// nearest existing folder above it, with ERROR_ACCESS_DENIED. The test file
// is removed again.
bool WritingDeniedIn(const std::wstring& directory);

// What one update run fetches, in order: the program's own entry first and
// alone when it is among `differing` (the new program fetches the rest after
// the hand-over), else every file as listed.
struct UpdateRunPlan {
    std::vector<FileEntry> files;
    bool replacesProgram = false;
};
UpdateRunPlan PlanUpdateRun(const std::vector<FileEntry>& differing, const TargetRule& rule);

// Checks the game files against the portal's file list and downloads the ones
// that differ. Each run works on a thread of its own, on values copied when it
// starts, and reports through the callbacks: the first notification of a run
// on the caller's thread, all later ones on the run's thread. At most one run
// is active at a time: a start while one runs is refused.
class UpdateController {
public:
    // What a check keeps in memory: url.txt is one line; a file list of a few
    // thousand entries is a few hundred KiB, so 4 MiB leaves ample room and
    // keeps a hostile list from exhausting a 32-bit process while parsed.
    static constexpr int64_t kMaxRelayBytes = 4 * 1024;
    static constexpr int64_t kMaxFileListBytes = 4 * 1024 * 1024;

    // The values are passed unchanged to the window as a message parameter.
    enum class State : int32_t {
        Idle = 0,
        Connecting = 1,
        Checking = 2,
        UpdateAvailable = 3,
        Downloading = 4,
        UpToDate = 5,
        Error = 6,
        // The list has arrived; local files are being compared with it.
        // Progress reports carry the listed bytes compared so far.
        Verifying = 7,
        // An update run replaced the running program's own file and fetched
        // nothing else: the program hands over to the new one
        // (replacedProgram), or puts the old one back (RestoreReplacedProgram).
        ProgramReplaced = 8,
    };

    // What a run reports with each state change, as a value the receiver may keep.
    struct Report {
        State state = State::Idle;
        std::wstring text;     // what the state means; the failure itself with Error
        size_t fileCount = 0;  // files that differ, with UpdateAvailable
    };

    enum class RunStart {
        Started,
        Refused,   // a run is active, or (StartUpdate) nothing to update; nothing reported
        NoThread,  // the system could not create the run's thread; state unchanged
    };

    // Starts `work` on a new thread and hands back its handle; null when none
    // can be created.
    using ThreadStarter = std::function<KernelHandle(std::function<void()> work)>;

    // The process-wide controller, working on Config::Instance() and
    // SystemState::Instance().
    static UpdateController& Instance();

    // A controller working on the given settings and diagnosis record, which
    // must outlive it and its runs. It starts without a file-list key.
    UpdateController(Config& config, SystemState& systemState);
    // Cancels an active run and waits until its thread has ended.
    ~UpdateController();
    UpdateController(const UpdateController&) = delete;
    UpdateController& operator=(const UpdateController&) = delete;

    // Reports Connecting, then resolves the portal, fetches the file list and
    // compares every listed file with the local copy on a new thread
    // (reporting Verifying and the share of listed bytes compared).
    RunStart CheckForUpdates();
    // Downloads the files the last check found, on a new thread and on its
    // own copy of that list. Refused unless the state is UpdateAvailable.
    RunStart StartUpdate();

    // Asks an active run to stop at its next chunk of data or file; it then
    // ends without reporting. The part of a file downloaded so far stays
    // beside it, and the next run continues from there.
    void Cancel();
    // Waits until the thread of every run started by this controller has
    // ended, up to `timeoutMs` (INFINITE: however long). True when none is
    // left. For orderly shutdown and tests; called from the thread that
    // starts runs.
    bool WaitForRuns(unsigned timeoutMs);
    // True from a run's start to its final report (a start is then refused).
    bool RunActive() const { return busy_.load(); }

    // After a ProgramReplaced report: the old program was moved aside again
    // and comes back over the new one that could not be started. Returns the
    // run's failure ("下载失败: " + the entry), also kept in `message`, and
    // leaves the state Error.
    std::wstring RestoreReplacedProgram();

    // The file server's base URL from the portal's url.txt, asked for once per
    // controller; empty until a check has resolved it.
    const std::string& ResolvedBaseUrl() const { return resolvedUrl_; }

    // Read only while no run is active (after WaitForRuns, or on the thread of
    // a callback): a run writes them.
    State state = State::Idle;
    std::vector<FileEntry> filesToUpdate;
    // The paths of filesToUpdate the check found to be folders here: the
    // update fails at them, fetching nothing and leaving the folder alone.
    std::set<std::string> foldersListed;
    int64_t totalBytes = 0;  // sum of the manifest sizes of filesToUpdate
    std::wstring message;    // the last failure, shown to the user
    // With ProgramReplaced: the program's file (the new one) and where the old one is.
    TargetPath replacedProgram;
    std::string replacedProgramEntry;  // the entry as listed

    std::function<void(int fileIndex, int fileCount, int64_t downloaded, int64_t total,
                       double bytesPerSecond)>
        onProgress;
    std::function<void(const Report& report)> onStateChanged;
    std::function<void(bool success)> onComplete;
    // Replaceable so tests can refuse a thread.
    ThreadStarter startThread;
    // Waits before a later attempt of a file; by default it sleeps, ending
    // early on Cancel. Replaceable so tests need not wait.
    std::function<void(unsigned milliseconds)> pauseBetweenAttempts;
    // The free space of the game directory's volume; replaceable so tests can
    // make a disk small.
    std::function<bool(const std::wstring& directory, int64_t& freeBytes)> freeSpace = FreeBytesOnVolumeOf;
    // How a run moves and discards files; replaceable so tests need not wait
    // out the back-off of a refused replace.
    FileMoves fileMoves = FileMoves::System();

    // Limits for every request the runs make.
    HttpTimeouts timeouts;

    // Public key (PEM or DER) the file list must be signed with. Empty: lists
    // are taken unsigned and no signature is asked for. With a key, a check
    // also fetches the list's URL + ".sig", refuses the list unless it
    // verifies, names itself as fetched and gives every file's SHA-256, and
    // refuses a "version" lower than the highest one accepted before (kept
    // in setup.ini). Downloads must then match MD5 and SHA-256. Set before a
    // run starts, not during one.
    std::string fileListPublicKey;
    // With a key: the lowest list version taken even when setup.ini remembers
    // none (a fresh install), so a release's lists cannot be rolled back
    // below the release itself. Set before a run starts.
    int64_t minimumListVersion = 0;

    // A system DLL the runs call into that cannot be loaded from System32
    // (checked at start); every run then fails naming it. Empty: all load.
    std::string unusableLibrary;

    // The executable whose own files beside it no list entry may name
    // (TargetRule): the running program's, unless a test sets another.
    std::wstring programPath;

private:
    // What a run works on, copied on the caller's thread when it starts.
    struct RunInput {
        std::wstring root;  // the game directory
        std::wstring programPath;
        std::string portalUrl;
        std::string fileListName;
        int retryCount = 0;
        std::vector<FileEntry> files;  // update runs: the list to fetch
        std::set<std::string> folders;  // of `files`, those that are folders here
        int64_t totalBytes = 0;
    };

    void Notify(State newState, const std::wstring& text, size_t fileCount = 0);
    // A run's final report (and, for a download, its completion). The run
    // touches nothing of the controller after it.
    void Finish(State final, const std::wstring& text, size_t fileCount = 0,
                std::optional<bool> completion = std::nullopt);
    // A cancelled run's end: no report.
    void Abandon();
    RunStart StartRun(State first, const wchar_t* text, void (UpdateController::*run)(const RunInput&),
                      RunInput input);
    RunInput CurrentInput() const;
    bool Cancelled() const { return cancel_.load(); }
    // Second-stage addressing: asks the portal's url.txt for the file server's
    // base URL, once per controller. False with the reason in `message`.
    bool ResolvePortal(const RunInput& input, HttpClient& client);
    void RunCheck(const RunInput& input);
    void RunUpdate(const RunInput& input);
    // With a key: fetches and verifies the list's signature. False (with
    // `message` set) when the list must not be used.
    bool VerifyListSignature(HttpClient& client, const std::string& listUrl, const std::string& listText);
    // With a key: refuses a verified list that does not bind what it names
    // (SignedListProblem: its own name `servedName`, each file's SHA-256).
    // False (with `message` set) when refused.
    bool AcceptSignedList(const FileList& list, const std::string& servedName);
    // With a key: refuses a list older than the last one accepted and
    // remembers a newer one; a newer one that cannot be remembered is
    // refused too. False (with `message` set) when refused.
    bool AcceptListVersion(int64_t version);
    // One download attempt into the target's partial file, continuing what an
    // earlier attempt or run left there; the target is replaced only by a file
    // whose whole content has the listed digest. A failed attempt keeps the
    // partial file unless its content is known to be wrong.
    bool DownloadAndReplace(HttpClient& client, HashingThread& hashing, const std::string& url,
                            const TargetPath& target, const FileEntry& entry, const ProgressCallback& progress);

    // The bytes the run still has to write (listed sizes less what the
    // partial files hold) when they may not fit, and the volume's free space.
    // Empty when they fit or the free space cannot be told; otherwise the
    // run's failure text.
    std::wstring SpaceShortageBeforeRun(const RunInput& input, const TargetRule& rule) const;

    // Before attempt `attempt` (from 1) of a file: a growing pause, a few
    // seconds in all, for whatever held the file to let go.
    void PauseBeforeAttempt(int attempt);

    Config& config_;
    SystemState& systemState_;
    // Why the current attempt of a file failed, as far as the player can act on it.
    FailureCause attemptFailure_ = FailureCause::Unknown;
    std::atomic<bool> cancel_{false};
    std::atomic<bool> busy_{false};  // a run has started and not yet made its final report
    std::string resolvedUrl_;  // written and read by runs only, which never overlap
    OwnedThreads runs_;
};

}  // namespace Orvane
