#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "diagnostics/EnvironmentInfo.h"

namespace Orvane {

// Finds the newest installed .NET and fills HasDotNet, DotNetVersion and
// HasNet8: a modern .NET (5 or later) from the runtime folders, else from the
// runtime registry keys (version values or subkeys), else a .NET Framework from its setup keys. Reports no
// error; nothing found leaves the three fields cleared.
void DetectDotNet(EnvironmentInfo& info);

// Where DetectDotNet looks. Key paths are relative to registryRoot; the
// runtime keys are read in the 32-bit and then the 64-bit registry view, the
// Framework keys in the 64-bit view.
struct DotNetLocations {
    std::vector<std::wstring> runtimeDirectories;
    HKEY registryRoot = HKEY_LOCAL_MACHINE;
    std::vector<std::wstring> runtimeKeys;
    // Parent of the v4\Full, v3.5, v3.0, v2.0.50727 and v1.1.4322 keys.
    std::wstring frameworkSetupKey;
};

// The two runtime folders on C:, the four runtime keys (x64 and x86, desktop
// and NETCore) and the Framework setup key, in search order.
DotNetLocations DefaultDotNetLocations();

// DetectDotNet on explicit locations.
void DetectDotNetIn(const DotNetLocations& locations, EnvironmentInfo& info);

// The decisions behind the probe.

// Major version a runtime folder or key name stands for: its first digit, or
// its first two digits when a point follows them ("10.0.0" -> 10, "100.1" -> 1,
// "7" -> 7). 0 when the name does not start with a decimal digit.
int LeadingMajorVersion(const std::wstring& name);

// Keeps the first name with the highest major version of 5 or more among the
// names offered in search order; minor and patch numbers are not compared.
class RuntimeChoice {
public:
    void Consider(const std::wstring& name);
    bool Found() const { return major_ > 0; }
    int Major() const { return major_; }
    const std::wstring& Name() const { return name_; }

private:
    int major_ = 0;
    std::wstring name_;
};

// .NET Framework 4.x name for the Release value of the v4\Full key,
// e.g. 528040 -> "Framework 4.8"; below every known release "Framework 4.0".
std::wstring FrameworkNameForRelease(std::uint32_t release);

}  // namespace Orvane
