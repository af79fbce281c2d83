// The program's load configuration directory. Linked into Orvane.exe only.
//
// Its one setting: DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32, so that
// Windows 10 (1607) and later look for the DLLs the program imports statically
// in System32 only, never beside the program or in the current directory.
// Older systems ignore the field. Every other field is zero, meaning "not
// used" (no security cookie, no SafeSEH table, no Control Flow Guard).
//
// GNU ld 2.40 does not enter `_load_config_used` in the PE data directory and
// has no --dependent-load-flag, so the structure lives in a section of its
// own, ".ldcfg", which cmake/pe-load-config.py enters in the data directory
// after every link.

#include <windows.h>

#include <cstddef>

namespace {

// The MinGW-w64 headers still call DependentLoadFlags "Reserved1".
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY, Reserved1) == (sizeof(void*) == 8 ? 0x4E : 0x36),
              "DependentLoadFlags is not where the PE format puts it");

constexpr IMAGE_LOAD_CONFIG_DIRECTORY MakeLoadConfig()
{
    IMAGE_LOAD_CONFIG_DIRECTORY config{};
    config.Size = sizeof config;
    config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return config;
}

}  // namespace

// Constant-initialised, so it is plain data in the image.
extern "C" __attribute__((used, section(".ldcfg")))
const IMAGE_LOAD_CONFIG_DIRECTORY _load_config_used = MakeLoadConfig();
