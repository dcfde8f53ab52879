#include "dupe/dupetable.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "library/fileio.h"
#include "library/statussink.h"
#include "nntp/records.h"
#include "support/files.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using test::ReadFile;
using test::WriteFile;
using Lines = std::vector<std::string>;

constexpr uint32_t BOTH = DUPE_MATCH_FROM | DUPE_MATCH_LINES;

struct TRecordedStatus : TStatusSink {
    void PrintStatus(std::string_view text) override { Printed.emplace_back(text); }
    Lines Printed;
};

// Every entry as "stamp|from|key|lines", sorted: the contents whatever the
// order the table iterates in.
Lines Dump(TDupeStringManager& table) {
    Lines out;
    for (TStringEntry* e = table.First(); e; e = e->IterNext) {
        const TDupeEntry* d = static_cast<const TDupeEntry*>(e);
        out.push_back(std::to_string(d->Stamp) + "|" + d->From + "|" + d->Text + "|" +
                      std::to_string(d->Lines));
    }
    std::sort(out.begin(), out.end());
    return out;
}

Lines SortedLines(const std::string& text) {
    Lines out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    std::sort(out.begin(), out.end());
    return out;
}

// One pool and one table, as TDupeTables has them.
struct TTableFixture {
    explicit TTableFixture(int32_t size = DUPE_SIZE_DEFAULT, uint32_t flags = BOTH)
        : Table(Pool, size, flags) {}
    TDupePool Pool;
    TDupeStringManager Table;
};

// --- Matching ---------------------------------------------------------------

struct TStoredEntry {
    const char* From;
    int32_t Lines;
};

struct TMatchCase {
    const char* Name;
    uint32_t Flags;
    std::vector<TStoredEntry> Stored;  // under key "k", oldest first
    const char* From;
    int32_t Lines;
    int Want;  // index into Stored of the entry that matches, -1 for none
};

TEST(DupeMatch, RulesAndChainOrder) {
    const TMatchCase cases[] = {
        {"same poster", DUPE_MATCH_FROM, {{"bob", 100}}, "bob", 100, 0},
        {"other poster", DUPE_MATCH_FROM, {{"bob", 100}}, "ann", 100, -1},
        {"poster not considered", DUPE_MATCH_LINES, {{"bob", 100}}, "ann", 100, 0},
        {"unknown poster stored matches anyone", DUPE_MATCH_FROM, {{"n/a", 100}}, "ann", 100, 0},
        {"unknown poster asked is still a poster", DUPE_MATCH_FROM, {{"bob", 100}}, "n/a", 100, -1},
        {"empty poster is not unknown", DUPE_MATCH_FROM, {{"", 100}}, "ann", 100, -1},
        {"lines equal", BOTH, {{"bob", 100}}, "bob", 100, 0},
        {"lines 95 of 100", BOTH, {{"bob", 95}}, "bob", 100, 0},
        {"lines 110 of 100", BOTH, {{"bob", 110}}, "bob", 100, 0},
        {"lines 120 of 100", BOTH, {{"bob", 120}}, "bob", 100, -1},
        {"lines 89 of 100", BOTH, {{"bob", 89}}, "bob", 100, -1},
        {"lines not considered", DUPE_MATCH_FROM, {{"bob", 120}}, "bob", 100, 0},
        {"stored lines unknown", BOTH, {{"bob", -1}}, "bob", 100, 0},
        {"asked lines unknown", BOTH, {{"bob", 120}}, "bob", -1, 0},
        // A negative count (a hostile server's) is unknown too.
        {"asked lines negative", BOTH, {{"bob", 120}}, "bob", -5, 0},
        {"stored lines negative", BOTH, {{"bob", -5}}, "bob", 100, 0},
        {"nothing considered", 0, {{"bob", 500}}, "ann", 3, 0},
        {"second poster of a key", BOTH, {{"bob", 100}, {"ann", 100}}, "ann", 100, 1},
        {"newest of two that fit", DUPE_MATCH_LINES, {{"bob", 100}, {"ann", 104}}, "x", 100, 1},
        {"older fits, newer does not", BOTH, {{"bob", 100}, {"bob", 300}}, "bob", 98, 0},
        {"none of several", BOTH, {{"bob", 100}, {"ann", 100}}, "eve", 100, -1},
    };
    for (const TMatchCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTableFixture f;
        std::vector<TDupeEntry*> stored;
        // Stored under both rules so that each becomes an entry of its own.
        for (const TStoredEntry& s : c.Stored) stored.push_back(f.Table.Add("k", s.From, s.Lines));
        ASSERT_EQ(f.Table.Count(), c.Stored.size());
        f.Table.Configure(DUPE_SIZE_DEFAULT, c.Flags);

        std::vector<uint32_t> uses;
        for (TDupeEntry* e : stored) uses.push_back(e->UseCount);
        EXPECT_EQ(f.Table.Lookup("k", c.From, c.Lines, false), c.Want >= 0);
        for (size_t i = 0; i < stored.size(); ++i)
            EXPECT_EQ(stored[i]->UseCount - uses[i], static_cast<int>(i) == c.Want ? 1u : 0u)
                << "entry " << i;
        EXPECT_FALSE(f.Table.Lookup("K", c.From, c.Lines, false));  // keys keep their case

        // Adding finds the same entry, or makes a new one at the head.
        const size_t before = f.Table.Count();
        TDupeEntry* added = f.Table.Add("k", c.From, c.Lines);
        if (c.Want >= 0) {
            EXPECT_EQ(added, stored[c.Want]);
            EXPECT_EQ(f.Table.Count(), before);
        } else {
            EXPECT_EQ(f.Table.Count(), before + 1);
            EXPECT_STREQ(added->From, c.From);
            EXPECT_EQ(added->Lines, c.Lines);
            EXPECT_TRUE(f.Table.Lookup("k", c.From, c.Lines, false));
        }
    }
}

TEST(DupeMatch, KeysAndPostersAreCutAndEmptyKeysRefused) {
    TTableFixture f;
    const std::string longKey(300, 'k');
    const std::string longFrom(300, 'p');
    TDupeEntry* e = f.Table.Add(longKey, longFrom, 10);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(std::string(e->Text), longKey.substr(0, DUPE_TEXT_MAX));
    EXPECT_EQ(std::string(e->From), longFrom.substr(0, DUPE_TEXT_MAX));
    // Anything past the cut does not tell two texts apart.
    EXPECT_TRUE(f.Table.Lookup(longKey.substr(0, DUPE_TEXT_MAX) + "other", longFrom, 10, false));

    EXPECT_EQ(f.Table.Add("", "bob", 10), nullptr);
    EXPECT_FALSE(f.Table.Lookup("", "bob", 10, false));
    EXPECT_EQ(f.Table.Count(), 1u);
}

// --- Stamps ----------------------------------------------------------------

TEST(DupeStamp, NewStampsTouchAndPermanentEntries) {
    TTableFixture f;
    TDupeEntry* a = f.Table.Add("a", "n/a", -1);
    TDupeEntry* b = f.Table.Add("b", "n/a", -1);
    EXPECT_EQ(a->Stamp, 1);
    EXPECT_EQ(b->Stamp, 2);
    EXPECT_EQ(f.Table.AgeCounter(), 2);

    EXPECT_TRUE(f.Table.Lookup("a", "n/a", -1, false));
    EXPECT_EQ(a->Stamp, 1);
    EXPECT_EQ(f.Table.AgeCounter(), 2);
    EXPECT_TRUE(f.Table.Lookup("a", "n/a", -1, true));
    EXPECT_EQ(a->Stamp, 3);
    EXPECT_EQ(f.Table.AgeCounter(), 3);
    EXPECT_FALSE(f.Table.Lookup("missing", "n/a", -1, true));
    EXPECT_EQ(f.Table.AgeCounter(), 3);

    // Adding what is there renews it.
    EXPECT_EQ(f.Table.Add("b", "n/a", -1), b);
    EXPECT_EQ(b->Stamp, 4);

    // A permanent entry keeps its stamp through touches and adds, and
    // hands out no stamp.
    TDupeEntry* p = f.Table.Add("p", "n/a", -1, -5);
    EXPECT_EQ(p->Stamp, -5);
    EXPECT_EQ(f.Table.AgeCounter(), 4);
    EXPECT_TRUE(f.Table.Lookup("p", "n/a", -1, true));
    EXPECT_EQ(f.Table.Add("p", "n/a", -1), p);
    EXPECT_EQ(p->Stamp, -5);
    EXPECT_EQ(f.Table.AgeCounter(), 4);

    // A negative stamp makes an existing entry permanent; a positive one
    // given to Add is not taken.
    EXPECT_EQ(f.Table.Add("a", "n/a", -1, -1), a);
    EXPECT_EQ(a->Stamp, -1);
    TDupeEntry* c = f.Table.Add("c", "n/a", -1, 1000);
    EXPECT_EQ(c->Stamp, 5);
}

// --- Purging ---------------------------------------------------------------

TEST(DupePurge, SizeEightDropsTheOldestAndRestamps) {
    TTableFixture f(8);
    TRecordedStatus status;
    f.Table.SetStatus(&status);
    ASSERT_EQ(f.Table.Threshold(), 7);
    f.Table.Add("permanent", "bob", 7, -1);
    for (int i = 1; i <= 8; ++i) {
        // Not due before the counter reaches the size.
        EXPECT_TRUE(status.Printed.empty()) << i;
        f.Table.Add("k" + std::to_string(i), "n/a", -1);
    }
    EXPECT_EQ(f.Table.AgeCounter(), 8);
    EXPECT_EQ(f.Table.Count(), 9u);
    const size_t pooled = f.Pool.Count();

    EXPECT_FALSE(f.Table.Lookup("k1", "n/a", -1, false));
    EXPECT_EQ(status.Printed, Lines{"Purging dupe table of old data"});
    EXPECT_EQ(f.Table.AgeCounter(), 7);
    EXPECT_EQ(Dump(f.Table),
              (Lines{"-1|bob|permanent|7", "1|n/a|k2|-1", "2|n/a|k3|-1", "3|n/a|k4|-1",
                     "4|n/a|k5|-1", "5|n/a|k6|-1", "6|n/a|k7|-1", "7|n/a|k8|-1"}));
    EXPECT_EQ(f.Pool.Count(), pooled - 1);  // "k1" went with its entry

    // Permanent entries are never saved.
    EXPECT_EQ(SortedLines(f.Table.SaveToText()),
              (Lines{"1 k2", "2 k3", "3 k4", "4 k5", "5 k6", "6 k7", "7 k8"}));

    // The next stamp makes the counter 8 again: due at the next call.
    f.Table.Add("k9", "n/a", -1);
    EXPECT_EQ(status.Printed.size(), 1u);
    EXPECT_TRUE(f.Table.Lookup("k9", "n/a", -1, false));
    EXPECT_EQ(status.Printed.size(), 2u);
    EXPECT_FALSE(f.Table.Lookup("k2", "n/a", -1, false));
}

TEST(DupePurge, ConfigureAppliesAtOnce) {
    TTableFixture f(100);
    for (int i = 1; i <= 10; ++i) f.Table.Add("k" + std::to_string(i), "n/a", -1);
    f.Table.Configure(8, 0);
    EXPECT_EQ(f.Table.Threshold(), 7);
    EXPECT_EQ(f.Table.MatchFlags(), 0u);
    // Counter 10, threshold 7: every stamp drops by 3.
    EXPECT_FALSE(f.Table.Lookup("k3", "n/a", -1, false));
    EXPECT_TRUE(f.Table.Lookup("k4", "n/a", -1, false));
    EXPECT_EQ(f.Table.Count(), 7u);
    EXPECT_EQ(f.Table.AgeCounter(), 7);
}

TEST(DupePurge, OffWhenSizeIsZeroOrPurgingIsSwitchedOff) {
    TTableFixture f(0);
    for (int i = 0; i < 3000; ++i) f.Table.Add("k" + std::to_string(i), "n/a", -1);
    EXPECT_TRUE(f.Table.Lookup("k0", "n/a", -1, false));
    EXPECT_EQ(f.Table.Count(), 3000u);
    EXPECT_EQ(f.Table.AgeCounter(), 3000);

    TTableFixture g(8);
    g.Table.SetPurging(false);
    for (int i = 1; i <= 20; ++i) g.Table.Add("k" + std::to_string(i), "n/a", -1);
    EXPECT_EQ(g.Table.Count(), 20u);
    g.Table.SetPurging(true);
    // Counter 20, threshold 7: stamps 14..20 stay as 1..7.
    EXPECT_TRUE(g.Table.Lookup("k20", "n/a", -1, false));
    EXPECT_EQ(g.Table.Count(), 7u);
    EXPECT_FALSE(g.Table.Lookup("k13", "n/a", -1, false));
    EXPECT_TRUE(g.Table.Lookup("k14", "n/a", -1, false));
}

TEST(DupePool, TextsAreSharedAndFreedWithTheirLastHolder) {
    TDupePool pool;
    {
        TDupeStringManager subjects(pool, 8, BOTH);
        TDupeStringManager files(pool, 0, 0);
        TDupeEntry* bob = subjects.Add("x", "bob", 100);
        TDupeEntry* ann = subjects.Add("x", "ann", 100);
        files.Add("bob", "x", -1);
        // "x" and "bob" are each stored once for all of them.
        EXPECT_EQ(pool.Count(), 3u);
        EXPECT_EQ(bob->Text, ann->Text);
        EXPECT_EQ(pool.Peek("bob"), bob->From);
        EXPECT_EQ(pool.Peek("nobody"), nullptr);

        subjects.RemoveEntry(bob);
        EXPECT_EQ(subjects.Count(), 1u);
        EXPECT_NE(pool.Peek("bob"), nullptr);  // still the file table's key
        EXPECT_TRUE(subjects.Lookup("x", "ann", 100, false));
        EXPECT_FALSE(subjects.Lookup("x", "bob", 100, false));
        files.Clear();
        EXPECT_EQ(pool.Peek("bob"), nullptr);
        EXPECT_EQ(pool.Count(), 2u);

        // Purged entries give their texts back too: size 1 purges all.
        TDupeStringManager tiny(pool, 1, BOTH);
        tiny.Add("gone", "soon", 1);
        EXPECT_EQ(pool.Count(), 4u);
        EXPECT_FALSE(tiny.Lookup("gone", "soon", 1, false));
        EXPECT_EQ(tiny.Count(), 0u);
        EXPECT_EQ(pool.Count(), 2u);
    }
    EXPECT_EQ(pool.Count(), 0u);  // the tables cleared themselves

    // A text the pool never handed out is not counted down.
    TDupePool other;
    other.Take("t");
    const std::string copy = "t";
    other.Drop(copy.c_str());
    other.Drop(nullptr);
    EXPECT_NE(other.Peek("t"), nullptr);
}

// --- Files -----------------------------------------------------------------

class DupeFile : public ::testing::Test {
  protected:
    void TearDown() override { ClearFileFaults(); }
    test::TTempDir Dir;
    std::string Path = Dir.File("dupesubj.lst");
};

TEST_F(DupeFile, SaveAndLoadKeepEntriesStampsAndBothForms) {
    TTableFixture f;
    f.Table.Add("plain.subject", "n/a", -1);
    f.Table.Add("with poster", "bob@example.com", 120);
    f.Table.Add("with poster", "ann", 120);
    f.Table.Add("lines only", "n/a", 40);
    f.Table.Add("poster only", "bob", -1);
    f.Table.Add("autoscanned.jpg", "n/a", 10, -1);
    f.Table.Lookup("plain.subject", "n/a", -1, true);

    std::string error;
    ASSERT_TRUE(f.Table.Save(Path, &error)) << error;
    EXPECT_EQ(
        SortedLines(ReadFile(Path)),
        (Lines{"2 bob@example.com ## with poster ## 120", "3 ann ## with poster ## 120",
               "4 n/a ## lines only ## 40", "5 bob ## poster only ## -1", "6 plain.subject"}));

    TTableFixture g;
    g.Table.Add("already here", "n/a", -1);
    const TDupeLoadReport report = g.Table.Load(Path);
    EXPECT_TRUE(report.Opened);
    EXPECT_EQ(report.Loaded, 5u);
    EXPECT_EQ(report.Skipped, 0u);
    EXPECT_EQ(report.FirstSkipped, 0u);
    EXPECT_EQ(g.Table.AgeCounter(), 6);
    Lines want = Dump(f.Table);
    want.erase(std::remove(want.begin(), want.end(), "-1|n/a|autoscanned.jpg|10"), want.end());
    want.push_back("1|n/a|already here|-1");
    std::sort(want.begin(), want.end());
    EXPECT_EQ(Dump(g.Table), want);
}

TEST_F(DupeFile, HostileTextsStayOneLineAndReadBack) {
    TTableFixture f(0, 0);
    const std::string longFrom(255, 'p');
    const std::string longKey(255, 'k');
    f.Table.Add("two\r\nlines", "n/a", -1);
    f.Table.Add("x ## y", "n/a", -1);
    f.Table.Add("## lead", "n/a", -1);
    f.Table.Add(" spaced ", "n/a", -1);
    f.Table.Add("key", "p ## q", 5);
    f.Table.Add("key2", "## p", 5);
    f.Table.Add("key3", "", 5);
    f.Table.Add(longKey, longFrom, 2147483647);
    const std::string text = f.Table.SaveToText();
    const Lines lines = SortedLines(text);
    ASSERT_EQ(lines.size(), 8u) << text;
    for (const std::string& line : lines) EXPECT_LE(line.size(), DUPE_FILE_LINE_MAX) << line;

    TTableFixture g(0, 0);
    const TDupeLoadReport report = g.Table.LoadFromText(text);
    EXPECT_EQ(report.Loaded, 8u);
    EXPECT_EQ(report.Skipped, 0u);
    const Lines dump = Dump(g.Table);
    const std::string shortFrom(DUPE_FILE_LINE_MAX - std::string("8 ").size() - longKey.size() -
                                    std::string(" ##  ## 2147483647").size(),
                                'p');
    EXPECT_EQ(dump, (Lines{"1|n/a|two  lines|-1", "2|n/a|x ## y|-1", "3|n/a|## lead|-1",
                           "4|n/a| spaced |-1", "5|p # q|key|5", "6|# p|key2|5", "7||key3|5",
                           "8|" + shortFrom + "|" + longKey + "|2147483647"}));
    // Saved again, nothing changes.
    TTableFixture h(0, 0);
    h.Table.LoadFromText(g.Table.SaveToText());
    EXPECT_EQ(Dump(h.Table), dump);
}

TEST_F(DupeFile, FailedSaveKeepsTheOldFile) {
    TTableFixture f;
    f.Table.Add("kept", "n/a", -1);
    std::string error;
    ASSERT_TRUE(f.Table.Save(Path, &error)) << error;
    f.Table.Add("lost", "n/a", -1);
    for (TFileFault fault :
         {TFileFault::DISK_FULL, TFileFault::SHORT_WRITE, TFileFault::RENAME_FAILS}) {
        InjectFileFault(fault);
        error.clear();
        EXPECT_FALSE(f.Table.Save(Path, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(ReadFile(Path), "1 kept\n");
    }
    ClearFileFaults();
    ASSERT_TRUE(f.Table.Save(Path, &error)) << error;
    EXPECT_EQ(SortedLines(ReadFile(Path)), (Lines{"1 kept", "2 lost"}));
}

TEST_F(DupeFile, MissingFileLeavesTheTableAlone) {
    TTableFixture f;
    f.Table.Add("a", "n/a", -1);
    f.Table.Add("b", "bob", 3);
    const Lines before = Dump(f.Table);
    const TDupeLoadReport report = f.Table.Load(Dir.File("absent.lst"));
    EXPECT_FALSE(report.Opened);
    EXPECT_EQ(report.Loaded, 0u);
    EXPECT_EQ(Dump(f.Table), before);
    EXPECT_EQ(f.Table.AgeCounter(), 0);
}

struct TLoadCase {
    const char* Name;
    std::string Text;
    Lines Want;  // Dump() after the load
    size_t Loaded;
    size_t Skipped;
    size_t FirstSkipped;
    int32_t Counter;
};

TEST(DupeLoad, LineRules) {
    const std::string ks(255, 'k');
    const TLoadCase cases[] = {
        {"short form", "5 some.subject\n", {"5|n/a|some.subject|-1"}, 1, 0, 0, 5},
        {"stamp zero", "0 x\n", {}, 0, 1, 1, 0},
        {"negative stamp", "-3 x\n", {}, 0, 1, 1, 0},
        {"no number", "x 5\n", {}, 0, 1, 1, 0},
        {"nothing after the stamp", "7\n7   \t\n", {}, 0, 2, 1, 0},
        {"long form", "4 bob ## key ## 12\n", {"4|bob|key|12"}, 1, 0, 0, 4},
        {"poster without lines", "4 bob ## key\n", {"4|bob|key|-1"}, 1, 0, 0, 4},
        {"unknown lines", "4 bob ## key ## -1\n", {"4|bob|key|-1"}, 1, 0, 0, 4},
        {"lines not a number", "4 bob ## key ## many\n", {}, 0, 1, 1, 0},
        {"lines with garbage", "4 bob ## key ## 12x\n", {}, 0, 1, 1, 0},
        // Only -1 (unknown) is below 0: any other could never match again.
        {"negative lines", "4 bob ## key ## -5\n", {}, 0, 1, 1, 0},
        {"empty key", "4 bob ##  ## 12\n", {}, 0, 1, 1, 0},
        {"empty poster", "4  ## key ## 3\n", {"4||key|3"}, 1, 0, 0, 4},
        {"separator in the key", "4 n/a ## a ## b ## 5\n", {"4|n/a|a ## b|5"}, 1, 0, 0, 4},
        {"white space around", "  12 \t spaced key  \n", {"12|n/a|spaced key|-1"}, 1, 0, 0, 12},
        {"blank lines are not malformed", "\n\n  \t\n3 a\n\n", {"3|n/a|a|-1"}, 1, 0, 0, 3},
        {"CRLF", "3 a\r\n4 b ## c ## 9\r\n", {"3|n/a|a|-1", "4|b|c|9"}, 2, 0, 0, 4},
        // As a save writes it: the key read back is the key loaded.
        {"CR inside a key", "3 a\rb\n4 a b\n", {"4|n/a|a b|-1"}, 2, 0, 0, 4},
        {"no final newline", "3 a\n9 b", {"3|n/a|a|-1", "9|n/a|b|-1"}, 2, 0, 0, 9},
        {"first malformed line", "1 a\n\n0 b\nzz\n2 c\n", {"1|n/a|a|-1", "2|n/a|c|-1"}, 2, 2, 3, 2},
        {"NUL ends the line",
         std::string("3 ab\0cd\n4 e\n", 12),
         {"3|n/a|ab|-1", "4|n/a|e|-1"},
         2,
         0,
         0,
         4},
        {"NUL only", std::string("\0\0\n", 3), {}, 0, 0, 0, 0},
        {"long line",
         "6 " + std::string(600, 'k') + "\n7 next",
         {"6|n/a|" + ks + "|-1", "7|n/a|next|-1"},
         2,
         0,
         0,
         7},
        {"long line loses its line count",
         "6 bob ## " + std::string(520, 'k') + " ## 12\n",
         {"6|bob|" + ks + "|-1"},
         1,
         0,
         0,
         6},
        {"huge stamp", "99999999999 big\n", {"2147483647|n/a|big|-1"}, 1, 0, 0, INT32_MAX},
        {"huge lines", "2 a ## b ## 99999999999\n", {"2|a|b|2147483647"}, 1, 0, 0, 2},
        {"equal entry takes the later stamp", "8 a\n3 a\n", {"3|n/a|a|-1"}, 2, 0, 0, 8},
        {"counter is the largest stamp",
         "4 a\n9 b\n2 c\n",
         {"2|n/a|c|-1", "4|n/a|a|-1", "9|n/a|b|-1"},
         3,
         0,
         0,
         9},
    };
    for (const TLoadCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TTableFixture f;
        const TDupeLoadReport report = f.Table.LoadFromText(c.Text);
        EXPECT_TRUE(report.Opened);
        EXPECT_EQ(Dump(f.Table), c.Want);
        EXPECT_EQ(report.Loaded, c.Loaded);
        EXPECT_EQ(report.Skipped, c.Skipped);
        EXPECT_EQ(report.FirstSkipped, c.FirstSkipped);
        EXPECT_EQ(f.Table.AgeCounter(), c.Counter);
    }
}

TEST(DupeLoad, NoPurgeWhileLoading) {
    TTableFixture f(8);
    std::string text;
    for (int i = 1; i <= 20; ++i) text += std::to_string(i) + " k" + std::to_string(i) + "\n";
    EXPECT_EQ(f.Table.LoadFromText(text).Loaded, 20u);
    EXPECT_EQ(f.Table.Count(), 20u);
    EXPECT_EQ(f.Table.AgeCounter(), 20);
    // The first lookup afterwards does it: stamps 14..20 stay as 1..7.
    EXPECT_TRUE(f.Table.Lookup("k20", "n/a", -1, false));
    EXPECT_EQ(f.Table.Count(), 7u);
}

// Bytes a hostile or broken file may hold, most of all the ones the
// reader looks for.
std::string NoisyText(uint32_t seed, size_t lines) {
    static const char alphabet[] = "0123456789 #-+\t\r\n\v\fabcXYZ/.\0\xff\x80";
    uint32_t state = seed;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    std::string out;
    for (size_t i = 0; i < lines; ++i) {
        if (next() % 3 != 0) out += std::to_string(next() % 100000);
        const size_t length = next() % 8 == 0 ? 400 + next() % 400 : next() % 60;
        for (size_t j = 0; j < length; ++j) {
            if (next() % 5 == 0) {
                out += " ## ";
            } else {
                out += alphabet[next() % (sizeof alphabet - 1)];
            }
        }
        out += '\n';
    }
    return out;
}

TEST(DupeLoad, ArbitraryBytesLoadAndWhatLoadedReadsBack) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        SCOPED_TRACE(seed);
        TTableFixture first(0, 0);
        const std::string noise = NoisyText(seed, 400);
        const TDupeLoadReport report = first.Table.LoadFromText(noise);
        EXPECT_GT(report.Loaded, 0u);
        EXPECT_GT(report.Skipped, 0u);

        // Once saved (no CR or LF left inside a text) the file reads back
        // to the very same entries, every time.
        TTableFixture second(0, 0);
        second.Table.LoadFromText(first.Table.SaveToText());
        const std::string saved = second.Table.SaveToText();
        for (const std::string& line : SortedLines(saved))
            ASSERT_LE(line.size(), DUPE_FILE_LINE_MAX);
        TTableFixture third(0, 0);
        const TDupeLoadReport again = third.Table.LoadFromText(saved);
        EXPECT_EQ(again.Skipped, 0u);
        EXPECT_EQ(Dump(third.Table), Dump(second.Table));
    }
}

// --- Names -----------------------------------------------------------------

TEST(DupeNames, FileNameFromSubject) {
    const std::string name130(130, 'n');
    const std::pair<std::string, std::string> cases[] = {
        {"Re: party pics - beach.JPG (1/3)", "beach.JPG"},
        {"no dot here", ""},
        {"", ""},
        {"[01/10] - my_file-v2.part01.rar yEnc", "my_file-v2.part01.rar"},
        {"\"quoted.jpg\" (1/1)", "quoted.jpg"},
        {".hidden rest", ".hidden"},
        {"trailing text .", "."},
        {"name. more.txt", "name."},
        {"~`!@#$%^&_-x.y~`!@#$%^&_-z", "~`!@#$%^&_-x.y~`!@#$%^&_-z"},
        {"caf\xc3\xa9.jpg", ".jpg"},
        {"a/b.c", "b.c"},
        {name130 + ".jpg", name130.substr(0, DUPE_SUBJECT_NAME_MAX)},
        {std::string(242, ' ') + "a.jpg", "a.jpg"},  // 247 characters
        {std::string(243, ' ') + "a.jpg", ""},       // 248
        {std::string(248, 'x') + ".jpg", ""},
    };
    for (const auto& [subject, want] : cases)
        EXPECT_EQ(FileNameFromSubject(subject), want) << subject.size() << " " << subject;
}

TEST(DupeNames, FileKeyIsLowerCaseAndCut) {
    EXPECT_EQ(DupeFileKey("Beach.JPG"), "beach.jpg");
    EXPECT_EQ(DupeFileKey("\xc3\x89t\xc3\xa9.GIF"), "\xc3\x89t\xc3\xa9.gif");
    EXPECT_EQ(DupeFileKey(std::string(300, 'A')), std::string(DUPE_TEXT_MAX, 'a'));
}

// --- Routing and autoscan ----------------------------------------------------

struct TCall {
    std::string What;  // "lookup", "add", "announce"
    TDupeTableId Table;
    std::string Key;
    bool Touch;
    bool operator==(const TCall&) const = default;
};

class TRecordingCoordinator : public TDupeCoordinator {
  public:
    bool Connected() override { return IsConnected; }
    bool EverUsed() const override { return Used; }
    bool Lookup(TDupeTableId table, std::string_view key, const THeader&, bool touch) override {
        Calls.push_back({"lookup", table, std::string(key), touch});
        return Answer;
    }
    void Add(TDupeTableId table, std::string_view key, const THeader&) override {
        Calls.push_back({"add", table, std::string(key), false});
    }
    void Announce(TDupeTableId table, std::string_view key, const THeader&) override {
        Calls.push_back({"announce", table, std::string(key), false});
    }
    bool IsConnected = false;
    bool Used = false;
    bool Answer = false;
    std::vector<TCall> Calls;
};

THeader Header(const char* subject, const char* poster, int32_t lines) {
    THeader h{};
    h.Subject = subject;
    h.Poster = poster;
    h.Lines = lines;
    return h;
}

TEST(DupeTables, ConnectedCoordinatorTakesEverything) {
    TRecordingCoordinator coordinator;
    coordinator.IsConnected = true;
    coordinator.Used = true;
    coordinator.Answer = true;
    TDupeTables tables(coordinator);
    const THeader h = Header("Pics - Beach.JPG", "bob", 100);

    EXPECT_TRUE(tables.LookupSubject(h, true));
    tables.AddSubject(h);
    tables.AnnounceSubject(h);
    EXPECT_TRUE(tables.LookupFile("Beach.JPG", h, false));
    tables.AddFile("Beach.JPG", h);
    tables.AnnounceFile("Beach.JPG", h);
    // Nothing with an empty key is asked or told.
    const THeader none = Header(nullptr, "bob", 1);
    EXPECT_FALSE(tables.LookupSubject(none, true));
    tables.AddSubject(none);
    tables.AddFile("", h);

    EXPECT_EQ(coordinator.Calls,
              (std::vector<TCall>{{"lookup", DUPE_TABLE_SUBJECTS, "Pics - Beach.JPG", true},
                                  {"add", DUPE_TABLE_SUBJECTS, "Pics - Beach.JPG", false},
                                  {"announce", DUPE_TABLE_SUBJECTS, "Pics - Beach.JPG", false},
                                  {"lookup", DUPE_TABLE_FILES, "beach.jpg", false},
                                  {"add", DUPE_TABLE_FILES, "beach.jpg", false},
                                  {"announce", DUPE_TABLE_FILES, "beach.jpg", false}}));
    EXPECT_EQ(tables.Subjects().Count(), 0u);
    EXPECT_EQ(tables.Files().Count(), 0u);
    EXPECT_FALSE(tables.KeepsLocalFiles());

    test::TTempDir dir;
    WriteFile(dir.File("x.jpg"), "x");
    const TAutoscanCounts counts = tables.Autoscan({dir.Path()});
    EXPECT_EQ(counts.Paths, 0);
    EXPECT_EQ(counts.Dirs, 0);
    EXPECT_EQ(counts.Files, 0);
    EXPECT_EQ(tables.Files().Count(), 0u);
}

TEST(DupeTables, WithoutCoordinatorTheLocalTablesAnswer) {
    TRecordingCoordinator coordinator;
    TDupeTables tables(coordinator);
    EXPECT_TRUE(tables.KeepsLocalFiles());
    const THeader h = Header("Pics - Beach.JPG", "bob", 100);
    const THeader other = Header("Pics - Beach.JPG", "ann", 100);
    const THeader anonymous = Header("anonymous", nullptr, 7);

    EXPECT_FALSE(tables.LookupSubject(h, false));
    tables.AddSubject(h);
    tables.AddSubject(anonymous);
    tables.AnnounceSubject(h);
    EXPECT_TRUE(tables.LookupSubject(h, true));
    EXPECT_FALSE(tables.LookupSubject(other, false));  // subjects consider the poster
    tables.AddFile("Beach.JPG", h);
    tables.AnnounceFile("Beach.JPG", h);
    EXPECT_TRUE(tables.LookupFile("BEACH.jpg", other, false));  // files do not, by default
    tables.AddSubject(Header("", "bob", 1));
    tables.AddFile("", h);

    EXPECT_TRUE(coordinator.Calls.empty());
    EXPECT_EQ(Dump(tables.Subjects()), (Lines{"2|n/a|anonymous|7", "3|bob|Pics - Beach.JPG|100"}));
    EXPECT_EQ(Dump(tables.Files()), (Lines{"1|bob|beach.jpg|100"}));

    TDupeSettings settings;
    settings.SubjectSize = 16;
    settings.SubjectMatch = 0;
    settings.FileSize = 0;
    settings.FileMatch = BOTH;
    tables.Configure(settings);
    EXPECT_EQ(tables.Subjects().Threshold(), 14);
    EXPECT_TRUE(tables.LookupSubject(other, false));
    EXPECT_EQ(tables.Files().Size(), 0);
    EXPECT_FALSE(tables.LookupFile("beach.jpg", other, false));
}

// A header the server gave no line count has 0 lines: that is an unknown
// count, which matches any, never a count of 0 that matches no other.
TEST(DupeTables, HeadersWithoutALineCountMatchAnyCount) {
    TRecordingCoordinator coordinator;
    TDupeTables tables(coordinator);
    TDupeSettings settings;
    settings.FileMatch = BOTH;
    tables.Configure(settings);
    tables.AddFile("a.bin", Header("a", "bob", 100));
    tables.AddFile("b.bin", Header("b", "bob", 0));
    EXPECT_TRUE(tables.LookupFile("a.bin", Header("a", "bob", 0), false));
    EXPECT_FALSE(tables.LookupFile("a.bin", Header("a", "bob", 500), false));
    EXPECT_TRUE(tables.LookupFile("b.bin", Header("b", "bob", 500), false));
    EXPECT_TRUE(tables.LookupFile("b.bin", Header("b", "bob", 0), false));
    EXPECT_EQ(Dump(tables.Files()), (Lines{"1|bob|a.bin|100", "2|bob|b.bin|-1"}));
}

class DupeAutoscan : public ::testing::Test {
  protected:
    void SetUp() override {
        Root = Dir.File("Root");
        ASSERT_EQ(mkdir(Root.c_str(), 0700), 0);
        ASSERT_EQ(mkdir((Root + "/Sub").c_str(), 0700), 0);
        ASSERT_EQ(mkdir((Root + "/Sub/Deep").c_str(), 0700), 0);
        WriteFile(Root + "/A.JPG", std::string(540, 'x'));
        WriteFile(Root + "/Sub/Deep/Nested.TXT", "");
        WriteFile(Dir.File("outside.bin"), std::string(5400, 'x'));
        ASSERT_EQ(symlink(Root.c_str(), (Root + "/Sub/loop").c_str()), 0);
        ASSERT_EQ(symlink(Dir.File("outside.bin").c_str(), (Root + "/link.bin").c_str()), 0);
    }
    test::TTempDir Dir;
    std::string Root;
};

TEST_F(DupeAutoscan, AddsFilesBelowAsPermanentAndFollowsNoLinks) {
    TRecordedStatus status;
    TDupeTables tables;
    tables.SetStatus(&status);
    TDupeSettings settings;
    settings.SubjectSize = 2;
    settings.FileSize = 2;
    tables.Configure(settings);
    tables.Files().Add("old.one", "n/a", -1);
    tables.Files().Add("old.two", "n/a", -1);  // purging is due from here

    const TAutoscanCounts counts =
        tables.Autoscan({Root, "", Dir.File("missing"), Root + "/Sub/Deep"});
    EXPECT_EQ(counts.Paths, 3);
    EXPECT_EQ(counts.Dirs, 4);  // Root, Sub, Deep, and Deep listed again
    EXPECT_EQ(counts.Files, 3);
    EXPECT_TRUE(status.Printed.empty());
    EXPECT_EQ(Dump(tables.Files()), (Lines{"-1|n/a|a.jpg|10", "-1|n/a|nested.txt|0",
                                           "1|n/a|old.one|-1", "2|n/a|old.two|-1"}));
    EXPECT_EQ(SortedLines(tables.Files().SaveToText()), (Lines{"1 old.one", "2 old.two"}));

    // Purging is back on afterwards; the scanned files outlive it.
    EXPECT_TRUE(tables.LookupFile("A.jpg", Header("x", "bob", 3), false));
    EXPECT_EQ(status.Printed.size(), 1u);
    // Counter 2, threshold 1: every stamp drops by 1.
    EXPECT_EQ(Dump(tables.Files()),
              (Lines{"-1|n/a|a.jpg|10", "-1|n/a|nested.txt|0", "1|n/a|old.two|-1"}));
    tables.AddSubject(Header("s1", "bob", 1));
    tables.AddSubject(Header("s2", "bob", 1));
    EXPECT_FALSE(tables.LookupSubject(Header("s1", "bob", 1), false));
}

TEST_F(DupeAutoscan, DepthIsBounded) {
    std::string path = Root;
    for (int level = 0; level < 70; ++level) {
        path += "/d";
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0) << level;
        WriteFile(path + "/F" + std::to_string(level), "");
    }
    TDupeTables tables;
    const TAutoscanCounts counts = tables.Autoscan({Root + "/Sub"});
    EXPECT_EQ(counts.Dirs, 2);
    const TAutoscanCounts deep = tables.Autoscan({Root + "/d"});
    // The listed directory and 64 levels below it.
    EXPECT_EQ(deep.Dirs, 65);
    EXPECT_EQ(deep.Files, 65);
    EXPECT_TRUE(tables.Files().Lookup("f64", "n/a", -1, false));
    EXPECT_FALSE(tables.Files().Lookup("f65", "n/a", -1, false));
}

}  // namespace
}  // namespace zorvex
