#include "library/strman.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "library/hash.h"

namespace zorvex {
namespace {

std::vector<std::string> IterationTexts(TStringEntry* head) {
    std::vector<std::string> out;
    for (TStringEntry* e = head; e; e = e->IterNext) out.push_back(e->Text);
    return out;
}

// Counts the virtual hooks the base class runs.
class TCountingManager : public TStringManager {
  public:
    using TStringManager::TStringManager;
    ~TCountingManager() override { Clear(); }
    void Changed() override {
        ++ChangedCalls;
        TStringManager::Changed();
    }
    void FreeEntry(TStringEntry* entry, bool freeText) override {
        ++FreeCalls;
        TStringManager::FreeEntry(entry, freeText);
    }
    int ChangedCalls = 0;
    int FreeCalls = 0;
};

TEST(StringManagerTest, AddInternsAndCountsUses) {
    TStringManager table(kBaseEntrySize, 13);
    std::string a = "Subject one";
    std::string b = "Subject one";  // equal text, other storage
    TStringEntry* first = table.Add(a.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first->Text, a.c_str());  // a copy is stored
    EXPECT_STREQ(first->Text, "Subject one");
    EXPECT_EQ(first->UseCount, 1u);
    EXPECT_EQ(first->Owner, &table);

    TStringEntry* second = table.Add(b.c_str());
    EXPECT_EQ(second, first);
    EXPECT_EQ(second->Text, first->Text);
    EXPECT_EQ(table.Count(), 1u);
    EXPECT_EQ(first->UseCount, 2u);

    EXPECT_EQ(table.Find("Subject one"), first);
    EXPECT_EQ(first->UseCount, 3u);
    EXPECT_TRUE(table.Contains("Subject one"));
    EXPECT_EQ(first->UseCount, 4u);
    EXPECT_EQ(table.Find("Subject on"), nullptr);
    EXPECT_FALSE(table.Contains("Subject one "));
    EXPECT_EQ(table.BytesAdded(), std::strlen("Subject one"));
}

TEST(StringManagerTest, CaseMattersAndNullIsRefused) {
    TStringManager table(kBaseEntrySize, 4);
    TStringEntry* upper = table.Add("Poster");
    TStringEntry* lower = table.Add("poster");
    EXPECT_NE(upper, lower);
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_EQ(table.Add(nullptr), nullptr);
    EXPECT_EQ(table.Add(nullptr, 3), nullptr);
    EXPECT_EQ(table.Find(nullptr), nullptr);
    EXPECT_FALSE(table.Contains(nullptr));
    EXPECT_EQ(table.Count(), 2u);
}

TEST(StringManagerTest, AddWithLengthInternsThePrefix) {
    TStringManager table(kBaseEntrySize, 6);
    const char line[] = "Re: holiday pictures\r\n";
    TStringEntry* e = table.Add(line, 20);
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->Text, "Re: holiday pictures");
    EXPECT_EQ(table.Add("Re: holiday pictures"), e);
    EXPECT_EQ(table.Find(line, 20), e);
    EXPECT_EQ(table.Find(line, 19), nullptr);  // a stored longer text is no match
    // A length past a NUL stops at the NUL.
    EXPECT_EQ(table.Add("abc\0def", 7), table.Add("abc"));
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_EQ(table.BytesAdded(), 20u + 3u);
}

TEST(StringManagerTest, RemoveAndClearFreeTextsAndRunChanged) {
    TCountingManager table(kBaseEntrySize, 4);
    table.Add("alpha");
    table.Add("beta");
    EXPECT_EQ(table.ChangedCalls, 2);
    table.Add("alpha");  // existing: nothing changes
    EXPECT_EQ(table.ChangedCalls, 2);

    const std::vector<std::string> before = IterationTexts(table.First());
    table.Remove("gamma");
    EXPECT_EQ(table.ChangedCalls, 3);
    EXPECT_EQ(table.FreeCalls, 0);
    EXPECT_FALSE(table.IterationValid());
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_EQ(IterationTexts(table.First()), before);
    EXPECT_EQ(table.BytesFreed(), 0u);

    table.Remove("alpha");
    EXPECT_EQ(table.ChangedCalls, 4);
    EXPECT_EQ(table.FreeCalls, 1);
    EXPECT_EQ(table.Count(), 1u);
    EXPECT_EQ(table.Find("alpha"), nullptr);
    EXPECT_EQ(table.BytesFreed(), 5u);

    // Without freeing the text, the caller keeps it.
    TStringEntry* beta = table.Find("beta");
    char* kept = const_cast<char*>(beta->Text);
    table.Remove("beta", false);
    EXPECT_EQ(table.BytesFreed(), 5u);
    EXPECT_STREQ(kept, "beta");
    std::free(kept);

    table.Add("one");
    table.Add("two");
    table.Clear();
    EXPECT_EQ(table.Count(), 0u);
    EXPECT_EQ(table.First(), nullptr);
    EXPECT_EQ(table.FreeCalls, 4);
    EXPECT_EQ(table.BytesFreed(), 5u + 3u + 3u);
    EXPECT_EQ(table.Find("one"), nullptr);
    EXPECT_EQ(table.ChangedCalls, 8);
    table.Remove(nullptr);
    EXPECT_EQ(table.ChangedCalls, 9);
}

TEST(StringManagerTest, IterationFollowsBucketsAndKeepsStatistics) {
    // Two buckets, so the chains are long enough to measure.
    TStringManager table(kBaseEntrySize, 1);
    std::vector<std::string> texts;
    for (int i = 0; i < 9; ++i) texts.push_back("text" + std::to_string(i));
    size_t perBucket[2] = {0, 0};
    for (const std::string& t : texts) {
        table.Add(t.c_str());
        ++perBucket[HashString(t.c_str()) & 1];
    }
    TStringEntry* head = table.First();
    EXPECT_EQ(table.First(), head);  // reused until the next change
    EXPECT_TRUE(table.IterationValid());

    // Bucket 0 first; within a bucket newest first.
    std::vector<std::string> expected;
    for (uint32_t bucket = 0; bucket < 2; ++bucket) {
        for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
            if ((HashString(it->c_str()) & 1) == bucket) expected.push_back(*it);
        }
    }
    EXPECT_EQ(IterationTexts(head), expected);
    EXPECT_EQ(table.LongestChain(), std::max(perBucket[0], perBucket[1]));
    const size_t depthSum =
        perBucket[0] * (perBucket[0] + 1) / 2 + perBucket[1] * (perBucket[1] + 1) / 2;
    EXPECT_EQ(table.AverageDepth(), depthSum / texts.size());

    TStringManager empty(kBaseEntrySize, 3);
    EXPECT_EQ(empty.First(), nullptr);
    EXPECT_EQ(empty.LongestChain(), 0u);
    EXPECT_EQ(empty.AverageDepth(), 0u);
}

TEST(StringManagerTest, SortOrdersByUnsignedBytesUntilTheNextChange) {
    TStringManager table(kBaseEntrySize, 2);
    const char* texts[] = {"pear", "Zebra", "\xe9t\xe9", "apple", "zebra", "apple pie", "", "b"};
    for (const char* t : texts) table.Add(t);
    TStringEntry* head = table.Sort();
    const std::vector<std::string> sorted = {"",  "Zebra", "apple", "apple pie",
                                             "b", "pear",  "zebra", "\xe9t\xe9"};
    EXPECT_EQ(IterationTexts(head), sorted);
    EXPECT_EQ(IterationTexts(table.First()), sorted);

    table.Add("new");
    std::vector<std::string> order = IterationTexts(table.First());
    ASSERT_EQ(order.size(), 9u);
    for (size_t i = 1; i < order.size(); ++i) {
        EXPECT_LE(HashString(order[i - 1].c_str()) & table.Mask(),
                  HashString(order[i].c_str()) & table.Mask());
    }
}

TEST(StringManagerTest, SortTakesComparisonAndUserValue) {
    TStringManager table(kBaseEntrySize, 5);
    const char* texts[] = {"ccc", "a", "bbbb", "dd", "eeeee", "f"};
    for (const char* t : texts) table.Add(t);
    table.Find("a");  // use count 2
    table.Find("a");  // use count 3
    table.Find("dd");

    struct TCtx {
        int Calls = 0;
    } ctx;
    // Most used first, then by text.
    auto byUse = [](const TStringEntry* a, const TStringEntry* b, void* user) {
        ++static_cast<TCtx*>(user)->Calls;
        if (a->UseCount != b->UseCount) return a->UseCount > b->UseCount;
        return std::strcmp(a->Text, b->Text) < 0;
    };
    TStringEntry* head = table.Sort(byUse, &ctx);
    EXPECT_GT(ctx.Calls, 0);
    EXPECT_EQ(IterationTexts(head),
              (std::vector<std::string>{"a", "dd", "bbbb", "ccc", "eeeee", "f"}));

    TStringManager empty(kBaseEntrySize, 5);
    EXPECT_EQ(empty.Sort(), nullptr);
}

TEST(StringManagerTest, SortSurvivesLargeAndDegenerateInputs) {
    TStringManager table(kBaseEntrySize, 10);
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i) texts.push_back(std::to_string((i * 7919) % 3001));
    for (const std::string& t : texts) table.Add(t.c_str());
    std::vector<std::string> expected = texts;
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(IterationTexts(table.Sort()), expected);

    // A comparison that is no ordering must not run off the array or lose entries.
    auto always = [](const TStringEntry*, const TStringEntry*, void*) { return true; };
    auto never = [](const TStringEntry*, const TStringEntry*, void*) { return false; };
    for (TStringLess less : {+always, +never}) {
        std::vector<std::string> got = IterationTexts(table.Sort(less, nullptr));
        std::sort(got.begin(), got.end());
        EXPECT_EQ(got, expected);
    }
}

TEST(StringManagerTest, BlockCountIsAQuarterOfTheBucketsWithinOneAndThirtyTwo) {
    struct TCase {
        int Bits;
        size_t Buckets;
        size_t BlockCount;
    };
    const TCase cases[] = {{1, 2, 1},    {2, 4, 1},    {3, 8, 2},      {4, 16, 4},
                           {7, 128, 32}, {8, 256, 32}, {10, 1024, 32}, {13, 8192, 32}};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Bits);
        TStringManager table(kBaseEntrySize, c.Bits);
        EXPECT_EQ(table.BucketCount(), c.Buckets);
        EXPECT_EQ(table.Mask(), c.Buckets - 1);
        EXPECT_EQ(table.BlockCount(), c.BlockCount);
        EXPECT_EQ(table.Bits(), c.Bits);
    }
}

TEST(StringManagerTest, FreeListHandsOutBlocksAndRecyclesEntries) {
    TStringFreeList shared;
    TStringManager a(kBaseEntrySize, 4, 0, &shared);  // 4 entries per block
    TStringManager b(kBaseEntrySize, 4, 0, &shared);
    EXPECT_EQ(a.FreeList(), &shared);
    for (int i = 0; i < 4; ++i) a.Add(("a" + std::to_string(i)).c_str());
    EXPECT_EQ(shared.BlocksTaken(), 1u);
    b.Add("b0");
    EXPECT_EQ(shared.BlocksTaken(), 2u);

    for (TStringEntry* e = a.First(); e; e = e->IterNext) {
        EXPECT_EQ(reinterpret_cast<uintptr_t>(e) % alignof(std::max_align_t), 0u);
    }

    TStringEntry* gone = a.Find("a2");
    a.Remove("a2");
    TStringEntry* reused = b.Add("b1");
    EXPECT_EQ(reused, gone);  // the entry given back is the next handed out
    EXPECT_EQ(reused->Owner, &b);
    EXPECT_EQ(reused->UseCount, 1u);
    EXPECT_EQ(shared.BlocksTaken(), 2u);
}

struct TWideEntry : TStringEntry {
    int64_t Lines;
    const char* Poster;
};

TEST(StringManagerTest, DerivedEntriesAreZeroedAndCarryDefaultFlags) {
    TStringManager table(sizeof(TWideEntry), 4);
    table.SetDefaultEntryFlags(0x5);
    auto* e = static_cast<TWideEntry*>(table.Add("file.jpg"));
    EXPECT_EQ(e->Flags, 0x5u);
    EXPECT_EQ(e->Lines, 0);
    EXPECT_EQ(e->Poster, nullptr);
    e->Lines = 1234;
    e->Poster = "someone";
    e->Spare = 77;
    table.Remove("file.jpg");
    auto* again = static_cast<TWideEntry*>(table.Add("other.jpg"));
    EXPECT_EQ(again, e);
    EXPECT_EQ(again->Lines, 0);
    EXPECT_EQ(again->Poster, nullptr);
    EXPECT_EQ(again->Spare, 0u);
    EXPECT_EQ(again->IterNext, nullptr);
}

TEST(StringManagerTest, CallerTextsAndHeapEntries) {
    char owned[] = "caller text";
    TStringFreeList list;
    TStringManager table(kBaseEntrySize, 4,
                         TStringManager::CALLER_TEXTS | TStringManager::HEAP_ENTRIES, &list);
    TStringEntry* e = table.Add(owned);
    EXPECT_EQ(e->Text, owned);  // stored as given, never copied
    table.Remove(owned);        // never freed: a free of the stack array would abort
    table.Add(owned);
    table.Clear();
    EXPECT_EQ(list.BlocksTaken(), 0u);  // entries came from the heap
    EXPECT_EQ(table.BytesFreed(), 0u);
    EXPECT_EQ(table.BytesAdded(), 2 * std::strlen(owned));
}

struct THookLog {
    int Copies = 0;
    int Frees = 0;
};

char* CountingCopy(const char* text, size_t len, void* user) {
    ++static_cast<THookLog*>(user)->Copies;
    char* p = static_cast<char*>(std::malloc(len + 1));
    if (p) {
        std::memcpy(p, text, len);
        p[len] = '\0';
    }
    return p;
}

void CountingFree(char* text, void* user) {
    ++static_cast<THookLog*>(user)->Frees;
    std::free(text);
}

TEST(StringManagerTest, CopyAndFreeHooksGetTheUserValue) {
    THookLog log;
    TStringManager table(kBaseEntrySize, 4);
    table.SetTextHooks(CountingCopy, CountingFree, &log);
    table.Add("one");
    table.Add("two");
    table.Add("one");
    EXPECT_EQ(log.Copies, 2);
    table.Remove("one");
    EXPECT_EQ(log.Frees, 1);
    table.Clear();
    EXPECT_EQ(log.Frees, 2);
}

TEST(StringManagerTest, ChildTableOwnsTheStoredTexts) {
    TStringManager pool(kBaseEntrySize, 6);
    TStringManager groups(kBaseEntrySize, 4);
    groups.SetChild(&pool);
    TStringEntry* g = groups.Add("alt.binaries.test");
    TStringEntry* p = pool.Find("alt.binaries.test");
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(g->Text, p->Text);
    EXPECT_EQ(pool.Count(), 1u);
    // Removing from the parent leaves the child's text alone.
    groups.Remove("alt.binaries.test");
    groups.Clear();
    EXPECT_STREQ(pool.Find("alt.binaries.test")->Text, "alt.binaries.test");
    EXPECT_EQ(groups.BytesFreed(), 0u);
}

TEST(StringManagerTest, ProgramWideCountersFollowEntries) {
    const uint64_t allocated = TStringManager::NodesAllocated();
    const uint64_t freed = TStringManager::NodesFreed();
    {
        TStringManager table(kBaseEntrySize, 4);
        table.Add("x");
        table.Add("y");
        table.Add("x");
        table.Remove("y");
        EXPECT_EQ(TStringManager::NodesAllocated() - allocated, 2u);
        EXPECT_EQ(TStringManager::NodesFreed() - freed, 1u);
    }
    EXPECT_EQ(TStringManager::NodesFreed() - freed, 2u);  // destroying clears
}

TEST(StringManagerTest, HeaderStoreInterning) {
    TStringManager table(kBaseEntrySize, 13);
    std::vector<const char*> seen;
    for (int i = 0; i < 20000; ++i) {
        std::string subject = "Subject " + std::to_string(i % 5000);
        const char* interned = table.Add(subject.c_str())->Text;
        if (i < 5000) {
            seen.push_back(interned);
        } else {
            ASSERT_EQ(interned, seen[i % 5000]);
        }
    }
    EXPECT_EQ(table.Count(), 5000u);
    table.First();
    EXPECT_EQ(table.Count(), 5000u);
    EXPECT_LE(table.AverageDepth(), 2u);
}

// Opens the hooks for tables that keep several entries under one text.
class TMultiManager : public TCountingManager {
  public:
    using TCountingManager::TCountingManager;
    using TStringManager::ChainHead;
    using TStringManager::InsertSeparate;
    using TStringManager::RemoveThisEntry;
};

TEST(StringManagerTest, SeparateEntriesForOneTextAndRemovingOneOfThem) {
    TMultiManager table(kBaseEntrySize, 2);  // four buckets: chains are shared
    TStringEntry* other = table.Add("other");
    TStringEntry* older = table.InsertSeparate("same");
    TStringEntry* newer = table.InsertSeparate("same");
    ASSERT_NE(older, nullptr);
    ASSERT_NE(newer, older);
    EXPECT_NE(newer->Text, older->Text);  // each has its own copy
    EXPECT_EQ(table.Count(), 3u);
    EXPECT_EQ(table.InsertSeparate(nullptr), nullptr);

    // The newest is at the head of its chain, so a find sees it first.
    EXPECT_EQ(table.ChainHead("same"), newer);
    EXPECT_EQ(newer->Next, older);
    EXPECT_EQ(table.Find("same"), newer);
    EXPECT_EQ(table.Add("same"), newer);

    table.First();
    const int changed = table.ChangedCalls;
    EXPECT_TRUE(table.RemoveThisEntry(older));
    EXPECT_EQ(table.FreeCalls, 1);
    EXPECT_EQ(table.ChangedCalls, changed + 1);
    EXPECT_FALSE(table.IterationValid());
    EXPECT_EQ(table.Count(), 2u);
    EXPECT_EQ(table.Find("same"), newer);
    EXPECT_EQ(IterationTexts(table.First()).size(), 2u);

    // An entry of another table, or one already gone, is left alone.
    TMultiManager stranger(kBaseEntrySize, 2);
    EXPECT_FALSE(table.RemoveThisEntry(stranger.Add("other")));
    EXPECT_FALSE(table.RemoveThisEntry(nullptr));
    EXPECT_EQ(table.Find("other"), other);
    EXPECT_EQ(table.Count(), 2u);
}

using StringManagerDeathTest = ::testing::Test;

TEST_F(StringManagerDeathTest, FatalMisuse) {
    EXPECT_DEATH(TStringManager(0, 4), "entry_size > 0");
    EXPECT_DEATH(TStringManager(kBaseEntrySize, 0), "bits > 0");
    EXPECT_DEATH(
        {
            TStringFreeList shared;
            TStringManager a(kBaseEntrySize, 4, 0, &shared);
            TStringManager b(sizeof(TWideEntry), 4, 0, &shared);
            a.Add("a");
            b.Add("b");
        },
        "EntrySize_ == entrysize");
}

}  // namespace
}  // namespace zorvex
