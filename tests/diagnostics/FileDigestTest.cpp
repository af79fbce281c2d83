#include <gtest/gtest.h>

#include <windows.h>

#include <iterator>
#include <string>
#include <thread>

#include "TestSupport.h"
#include "base/Handles.h"
#include "diagnostics/FileDigest.h"

namespace Orvane {
namespace {

std::string Pattern(size_t size, unsigned (*byteAt)(size_t))
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>(byteAt(i));
    }
    return bytes;
}

TEST(ComputeFileMd5, MatchesKnownDigests)
{
    struct Case {
        const char* name;
        std::string content;
        const char* md5;
        const char* sha256;
    };
    const Case cases[] = {
        {"empty", "", "d41d8cd98f00b204e9800998ecf8427e",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "900150983cd24fb0d6963f7d28e17f72",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"exactly 2 x 8 KiB", Pattern(16384, [](size_t i) { return unsigned(i % 251); }),
         "e7b11e9c017496ec667c7bf8909d0e2d", "4348e3b98e8a327b34ced39c1da9e67cdb4cd5e48e4d7960607a3ae403d35f0c"},
        {"exactly four read buffers", Pattern(262144, [](size_t i) { return unsigned(i % 251); }),
         "f6224c81f6d6b0c9c260a4f677f5db6f", "31a1f9dea0169551092d05e8bf4a446228c8c3eb4c9b713c66adcb7fd53c89be"},
        {"eight read buffers and a byte", Pattern(524289, [](size_t i) { return unsigned(i % 251); }),
         "c8c4868e2c03f1af547fc9ef7a3b071f", "5584f83643017fcea9b7d65d3d3f890b5219eb1abfcb8896a2d4ef554d4612ec"},
        {"24 MiB and 5 bytes",
         Pattern(24 * 1024 * 1024 + 5, [](size_t i) { return unsigned((i * 131 + (i >> 16)) & 255); }),
         "d06b5c177ceae471a9d62881184d393b", "6c5396aee42b672139eaacd36e6500ac17ae3532623141222289906c1dc804d0"},
    };
    Fixture::TempDir temp;
    for (const Case& c : cases) {
        const std::wstring path = temp / L"file.bin";
        ASSERT_TRUE(Fixture::WriteBytes(path, c.content));
        EXPECT_EQ(ComputeFileMd5(path), c.md5) << c.name;
        // Both digests from one read; SHA-256 only when asked for.
        const ContentDigests both = ComputeFileDigests(path, true);
        EXPECT_EQ(both.md5, c.md5) << c.name;
        EXPECT_EQ(both.sha256, c.sha256) << c.name;
        const ContentDigests md5Only = ComputeFileDigests(path, false);
        EXPECT_EQ(md5Only.md5, c.md5) << c.name;
        EXPECT_EQ(md5Only.sha256, "") << c.name;
    }
    // A check reads every file through one buffer: largest first, so a smaller
    // file would show any bytes left from the one before, and a missing file
    // between them.
    FileReadBuffer buffer;
    for (size_t k = std::size(cases); k-- > 0;) {
        const Case& c = cases[k];
        const std::wstring path = temp / (L"file" + std::to_wstring(k) + L".bin");
        ASSERT_TRUE(Fixture::WriteBytes(path, c.content));
        EXPECT_EQ(ComputeFileMd5(path, {}, nullptr, &buffer), c.md5) << c.name << ", one buffer for all";
        unsigned long openError = 0;
        EXPECT_EQ(ComputeFileMd5(temp / L"missing.bin", {}, &openError, &buffer), "");
        EXPECT_EQ(openError, static_cast<unsigned long>(ERROR_FILE_NOT_FOUND));
    }
}

TEST(ComputeFileMd5, ChineseFileName)
{
    Fixture::TempDir temp;
    ASSERT_TRUE(Fixture::WriteBytes(temp / L"补丁-zhCN.MPQ", "abc"));
    EXPECT_EQ(ComputeFileMd5(temp / L"补丁-zhCN.MPQ"), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(ComputeFileMd5, UnreadableTargetsGiveEmptyText)
{
    Fixture::TempDir temp;
    EXPECT_EQ(ComputeFileMd5(temp / L"missing.MPQ"), "");
    EXPECT_EQ(ComputeFileDigests(temp / L"missing.MPQ", true).sha256, "");
    EXPECT_EQ(ComputeFileMd5(temp.Path()), "");  // a directory
    EXPECT_EQ(ComputeFileMd5(L""), "");
}

TEST(ComputeFileMd5, AFileTheGameHoldsOpenForWritingIsHashed)
{
    Fixture::TempDir temp;
    const std::wstring path = temp / L"Wow.MPQ";
    ASSERT_TRUE(Fixture::WriteBytes(path, "abc"));
    // The game's handle: writing, sharing reading and writing.
    KernelHandle game(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(game.Valid());
    EXPECT_EQ(ComputeFileMd5(path), "900150983cd24fb0d6963f7d28e17f72");
    ContentHash hash;
    ASSERT_TRUE(AddFileTo(hash, path));
    EXPECT_EQ(hash.Finish().md5, "900150983cd24fb0d6963f7d28e17f72");
}

TEST(ComputeFileMd5, FileHeldWithoutReadSharingGivesEmptyText)
{
    Fixture::TempDir temp;
    const std::wstring path = temp / L"locked.MPQ";
    ASSERT_TRUE(Fixture::WriteBytes(path, "abc"));
    {
        KernelHandle writer(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer.Valid());
        EXPECT_EQ(ComputeFileMd5(path), "");
    }
    EXPECT_EQ(ComputeFileMd5(path), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(ComputeFileMd5, AReadThatFailsPartWayGivesEmptyText)
{
    // A source that delivers part of its bytes and then fails the next read,
    // as a share that drops or a failing disk does: a pipe whose writer goes away.
    const std::wstring name = L"\\\\.\\pipe\\orvane-digest-" + std::to_wstring(GetCurrentProcessId());
    KernelHandle pipe(CreateNamedPipeW(name.c_str(), PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                       1 << 20, 1 << 20, 0, nullptr));
    ASSERT_TRUE(pipe.Valid());
    std::thread writer([&pipe] {
        ConnectNamedPipe(pipe.Get(), nullptr);
        const std::string part(300 * 1024, 'x');  // more than one read of the digest
        DWORD written = 0;
        WriteFile(pipe.Get(), part.data(), static_cast<DWORD>(part.size()), &written, nullptr);
        FlushFileBuffers(pipe.Get());
        pipe.Reset();
    });
    const std::string digest = ComputeFileMd5(name);
    writer.join();
    EXPECT_EQ(digest, "");
}

TEST(ComputeFileMd5, ReleasesTheFileAfterHashing)
{
    Fixture::TempDir temp;
    const std::wstring path = temp / L"a.bin";
    ASSERT_TRUE(Fixture::WriteBytes(path, "abc"));
    ASSERT_FALSE(ComputeFileMd5(path).empty());
    // Opening without any sharing fails while another handle is still open.
    KernelHandle exclusive(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(exclusive.Valid());
}

}  // namespace
}  // namespace Orvane
