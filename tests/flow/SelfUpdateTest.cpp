#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <string>
#include <vector>

#include "TestSupport.h"
#include "flow/SelfUpdate.h"

namespace Orvane {
namespace {

// The new program must read back its own path and the flag, as Windows splits
// the command line for it, whatever the path holds.
TEST(SelfUpdate, TheNewProgramsCommandLineKeepsItsPathWholeAndCarriesTheFlag)
{
    for (const std::wstring path : {L"C:\\Games\\Kaimor\\Orvane.exe", L"D:\\魔兽世界 客户端\\Orvane.exe",
                                    L"C:\\a  b\\c d.exe", L"E:\\--after-update\\Orvane.exe"}) {
        const std::wstring commandLine = AfterUpdateCommandLine(path);
        int count = 0;
        wchar_t** arguments = CommandLineToArgvW(commandLine.c_str(), &count);
        ASSERT_NE(arguments, nullptr);
        std::vector<std::wstring> split(arguments, arguments + count);
        LocalFree(arguments);
        EXPECT_EQ(split, (std::vector<std::wstring>{path, kAfterUpdateFlag})) << testing::PrintToString(path);
        EXPECT_TRUE(StartedByUpdate(commandLine.c_str())) << testing::PrintToString(path);
    }
}

TEST(SelfUpdate, OnlyTheFlagAfterTheProgramsNameMeansAnUpdateStartedIt)
{
    const struct {
        const wchar_t* commandLine;
        bool started;
    } cases[] = {
        {L"\"C:\\Game\\Orvane.exe\"", false},
        {L"C:\\Game\\Orvane.exe", false},
        {L"C:\\Game\\Orvane.exe --after-update", true},
        {L"Orvane.exe --AFTER-UPDATE", true},
        {L"Orvane.exe \"--after-update\"", true},
        {L"Orvane.exe /x --after-update", true},
        {L"Orvane.exe --after-updated", false},
        {L"\"C:\\--after-update\\Orvane.exe\"", false},
        {L"--after-update", false},  // the program's own name, however odd
        {L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(StartedByUpdate(c.commandLine), c.started) << testing::PrintToString(std::wstring(c.commandLine));
    }
    EXPECT_FALSE(StartedByUpdate(nullptr));
}

TEST(SelfUpdate, TheMutexIsLetGoBeforeTheNewProgramStartsAndTakenBackWhenItCannot)
{
    const struct {
        const char* name;
        DWORD startError;  // 0: started
        std::vector<std::string> steps;
        bool handedOver;
    } cases[] = {
        {"started", 0, {"release", "start"}, true},
        {"not started", ERROR_FILE_NOT_FOUND, {"release", "start", "reacquire"}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> steps;
        HandOverSteps handOver;
        handOver.releaseInstance = [&steps] { steps.push_back("release"); };
        handOver.startProgram = [&](DWORD& error) {
            steps.push_back("start");
            error = c.startError;
            return c.startError == 0;
        };
        handOver.reacquireInstance = [&steps] { steps.push_back("reacquire"); };
        DWORD error = 12345;
        EXPECT_EQ(HandOverToNewProgram(handOver, error), c.handedOver);
        EXPECT_EQ(error, c.startError);
        EXPECT_EQ(steps, c.steps);
    }
}

TEST(SelfUpdate, AProgramThatCannotBeStartedGivesTheSystemsReason)
{
    Fixture::TempDir dir;
    const struct {
        std::wstring path;
        DWORD error;
    } cases[] = {
        {dir / L"missing.exe", ERROR_FILE_NOT_FOUND},
        {dir / L"not an image.exe", ERROR_BAD_EXE_FORMAT},
    };
    ASSERT_TRUE(Fixture::WriteBytes(dir / L"not an image.exe", "a text file, not a program"));
    for (const auto& c : cases) {
        DWORD error = 0;
        EXPECT_FALSE(StartProgramAfterUpdate(c.path, error)) << testing::PrintToString(c.path);
        EXPECT_EQ(error, c.error) << testing::PrintToString(c.path);
    }
}

}  // namespace
}  // namespace Orvane
