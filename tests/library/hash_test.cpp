#include "library/hash.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace zorvex {
namespace {

// Straight from the definition, to pin the mixing step.
uint32_t ReferenceHash(const std::string& s) {
    uint32_t h = 0;
    for (unsigned char b : s) h = ((h >> 15) + 2 * h) ^ HashTableValue(b);
    return h;
}

TEST(HashTest, TableHoldsDistinctSignExtended16BitValues) {
    std::set<uint32_t> seen;
    for (int b = 0; b < 256; ++b) {
        const uint32_t v = HashTableValue(static_cast<unsigned char>(b));
        const uint32_t upper = v >> 16;
        const bool bit15 = (v & 0x8000u) != 0;
        EXPECT_EQ(upper, bit15 ? 0xFFFFu : 0u) << "byte " << b;
        seen.insert(v);
    }
    EXPECT_EQ(seen.size(), 256u);
}

TEST(HashTest, FollowsTheMixingStep) {
    const char* texts[] = {"",
                           "a",
                           "ab",
                           "alt.binaries.pictures",
                           "\xff\x80\x01",
                           "A much longer subject line (01/42) \"file.part01.rar\" yEnc"};
    for (const char* t : texts) {
        SCOPED_TRACE(t);
        EXPECT_EQ(HashString(t), ReferenceHash(t));
        EXPECT_EQ(HashString(t, std::strlen(t)), ReferenceHash(t));
        size_t len = 99;
        EXPECT_EQ(HashString(t, &len), ReferenceHash(t));
        EXPECT_EQ(len, std::strlen(t));
    }
    EXPECT_EQ(HashString(""), 0u);
    EXPECT_EQ(HashString("a"), HashTableValue('a'));
}

TEST(HashTest, DeterministicAndSensitiveToCaseAndLength) {
    EXPECT_EQ(HashString("Subject"), HashString("Subject"));
    EXPECT_NE(HashString("Subject"), HashString("subject"));
    EXPECT_EQ(HashString("abcdef", 3), HashString("abc"));
    // The explicit length counts bytes past a NUL.
    EXPECT_EQ(HashString("ab\0c", 4), ReferenceHash(std::string("ab\0c", 4)));
    EXPECT_NE(HashString("ab\0c", 4), HashString("ab"));
}

TEST(HashTest, NullTextHashesAsEmpty) {
    size_t len = 7;
    EXPECT_EQ(HashString(nullptr), 0u);
    EXPECT_EQ(HashString(nullptr, 5), 0u);
    EXPECT_EQ(HashString(nullptr, &len), 0u);
    EXPECT_EQ(len, 0u);
}

}  // namespace
}  // namespace zorvex
