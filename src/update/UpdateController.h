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
// that differ. Each run works on a thread of its own, on values copied when it
// starts, and reports through the callbacks: the first notification of a run
// on the caller's thread, all later ones on the run's thread. At most one run
// is active at a time: a start while one runs is refused.
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
        // The list has arrived; local files are being compared with it.
        // Progress reports carry the listed bytes compared so far.
        Verifying = 7,
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

    // Starts `work` on a new thread; false when none can be created.
    using ThreadStarter = std::function<bool(std::function<void()> work)>;

    // The process-wide controller, working on Config::Instance() and
    // SystemState::Instance().
    static UpdateController& Instance();

    // A controller working on the given settings and diagnosis record, which
    // must outlive it and its runs. It starts without a file-list key.
    UpdateController(Config& config, SystemState& systemState);
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
    // Waits until every run started by this controller has returned, up to
    // `timeoutMs`. True when none is left. For orderly shutdown and tests.
    bool WaitForRuns(unsigned timeoutMs);
    bool RunActive() const { return activeRuns_.load() != 0; }

    // The file server's base URL from the portal's url.txt, asked for once per
    // controller; empty until a check has resolved it.
    const std::string& ResolvedBaseUrl() const { return resolvedUrl_; }

    // Read only while no run is active (after WaitForRuns, or on the thread of
    // a callback): a run writes them.
    State state = State::Idle;
    std::vector<FileEntry> filesToUpdate;
    int64_t totalBytes = 0;  // sum of the manifest sizes of filesToUpdate
    std::wstring message;    // the last failure, shown to the user

    std::function<void(int fileIndex, int fileCount, int64_t downloaded, int64_t total,
                       double bytesPerSecond)>
        onProgress;
    std::function<void(const Report& report)> onStateChanged;
    std::function<void(bool success)> onComplete;
    // Replaceable so tests can refuse a thread.
    ThreadStarter startThread;

    // Limits for every request the runs make.
    HttpTimeouts timeouts;

    // Public key (PEM or DER) the file list must be signed with. Empty: lists
    // are taken unsigned and no signature is asked for. With a key, a check
    // also fetches the list's URL + ".sig", refuses the list unless it
    // verifies, and refuses a "version" lower than the highest one accepted
    // before (kept in setup.ini). Set before a run starts, not during one.
    std::string fileListPublicKey;

private:
    // What a run works on, copied on the caller's thread when it starts.
    struct RunInput {
        std::wstring root;  // the game directory
        std::string portalUrl;
        std::string fileListName;
        int retryCount = 0;
        std::vector<FileEntry> files;  // update runs: the list to fetch
        int64_t totalBytes = 0;
    };

    void Notify(State newState, const std::wstring& text, size_t fileCount = 0);
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
    // With a key: refuses a list older than the last one accepted and
    // remembers a newer one. False (with `message` set) when refused.
    bool AcceptListVersion(int64_t version);
    // Root joined with the entry's path; empty (after a warning) when the
    // result would lie outside the root or be too long for Windows to open.
    std::wstring LocalPathOf(const std::wstring& root, const FileEntry& entry) const;
    // One download attempt into the target's partial file, continuing what an
    // earlier attempt or run left there; the target is replaced only by a file
    // whose whole content has the listed digest. A failed attempt keeps the
    // partial file unless its content is known to be wrong.
    bool DownloadAndReplace(HttpClient& client, const std::string& url, const std::wstring& localPath,
                            const FileEntry& entry, const ProgressCallback& progress);

    Config& config_;
    SystemState& systemState_;
    std::atomic<int> activeRuns_{0};
    std::atomic<bool> cancel_{false};
    std::string resolvedUrl_;  // written and read by runs only, which never overlap
};

}  // namespace Orvane
