#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "TestSupport.h"
#include "app/DllSearch.h"
#include "base/Paths.h"
#include "base/SystemLibrary.h"

namespace Orvane {
namespace {

const wchar_t kPlanted[] = L"orvane_planted.dll";        // beside the test program
const wchar_t kPlantedCwd[] = L"orvane_planted_cwd.dll";  // only in the current directory

// True when a DLL of that name can be loaded by name alone; unloads it again.
bool LoadsByName(const wchar_t* name)
{
    const HMODULE module = LoadLibraryW(name);
    if (module == nullptr) {
        return false;
    }
    FreeLibrary(module);
    return true;
}

// The hardening changes the whole process for good, so this is the only case
// here, and it checks before and after in one run.
TEST(DllSearchTest, AfterHardeningDllsAreLoadedByNameFromSystem32Only)
{
    Fixture::TempDir cwd;
    const std::wstring planted = JoinPath(GetProgramDirectory(), kPlanted);
    ASSERT_TRUE(CopyFileW(planted.c_str(), (cwd / kPlantedCwd).c_str(), FALSE)) << GetLastError();
    ASSERT_TRUE(SetCurrentDirectoryW(cwd.Path().c_str()));

    // The default search finds a DLL beside the program and in the current directory.
    ASSERT_TRUE(LoadsByName(kPlanted));
    ASSERT_TRUE(LoadsByName(kPlantedCwd));

    ASSERT_TRUE(HardenDllSearch());

    for (const wchar_t* name : {kPlanted, kPlantedCwd}) {
        SetLastError(0);
        EXPECT_EQ(LoadLibraryW(name), nullptr);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
    }
    // System DLLs still load by name, and an explicit path still loads.
    EXPECT_TRUE(LoadsByName(L"version.dll"));
    EXPECT_TRUE(LoadsByName(planted.c_str()));
    // Leave the temporary directory removable.
    SetCurrentDirectoryW(GetProgramDirectory().c_str());
}

// What the delay-load hook uses for winhttp, bcrypt and crypt32: the copy in
// System32, never one beside the program, whatever the search order.
TEST(LoadSystemLibraryTest, LoadsFromSystem32Only)
{
    wchar_t system[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(length, 0u);
    for (const char* name : {"winhttp.dll", "bcrypt.dll", "crypt32.dll"}) {
        const HMODULE module = LoadSystemLibrary(name);
        ASSERT_NE(module, nullptr) << name;
        wchar_t path[MAX_PATH] = {};
        ASSERT_GT(GetModuleFileNameW(module, path, MAX_PATH), 0u);
        EXPECT_EQ(CompareStringOrdinal(DirectoryOfPath(path).c_str(), -1, system, -1, TRUE), CSTR_EQUAL)
            << name << " from " << testing::PrintToString(std::wstring(path));
        FreeLibrary(module);
    }
    // Beside the test program, not in System32: not found.
    EXPECT_TRUE(Fixture::Exists(JoinPath(GetProgramDirectory(), kPlanted)));
    EXPECT_EQ(LoadSystemLibrary("orvane_planted.dll"), nullptr);
    EXPECT_EQ(LoadSystemLibrary(nullptr), nullptr);
}

HMODULE RefuseToLoad(const char*)
{
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
}

// A missing or broken system DLL: refused for one name only.
HMODULE RefuseBcrypt(const char* name)
{
    return std::string(name) == "bcrypt.dll" ? RefuseToLoad(name) : LoadSystemLibrary(name);
}

TEST(FirstUnloadableLibraryTest, NamesTheFirstDllSystem32CannotGive)
{
    EXPECT_EQ(FirstUnloadableLibrary({"winhttp.dll", "bcrypt.dll", "crypt32.dll", "oleacc.dll"}), "");
    EXPECT_EQ(FirstUnloadableLibrary({"winhttp.dll", "orvane_planted.dll"}), "orvane_planted.dll");
    EXPECT_EQ(FirstUnloadableLibrary({"winhttp.dll", "bcrypt.dll", "crypt32.dll"}, RefuseBcrypt), "bcrypt.dll");
    EXPECT_EQ(FirstUnloadableLibrary({"winhttp.dll", "bcrypt.dll"}, RefuseToLoad), "winhttp.dll");
    EXPECT_EQ(FirstUnloadableLibrary({}), "");
}

// Without the hook's failure path the helper would load orvane_planted.dll
// from beside the program (the unsafe search by name) and return 42; with an
// exception nothing catches, the process would crash.
TEST(DelayLoadHookTest, ADllSystem32CannotGiveEndsTheProgramWithoutSearchingBesideIt)
{
    Fixture::TempDir temp;
    const std::wstring log = temp / L"probe.log";
    const std::wstring probe = JoinPath(GetProgramDirectory(), L"orvane_delay_probe.exe");
    ASSERT_TRUE(Fixture::Exists(JoinPath(GetProgramDirectory(), kPlanted)));
    std::wstring commandLine = L"\"" + probe + L"\" \"" + log + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    ASSERT_TRUE(CreateProcessW(probe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process))
        << GetLastError();
    CloseHandle(process.hThread);
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    EXPECT_TRUE(GetExitCodeProcess(process.hProcess, &exitCode));
    CloseHandle(process.hProcess);
    EXPECT_EQ(exitCode, kSystemLibraryMissingExitCode);
    EXPECT_NE(Fixture::ReadBytes(log).find("Cannot load orvane_planted.dll"), std::string::npos)
        << Fixture::ReadBytes(log);
}

}  // namespace
}  // namespace Orvane
