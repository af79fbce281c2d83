#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <atomic>
#include <string>
#include <thread>

#include "app/SingleInstance.h"

namespace Orvane {
namespace {

TEST(SingleInstance, ReadsCreateMutexAnswers)
{
    const struct {
        const char* name;
        bool created;
        DWORD lastError;
        InstanceMutex expected;
    } cases[] = {
        {"new mutex", true, ERROR_SUCCESS, InstanceMutex::FirstCopy},
        {"opened another copy's mutex", true, ERROR_ALREADY_EXISTS, InstanceMutex::AnotherCopy},
        {"an elevated copy's mutex, not ours to open", false, ERROR_ACCESS_DENIED, InstanceMutex::AnotherCopy},
        {"no mutex for another reason", false, ERROR_INVALID_HANDLE, InstanceMutex::FirstCopy},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.expected, ReadInstanceMutex(c.created, c.lastError));
    }
}

// A mutex whose security lets this user do nothing with it, as a normal copy
// meets the mutex an elevated copy made.
TEST(SingleInstance, AMutexThisUserMayNotOpenMeansAnotherCopy)
{
    const std::wstring name = L"Local\\OrvaneTest_DeniedMutex_" + std::to_wstring(GetCurrentProcessId());
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(D;;GA;;;WD)", SDDL_REVISION_1,
                                                                     &descriptor, nullptr));
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    const HANDLE owner = CreateMutexW(&attributes, TRUE, name.c_str());
    LocalFree(descriptor);
    ASSERT_NE(owner, nullptr) << GetLastError();

    const HANDLE second = CreateMutexW(nullptr, TRUE, name.c_str());
    const DWORD error = GetLastError();
    EXPECT_EQ(nullptr, second) << "the mutex was opened although its security denies everyone";
    EXPECT_EQ(InstanceMutex::AnotherCopy, ReadInstanceMutex(second != nullptr, error)) << "error " << error;
    if (second != nullptr) {
        CloseHandle(second);
    }
    CloseHandle(owner);
}

std::wstring TestMutexName(const wchar_t* what)
{
    return std::wstring(L"Local\\OrvaneTest_") + what + L"_" + std::to_wstring(GetCurrentProcessId());
}

// Another copy holds the mutex on a thread of its own (a mutex belongs to a
// thread) until told to let go, or until the thread ends without letting go.
class OtherCopy {
public:
    OtherCopy(const std::wstring& name, bool releases) : lock_(name)
    {
        thread_ = std::thread([this, releases] {
            acquired_ = lock_.Acquire(0);
            held_ = true;
            while (!letGo_) {
                Sleep(5);
            }
            released_ = true;
            if (releases) {
                lock_.Release();
            }
        });
        while (!held_) {
            Sleep(5);
        }
    }
    ~OtherCopy() { LetGo(); }
    void LetGo()
    {
        letGo_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
    }

    InstanceLock lock_;
    std::thread thread_;
    std::atomic<InstanceMutex> acquired_{InstanceMutex::AnotherCopy};
    std::atomic<bool> held_{false};
    std::atomic<bool> letGo_{false};
    std::atomic<bool> released_{false};
};

TEST(InstanceLock, ACopyThatMayWaitTakesTheMutexWhenTheOtherLetsGoOrEnds)
{
    for (const bool releases : {true, false}) {
        SCOPED_TRACE(releases ? "let go" : "ended without letting go");
        const std::wstring name = TestMutexName(L"HandOver");
        OtherCopy other(name, releases);
        ASSERT_EQ(other.acquired_.load(), InstanceMutex::FirstCopy);
        InstanceLock lock(name);
        EXPECT_EQ(lock.Acquire(0), InstanceMutex::AnotherCopy);
        std::thread letGo([&other] {
            Sleep(200);
            other.LetGo();
        });
        EXPECT_EQ(lock.Acquire(10000), InstanceMutex::FirstCopy);
        EXPECT_TRUE(other.released_.load());
        letGo.join();
        lock.Release();
    }
}

TEST(InstanceLock, ACopyThatWaitsInVainIsAnotherCopy)
{
    const std::wstring name = TestMutexName(L"Held");
    OtherCopy other(name, true);
    InstanceLock lock(name);
    EXPECT_EQ(lock.Acquire(300), InstanceMutex::AnotherCopy);
    EXPECT_FALSE(other.released_.load());
    other.LetGo();
    // Let go: free for the next copy at once.
    EXPECT_EQ(lock.Acquire(0), InstanceMutex::FirstCopy);
}

}  // namespace
}  // namespace Orvane
