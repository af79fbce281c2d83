#include "SignedLists.h"

#include <gtest/gtest.h>

#include <windows.h>

#include "TestSupport.h"

#ifndef ORVANE_SIGNED_LISTS_DIR
#error "the build names the directory of the signed test lists"
#endif

namespace Orvane::Fixture {

std::wstring SignedListPath(const std::string& name)
{
    const std::string path = std::string(ORVANE_SIGNED_LISTS_DIR) + "/" + name;
    // Under Wine the build directory is a Unix path: let Wine translate it.
    using DosFileNameFunction = wchar_t*(WINAPI*)(const char*);
    const auto toDos = reinterpret_cast<DosFileNameFunction>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name")));
    if (toDos) {
        if (wchar_t* dos = toDos(path.c_str())) {
            std::wstring result = dos;
            HeapFree(GetProcessHeap(), 0, dos);
            return result;
        }
    }
    return std::wstring(path.begin(), path.end());  // ASCII build paths only
}

std::string SignedListFile(const std::string& name)
{
    bool ok = false;
    std::string bytes = ReadBytes(SignedListPath(name), &ok);
    EXPECT_TRUE(ok && !bytes.empty()) << "missing test fixture " << name;
    return bytes;
}

bool SignatureValueLengths(const std::string& der, size_t& r, size_t& s)
{
    // SEQUENCE { INTEGER r, INTEGER s }, short-form lengths (P-256 sizes).
    auto byte = [&der](size_t at) { return at < der.size() ? static_cast<unsigned char>(der[at]) : 0u; };
    if (byte(0) != 0x30 || byte(2) != 0x02) {
        return false;
    }
    const size_t rLength = byte(3);
    const size_t sAt = 4 + rLength;
    if (byte(sAt) != 0x02 || sAt + 2 + byte(sAt + 1) != der.size()) {
        return false;
    }
    auto valueLength = [&byte](size_t at, size_t length) {
        while (length > 0 && byte(at) == 0) {
            ++at;
            --length;
        }
        return length;
    };
    r = valueLength(4, rLength);
    s = valueLength(sAt + 2, byte(sAt + 1));
    return true;
}

}  // namespace Orvane::Fixture
