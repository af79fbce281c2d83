#include <gtest/gtest.h>

#include <windows.h>

#include <sddl.h>

#include <string>

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

}  // namespace
}  // namespace Orvane
