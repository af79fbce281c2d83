#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "update/FileList.h"
#include "update/HttpClient.h"

namespace Orvane {

class Config;
class SystemState;

// Checks the game files against the portal's file list and downloads the ones
// that differ. Each run works on a detached thread and reports through the
// callbacks: the first notification of a run on the caller's thread, all later
// ones on the run's thread. At most one run may be active at a time; the caller
// sees to that.
class UpdateController {
public:
    // The values are passed unchanged to the window as a message parameter.
    enum class State : int32_t {
        Idle = 0,
        Connecting = 1,
        Checking = 2,
        UpdateAvailable = 3,
        Downloading = 4,
        UpToDate = 5,
        Error = 6,
    };

    // The process-wide controller, working on Config::Instance() and
    // SystemState::Instance().
    static UpdateController& Instance();

    // A controller working on the given settings and diagnosis record, which
    // must outlive it and its runs. It starts without a file-list key.
    UpdateController(Config& config, SystemState& systemState);
    UpdateController(const UpdateController&) = delete;
    UpdateController& operator=(const UpdateController&) = delete;

    // Reports Connecting, then resolves the portal, fetches the file list and
    // compares every listed file with the local copy on a new thread.
    void CheckForUpdates();
    // Second-stage addressing: asks the portal's url.txt for the file server's
    // base URL, once per process. False with the reason in `message`.
    bool ResolvePortal();
    // Downloads filesToUpdate on a new thread. Does nothing unless the state is
    // UpdateAvailable.
    void StartUpdate();

    // Waits until every run started by this controller has returned, up to
    // `timeoutMs`. True when none is left. For orderly shutdown and tests.
    bool WaitForRuns(unsigned timeoutMs);

    State state = State::Idle;
    std::vector<FileEntry> filesToUpdate;
    int64_t totalBytes = 0;  // sum of the manifest sizes of filesToUpdate
    std::function<void(int fileIndex, int fileCount, int64_t downloaded, int64_t total,
                       double bytesPerSecond)>
        onProgress;
    std::function<void(State state, const std::wstring& text)> onStateChanged;
    std::function<void(bool success)> onComplete;
    std::wstring message;  // the last failure, shown to the user

    // Limits for every request the runs make.
    HttpTimeouts timeouts;

    // Public key (PEM or DER) the file list must be signed with. Empty: lists
    // are taken unsigned and no signature is asked for. With a key, a check
    // also fetches the list's URL + ".sig", refuses the list unless it
    // verifies, and refuses a "version" lower than the highest one accepted
    // before (kept in setup.ini). Set before a run starts, not during one.
    std::string fileListPublicKey;

private:
    void Notify(State newState, const std::wstring& text);
    void StartRun(void (UpdateController::*run)());
    void RunCheck();
    void RunUpdate();
    // With a key: fetches and verifies the list's signature. False (with
    // `message` set) when the list must not be used.
    bool VerifyListSignature(HttpClient& client, const std::string& listUrl, const std::string& listText);
    // With a key: refuses a list older than the last one accepted and
    // remembers a newer one. False (with `message` set) when refused.
    bool AcceptListVersion(int64_t version);
    // The game directory, or the current directory when none was detected.
    std::wstring LocalRoot() const;
    // Root joined with the entry's path; empty (after a warning) when the
    // result would lie outside the root.
    std::wstring LocalPathOf(const std::wstring& root, const FileEntry& entry) const;
    // One download attempt into a temporary file beside the target; the target
    // is replaced only by a verified file.
    bool DownloadAndReplace(HttpClient& client, const std::string& url, const std::wstring& localPath,
                            const FileEntry& entry, const ProgressCallback& progress);

    Config& config_;
    SystemState& systemState_;
    std::atomic<int> activeRuns_{0};
};

}  // namespace Orvane
