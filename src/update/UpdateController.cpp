#include "update/UpdateController.h"

#include <windows.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "base/Config.h"
#include "base/Handles.h"
#include "base/Logger.h"
#include "base/Paths.h"
#include "base/Text.h"
#include "base/Thread.h"
#include "diagnostics/FileDigest.h"
#include "diagnostics/SystemState.h"
#include "update/FileListSignature.h"
#include "update/HashingThread.h"
#include "update/TransfersProgress.h"

namespace Orvane {

namespace {

std::string AsciiLower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return text;
}

// A file whose digest could not be computed (empty text) never matches, not
// even a list entry with an empty hash.
bool SameDigest(const std::string& actual, const std::string& expected)
{
    return !actual.empty() && AsciiLower(actual) == AsciiLower(expected);
}

// A downloaded file against its entry: the MD5 always, and with a signed
// list the SHA-256 too, since MD5 alone lets a twin of a signed file pass.
bool MatchesEntry(const ContentDigests& actual, const FileEntry& entry, bool signedList)
{
    if (!SameDigest(actual.md5, entry.hash)) {
        return false;
    }
    if (signedList && actual.sha256 != entry.sha256) {
        Logger::Instance().Write(LogLevel::Warning,
                                 "SHA-256 differs from the signed list although the MD5 matches: " + entry.path);
        return false;
    }
    return true;
}

// Pauses before the second, third, ... attempt of a file.
constexpr unsigned kAttemptPauseMs[] = {500, 1500, 3000};

const wchar_t kSignatureInvalid[] = L"文件列表签名无效";
const wchar_t kDownloadFailedPrefix[] = L"下载失败: ";
const wchar_t kVersionTooOld[] = L"文件列表版本过旧";
const wchar_t kVersionNotStored[] = L"无法将文件列表版本保存到 setup.ini";

}  // namespace

std::wstring WithFailureReason(const std::wstring& text, FailureCause cause)
{
    const wchar_t* reason = nullptr;
    switch (cause) {
    case FailureCause::WriteDenied:
        reason = kWriteDeniedReason;
        break;
    case FailureCause::FileInUse:
        reason = kFileInUseReason;
        break;
    case FailureCause::Certificate:
        reason = kCertificateReason;
        break;
    case FailureCause::DiskFull:
        reason = kDiskFullReason;
        break;
    case FailureCause::Unknown:
        break;
    }
    return reason == nullptr ? text : text + L"\n" + reason;
}

std::wstring MissingLibraryText(const std::string& library)
{
    return L"无法从系统目录加载 " + Utf8ToWide(library) + L", 请修复或更新 Windows";
}

FailureCause CauseOfRequestFailure(unsigned long code)
{
    if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) {
        return FailureCause::DiskFull;
    }
    return IsCertificateFailure(code) ? FailureCause::Certificate : FailureCause::Unknown;
}

std::wstring DiskSpaceText(int64_t neededBytes, int64_t freeBytes)
{
    constexpr int64_t kMegabyte = 1024 * 1024;
    const int64_t needed = neededBytes > 0 ? (neededBytes + kMegabyte - 1) / kMegabyte : 0;
    const int64_t free = freeBytes > 0 ? freeBytes / kMegabyte : 0;
    return std::wstring(kDiskFullReason) + L": 需要 " + std::to_wstring(needed) + L" MB, 可用 " +
           std::to_wstring(free) + L" MB";
}

std::wstring DiskSpaceShortage(int64_t neededBytes, int64_t freeBytes)
{
    return neededBytes > freeBytes ? DiskSpaceText(neededBytes, freeBytes) : std::wstring();
}

int64_t BytesStillToFetch(int64_t listedSize, int64_t heldBytes)
{
    const int64_t listed = listedSize > 0 ? listedSize : 0;
    return heldBytes > 0 && heldBytes <= listed ? listed - heldBytes : listed;
}

bool FreeBytesOnVolumeOf(const std::wstring& directory, int64_t& freeBytes)
{
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(directory.c_str(), &available, nullptr, nullptr)) {
        return false;
    }
    freeBytes = available.QuadPart > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX
                                                                       : static_cast<int64_t>(available.QuadPart);
    return true;
}

std::wstring UpdateFailureText(const std::string& path, FailureCause cause)
{
    return WithFailureReason(kDownloadFailedPrefix + Utf8ToWide(path), cause);
}

bool WritingDeniedIn(const std::wstring& directory)
{
    std::wstring folder = directory;
    while (!folder.empty() && GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) {
        const std::wstring parent = DirectoryOfPath(folder);
        folder = parent == folder ? std::wstring() : parent;
    }
    if (folder.empty()) {
        return false;
    }
    const std::wstring probe = JoinPath(folder, L"orvane-write-test-" + std::to_wstring(GetCurrentProcessId()) +
                                                    L"-" + std::to_wstring(GetTickCount64()) + L".tmp");
    const KernelHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return !file && GetLastError() == ERROR_ACCESS_DENIED;
}

UpdateRunPlan PlanUpdateRun(const std::vector<FileEntry>& differing, const TargetRule& rule)
{
    for (const FileEntry& entry : differing) {
        if (rule.Place(entry.path).isProgram) {
            return {{entry}, true};
        }
    }
    return {differing, false};
}

UpdateController& UpdateController::Instance()
{
    static UpdateController instance(Config::Instance(), SystemState::Instance());
    // The build embeds the key only when file lists are to be signed.
    static const bool keyLoaded = [] {
        instance.fileListPublicKey = LoadEmbeddedFileListKey();
        instance.minimumListVersion = ORVANE_MIN_FILELIST_VERSION;
        return true;
    }();
    (void)keyLoaded;
    return instance;
}

UpdateController::UpdateController(Config& config, SystemState& systemState)
    : startThread(StartThread), programPath(GetExecutablePath()), config_(config),
      systemState_(systemState)
{
    pauseBetweenAttempts = [this](unsigned milliseconds) {
        const ULONGLONG deadline = GetTickCount64() + milliseconds;
        while (!Cancelled() && GetTickCount64() < deadline) {
            Sleep(20);
        }
    };
}

UpdateController::~UpdateController()
{
    // A run works on this object to its last step.
    Cancel();
    runs_.WaitAll(INFINITE);
}

void UpdateController::PauseBeforeAttempt(int attempt)
{
    constexpr int kLast = static_cast<int>(sizeof kAttemptPauseMs / sizeof kAttemptPauseMs[0]) - 1;
    if (pauseBetweenAttempts) {
        pauseBetweenAttempts(kAttemptPauseMs[attempt - 1 < kLast ? attempt - 1 : kLast]);
    }
}

void UpdateController::Notify(State newState, const std::wstring& text, size_t fileCount)
{
    state = newState;
    if (onStateChanged) {
        onStateChanged(Report{newState, text, fileCount});
    }
}

void UpdateController::Finish(State final, const std::wstring& text, size_t fileCount,
                              std::optional<bool> completion)
{
    state = final;
    // From here a new run may start, and a caller may then replace the
    // callbacks: this run reports through copies.
    const auto stateChanged = onStateChanged;
    const auto complete = onComplete;
    busy_ = false;
    if (stateChanged) {
        stateChanged(Report{final, text, fileCount});
    }
    if (completion && complete) {
        complete(*completion);
    }
}

void UpdateController::Abandon()
{
    state = State::Idle;
    busy_ = false;
}

UpdateController::RunInput UpdateController::CurrentInput() const
{
    RunInput input;
    input.root = systemState_.GameDir;
    if (input.root.empty()) {
        // No game directory detected: the current directory stands in.
        wchar_t directory[MAX_PATH] = {};
        const DWORD length = GetCurrentDirectoryW(MAX_PATH, directory);
        input.root = length < MAX_PATH ? std::wstring(directory, length) : std::wstring();
    }
    input.programPath = programPath;
    input.relayUrls.push_back(config_.portalUrl);
    input.relayUrls.insert(input.relayUrls.end(), config_.fallbackPortalUrls.begin(),
                           config_.fallbackPortalUrls.end());
    input.fileListName = config_.fileListName;
    input.retryCount = config_.retryCount;
    return input;
}

UpdateController::RunStart UpdateController::StartRun(State first, const wchar_t* text,
                                                      void (UpdateController::*run)(const RunInput&),
                                                      RunInput input)
{
    // Only the caller's thread starts runs, so no run can begin between this
    // test and the increment.
    if (busy_.load()) {
        return RunStart::Refused;
    }
    const State before = state;
    cancel_ = false;
    busy_ = true;
    Notify(first, text);
    KernelHandle thread;
    if (startThread) {
        thread = startThread([this, run, input = std::move(input)] { (this->*run)(input); });
    }
    if (!thread) {
        busy_ = false;
        state = before;
        Logger::Instance().Write(LogLevel::Error, "Cannot create a thread for an update run");
        return RunStart::NoThread;
    }
    runs_.Add(std::move(thread));
    return RunStart::Started;
}

void UpdateController::Cancel()
{
    cancel_ = true;
}

bool UpdateController::WaitForRuns(unsigned timeoutMs)
{
    return runs_.WaitAll(timeoutMs);
}

UpdateController::RunStart UpdateController::CheckForUpdates()
{
    return StartRun(State::Connecting, L"正在连接更新服务器", &UpdateController::RunCheck,
                    CurrentInput());
}

bool UpdateController::AskRelay(const std::string& relayUrl, HttpClient& client,
                                std::vector<std::string>& mirrors)
{
    std::string body;
    if (!client.Get(relayUrl + "url.txt", body, kMaxRelayBytes)) {
        Logger::Instance().Write(LogLevel::Error, "Relay request failed: " + relayUrl + ": " + client.lastError);
        message = WithFailureReason(L"二次寻址失败: 无法连接跳板服务器",
                                    CauseOfRequestFailure(client.lastErrorCode));
        return false;
    }
    mirrors = MirrorsOfRelayAnswer(body);
    if (mirrors.empty()) {
        Logger::Instance().Write(LogLevel::Error, "Relay answered with no base URL: " + relayUrl);
        message = L"二次寻址失败: 跳板服务器返回空地址";
        return false;
    }
    return true;
}

bool UpdateController::FetchList(const RunInput& input, HttpClient& client, const std::vector<std::string>& mirrors,
                                 ParsedFileList& parsed, bool& arrived)
{
    const bool signedLists = !fileListPublicKey.empty();
    arrived = false;
    for (size_t i = 0; i < mirrors.size() && !Cancelled(); ++i) {
        const std::string listUrl = mirrors[i] + input.fileListName;
        std::string listText;
        std::string reason;
        if (!client.Get(listUrl, listText, kMaxFileListBytes)) {
            reason = "file list request failed: " + client.lastError;
            message = WithFailureReason(L"下载文件列表失败", CauseOfRequestFailure(client.lastErrorCode));
        } else {
            arrived = true;
            // Nothing of a list is read before its signature verifies.
            const bool verified = !signedLists || VerifyListSignature(client, listUrl, listText);
            parsed = verified ? ParseFileList(listText) : ParsedFileList();
            if (!verified) {
                reason = "file list signature invalid";
            } else if (!parsed.ok) {
                reason = "file list unreadable: " + parsed.error;
                message = Utf8ToWide(parsed.error);
            } else if (signedLists && !AcceptSignedList(parsed.list, input.fileListName)) {
                reason = "signed file list refused";
            } else if (signedLists && !AcceptListVersion(parsed.list.version)) {
                reason = "file list version refused";
            } else {
                updateMirrors_.assign(mirrors.begin() + static_cast<std::ptrdiff_t>(i), mirrors.end());
                return true;
            }
        }
        Logger::Instance().Write(LogLevel::Error, "Mirror " + mirrors[i] + " skipped for this run: " + reason);
    }
    parsed = ParsedFileList();
    return false;
}

void UpdateController::RunCheck(const RunInput& input)
{
    if (!unusableLibrary.empty()) {
        message = MissingLibraryText(unusableLibrary);
        Finish(State::Error, message);
        return;
    }
    // One session for the run's requests.
    HttpClient client(timeouts);
    client.cancel = &cancel_;
    bool checking = false;
    const auto startChecking = [this, &checking] {
        if (!checking) {
            Notify(State::Checking, L"正在检查更新");
            checking = true;
        }
    };
    ParsedFileList parsed;
    bool listed = false;
    bool arrived = false;
    if (!relayMirrors_.empty()) {
        // The relay was asked before in this process.
        startChecking();
        listed = FetchList(input, client, relayMirrors_, parsed, arrived);
    } else {
        // Each relay in turn, until one names mirrors of which one gives a list.
        std::wstring listFailure;
        for (size_t r = 0; r < input.relayUrls.size() && !listed && !Cancelled(); ++r) {
            std::vector<std::string> mirrors;
            if (!AskRelay(input.relayUrls[r], client, mirrors)) {
                continue;
            }
            startChecking();
            listed = FetchList(input, client, mirrors, parsed, arrived);
            if (listed || arrived) {
                relayMirrors_ = mirrors;
            }
            if (!listed) {
                listFailure = message;
                if (r + 1 < input.relayUrls.size()) {
                    Logger::Instance().Write(LogLevel::Error,
                                             "No mirror of relay " + input.relayUrls[r] + " gave a file list");
                }
            }
        }
        // A relay's failure says less than the failure of a list it led to.
        if (!listed && !listFailure.empty()) {
            message = listFailure;
        }
    }
    if (Cancelled()) {
        Abandon();
        return;
    }
    if (!listed) {
        if (!arrived) {
            // The relay may have moved the file servers: the next check asks it again.
            relayMirrors_.clear();
        }
        Finish(State::Error, message);
        return;
    }

    Notify(State::Verifying, L"正在校验本地文件");
    const TargetRule rule(input.root, input.programPath);
    int64_t listedBytes = 0;
    for (const FileEntry& entry : parsed.list.entries) {
        listedBytes += entry.size > 0 ? entry.size : 0;
    }
    const int entryCount = static_cast<int>(parsed.list.entries.size());
    int64_t comparedBytes = 0;
    std::vector<FileEntry> differing;
    std::set<std::string> folders;
    int64_t differingBytes = 0;
    RepeatedWarning skipped(kInvalidEntryWarning, kEntriesSkipped);
    FileReadBuffer readBuffer;  // one for every file, not one each
    for (int i = 0; i < entryCount; ++i) {
        if (Cancelled()) {
            Abandon();
            return;
        }
        const FileEntry& entry = parsed.list.entries[static_cast<size_t>(i)];
        const int64_t listedSize = entry.size > 0 ? entry.size : 0;
        const auto report = [&](int64_t bytesRead) {
            if (onProgress) {
                // The listed size bounds a file's share, whatever is on disk.
                const int64_t share = bytesRead < listedSize ? bytesRead : listedSize;
                onProgress(i + 1, entryCount, comparedBytes + share, listedBytes, 0.0);
            }
        };
        const TargetPath target = rule.Place(entry.path);
        if (!target) {
            skipped.Add();
        }
        // One open per file: a missing file or a folder fails it, and then differs.
        unsigned long openError = ERROR_SUCCESS;
        const bool same =
            target && SameDigest(ComputeFileMd5(target.file, report, &openError, &readBuffer), entry.hash);
        report(listedSize);
        comparedBytes += listedSize;
        if (!target || same) {
            continue;
        }
        // A folder refuses the open as access denied; only then is it asked what it is.
        if (openError == ERROR_ACCESS_DENIED) {
            const DWORD attributes = GetFileAttributesW(target.file.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                folders.insert(entry.path);
            }
        }
        differing.push_back(entry);
        differingBytes += entry.size;
    }
    skipped.Finish();

    filesToUpdate = std::move(differing);
    foldersListed = std::move(folders);
    totalBytes = differingBytes;
    connections = parsed.list.connections;
    if (filesToUpdate.empty()) {
        Finish(State::UpToDate, L"游戏已是最新版本");
    } else {
        Finish(State::UpdateAvailable,
               L"需要更新 " + std::to_wstring(filesToUpdate.size()) + L" 个文件",
               filesToUpdate.size());
    }
}

bool UpdateController::VerifyListSignature(HttpClient& client, const std::string& listUrl,
                                           const std::string& listText)
{
    std::string signature;
    std::string reason;
    FailureCause cause = FailureCause::Unknown;
    if (!client.Get(listUrl + ".sig", signature, static_cast<int64_t>(kMaxFileListSignatureBytes))) {
        reason = "cannot fetch the signature: " + client.lastError;
        cause = CauseOfRequestFailure(client.lastErrorCode);
    } else if (VerifyFileListSignature(fileListPublicKey, listText, signature, &reason)) {
        return true;
    }
    Logger::Instance().Write(LogLevel::Error, "File list signature invalid: " + reason);
    message = WithFailureReason(kSignatureInvalid, cause);
    return false;
}

bool UpdateController::AcceptSignedList(const FileList& list, const std::string& servedName)
{
    const std::string problem = SignedListProblem(list, servedName);
    if (problem.empty()) {
        return true;
    }
    Logger::Instance().Write(LogLevel::Error, "File list signature invalid: " + problem);
    message = kSignatureInvalid;
    return false;
}

bool UpdateController::AcceptListVersion(int64_t version)
{
    // A list without a usable "version" counts as version 0: it is taken only
    // while no numbered list has been accepted.
    const int64_t stored = systemState_.LoadFileListVersion();
    const int64_t accepted = stored > minimumListVersion ? stored : minimumListVersion;
    if (version < accepted) {
        Logger::Instance().Write(LogLevel::Error, "File list version " + std::to_string(version) +
                                                      " is older than the accepted version " +
                                                      std::to_string(accepted));
        message = kVersionTooOld;
        return false;
    }
    if (version > stored && !systemState_.SaveFileListVersion(version)) {
        // Taking the list without remembering it would let the next start
        // take an older one again.
        Logger::Instance().Write(LogLevel::Error, "Cannot store file list version " +
                                                      std::to_string(version) + " in setup.ini");
        message = kVersionNotStored;
        return false;
    }
    return true;
}

UpdateController::RunStart UpdateController::StartUpdate()
{
    if (state != State::UpdateAvailable || RunActive()) {
        return RunStart::Refused;
    }
    replacedProgram = TargetPath();
    replacedProgramEntry.clear();
    RunInput input = CurrentInput();
    input.files = filesToUpdate;
    input.folders = foldersListed;
    input.totalBytes = totalBytes;
    input.connections = connections;
    input.mirrors = updateMirrors_;
    return StartRun(State::Downloading, L"正在更新", &UpdateController::RunUpdate,
                    std::move(input));
}

bool UpdateController::DownloadAndReplace(HttpClient& client, HashingThread& hashing, const std::string& url,
                                          const TargetPath& target, const FileEntry& entry,
                                          const ProgressCallback& progress, AttemptFailure& failure)
{
    // One open of the partial file tells what an earlier attempt or run left
    // there and takes the rest: no query of the folder first (each lookup of a
    // missing name is a directory query that a virus scanner sees).
    failure = AttemptFailure();
    KernelHandle partial(CreateFileW(target.partial.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!partial) {
        Logger::Instance().Write(LogLevel::Warning,
                                 "Cannot open a partial file, error " + std::to_string(GetLastError()));
        return false;
    }
    LARGE_INTEGER size{};
    const int64_t have = GetLastError() != ERROR_ALREADY_EXISTS ? 0
                         : GetFileSizeEx(partial.Get(), &size) ? size.QuadPart
                                                               : -1;
    const auto startAgain = [&partial] {
        const LARGE_INTEGER start{};
        return SetFilePointerEx(partial.Get(), start, nullptr, FILE_BEGIN) && SetEndOfFile(partial.Get());
    };
    // A failed attempt keeps the bytes so far for the next one, but no empty file.
    const auto failed = [this, &target, &partial] {
        LARGE_INTEGER kept{};
        if (GetFileSizeEx(partial.Get(), &kept) && kept.QuadPart == 0) {
            partial.Reset();
            DiscardFile(target.partial, fileMoves);
        }
        return false;
    };
    // A full disk: the partial file goes at once, giving its space back.
    const auto diskFull = [this, &target, &partial, &failure] {
        failure.cause = FailureCause::DiskFull;
        partial.Reset();
        DiscardFile(target.partial, fileMoves);
        return false;
    };
    // Only bytes that are on the disk are moved in.
    const auto replace = [this, &target, &partial, &failed, &diskFull, &failure] {
        if (!fileMoves.flush(partial.Get())) {
            const DWORD error = GetLastError();
            Logger::Instance().Write(LogLevel::Warning,
                                     "Cannot flush a downloaded file, error " + std::to_string(error));
            return CauseOfRequestFailure(error) == FailureCause::DiskFull ? diskFull() : failed();
        }
        partial.Reset();
        const ReplaceResult result = target.isProgram
                                         ? ReplaceProgram(target.partial, target.file, target.aside, fileMoves)
                                         : ReplaceTarget(target.partial, target.file, target.aside, fileMoves);
        failure.cause = result == ReplaceResult::InUse ? FailureCause::FileInUse : FailureCause::Unknown;
        return result == ReplaceResult::Replaced;
    };
    // The digest covers the whole file: what was left is read back once, the
    // rest is hashed as it is written.
    const bool signedList = !fileListPublicKey.empty();
    ContentHash hash(signedList);
    DownloadOptions options;
    options.resumeFrom = have;
    if (have > 0 && have <= entry.size && AddRestOfFileTo(hash, partial.Get())) {
        if (have == entry.size) {
            if (MatchesEntry(hash.Finish(), entry, signedList)) {
                return replace();  // complete and verified before; only moving it in was refused
            }
            options.resumeFrom = -1;
        }
    } else if (have != 0) {
        options.resumeFrom = -1;  // longer than listed, or unreadable
    }
    if (options.resumeFrom < 0) {
        if (!startAgain()) {
            return failed();
        }
        hash.Restart();
        options.resumeFrom = 0;
    }
    // The file list's size bounds the body: a server that sends more is wrong.
    options.maxBytes = entry.size > 0 ? entry.size : 0;
    int64_t resumedFrom = 0;
    options.onStart = [&hash, &resumedFrom, &hashing](int64_t startOffset) {
        resumedFrom = startOffset;
        if (startOffset == 0) {
            hashing.Drain();
            hash.Restart();  // the server sent the whole file
        }
    };
    // Hashed on its own thread while the next bytes arrive, read straight into
    // the hashing thread's block.
    options.readTo = [&hash, &hashing](size_t& room) { return hashing.Room(hash, room); };
    options.onWritten = [&hash, &hashing](const char* data, size_t size) { hashing.Add(hash, data, size); };
    // A resumed file with the wrong digest is fetched once more in whole.
    for (;;) {
        const bool downloaded = client.DownloadInto(url, partial.Get(), progress, options);
        hashing.Drain();  // every byte in the hash before it is read or goes away
        if (!downloaded) {
            Logger::Instance().Write(LogLevel::Warning,
                                     "Download failed: " + entry.path + ": " + client.lastError);
            failure.cause = CauseOfRequestFailure(client.lastErrorCode);
            if (failure.cause == FailureCause::DiskFull) {
                return diskFull();
            }
            failure.outcome =
                client.lastFailedToConnect ? AttemptOutcome::ConnectionFailed : AttemptOutcome::MirrorFailed;
            failure.problem = client.lastError;
            // The bytes so far stay for the next attempt, which asks for the rest.
            return failed();
        }
        if (MatchesEntry(hash.Finish(), entry, signedList)) {
            break;
        }
        startAgain();
        if (resumedFrom == 0 || Cancelled()) {
            failure.outcome = AttemptOutcome::MirrorFailed;
            failure.problem = "the content differs from the list";
            return failed();
        }
        hash.Restart();
        options.resumeFrom = 0;
    }
    // A signed size is as binding as the signed digest: a file of another
    // length never replaces the old one, whatever its MD5.
    if (signedList && (!GetFileSizeEx(partial.Get(), &size) || size.QuadPart != entry.size)) {
        Logger::Instance().Write(LogLevel::Warning, "Size differs from the signed list: " + entry.path);
        failure.outcome = AttemptOutcome::MirrorFailed;
        failure.problem = "the size differs from the signed list";
        startAgain();
        return failed();
    }
    // A verified file that cannot be moved in stays, so a retry needs no download.
    return replace();
}

size_t UpdateController::MirrorAfterFailure(MirrorSet& mirrors, size_t mirror, const FileEntry& entry,
                                           const AttemptFailure& failure)
{
    const size_t next = mirrors.Next(mirror, failure.outcome);
    if (next == mirror) {
        return next;
    }
    const std::string why = failure.outcome == AttemptOutcome::ConnectionFailed
                                ? "cannot be reached (" + failure.problem + "); it is asked last for the rest of the run"
                                : "skipped for " + entry.path + " (" + failure.problem + ")";
    Logger::Instance().Write(LogLevel::Warning,
                             "Mirror " + mirrors.Url(mirror) + " " + why + "; next attempt from " + mirrors.Url(next));
    return next;
}

namespace {

struct NoCaseLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const { return _wcsicmp(a.c_str(), b.c_str()) < 0; }
};

// Sizes of the partial files in `folder`, by name: one listing of the folder.
void AddPartialFileSizes(const std::wstring& folder, std::map<std::wstring, int64_t, NoCaseLess>& sizes)
{
    WIN32_FIND_DATAW found{};
    const FindHandle search(FindFirstFileExW(JoinPath(folder, L"*.orvpart").c_str(), FindExInfoBasic, &found,
                                             FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!search) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            sizes[JoinPath(folder, found.cFileName)] =
                static_cast<int64_t>((static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow);
        }
    } while (FindNextFileW(search.Get(), &found));
}

}  // namespace

std::wstring UpdateController::SpaceShortageBeforeRun(const RunInput& input, const TargetRule& rule) const
{
    int64_t freeBytes = 0;
    if (!freeSpace || !freeSpace(input.root, freeBytes)) {
        Logger::Instance().Write(LogLevel::Warning, "The free disk space cannot be told; the update starts");
        return {};
    }
    // The listed sizes bound what is needed: only when they do not fit are the
    // partial files looked at, one listing per folder instead of a query per file.
    if (input.totalBytes <= freeBytes) {
        return {};
    }
    std::map<std::wstring, int64_t, NoCaseLess> partialSizes;
    std::set<std::wstring, NoCaseLess> foldersListed;
    int64_t needed = 0;
    for (const FileEntry& entry : input.files) {
        const TargetPath target = rule.Place(entry.path);
        if (!target) {
            continue;
        }
        const std::wstring folder = DirectoryOfPath(target.partial);
        if (foldersListed.insert(folder).second) {
            AddPartialFileSizes(folder, partialSizes);
        }
        const auto held = partialSizes.find(target.partial);
        needed += BytesStillToFetch(entry.size, held == partialSizes.end() ? -1 : held->second);
    }
    const std::wstring shortage = DiskSpaceShortage(needed, freeBytes);
    if (!shortage.empty()) {
        Logger::Instance().Write(LogLevel::Error, "Not enough disk space for the update: " +
                                                      std::to_string(needed) + " bytes needed, " +
                                                      std::to_string(freeBytes) + " free");
    }
    return shortage;
}

struct UpdateController::UpdateRunShare {
    UpdateRunShare(const RunInput& runInput, const TargetRule& targetRule, int transfers)
        : input(runInput), rule(targetRule),
          // The check always leaves a mirror; none fails every request as a bare path.
          mirrors(runInput.mirrors.empty() ? std::vector<std::string>{std::string()} : runInput.mirrors),
          finished(runInput.files.size(), false),
          progress(static_cast<int>(runInput.files.size()), runInput.totalBytes, transfers)
    {
    }

    const RunInput& input;
    const TargetRule& rule;
    MirrorSet mirrors;  // safe to share: it locks itself
    // Guards everything below; held while a progress report is made, so the
    // transfers report one at a time.
    std::mutex lock;
    size_t next = 0;  // the next file to take
    // Each folder written is made and cleared of earlier runs' leftovers once,
    // before any transfer writes into it.
    std::set<std::wstring> foldersSeen;
    std::vector<bool> finished;  // by file: moved in
    TransfersProgress progress;
    std::wstring failure;  // the first failure for good; empty while none
};

bool UpdateController::FailRun(UpdateRunShare& share, const std::wstring& text)
{
    const std::lock_guard<std::mutex> guard(share.lock);
    if (share.failure.empty()) {
        share.failure = text;
    }
    // The other transfers stop at their next chunk, their partial files kept.
    cancel_ = true;
    return false;
}

bool UpdateController::UpdateFile(UpdateRunShare& share, int transfer, size_t index, HttpClient& client,
                                  HashingThread& hashing)
{
    const RunInput& input = share.input;
    const FileEntry& entry = input.files[index];
    const TargetPath target = share.rule.Place(entry.path);
    if (!target) {
        // A listed file that cannot be placed is not up to date.
        Logger::Instance().Write(LogLevel::Warning, kInvalidEntryWarning);
        return FailRun(share, UpdateFailureText(entry.path, FailureCause::Unknown));
    }
    // A denied write into the file's folder is named before any other cause.
    const auto failFile = [this, &share, &entry, &target](FailureCause cause) {
        return FailRun(share, UpdateFailureText(entry.path, WritingDeniedIn(target.folder)
                                                                ? FailureCause::WriteDenied
                                                                : cause));
    };
    bool folderMade = true;
    {
        const std::lock_guard<std::mutex> guard(share.lock);
        if (share.foldersSeen.insert(target.folder).second) {
            folderMade = CreateDirectories(target.folder);
            if (!folderMade) {
                // E.g. a folder path past CreateDirectoryW's limit, or a file in the way.
                Logger::Instance().Write(LogLevel::Warning, "Cannot create the folder of " + entry.path +
                                                                ", error " + std::to_string(GetLastError()));
            } else {
                RemoveLeftovers(target.folder);
            }
        }
        const std::wstring asideFolder = DirectoryOfPath(target.aside);
        if (folderMade && share.foldersSeen.insert(asideFolder).second) {
            RemoveLeftovers(asideFolder);
        }
    }
    if (!folderMade) {
        return failFile(FailureCause::Unknown);
    }

    const ProgressCallback progress = [this, &share, transfer](int64_t downloaded, int64_t,
                                                               double bytesPerSecond) {
        if (onProgress) {
            const std::lock_guard<std::mutex> guard(share.lock);
            const RunProgress run = share.progress.Update(transfer, downloaded, bytesPerSecond);
            onProgress(run.fileIndex, run.fileCount, run.downloaded, run.total, run.bytesPerSecond);
        }
    };
    bool ok = false;
    if (input.folders.count(entry.path) != 0) {
        // Never replaced nor moved aside, so nothing is fetched for it.
        Logger::Instance().Write(LogLevel::Warning, kListedFolderWarning);
        return FailRun(share, UpdateFailureText(entry.path, FailureCause::Unknown));
    }
    AttemptFailure failure;
    size_t mirror = share.mirrors.First();
    size_t lastMirror = mirror;
    for (int attempt = 0; attempt < input.retryCount && !ok && !Cancelled(); ++attempt) {
        // Another mirror is asked at once; the same one after a pause.
        if (attempt > 0 && mirror == lastMirror) {
            PauseBeforeAttempt(attempt);
        }
        lastMirror = mirror;
        ok = DownloadAndReplace(client, hashing, share.mirrors.Url(mirror) + entry.path, target, entry, progress,
                                failure);
        if (failure.cause == FailureCause::DiskFull) {
            break;  // another attempt cannot make room
        }
        if (!ok && !Cancelled()) {
            mirror = MirrorAfterFailure(share.mirrors, mirror, entry, failure);
        }
    }
    const auto end = [&share, transfer, &entry, index](bool arrived) {
        const std::lock_guard<std::mutex> guard(share.lock);
        share.progress.End(transfer, entry.size, arrived);
        share.finished[index] = arrived;
    };
    if (Cancelled()) {
        end(false);
        return false;
    }
    if (!ok && failure.cause == FailureCause::DiskFull) {
        end(false);
        // This file begins again, and every other one not yet moved in is still to come.
        int64_t needed = 0;
        {
            const std::lock_guard<std::mutex> guard(share.lock);
            for (size_t rest = 0; rest < input.files.size(); ++rest) {
                if (!share.finished[rest]) {
                    needed += BytesStillToFetch(input.files[rest].size, -1);
                }
            }
        }
        int64_t freeBytes = 0;
        const bool known = freeSpace && freeSpace(input.root, freeBytes);
        return FailRun(share, kDownloadFailedPrefix + Utf8ToWide(entry.path) + L"\n" +
                                  (known ? DiskSpaceText(needed, freeBytes) : std::wstring(kDiskFullReason)));
    }
    end(ok);
    if (!ok) {
        return failFile(failure.cause);
    }
    if (target.isProgram) {
        const std::lock_guard<std::mutex> guard(share.lock);
        replacedProgram = target;
        replacedProgramEntry = entry.path;
    }
    return true;
}

void UpdateController::TransferFiles(UpdateRunShare& share, int transfer, HttpClient& client)
{
    HashingThread hashing;
    for (;;) {
        size_t index = 0;
        {
            const std::lock_guard<std::mutex> guard(share.lock);
            if (share.next >= share.input.files.size() || Cancelled()) {
                return;
            }
            index = share.next++;
            share.progress.Begin(transfer);
        }
        if (!UpdateFile(share, transfer, index, client, hashing)) {
            return;
        }
    }
}

void UpdateController::RunUpdate(const RunInput& input)
{
    if (!unusableLibrary.empty()) {
        message = MissingLibraryText(unusableLibrary);
        Finish(State::Error, message, 0, false);
        return;
    }
    const TargetRule rule(input.root, input.programPath);
    const auto fail = [this](const std::wstring& text) {
        message = text;
        Finish(State::Error, message, 0, false);
    };
    // Nothing is fetched, and no old file touched, for an update that cannot fit.
    const std::wstring shortage = SpaceShortageBeforeRun(input, rule);
    if (!shortage.empty()) {
        fail(std::wstring(kUpdateNotStartedText) + L"\n" + shortage);
        return;
    }
    // A new program is fetched first and alone; the rest is the new program's work.
    const UpdateRunPlan plan = PlanUpdateRun(input.files, rule);
    RunInput planned = input;
    if (plan.replacesProgram) {
        planned.files = plan.files;
        planned.totalBytes = 0;
        for (const FileEntry& entry : planned.files) {
            planned.totalBytes += entry.size;
        }
    }
    // As many transfers as the portal allows, and no more than there are files.
    const size_t fileCount = planned.files.size();
    const int transfers =
        static_cast<int>(fileCount < static_cast<size_t>(planned.connections) ? fileCount : planned.connections);
    // One session for the whole run, so its requests share kept-alive
    // connections; with parallel transfers it may hold one per transfer.
    HttpClient client(timeouts);
    client.cancel = &cancel_;
    if (transfers > 1) {
        client.connectionsPerServer = static_cast<unsigned long>(transfers);
    }
    UpdateRunShare share(planned, rule, transfers > 0 ? transfers : 1);
    // The run's own thread is the first transfer; a transfer whose thread the
    // system cannot make is left out, the others take its files.
    std::vector<std::thread> helpers;
    for (int transfer = 1; transfer < transfers; ++transfer) {
        std::shared_ptr<HttpClient> helperClient(client.OnSameSession());
        try {
            helpers.emplace_back(
                [this, &share, transfer, helperClient] { TransferFiles(share, transfer, *helperClient); });
        } catch (const std::system_error&) {
            Logger::Instance().Write(LogLevel::Warning, "Cannot create a thread for a parallel transfer");
            break;
        }
    }
    if (transfers > 1) {
        Logger::Instance().Write(LogLevel::Info, "Fetching up to " + std::to_string(helpers.size() + 1) +
                                                     " files at once");
    }
    TransferFiles(share, 0, client);
    for (std::thread& helper : helpers) {
        helper.join();
    }

    if (!share.failure.empty()) {
        fail(share.failure);
        return;
    }
    if (Cancelled()) {
        Logger::Instance().Write(LogLevel::Info, "Update cancelled");
        Abandon();
        return;
    }
    if (plan.replacesProgram) {
        // No completion: the run succeeds only once the new program runs.
        Logger::Instance().Write(LogLevel::Info, "The program was updated; handing over to the new one");
        Finish(State::ProgramReplaced, L"程序已更新");
        return;
    }
    Finish(State::UpToDate, L"更新完成", 0, true);
}

std::wstring UpdateController::RestoreReplacedProgram()
{
    DWORD error = 0;
    if (!replacedProgram || !RestoreProgram(replacedProgram.file, replacedProgram.aside, error, fileMoves)) {
        Logger::Instance().Write(LogLevel::Error,
                                 "Cannot put the old program back, error " + std::to_string(error));
    } else {
        Logger::Instance().Write(LogLevel::Info, "The old program is back");
    }
    message = UpdateFailureText(replacedProgramEntry, FailureCause::Unknown);
    state = State::Error;
    replacedProgram = TargetPath();
    return message;
}

}  // namespace Orvane
