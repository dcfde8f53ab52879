#include "select/strfsm.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zorvex {
namespace {

struct TMatchCase {
    const char* Pattern;
    uint32_t Flags;
    const char* Text;
    bool Matches;
};

class PatternFlagsTest : public testing::TestWithParam<TMatchCase> {};

TEST_P(PatternFlagsTest, OnePatternAgainstOneText) {
    const TMatchCase& c = GetParam();
    TReStringManager list;
    list.AddPattern(c.Pattern, c.Flags);
    EXPECT_EQ(list.Match(c.Text), c.Matches)
        << "pattern '" << c.Pattern << "' flags " << c.Flags << " text '" << c.Text << "'";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PatternFlagsTest,
    testing::Values(
        // Anywhere in the text, either case unless case sensitive.
        TMatchCase{"abc", 0, "xxabcxx", true}, TMatchCase{"abc", 0, "XABCX", true},
        TMatchCase{"abc", 0x02, "XABCX", false}, TMatchCase{"abc", 0x02, "xxabcxx", true},
        TMatchCase{"abc", 0, "ab", false}, TMatchCase{"a?c", 0, "xabcx", true},
        TMatchCase{"a*c", 0, "a and then c", true}, TMatchCase{"a*c", 0, "ca", false},
        // Exact: the whole text.
        TMatchCase{"*.jpg", 0x01, "a.JPG", true}, TMatchCase{"*.jpg", 0x01, "a.jpg (1/1)", false},
        TMatchCase{"abc", 0x04, "abc", true}, TMatchCase{"abc", 0x04, "xabc", false},
        TMatchCase{"a?c", 0x01, "ac", false}, TMatchCase{"*", 0x01, "", true},
        // Word: bounded by delimiters or the text's ends; '_' is part of a word.
        TMatchCase{"*.jpg", 0x10, "foo.jpg (1/1)", true},
        TMatchCase{"*.jpg", 0x10, "foo.jpgx", false}, TMatchCase{"a", 0x10, "x.a", true},
        TMatchCase{"a", 0x10, "a b", true}, TMatchCase{"a", 0x10, "ba", false},
        TMatchCase{"a", 0x10, "x_a", false}, TMatchCase{"sample", 0x10, "[sample]", true},
        TMatchCase{"sample", 0x10, "samples", false},
        // Exact wins over word.
        TMatchCase{"a", 0x11, "x a", false}, TMatchCase{"a", 0x11, "A", true},
        // Escapes: a quoted wildcard is a literal; a '\' at the end is itself.
        TMatchCase{"a\\*b", 0, "a*b", true}, TMatchCase{"a\\*b", 0, "aXb", false},
        TMatchCase{"a\\?b", 0x01, "a?b", true}, TMatchCase{"a\\?b", 0x01, "axb", false},
        TMatchCase{"ab\\", 0, "ab\\", true}, TMatchCase{"ab\\", 0, "ab", false},
        TMatchCase{"a\\\\b", 0x01, "a\\b", true},
        // Other syntax never matches; temporary changes nothing.
        TMatchCase{"abc", 0x20, "abc", false}, TMatchCase{"abc", 0x40, "xabcx", true},
        // An empty pattern compiles to nothing.
        TMatchCase{"", 0, "", false}, TMatchCase{"", 0x01, "", false},
        // Stars at a pattern's ends free that end.
        TMatchCase{"*.exe", 0x10, "a.exe b", true}, TMatchCase{"*.exe", 0x10, "a.exex", false},
        TMatchCase{"abc*", 0x10, "x abcdef", true}, TMatchCase{"abc*", 0x10, "xabc", false},
        TMatchCase{"*abc*", 0x10, "xabcx", true}, TMatchCase{"*abc*", 0x01, "xxABCxx", true},
        TMatchCase{"*abc", 0x01, "xxabc", true}, TMatchCase{"*abc", 0x01, "abcx", false},
        TMatchCase{"abc*", 0x01, "abcdef", true}, TMatchCase{"abc*", 0x01, "xabc", false},
        TMatchCase{"Re:*", 0x01, "Re: anything at all", true},
        TMatchCase{"abc\\*", 0x01, "abc*", true}, TMatchCase{"abc\\*", 0x01, "abcd", false},
        TMatchCase{"a*b", 0x01, "a to b", true}, TMatchCase{"a*b", 0x01, "a to bc", false},
        TMatchCase{"**", 0x01, "", true}, TMatchCase{"*", 0x10, "", true},
        // Bytes above 127 match themselves; wildcards take any byte.
        TMatchCase{"caf\xe9", 0, "un caf\xe9", true}, TMatchCase{"caf\xe9", 0, "CAF\xc9", false},
        TMatchCase{"a?b", 0x01,
                   "a\xff"
                   "b",
                   true}));

TEST(PatternListTest, EmptyListAndMatchBlank) {
    TReStringManager list;
    EXPECT_FALSE(list.Match(""));
    EXPECT_FALSE(list.Match(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(list.Match("x"));
    list.SetMatchBlank(true);
    EXPECT_TRUE(list.Match(""));
    EXPECT_TRUE(list.Match(static_cast<const char*>(nullptr)));
    EXPECT_FALSE(list.Match("x"));
    // Only other-syntax entries: still nothing to match.
    list.SetMatchBlank(false);
    list.AddPattern("x", RE_OTHER_SYNTAX);
    EXPECT_FALSE(list.Match("x"));
}

TEST(PatternListTest, CaseRulesOfManyPatternsShareOneAutomaton) {
    TReStringManager list;
    list.AddPattern("abc");
    list.AddPattern("ABD", RE_CASE_SENSITIVE | RE_WORD);
    list.AddPattern("x?z", RE_EXACT);
    const struct {
        const char* Text;
        bool Matches;
    } cases[] = {
        {"xABCx", true}, {"abd", false}, {"one ABD two", true}, {"oneABD", false},
        {"XyZ", true},   {"xyzz", false}, {"AbD", false},
    };
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& c : cases) EXPECT_EQ(list.Match(c.Text), c.Matches) << c.Text;
}

TEST(PatternListTest, TextEndsAtItsFirstNul) {
    TReStringManager list;
    list.AddPattern("ab", RE_EXACT);
    EXPECT_TRUE(list.Match(std::string_view("ab\0cd", 5)));
    list.AddPattern(std::string_view("cd\0ef", 5), RE_EXACT);
    EXPECT_TRUE(list.Match("cd"));
}

TEST(PatternListTest, FileNameListTriesTheNameWithADot) {
    struct TCase {
        uint32_t ListFlags;
        std::string Text;
        bool Matches;
    };
    const TCase cases[] = {
        {RE_FILE_NAME_LIST, "readme", true},
        {RE_FILE_NAME_LIST, "README", true},
        {RE_FILE_NAME_LIST, "readme.", true},
        {0, "readme", false},
        // A text with a dot is not extended.
        {RE_FILE_NAME_LIST, "readme.txt", false},
        // Nor one too long for the extended copy.
        {RE_FILE_NAME_LIST, std::string(239, 'r') + "readme", false},
    };
    for (const TCase& c : cases) {
        TReStringManager list(10, c.ListFlags);
        list.AddPattern("readme.", RE_EXACT);
        list.AddPattern("*readme.", RE_EXACT);
        list.AddPattern("*r", RE_EXACT | RE_CASE_SENSITIVE);  // so the long one's own text misses
        EXPECT_EQ(list.Match(c.Text), c.Matches) << c.Text.size() << " " << c.ListFlags;
    }
    // Exactly at the limit the copy is still made.
    TReStringManager list(10, RE_FILE_NAME_LIST);
    list.AddPattern("*.", RE_EXACT);
    EXPECT_TRUE(list.Match(std::string(239, 'x')));
    EXPECT_FALSE(list.Match(std::string(240, 'x')));
}

TEST(PatternListTest, ChangesReachTheNextMatch) {
    TReStringManager list;
    list.AddPattern("abc");
    EXPECT_FALSE(list.Match("xyz"));
    const uint32_t seen = list.BuildCount();
    EXPECT_FALSE(list.ChangedSince(seen));

    list.AddPattern("xy");
    EXPECT_TRUE(list.ChangedSince(seen));
    EXPECT_TRUE(list.Match("xyz"));
    EXPECT_EQ(list.BuildCount(), seen + 1);
    EXPECT_TRUE(list.ChangedSince(seen));
    EXPECT_FALSE(list.ChangedSince(list.BuildCount()));

    // Flags given to an equal pattern join its entry.
    EXPECT_TRUE(list.Match("XABCX"));
    list.AddPattern("abc", RE_CASE_SENSITIVE);
    EXPECT_FALSE(list.Match("XABCX"));
    list.SetEntryFlags(list.Find("abc"), RE_EXACT);
    EXPECT_FALSE(list.Match("xabcx"));
    EXPECT_TRUE(list.Match("ABC"));

    list.Remove("xy");
    EXPECT_FALSE(list.Match("xyz"));
    list.Clear();
    EXPECT_FALSE(list.Match("abc"));
    EXPECT_EQ(list.NodesInUse(), 0u);
}

// Texts that reach many states: every subject below differs early.
std::vector<std::string> ManyTexts(int count) {
    std::vector<std::string> texts;
    for (int i = 0; i < count; ++i)
        texts.push_back("post " + std::to_string(i * 7919) + " spam" + std::to_string(i % 13) +
                        (i % 5 == 0 ? " sample.jpg" : " part.rar"));
    return texts;
}

TEST(PatternListTest, ThresholdAndBudgetDropTheCacheButNotTheAnswers) {
    const std::vector<std::string> texts = ManyTexts(300);
    auto fill = [](TReStringManager& list) {
        list.AddPattern("spam1?", RE_WORD);
        list.AddPattern("*9 spam*", 0);
        list.AddPattern("post 1*", RE_EXACT);
        list.AddPattern("sample", RE_WORD);
    };
    TReStringManager roomy;
    fill(roomy);
    TReStringManager small;
    fill(small);
    small.SetStateThreshold(4);
    TReStringManager tight;
    fill(tight);
    tight.SetCacheBytesMax(3 * sizeof(TReStateSet));

    int hits = 0;
    for (int pass = 0; pass < 2; ++pass)
        for (const std::string& t : texts) {
            const bool expected = roomy.Match(t);
            hits += expected;
            EXPECT_EQ(small.Match(t), expected) << t;
            EXPECT_EQ(tight.Match(t), expected) << t;
        }
    EXPECT_GT(hits, 0);
    EXPECT_LT(hits, 600);
    EXPECT_GT(roomy.StatesInUse(), 4u);
    EXPECT_EQ(roomy.BuildCount(), 1u);
    EXPECT_GT(small.BuildCount(), 10u);
    EXPECT_GT(tight.BuildCount(), 10u);
    EXPECT_LE(tight.StatesInUse(), 3u);
}

TEST(PatternListTest, TenThousandSubstringPatterns) {
    TReStringManager list;
    list.SetStateThreshold(3072);
    for (int i = 0; i < 10000; ++i) list.AddPattern("*spam" + std::to_string(i) + "x*");
    const struct {
        const char* Text;
        bool Matches;
    } cases[] = {
        {"great offer spam9999x today", true},
        {"SPAM0X", true},
        {"spam10000x", false},
        {"spam123 x", false},
        {"an ordinary subject of some length (1/2)", false},
    };
    for (int pass = 0; pass < 2; ++pass)
        for (const auto& c : cases) EXPECT_EQ(list.Match(c.Text), c.Matches) << c.Text;
    EXPECT_GT(list.NodesInUse(), 10000u);
}

TEST(PatternListTest, PoolTakesBackEverything) {
    TReSystem pool;
    {
        TReStringManager list(10, 0, pool);
        for (int i = 0; i < 50; ++i) list.AddPattern("pattern" + std::to_string(i), RE_WORD);
        for (const std::string& t : ManyTexts(50)) list.Match(t);
        const TReSystem::TCounts built = pool.Counts();
        EXPECT_EQ(built.NodesHandedOut - built.NodesGivenBack, list.NodesInUse());
        EXPECT_EQ(built.StatesHandedOut - built.StatesGivenBack, list.StatesInUse());
        EXPECT_EQ(
            (built.NodesHandedOut - built.NodesGivenBack + built.NodesFree) % RE_ALLOC_QUANTUM, 0u);
        // A rebuild of the same size reuses what it gave back.
        list.Changed();
        for (const std::string& t : ManyTexts(50)) list.Match(t);
        const TReSystem::TCounts rebuilt = pool.Counts();
        EXPECT_EQ(rebuilt.NodesHandedOut - rebuilt.NodesGivenBack + rebuilt.NodesFree,
                  built.NodesHandedOut - built.NodesGivenBack + built.NodesFree);
    }
    const TReSystem::TCounts after = pool.Counts();
    EXPECT_EQ(after.NodesHandedOut, after.NodesGivenBack);
    EXPECT_EQ(after.StatesHandedOut, after.StatesGivenBack);
}

TEST(PatternListTest, EscapedTextMatchesOnlyItself) {
    const char* texts[] = {"a*b(1/2)", "\\", "?*", "plain", "end\\", "x\\*y"};
    for (const char* text : texts) {
        TReStringManager list;
        list.AddPattern(TReStringManager::Escape(text), RE_EXACT);
        EXPECT_TRUE(list.Match(text)) << text;
        EXPECT_FALSE(list.Match(std::string(text) + "z")) << text;
    }
    EXPECT_EQ(TReStringManager::Escape("a*b(1/2)"), "a\\*b(1/2)");
    EXPECT_EQ(TReStringManager::Escape("?\\"), "\\?\\\\");
}

}  // namespace
}  // namespace zorvex
