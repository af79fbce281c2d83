#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diagnostics/FileDigest.h"
#include "update/HashingThread.h"

namespace Orvane {
namespace {

std::string Bytes(size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 4093) & 0xFF);
    }
    return bytes;
}

ContentDigests DigestsOf(const std::string& bytes)
{
    ContentHash hash(true);
    hash.Add(bytes.data(), bytes.size());
    return hash.Finish();
}

void ExpectDigests(const ContentDigests& actual, const ContentDigests& expected, const std::string& what)
{
    EXPECT_EQ(actual.md5, expected.md5) << what;
    EXPECT_EQ(actual.sha256, expected.sha256) << what;
}

// Pieces as a download hands them over: small ones hashed at once, large ones
// on the thread, in any mix; the digest is the whole body's, in order.
TEST(HashingThread, DigestsEqualTheBodysWhateverThePieces)
{
    const std::vector<std::vector<size_t>> cases = {
        {16 * 1024},                                        // a small file in one piece
        {1 << 20, 1 << 20, 1 << 20, 12345},                 // a large one
        {10, 1 << 20, 3, 64 * 1024 - 1, 64 * 1024, 5 << 20},  // small after large
        std::vector<size_t>(24, 1 << 20),                   // more than may wait at once
        {},
    };
    HashingThread hashing;
    for (const std::vector<size_t>& pieces : cases) {
        std::string body;
        ContentHash hash(true);
        for (size_t k = 0; k < pieces.size(); ++k) {
            const std::string piece = Bytes(pieces[k], static_cast<unsigned>(k));
            hashing.Add(hash, piece.data(), piece.size());
            body += piece;
        }
        hashing.Drain();
        ExpectDigests(hash.Finish(), DigestsOf(body), std::to_string(pieces.size()) + " pieces");
    }
}

TEST(HashingThread, AHashRestartedAfterDrainingStartsFromNoBytes)
{
    HashingThread hashing;
    ContentHash hash(true);
    const std::string stale = Bytes(3 << 20, 1);
    const std::string fresh = Bytes(2 << 20, 2);
    hashing.Add(hash, stale.data(), stale.size());
    hashing.Drain();
    hash.Restart();
    hashing.Add(hash, fresh.data(), fresh.size());
    hashing.Drain();
    ExpectDigests(hash.Finish(), DigestsOf(fresh), "restarted");
}

}  // namespace
}  // namespace Orvane
