#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
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

// A download reads into the block itself, as much as the room allows or less,
// between pieces copied in and other hashes' pieces; bytes read there but never
// added (a chunk refused as too large) are not hashed.
TEST(HashingThread, BytesReadIntoTheRoomJoinTheirHashUncopied)
{
    struct Step {
        int hash;      // which of two hashes
        size_t size;   // bytes of the piece
        bool inRoom;   // read into Room, or added from elsewhere
        bool added;    // passed to Add afterwards
    };
    const std::vector<std::vector<Step>> cases = {
        {{0, 8192, true, true}, {0, 8192, true, true}},
        {{0, 5 << 20, true, true}},                          // capped by the room, read in turns
        {{0, 1000, false, true}, {0, 3 << 20, true, true}, {0, 7, false, true}},
        {{0, 1 << 19, true, true}, {1, 1 << 19, true, true}, {0, 1 << 20, true, true}},
        {{0, 4096, true, true}, {0, 4096, true, false}, {0, 100, true, true}},
        {{1, 3, true, false}},
    };
    HashingThread hashing;
    for (size_t c = 0; c < cases.size(); ++c) {
        ContentHash hashes[2] = {ContentHash(true), ContentHash(true)};
        std::string bodies[2];
        unsigned seed = 0;
        for (const Step& step : cases[c]) {
            std::string piece = Bytes(step.size, ++seed);
            size_t done = 0;
            while (done < piece.size()) {
                size_t room = 0;
                char* to = step.inRoom ? hashing.Room(hashes[step.hash], room) : nullptr;
                ASSERT_TRUE(!step.inRoom || (to != nullptr && room > 0)) << c;
                const size_t size = to != nullptr ? (std::min)(room, piece.size() - done) : piece.size() - done;
                const char* data = piece.data() + done;
                if (to != nullptr) {
                    std::memcpy(to, data, size);  // what the network read does
                    data = to;
                }
                if (step.added) {
                    hashing.Add(hashes[step.hash], data, size);
                    bodies[step.hash].append(piece, done, size);
                }
                done += size;
            }
        }
        hashing.Drain();
        ExpectDigests(hashes[0].Finish(), DigestsOf(bodies[0]), "case " + std::to_string(c) + ", first hash");
        ExpectDigests(hashes[1].Finish(), DigestsOf(bodies[1]), "case " + std::to_string(c) + ", second hash");
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
