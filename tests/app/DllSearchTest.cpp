#include <gtest/gtest.h>

#include <windows.h>

#include "TestSupport.h"
#include "app/DllSearch.h"
#include "base/Paths.h"

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

}  // namespace
}  // namespace Orvane
