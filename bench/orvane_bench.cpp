// Measures the update engine's heavy paths under the same conditions as the
// references bench/run.sh runs beside it. Prints one "name value..." line per
// measurement.
//
//   orvane_bench hash <file> <runs> [sha256]     ComputeFileMd5, or with "sha256" the MD5
//                                                and SHA-256 a signed build takes in one pass
//   orvane_bench bare <url> <target> [paced|busy]
//                                                a bare WinHTTP read loop; with "paced" a
//                                                thread beside it, sharing nothing with it,
//                                                hashes 1 MiB of its own every 10 ms (the
//                                                digest's work at about the transfer's pace),
//                                                with "busy" without pause
//   orvane_bench receive <url> <target> [digest]
//                                                the update's receive loop (HttpClient) into a
//                                                file opened as a partial file is; with
//                                                "digest" hashed on its thread as an update does
//   orvane_bench barefiles <base url> <names> <dir>
//                                                the same loop for each name listed
//                                                (UTF-8, one a line), on one connection
//   orvane_bench hashloop <md5 list> <game dir>  a bare Win32 hashing loop over the
//                                                files of an `md5sum -c` list
//   orvane_bench check <portal url> <game dir>   the update check of a game directory
//   orvane_bench update <portal url> <game dir>  check, then the update through the real
//                                                window (needs a display)
//   orvane_bench update <portal url> <game dir> noflush
//                                                the same without flushing each file first

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/Config.h"
#include "base/Handles.h"
#include "base/Text.h"
#include "diagnostics/DiagnosisRun.h"
#include "diagnostics/FileDigest.h"
#include "diagnostics/SystemState.h"
#include "flow/Messages.h"
#include "ui/MainWindow.h"
#include "update/HashingThread.h"
#include "update/HttpClient.h"
#include "update/UpdateController.h"

namespace {

using Orvane::KernelHandle;
using Orvane::WinHttpHandle;

double MillisecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// The whole of a small local file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::wstring& path)
{
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    std::string bytes;
    char chunk[65536];
    DWORD read = 0;
    while (file && ReadFile(file.Get(), chunk, sizeof chunk, &read, nullptr) && read > 0) {
        bytes.append(chunk, read);
    }
    return bytes;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end;
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty()) {
            lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
}

// The plainest WinHTTP download over a connection handle: no progress, no limits.
int64_t BareWinHttpDownload(HINTERNET connection, const std::wstring& path, const std::wstring& target)
{
    WinHttpHandle request(connection != nullptr
                              ? WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr,
                                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                              : nullptr);
    // The limits every request of the program has.
    if (!request.Get() || !WinHttpSetTimeouts(request.Get(), 15000, 15000, 30000, 30000) ||
        !WinHttpSendRequest(request.Get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA,
                            0, 0, 0) ||
        !WinHttpReceiveResponse(request.Get(), nullptr)) {
        return -1;
    }
    KernelHandle file(CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return -1;
    }
    // WinHTTP's documented loop: ask what has arrived, read that much. (Reads
    // of a fixed 1 MiB without asking measured 1.5-3x slower under Wine.)
    // The main thread's alone (a thread_local one would be destroyed at a
    // thread's end after its storage is freed with this toolchain).
    static std::vector<char> buffer(1 << 20);
    int64_t total = 0;
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(request.Get(), &available) && available > 0) {
        DWORD read = 0;
        const DWORD wanted = available < buffer.size() ? available : static_cast<DWORD>(buffer.size());
        if (!WinHttpReadData(request.Get(), buffer.data(), wanted, &read) || read == 0) {
            break;
        }
        DWORD written = 0;
        WriteFile(file.Get(), buffer.data(), read, &written, nullptr);
        total += read;
    }
    return total;
}


// MD5 of a buffer of its own on a thread beside a transfer, sharing nothing
// with it: what any CPU work of the digest's size costs a transfer on this
// machine, apart from how the update hands its bytes over.
class HashingBeside {
public:
    enum class Pace { None, Paced, Busy };

    explicit HashingBeside(Pace pace)
    {
        if (pace == Pace::None) {
            return;
        }
        worker_ = std::thread([this, pace] {
            const std::vector<char> block(1 << 20, 'x');
            Orvane::ContentHash hash;
            while (!stop_) {
                if (pace == Pace::Paced) {
                    Sleep(10);
                }
                hash.Add(block.data(), block.size());
                ++blocks_;
            }
        });
    }
    ~HashingBeside() { Stop(); }

    // Stops the thread; the MiB it hashed.
    long Stop()
    {
        stop_ = true;
        if (worker_.joinable()) {
            worker_.join();
        }
        return blocks_;
    }

private:
    std::atomic<bool> stop_{false};
    long blocks_ = 0;  // the worker's alone until it is joined
    std::thread worker_;
};

// The floor of a check: for each listed path CreateFileW, ReadFile in 64 KiB
// pieces, CryptoAPI MD5 with one provider kept open. `listText` is an
// `md5sum -c` list ("<digest>  <path>", UTF-8). Prints the time from the list
// in memory to the last digest, and how many files matched.
int RunHashLoop(const std::wstring& listPath, const std::wstring& gameDir)
{
    const std::vector<std::string> lines = Lines(ReadWholeFile(listPath));
    HCRYPTPROV rawProvider = 0;
    if (!CryptAcquireContextW(&rawProvider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT)) {
        return 1;
    }
    const Orvane::CryptProvider provider(rawProvider);
    static char buffer[64 * 1024];
    static const char kHex[] = "0123456789abcdef";
    const auto start = std::chrono::steady_clock::now();
    size_t matching = 0;
    for (const std::string& line : lines) {
        if (line.size() < 35) {
            continue;
        }
        const std::wstring path = gameDir + L"\\" + Orvane::Utf8ToWide(line.substr(34));
        KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        HCRYPTHASH rawHash = 0;
        if (!file || !CryptCreateHash(provider.Get(), CALG_MD5, 0, 0, &rawHash)) {
            continue;
        }
        const Orvane::CryptHash hash(rawHash);
        DWORD read = 0;
        while (ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr) && read > 0) {
            CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(buffer), read, 0);
        }
        BYTE digest[16] = {};
        DWORD size = sizeof digest;
        CryptGetHashParam(hash.Get(), HP_HASHVAL, digest, &size, 0);
        std::string text;
        for (const BYTE b : digest) {
            text += kHex[b >> 4];
            text += kHex[b & 15];
        }
        matching += text == line.substr(0, 32) ? 1 : 0;
    }
    std::printf("hashloop %.1f %zu %zu\n", MillisecondsSince(start), matching, lines.size());
    return matching == lines.size() ? 0 : 1;
}

// A controller on its own settings for the game directory.
struct Engine {
    explicit Engine(const std::string& portalUrl, const std::wstring& gameDir)
        : record(gameDir + L"\\bench-setup.ini")
    {
        config.portalUrl = portalUrl;
        config.fileListName = "filelist.json";
        config.retryCount = 1;
        record.GameDir = gameDir;
    }
    Orvane::Config config;
    Orvane::SystemState record;
    Orvane::UpdateController controller{config, record};
};

int RunCheck(const std::string& portalUrl, const std::wstring& gameDir)
{
    Engine engine(portalUrl, gameDir);
    const auto start = std::chrono::steady_clock::now();
    double comparingFrom = 0;  // when the list had arrived
    engine.controller.onStateChanged = [&](const Orvane::UpdateController::Report& report) {
        if (report.state == Orvane::UpdateController::State::Verifying) {
            comparingFrom = MillisecondsSince(start);
        }
    };
    engine.controller.CheckForUpdates();
    engine.controller.WaitForRuns(3600 * 1000);
    const double total = MillisecondsSince(start);
    std::printf("check %.1f %d %zu %.1f\n", total, static_cast<int>(engine.controller.state),
                engine.controller.filesToUpdate.size(), total - comparingFrom);
    return engine.controller.state == Orvane::UpdateController::State::UpToDate ? 0 : 1;
}

// The diagnosis passes at once, as on a player's machine where it has passed.
Orvane::DiagnosisProbes PassingProbes(const std::wstring& gameDir)
{
    Orvane::DiagnosisProbes probes;
    probes.local = [gameDir](Orvane::EnvironmentInfo& info) {
        info.OSName = L"Windows 10";
        info.IsWin10OrLater = true;
        info.Is64Bit = true;
        info.HasNet8 = true;
        info.HasDotNet = true;
        info.DotNetVersion = L"NET 8.0.11";
        info.GameDir = gameDir;
        info.HasGameDir = true;
        info.HasWowExe = true;
        info.HasDataDir = true;
    };
    probes.integrity = [](const std::wstring&) { return Orvane::IntegrityResult{true, L""}; };
    probes.connect = [](const std::string&) { return Orvane::ConnectionTestResult{true, 1}; };
    return probes;
}

double ThreadCpuMs()
{
    FILETIME created{}, exited{}, kernel{}, user{};
    GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& t) {
        return ((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

// Pumps the UI thread's messages until the condition holds; counts progress posts.
template <typename Condition>
void Pump(Condition done, uint64_t& progressPosts)
{
    MSG message{};
    while (!done()) {
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == Orvane::WM_UPDATE_PROGRESS) {
                ++progressPosts;
            }
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

int RunUpdate(const std::string& portalUrl, const std::wstring& gameDir, bool flush)
{
    using Orvane::Phase;
    Engine engine(portalUrl, gameDir);
    if (!flush) {
        // What the update costs without putting each file on the disk first.
        engine.controller.fileMoves.flush = [](HANDLE) { return true; };
    }
    Orvane::MainWindow window(engine.record, engine.controller);
    std::wstring shown;
    window.showMessage = [&shown](const std::wstring& text, const std::wstring&, UINT) { shown = text; };
    if (!window.Create(GetModuleHandleW(nullptr))) {
        std::fprintf(stderr, "cannot create the window\n");
        return 1;
    }
    Orvane::Flow& flow = window.Work();
    flow.diagnosisRun = [gameDir](Orvane::DiagnosisSink& sink) {
        Orvane::RunDiagnosis(PassingProbes(gameDir), sink);
    };
    flow.launchDelayMs = 3600 * 1000;  // the launch is not part of the measurement
    uint64_t posts = 0;
    flow.PressStart();
    Pump([&] { return flow.CurrentPhase() != Phase::Detecting && flow.CurrentPhase() != Phase::Checking; },
         posts);
    if (flow.CurrentPhase() != Phase::UpdateAvailable) {
        std::fprintf(stderr, "no update offered: %ls\n", shown.c_str());
        return 1;
    }
    const size_t files = engine.controller.filesToUpdate.size();
    posts = 0;
    const double cpuBefore = ThreadCpuMs();
    const auto start = std::chrono::steady_clock::now();
    flow.PressGame();
    Pump([&] { return flow.CurrentPhase() != Phase::Updating; }, posts);
    const double elapsed = MillisecondsSince(start);
    const double cpu = ThreadCpuMs() - cpuBefore;
    std::printf("update %.1f %.1f %llu %zu %s\n", elapsed, cpu, static_cast<unsigned long long>(posts),
                files, flow.CurrentPhase() == Phase::Updated ? "ok" : "failed");
    DestroyWindow(window.Handle());
    return flow.CurrentPhase() == Phase::Updated ? 0 : 1;
}


// The update's own receive loop, without the window, the file list and the
// move: what the transfer costs before and after the digest joins it.
int RunReceive(const std::string& url, const std::wstring& target, bool withDigest)
{
    Orvane::HttpClient client;
    KernelHandle file(CreateFileW(target.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    Orvane::ContentHash hash;
    Orvane::HashingThread hashing;
    Orvane::DownloadOptions options;
    if (withDigest) {
        options.readTo = [&hash, &hashing](size_t& room) { return hashing.Room(hash, room); };
        options.onWritten = [&hash, &hashing](const char* data, size_t size) { hashing.Add(hash, data, size); };
    }
    const auto start = std::chrono::steady_clock::now();
    const bool ok = file && client.DownloadInto(url, file.Get(), {}, options);
    hashing.Drain();
    const double elapsed = MillisecondsSince(start);
    LARGE_INTEGER size{};
    GetFileSizeEx(file.Get(), &size);
    const std::string md5 = withDigest ? hash.Finish().md5 : std::string("-");
    std::printf("receive %.1f %lld %s\n", elapsed, static_cast<long long>(size.QuadPart), md5.c_str());
    return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"hash" && argc > 3) {
        const int runs = _wtoi(argv[3]);
        const bool withSha256 = argc > 4 && std::wstring(argv[4]) == L"sha256";
        double best = -1;
        std::string digest;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            digest = withSha256 ? Orvane::ComputeFileDigests(argv[2], true).sha256 : Orvane::ComputeFileMd5(argv[2]);
            const double ms = MillisecondsSince(start);
            best = (best < 0 || ms < best) ? ms : best;
        }
        std::printf("hash %.1f %s\n", best, digest.c_str());
        return digest.empty() ? 1 : 0;
    }
    // One session and one connection handle for every request of a mode.
    std::wstring host;
    std::wstring path;
    int port = 0;
    Orvane::SplitUrl(argc > 2 ? Orvane::WideToUtf8(argv[2]) : std::string(), host, path, port);
    const WinHttpHandle session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                            WINHTTP_NO_PROXY_BYPASS, 0));
    const WinHttpHandle connection(
        session.Get() ? WinHttpConnect(session.Get(), host.c_str(), static_cast<INTERNET_PORT>(port), 0)
                      : nullptr);
    if (mode == L"bare" && argc > 3) {
        const std::wstring beside = argc > 4 ? argv[4] : L"";
        HashingBeside hashing(beside == L"paced" ? HashingBeside::Pace::Paced
                              : beside == L"busy" ? HashingBeside::Pace::Busy
                                                  : HashingBeside::Pace::None);
        const auto start = std::chrono::steady_clock::now();
        const int64_t bytes = BareWinHttpDownload(connection.Get(), path, argv[3]);
        const double elapsed = MillisecondsSince(start);
        const long hashedBeside = hashing.Stop();
        std::printf("bare %.1f %lld %ld\n", elapsed, static_cast<long long>(bytes), hashedBeside);
        return bytes > 0 ? 0 : 1;
    }
    if (mode == L"barefiles" && argc > 4) {
        // Each body to its file, one after another on one session (kept alive).
        const std::vector<std::string> names = Lines(ReadWholeFile(argv[3]));
        const auto start = std::chrono::steady_clock::now();
        size_t done = 0;
        for (const std::string& name : names) {
            const std::wstring wide = Orvane::Utf8ToWide(name);
            done += BareWinHttpDownload(connection.Get(), path + wide, std::wstring(argv[4]) + L"\\" + wide) >= 0;
        }
        std::printf("barefiles %.1f %zu\n", MillisecondsSince(start), done);
        return done == names.size() ? 0 : 1;
    }
    if (mode == L"hashloop" && argc > 3) {
        return RunHashLoop(argv[2], argv[3]);
    }
    if (mode == L"check" && argc > 3) {
        return RunCheck(Orvane::WideToUtf8(argv[2]), argv[3]);
    }
    if (mode == L"receive" && argc > 3) {
        return RunReceive(Orvane::WideToUtf8(argv[2]), argv[3], argc > 4 && std::wstring(argv[4]) == L"digest");
    }
    if (mode == L"update" && argc > 3) {
        return RunUpdate(Orvane::WideToUtf8(argv[2]), argv[3], !(argc > 4 && std::wstring(argv[4]) == L"noflush"));
    }
    std::fprintf(stderr, "usage: orvane_bench hash|bare|barefiles|hashloop|check|receive|update ...\n");
    return 2;
}
