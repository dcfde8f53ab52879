// The JPEG virus check on its own: which files it stops, at which byte, and
// that a marker split anywhere between calls is still found.
#include "decode/jpegvirus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace zorvex {
namespace {

using TBytes = std::vector<uint8_t>;

bool Scan(JpegVirusState& state, const TBytes& bytes, size_t from, size_t to) {
    return JpegVirusScan(state, bytes.data() + from, to - from);
}

// Feeds bytes one call per byte; the index of the byte that fired, or -1.
int FiringByte(const TBytes& bytes) {
    JpegVirusState state;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (Scan(state, bytes, i, i + 1)) return static_cast<int>(i);
    }
    return -1;
}

struct TCase {
    const char* Label;
    TBytes Bytes;
    int Fires;  // index of the byte that completes the marker; -1: never
};

const std::vector<TCase>& Cases() {
    static const std::vector<TCase> cases = {
        {"comment length 0", {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x00, 0x41}, 5},
        {"comment length 1", {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x01, 0x41}, 5},
        {"later in the file",
         {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0xFF, 0xFE, 0x00, 0x01},
         13},
        {"right after the head", {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x00}, 5},
        {"head repeated", {0xFF, 0xD8, 0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x01}, 7},
        {"comment length 16", {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x10, 0x41, 0x42}, -1},
        {"comment length 2", {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x02}, -1},
        {"length 256", {0xFF, 0xD8, 0xFF, 0xFE, 0x01, 0x00}, -1},
        {"FF FF FE 00 00 still has FF FE 00 00", {0xFF, 0xD8, 0xFF, 0xFF, 0xFE, 0x00, 0x00}, 6},
        {"FE without FF", {0xFF, 0xD8, 0x00, 0xFE, 0x00, 0x00}, -1},
        {"not a JPEG", {0x00, 0xD8, 0xFF, 0xFE, 0x00, 0x00}, -1},
        {"JPEG head later", {0x00, 0x00, 0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x00}, -1},
        {"marker as the head", {0xFF, 0xFE, 0x00, 0x00, 0xFF, 0xFE, 0x00, 0x00}, -1},
        {"one byte", {0xFF}, -1},
        {"head only", {0xFF, 0xD8}, -1},
        {"empty", {}, -1},
    };
    return cases;
}

TEST(JpegVirusScan, StopsAtTheByteThatCompletesTheMarker) {
    for (const TCase& c : Cases()) {
        SCOPED_TRACE(c.Label);
        JpegVirusState whole;
        EXPECT_EQ(Scan(whole, c.Bytes, 0, c.Bytes.size()), c.Fires >= 0);
        EXPECT_EQ(FiringByte(c.Bytes), c.Fires);
    }
}

TEST(JpegVirusScan, EverySplitPointFindsTheMarker) {
    for (const TCase& c : Cases()) {
        for (size_t split = 0; split <= c.Bytes.size(); ++split) {
            SCOPED_TRACE(std::string(c.Label) + " split at " + std::to_string(split));
            JpegVirusState state;
            const bool first = Scan(state, c.Bytes, 0, split);
            // The call that holds the completing byte fires, never the other.
            const bool inFirst = c.Fires >= 0 && static_cast<size_t>(c.Fires) < split;
            EXPECT_EQ(first, inFirst);
            if (!first) {
                EXPECT_EQ(Scan(state, c.Bytes, split, c.Bytes.size()), c.Fires >= 0);
            }
        }
    }
}

TEST(JpegVirusScan, EmptyCallsChangeNothing) {
    const TBytes bytes = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x00};
    JpegVirusState state;
    for (size_t i = 0; i < bytes.size(); ++i) {
        EXPECT_FALSE(JpegVirusScan(state, nullptr, 0));
        EXPECT_EQ(Scan(state, bytes, i, i + 1), i + 1 == bytes.size());
    }
}

TEST(JpegVirusScan, ResetForgetsTheLastFile) {
    const TBytes plain = {0x00, 0x11, 0x22, 0x33};
    const TBytes jpegHalf = {0xFF, 0xD8, 0xFF, 0xFE};
    const TBytes virus = {0xFF, 0xD8, 0xFF, 0xFE, 0x00, 0x01};
    const TBytes head = {0xFF, 0xD8};
    const TBytes tail = {0x00, 0x00};

    // A file that is no JPEG is left alone for good, until the reset.
    JpegVirusState state;
    EXPECT_FALSE(Scan(state, plain, 0, plain.size()));
    EXPECT_FALSE(Scan(state, virus, 0, virus.size()));
    JpegVirusReset(state);
    EXPECT_TRUE(Scan(state, virus, 0, virus.size()));

    // Half a marker in one file does not meet its other half in the next.
    JpegVirusReset(state);
    EXPECT_FALSE(Scan(state, jpegHalf, 0, jpegHalf.size()));
    JpegVirusReset(state);
    EXPECT_FALSE(Scan(state, head, 0, head.size()));
    EXPECT_FALSE(Scan(state, tail, 0, tail.size()));
}

TEST(JpegVirusScan, LongCleanJpegIsNeverStopped) {
    // Every byte value after every other one, except the marker itself.
    TBytes bytes = {0xFF, 0xD8};
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            bytes.push_back(static_cast<uint8_t>(a));
            bytes.push_back(static_cast<uint8_t>(b));
        }
    }
    // FF FE 00 00 / 01 can only form across pairs (FE 00)(00 ..) after an FF:
    // break every FF FE 00 run that could finish it.
    for (size_t i = 2; i + 3 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xFE && bytes[i + 2] == 0x00 &&
            bytes[i + 3] <= 0x01) {
            bytes[i + 3] = 0x02;
        }
    }
    JpegVirusState state;
    EXPECT_FALSE(Scan(state, bytes, 0, bytes.size()));
    bytes.insert(bytes.end(), {0xFF, 0xFE, 0x00, 0x00});
    JpegVirusReset(state);
    EXPECT_TRUE(Scan(state, bytes, 0, bytes.size()));
    EXPECT_EQ(FiringByte(bytes), static_cast<int>(bytes.size()) - 1);
}

// A file that does not start FF D8 is never stopped, also when the block that
// completes its head goes on to carry the marker.
TEST(JpegVirusScan, NotAJpegInTheBlockThatCompletesTheHead) {
    const TBytes bytes = {0x89, 0x50, 0xFF, 0xFE, 0x00, 0x00, 0xFF, 0xFE, 0x00, 0x01};
    for (size_t first : {0u, 1u, 2u}) {
        JpegVirusState state;
        EXPECT_FALSE(Scan(state, bytes, 0, first));
        EXPECT_FALSE(Scan(state, bytes, first, bytes.size())) << first;
    }
}

// The block scan against a byte-at-a-time model, on random splits of data
// made mostly of the marker's bytes.
TEST(JpegVirusScan, BlocksAgreeWithByteAtATime) {
    std::mt19937 rng(7);
    const uint8_t alphabet[] = {0xFF, 0xFE, 0x00, 0x01, 0xD8, 0x41};
    for (int round = 0; round < 20000; ++round) {
        TBytes bytes(rng() % 48);
        for (uint8_t& b : bytes) b = alphabet[rng() % 6];
        if (bytes.size() >= 2 && rng() % 2) bytes[0] = 0xFF, bytes[1] = 0xD8;
        const int expected = FiringByte(bytes);
        JpegVirusState state;
        int firedFrom = -1, firedTo = -1;
        for (size_t at = 0; at < bytes.size() && firedTo < 0;) {
            size_t to = std::min(bytes.size(), at + 1 + rng() % 9);
            if (Scan(state, bytes, at, to)) {
                firedFrom = static_cast<int>(at);
                firedTo = static_cast<int>(to);
            }
            at = to;
        }
        // The block that fires is the one holding the completing byte.
        if (expected < 0) {
            ASSERT_EQ(firedTo, -1) << "round " << round;
        } else {
            ASSERT_LE(firedFrom, expected) << "round " << round;
            ASSERT_GT(firedTo, expected) << "round " << round;
        }
    }
}

}  // namespace
}  // namespace zorvex
