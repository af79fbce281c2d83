#pragma once

#include <cstdint>

#include "diagnostics/EnvironmentInfo.h"

namespace Orvane {

// Fills OSName, OSVersion, OSBuild, IsWin7 and IsWin10OrLater from the version
// the kernel reports (RtlGetVersion, which is not subject to the compatibility
// shims of GetVersionEx). Leaves them untouched when the version is unavailable.
void DetectOperatingSystem(EnvironmentInfo& info);

// The version the kernel reports (RtlGetVersion); false when it cannot be had.
bool ReadKernelVersion(std::uint32_t& major, std::uint32_t& minor, std::uint32_t& build);

// True when the processor is x64, also for a 32-bit process on 64-bit Windows.
// ARM64 and Itanium count as not 64-bit: the game client needs x64.
bool DetectArchitecture();

// The decisions behind the two probes, on raw numbers.

// Sets the five OS fields from a reported version. The name comes from the
// build number first (Windows 11 and 10 both report 10.0), then from
// major.minor; the flags look at major.minor only, so Windows 8 and 8.1 count
// as "10 or later".
void DescribeOperatingSystem(std::uint32_t major, std::uint32_t minor, std::uint32_t build,
                             EnvironmentInfo& info);

// wProcessorArchitecture of GetNativeSystemInfo -> Is64Bit.
bool IsX64Processor(std::uint16_t processorArchitecture);

}  // namespace Orvane
