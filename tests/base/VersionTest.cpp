#include <gtest/gtest.h>

#include <string>

#include "base/Version.h"

namespace Orvane {
namespace {

// Each text form the program shows or sends must follow the one version
// CMake was given: a slip in the header template would make the resource
// block, the log, the window, the mutex and the user agent disagree.
TEST(Version, TextFormsFollowTheNumericParts)
{
    const std::string major = std::to_string(ORVANE_VERSION_MAJOR);
    const std::string minor = std::to_string(ORVANE_VERSION_MINOR);
    const std::string patch = std::to_string(ORVANE_VERSION_PATCH);
    const std::string tweak = std::to_string(ORVANE_VERSION_TWEAK);

    EXPECT_EQ(ORVANE_VERSION_FULL, major + "." + minor + "." + patch + "." + tweak);
    EXPECT_EQ(ORVANE_VERSION_RELEASE, major + "." + minor + "." + patch);
    EXPECT_EQ(ORVANE_VERSION_MAJOR_MINOR, major + "." + minor);
    EXPECT_EQ(ORVANE_VERSION_TAG, major + "_" + minor + "_" + patch);
    const std::string release = ORVANE_VERSION_RELEASE;
    EXPECT_EQ(kVersionCaption, L"v" + std::wstring(release.begin(), release.end()));
}

}  // namespace
}  // namespace Orvane
