// Measures the update engine's two heavy paths under the same conditions as a
// reference: ComputeFileMd5 on a large file, and HttpClient::DownloadFile
// against a bare WinHTTP read loop on the same URL. Prints "name milliseconds"
// lines (the best of several runs) for bench/run.sh to compare.
//
//   orvane_bench <file to hash> <url> <download directory> [runs]

#include <windows.h>
#include <winhttp.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "base/Handles.h"
#include "base/Text.h"
#include "diagnostics/FileDigest.h"
#include "update/HttpClient.h"

namespace {

using Orvane::KernelHandle;
using Orvane::WinHttpHandle;

// The plainest WinHTTP download: one fixed buffer, no progress, no limits.
int64_t BareWinHttpDownload(const std::string& url, const std::wstring& target)
{
    std::wstring host;
    std::wstring path;
    int port = 0;
    Orvane::SplitUrl(url, host, path, port);
    WinHttpHandle session(WinHttpOpen(L"bench", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                      WINHTTP_NO_PROXY_BYPASS, 0));
    WinHttpHandle connection(session.Get() ? WinHttpConnect(session.Get(), host.c_str(),
                                                            static_cast<INTERNET_PORT>(port), 0)
                                           : nullptr);
    WinHttpHandle request(connection.Get()
                              ? WinHttpOpenRequest(connection.Get(), L"GET", path.c_str(), nullptr,
                                                   WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, 0)
                              : nullptr);
    if (!request.Get() ||
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
    std::vector<char> buffer(1 << 20);
    int64_t total = 0;
    DWORD read = 0;
    while (WinHttpReadData(request.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read) &&
           read > 0) {
        DWORD written = 0;
        WriteFile(file.Get(), buffer.data(), read, &written, nullptr);
        total += read;
    }
    return total;
}

// Best wall-clock time of `runs` calls, in milliseconds.
double BestOf(int runs, const std::function<bool()>& work)
{
    double best = -1;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (!work()) {
            return -1;
        }
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        best = (best < 0 || ms < best) ? ms : best;
    }
    return best;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: orvane_bench <file to hash> <url> <download directory> [runs]\n");
        return 2;
    }
    const std::wstring hashFile = argv[1];
    const std::string url = Orvane::WideToUtf8(argv[2]);
    const std::wstring directory = argv[3];
    const int runs = argc > 4 ? _wtoi(argv[4]) : 3;

    std::string digest;
    const double md5 = BestOf(runs, [&] {
        digest = Orvane::ComputeFileMd5(hashFile);
        return !digest.empty();
    });
    std::printf("ComputeFileMd5 %.1f %s\n", md5, digest.c_str());

    const std::wstring target = directory + L"\\bench-download.bin";
    int64_t chunks = 0;
    const double download = BestOf(runs, [&] {
        Orvane::HttpClient client;
        chunks = 0;
        const bool ok = client.DownloadFile(url, target, [&](int64_t, int64_t, double) { ++chunks; });
        if (!ok) {
            std::fprintf(stderr, "DownloadFile: %s\n", client.lastError.c_str());
        }
        return ok;
    });
    std::printf("DownloadFile %.1f %s %lld\n", download, Orvane::ComputeFileMd5(target).c_str(),
                static_cast<long long>(chunks));

    const double bare = BestOf(runs, [&] { return BareWinHttpDownload(url, target) > 0; });
    std::printf("BareWinHttp %.1f %s\n", bare, Orvane::ComputeFileMd5(target).c_str());
    DeleteFileW(target.c_str());
    return (md5 < 0 || download < 0 || bare < 0) ? 1 : 0;
}
