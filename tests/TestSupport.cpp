#include "TestSupport.h"

#include <windows.h>

#include <atomic>

namespace Orvane::Fixture {

TempDir::TempDir()
{
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, base);
    for (;;) {
        path_ = std::wstring(base) + L"orvane-test-" + std::to_wstring(GetCurrentProcessId()) +
                L"-" + std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(counter++);
        if (CreateDirectoryW(path_.c_str(), nullptr)) {
            break;
        }
    }
}

TempDir::~TempDir()
{
    RemoveTree(path_);
}

std::wstring TempDir::operator/(const std::wstring& relative) const
{
    return path_ + L"\\" + relative;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == bytes.size();
}

std::string ReadBytes(const std::wstring& path, bool* ok)
{
    if (ok) {
        *ok = false;
    }
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return {};
    }
    std::string bytes;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    CloseHandle(file);
    if (ok) {
        *ok = true;
    }
    return bytes;
}

bool Exists(const std::wstring& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

size_t Occurrences(const std::string& text, const std::string& part)
{
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) {
        ++count;
    }
    return count;
}

void RemoveTree(const std::wstring& path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
        return;
    }
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((path + L"\\*").c_str(), &entry);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = entry.cFileName;
            if (name != L"." && name != L"..") {
                RemoveTree(path + L"\\" + name);
            }
        } while (FindNextFileW(find, &entry));
        FindClose(find);
    }
    RemoveDirectoryW(path.c_str());
}

namespace {

void ListFiles(const std::wstring& root, const std::wstring& prefix, std::set<std::wstring>& files)
{
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW((root + L"\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            ListFiles(root + L"\\" + name, prefix + name + L"\\", files);
        } else {
            files.insert(prefix + name);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

}  // namespace

std::set<std::wstring> FilesBelow(const std::wstring& root)
{
    std::set<std::wstring> files;
    ListFiles(root, L"", files);
    return files;
}

}  // namespace Orvane::Fixture

namespace Orvane::Fixture {

bool WriteUtf16WithBom(const std::wstring& path, const std::wstring& text)
{
    std::string bytes = "\xFF\xFE";
    bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    return WriteBytes(path, bytes);
}

bool WriteAnsi(const std::wstring& path, const std::wstring& text)
{
    if (text.empty()) {
        return WriteBytes(path, "");
    }
    const int length = WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0], length,
                        nullptr, nullptr);
    return WriteBytes(path, bytes);
}

}  // namespace Orvane::Fixture

namespace Orvane::Fixture {

bool PumpMessagesUntil(const std::function<bool()>& done, unsigned timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void PumpPendingMessages()
{
    PumpMessagesUntil([] { return true; }, 0);
}

}  // namespace Orvane::Fixture

namespace Orvane::Fixture {

namespace {

struct ThreadEnd {
    std::shared_ptr<std::atomic<bool>> ended;
    unsigned pauseMs;
};

// Run by the system for each thread that set a value, as the thread ends.
void WINAPI RunThreadEnd(void* value)
{
    const std::unique_ptr<ThreadEnd> end(static_cast<ThreadEnd*>(value));
    if (end) {
        Sleep(end->pauseMs);
        end->ended->store(true);
    }
}

}  // namespace

std::shared_ptr<std::atomic<bool>> EndThisThreadSlowly(unsigned pauseMs)
{
    static const DWORD index = FlsAlloc(&RunThreadEnd);
    auto end = std::make_unique<ThreadEnd>(ThreadEnd{std::make_shared<std::atomic<bool>>(false), pauseMs});
    std::shared_ptr<std::atomic<bool>> ended = end->ended;
    if (index == FLS_OUT_OF_INDEXES || !FlsSetValue(index, end.get())) {
        return nullptr;
    }
    end.release();  // the thread's end frees it
    return ended;
}

}  // namespace Orvane::Fixture
