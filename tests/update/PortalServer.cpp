#include "PortalServer.h"

#include <cstdlib>

#include <windows.h>

#include "base/Handles.h"

#ifndef ORVANE_SOURCE_DIR_DEFAULT
#define ORVANE_SOURCE_DIR_DEFAULT ""
#endif

namespace Orvane::Fixture {

namespace {

// Wine's own path conversions; absent on Windows.
using UnixFileNameFunction = char*(WINAPI*)(const wchar_t*);
using DosFileNameFunction = wchar_t*(WINAPI*)(const char*);

template <typename Function>
Function WineExport(const char* name)
{
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), name)));
}

std::wstring Environment(const wchar_t* name, const std::wstring& fallback)
{
    wchar_t value[4096] = {};
    const DWORD length = GetEnvironmentVariableW(name, value, 4096);
    return length > 0 && length < 4096 ? std::wstring(value, length) : fallback;
}

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());  // ASCII paths only
}

const char* ModeName(Serve mode)
{
    switch (mode) {
    case Serve::Normal: return "normal";
    case Serve::NoLength: return "nolength";
    case Serve::Cut: return "cut";
    case Serve::Stall: return "stall";
    case Serve::Silent: return "silent";
    case Serve::Endless: return "endless";
    case Serve::Slow: return "slow=3";
    case Serve::SlowOneSecond: return "slow=1";
    case Serve::NoRange: return "norange";
    }
    return "normal";
}

bool WaitForFile(const std::wstring& path, DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    while (!Exists(path)) {
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(10);
    }
    return true;
}

}  // namespace

PortalServer::PortalServer()
{
    const std::wstring sourceDir =
        Environment(L"ORVANE_SOURCE_DIR", Widen(ORVANE_SOURCE_DIR_DEFAULT));
    if (sourceDir.empty()) {
        error_ = "ORVANE_SOURCE_DIR is not set";
        return;
    }
    const std::wstring script = sourceDir + L"/tests/fixtures/portal_server.py";

    // Under Wine the server is a Unix program: Wine starts it when given its
    // DOS path, and hands on the remaining arguments unchanged, so the script
    // and the working directory are passed as Unix paths.
    std::wstring python;
    std::wstring workDir = dir_.Path();
    const auto toUnix = WineExport<UnixFileNameFunction>("wine_get_unix_file_name");
    const auto toDos = WineExport<DosFileNameFunction>("wine_get_dos_file_name");
    if (toUnix && toDos) {
        const std::wstring unixPython = Environment(L"ORVANE_PYTHON", L"/usr/bin/python3");
        const std::string narrowPython(unixPython.begin(), unixPython.end());
        if (wchar_t* dos = toDos(narrowPython.c_str())) {
            python = dos;
            HeapFree(GetProcessHeap(), 0, dos);
        }
        if (char* unixDir = toUnix(dir_.Path().c_str())) {
            workDir = Widen(unixDir);
            HeapFree(GetProcessHeap(), 0, unixDir);
        }
    } else {
        python = Environment(L"ORVANE_PYTHON", L"python");
    }
    if (python.empty()) {
        error_ = "python interpreter not found";
        return;
    }

    std::wstring commandLine = L"\"" + python + L"\" \"" + script + L"\" --dir \"" + workDir + L"\"";
    // Not the test's own output: Wine hands a Unix program the standard
    // handles as its descriptors, and a server still ending after the test
    // would keep ctest waiting on the pipe until its time-out. It logs to
    // server.log.
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    const KernelHandle nothing(CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                           &inherit, OPEN_EXISTING, 0, nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (nothing) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = nothing.Get();
        startup.hStdOutput = nothing.Get();
        startup.hStdError = nothing.Get();
    }
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
        error_ = "cannot start the portal server (error " + std::to_string(GetLastError()) + ")";
        return;
    }
    // Wine gives no handles for a Unix program; the server stops on request.
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    running_ = true;

    if (!WaitForFile(dir_ / L"port", 15000)) {
        error_ = "the portal server did not start; see " + std::string(workDir.begin(), workDir.end()) +
                 "/server.log";
        Stop();
        return;
    }
    port_ = std::stoi(ReadBytes(dir_ / L"port"));
}

PortalServer::~PortalServer()
{
    Stop();
}

void PortalServer::Stop()
{
    if (!running_) {
        return;
    }
    running_ = false;
    WriteBytes(dir_ / L"stop", "");
    WaitForFile(dir_ / L"stopped", 5000);
}

std::string PortalServer::Url(const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

void PortalServer::Route(const std::string& path, const std::string& body, int status, Serve mode,
                         const std::string& badBody, int badCount)
{
    const std::string bodyName = "body-" + std::to_string(nextBody_++) + ".bin";
    WriteBytes(dir_ / Widen(bodyName), body);
    std::string line = "/" + path + "\t" + std::to_string(status) + "\t" + ModeName(mode) + "\t" + bodyName;
    if (badCount > 0) {
        const std::string badName = "body-" + std::to_string(nextBody_++) + ".bin";
        WriteBytes(dir_ / Widen(badName), badBody);
        line += "\t" + badName + "\t" + std::to_string(badCount);
    }
    routes_["/" + path] = line;
    WriteRoutes();
}

void PortalServer::WriteRoutes()
{
    std::string text;
    for (const auto& route : routes_) {
        text += route.second + "\n";
    }
    // Replaced in one step: the server reads the file for every request.
    WriteBytes(dir_ / L"routes.tmp", text);
    MoveFileExW((dir_ / L"routes.tmp").c_str(), (dir_ / L"routes.txt").c_str(),
                MOVEFILE_REPLACE_EXISTING);
}

namespace {

std::vector<std::string> LinesOf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

}  // namespace

std::vector<std::string> PortalServer::Requests() const
{
    return LinesOf(ReadBytes(dir_ / L"requests.log"));
}

std::vector<std::string> PortalServer::Ranges() const
{
    return LinesOf(ReadBytes(dir_ / L"ranges.log"));
}

int PortalServer::RequestCount(const std::string& path) const
{
    int count = 0;
    for (std::string request : Requests()) {
        // A request sent as to a proxy names the whole URL.
        const size_t scheme = request.find("://");
        if (scheme != std::string::npos) {
            const size_t slash = request.find('/', scheme + 3);
            request = slash == std::string::npos ? "/" : request.substr(slash);
        }
        count += request == "/" + path ? 1 : 0;
    }
    return count;
}

int PortalServer::MaxConcurrency() const
{
    return std::atoi(ReadBytes(dir_ / L"concurrency").c_str());
}

}  // namespace Orvane::Fixture
