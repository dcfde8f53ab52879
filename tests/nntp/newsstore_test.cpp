#include "nntp/newsstore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace zorvex {
namespace {

const char* const kDateText = "Mon, 07 May 2007 10:11:12 GMT";
constexpr uint32_t kDateValue = 1178532672;

// Expected field values of one header; no value = never set (still null).
struct TExpect {
    std::optional<std::string> Subject = {};
    std::optional<std::string> Poster = {};
    std::optional<std::string> CrossPosts = {};
    std::optional<std::string> PostingHost = {};
    uint32_t Date = 0;
    int32_t Lines = 0;
};

void ExpectText(const char* what, const char* actual, const std::optional<std::string>& want) {
    if (!want) {
        EXPECT_EQ(actual, nullptr) << what << " is \"" << actual << "\"";
    } else {
        ASSERT_NE(actual, nullptr) << what;
        EXPECT_EQ(std::string(actual), *want) << what;
    }
}

void ExpectHeader(const THeader* h, const TExpect& want) {
    ASSERT_NE(h, nullptr);
    ExpectText("subject", h->Subject, want.Subject);
    ExpectText("poster", h->Poster, want.Poster);
    ExpectText("cross-posts", h->CrossPosts, want.CrossPosts);
    ExpectText("posting host", h->PostingHost, want.PostingHost);
    EXPECT_EQ(h->Date, want.Date);
    EXPECT_EQ(h->Lines, want.Lines);
}

// Looks a header up without adding one.
THeader* Lookup(TNewsGroup* g, TArticleNo number) {
    if (!g->HeaderHash) return nullptr;
    for (THeader* h = g->HeaderHash[number & (HEADERHASH_COUNT - 1)]; h; h = h->HashNext)
        if (h->Number == number) return h;
    return nullptr;
}

std::vector<TArticleNo> NumberOrder(const TNewsGroup* g) {
    std::vector<TArticleNo> out;
    for (THeader* h = g->SortedHead; h; h = h->NumberNext) out.push_back(h->Number);
    return out;
}

// Every poster chain, in number order of its head, after checking the links.
std::vector<std::vector<TArticleNo>> PosterChains(const TNewsGroup* g) {
    std::vector<std::vector<TArticleNo>> chains;
    for (THeader* h = g->SortedHead; h; h = h->NumberNext) {
        if (h->PosterNext) {
            EXPECT_EQ(h->PosterNext->PosterPrev, h);
            EXPECT_EQ(h->PosterNext->Poster, h->Poster);
        }
        if (h->PosterPrev) {
            EXPECT_EQ(h->PosterPrev->PosterNext, h);
            continue;
        }
        std::vector<TArticleNo> chain;
        for (THeader* p = h; p; p = p->PosterNext) chain.push_back(p->Number);
        chains.push_back(chain);
    }
    return chains;
}

class NewsStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        Group = store.AddGroup("alt.binaries.test");
        ASSERT_NE(Group, nullptr);
    }

    TNewsStore store;
    TNewsGroup* Group = nullptr;
};

// ---- FindOrAddHeader ----

TEST_F(NewsStoreTest, FindOrAddHeaderKeysByFullNumber) {
    struct TCase {
        TArticleNo A, B;
        bool Same;
    };
    const std::vector<TCase> cases = {
        {5, 5, true},
        {5, 5 + HEADERHASH_COUNT, false},
        {1024, 2048, false},
        {7, 7 + 3 * HEADERHASH_COUNT, false},
        {(TArticleNo{1} << 40) + 9, 9, false},  // differs only above 32 bits
        {(TArticleNo{1} << 40) + 9, (TArticleNo{1} << 40) + 9, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.A << " / " << c.B);
        TNewsStore s;
        TNewsGroup* g = s.AddGroup("g");
        THeader* a = s.FindOrAddHeader(g, c.A);
        THeader* b = s.FindOrAddHeader(g, c.B);
        ASSERT_NE(a, nullptr);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(a == b, c.Same);
        EXPECT_EQ(a->Number, c.A);
        EXPECT_EQ(b->Number, c.B);
        EXPECT_EQ(g->NumHeaders, c.Same ? 1 : 2);
        // Both stay reachable whichever was pushed last.
        EXPECT_EQ(s.FindOrAddHeader(g, c.A), a);
        EXPECT_EQ(s.FindOrAddHeader(g, c.B), b);
        EXPECT_EQ(g->NumHeaders, c.Same ? 1 : 2);
    }
}

TEST_F(NewsStoreTest, CapKeepsNewArticlesOutAndNotesTheLowest) {
    for (TArticleNo n = 1; n <= HEADER_CAP; ++n)
        ASSERT_NE(store.FindOrAddHeader(Group, n), nullptr);
    ASSERT_EQ(Group->NumHeaders, HEADER_CAP);
    // At exactly the cap one more is still made.
    THeader* last = store.FindOrAddHeader(Group, HEADER_CAP + 1);
    ASSERT_NE(last, nullptr);
    ASSERT_EQ(Group->NumHeaders, HEADER_CAP + 1);
    EXPECT_EQ(Group->FirstUnstored, 0);

    EXPECT_EQ(store.FindOrAddHeader(Group, 50000), nullptr);
    EXPECT_EQ(Group->FirstUnstored, 50000);
    EXPECT_EQ(store.FindOrAddHeader(Group, 40000), nullptr);
    EXPECT_EQ(Group->FirstUnstored, 40000);
    EXPECT_EQ(store.FindOrAddHeader(Group, 45000), nullptr);
    EXPECT_EQ(Group->FirstUnstored, 40000);  // lowest skipped stays

    // Stored numbers are still found, including ones sharing a bucket with
    // the refused numbers.
    EXPECT_EQ(store.FindOrAddHeader(Group, HEADER_CAP + 1), last);
    THeader* early = store.FindOrAddHeader(Group, 40000 % HEADERHASH_COUNT);
    ASSERT_NE(early, nullptr);
    EXPECT_EQ(early->Number, 40000 % HEADERHASH_COUNT);
    EXPECT_EQ(Group->NumHeaders, HEADER_CAP + 1);

    // Lines past the cap make nothing but still count as loaded.
    store.AddOverviewLine(Group, "60000\tsubject\tposter");
    store.AddFieldLine(Group, FIELD_SUBJECT, "60001 subject");
    EXPECT_EQ(Group->NumHeaders, HEADER_CAP + 1);
    EXPECT_EQ(Lookup(Group, 60000), nullptr);
    EXPECT_EQ(Group->HighestLoaded, 60001);
    EXPECT_EQ(Group->FirstUnstored, 40000);
    // A field line for a stored article still lands.
    store.AddFieldLine(Group, FIELD_LINES, "7 99");
    EXPECT_EQ(Lookup(Group, 7)->Lines, 99);
}

// ---- AddFieldLine ----

TEST_F(NewsStoreTest, FieldLineSetsOnlyItsField) {
    const std::string longSubject = "S" + std::string(149, 's');
    const std::string longPoster = std::string(120, 'p') + "@example.com";
    const std::string longHost = std::string(150, 'h') + ".example.net";
    struct TCase {
        const char* Name;
        int Kind;
        std::string Line;
        TExpect Want;
    };
    const std::vector<TCase> cases = {
        {"subject", FIELD_SUBJECT, "12 Hello world (1/2)", {.Subject = "Hello world (1/2)"}},
        {"blanks after number", FIELD_SUBJECT, "12 \t  Hello", {.Subject = "Hello"}},
        {"subject cut",
         FIELD_SUBJECT,
         "12 " + longSubject,
         {.Subject = longSubject.substr(0, 100)}},
        {"poster", FIELD_POSTER, "12 Al <al@example.com>", {.Poster = "Al <al@example.com>"}},
        {"poster cut", FIELD_POSTER, "12 " + longPoster, {.Poster = longPoster.substr(0, 100)}},
        {"date", FIELD_DATE, std::string("12 ") + kDateText, {.Date = kDateValue}},
        {"lines", FIELD_LINES, "12 3456", {.Lines = 3456}},
        {"xref", FIELD_XREF, "12 host a.b:1 C.D:2", {.CrossPosts = "a.b: c.d: "}},
        {"posting host not cut", FIELD_POSTING_HOST, "12 " + longHost, {.PostingHost = longHost}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TNewsStore s;
        TNewsGroup* g = s.AddGroup("g");
        s.AddFieldLine(g, c.Kind, c.Line.c_str());
        ASSERT_EQ(g->NumHeaders, 1);
        THeader* h = Lookup(g, 12);
        ExpectHeader(h, c.Want);
        EXPECT_EQ(h->Number, 12);
    }
}

TEST_F(NewsStoreTest, FieldLineOverwritesAndXrefWithoutGroupsKeepsOld) {
    store.AddFieldLine(Group, FIELD_SUBJECT, "5 first");
    store.AddFieldLine(Group, FIELD_SUBJECT, "5 second");
    store.AddFieldLine(Group, FIELD_XREF, "5 news.example.com alt.test:17");
    store.AddFieldLine(Group, FIELD_XREF, "5 news.example.com");  // host only
    store.AddFieldLine(Group, FIELD_LINES, "5 10");
    store.AddFieldLine(Group, FIELD_LINES, "5 20");
    ExpectHeader(Lookup(Group, 5), {.Subject = "second", .CrossPosts = "alt.test: ", .Lines = 20});
    EXPECT_EQ(Group->NumHeaders, 1);
}

// Lines that make no record, for both parsers; with the hash in place the
// loaded range shows whether the number was taken.
TEST_F(NewsStoreTest, UnusableLinesMakeNoRecord) {
    struct TCase {
        const char* Line;
        bool Overview;
        TArticleNo Highest, Lowest;  // after the line
    };
    const TArticleNo none = INT64_MAX;
    const std::vector<TCase> cases = {
        {"", false, 0, none},
        {"", true, 0, none},
        {"0 subject", false, 0, none},
        {"0\tsubject", true, 0, none},
        {"-5 subject", false, 0, none},
        {"-5\tsubject", true, 0, none},
        {"abc subject", false, 0, none},
        {"abc\tsubject", true, 0, none},
        {"12", false, 12, 12},
        {"12", true, 12, 12},
        {"12   \t ", false, 12, 12},
        {"12\t", true, 12, 12},
        {"  12  ", false, 12, 12},
        {"12  ", true, 12, 12},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << '"' << c.Line << "\" overview=" << c.Overview);
        TNewsStore s;
        TNewsGroup* g = s.AddGroup("g");
        s.CreateHash(g);
        if (c.Overview)
            s.AddOverviewLine(g, c.Line);
        else
            s.AddFieldLine(g, FIELD_SUBJECT, c.Line);
        EXPECT_EQ(g->NumHeaders, 0);
        EXPECT_EQ(s.Stats().RecordsHandedOut, 0u);
        EXPECT_EQ(g->HighestLoaded, c.Highest);
        EXPECT_EQ(g->LowestLoaded, c.Lowest);
    }
}

TEST_F(NewsStoreTest, LoadedRangeFollowsEveryNumber) {
    store.AddFieldLine(Group, FIELD_SUBJECT, "50 a");
    store.AddOverviewLine(Group, "10\tb");
    store.AddFieldLine(Group, FIELD_SUBJECT, "70");  // no record, still counted
    store.AddOverviewLine(Group, "30\tc");
    EXPECT_EQ(Group->HighestLoaded, 70);
    EXPECT_EQ(Group->LowestLoaded, 10);
    EXPECT_EQ(Group->NumHeaders, 3);
}

// ---- AddOverviewLine ----

TEST_F(NewsStoreTest, OverviewLineFields) {
    const std::string d = kDateText;
    const std::string longSubject = std::string(130, 'x') + "\"file.rar\" yEnc (1/9)";
    const std::string longPoster = std::string(101, 'q');
    struct TCase {
        const char* Name;
        std::vector<std::string> Before;  // earlier lines for the same number
        std::string Line;
        TExpect Want;
    };
    const std::vector<TCase> cases = {
        {"all fields",
         {},
         "1001\tSubj (1/2)\tPo <p@x>\t" + d + "\t<id@x>\t<ref@x>\t12345\t678\tXref: h a.b:1",
         {.Subject = "Subj (1/2)", .Poster = "Po <p@x>", .Date = kDateValue, .Lines = 678}},
        {"empty subject keeps the other fields in place",
         {},
         "1001\t\tPo\t" + d + "\t<id@x>\t\t100\t42",
         {.Subject = "", .Poster = "Po", .Date = kDateValue, .Lines = 42}},
        {"empty poster",
         {},
         "1001\tSubj\t\t" + d + "\t\t\t\t7",
         {.Subject = "Subj", .Poster = "", .Date = kDateValue, .Lines = 7}},
        {"blanks before the tab", {}, "1001   \tSubj\tPo", {.Subject = "Subj", .Poster = "Po"}},
        {"missing trailing fields leave old values",
         {"1001\tOld\tOldPo\t" + d + "\t<id>\t\t10\t55"},
         "1001\tNew",
         {.Subject = "New", .Poster = "OldPo", .Date = kDateValue, .Lines = 55}},
        {"missing trailing fields after poster",
         {"1001\tOld\tOldPo\t" + d + "\t<id>\t\t10\t55"},
         "1001\tNew\tNewPo",
         {.Subject = "New", .Poster = "NewPo", .Date = kDateValue, .Lines = 55}},
        {"fields beyond lines ignored",
         {},
         "1001\ts\tp\t" + d + "\t<id>\t<r>\t1\t678\t999\textra",
         {.Subject = "s", .Poster = "p", .Date = kDateValue, .Lines = 678}},
        {"long fields cut",
         {},
         "1001\t" + longSubject + "\t" + longPoster + "\t" + d,
         {.Subject = longSubject.substr(0, 100),
          .Poster = longPoster.substr(0, 100),
          .Date = kDateValue}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TNewsStore s;
        TNewsGroup* g = s.AddGroup("g");
        for (const std::string& line : c.Before) s.AddOverviewLine(g, line.c_str());
        s.AddOverviewLine(g, c.Line.c_str());
        ASSERT_EQ(g->NumHeaders, 1);
        ExpectHeader(Lookup(g, 1001), c.Want);
    }
}

// ---- interning ----

TEST_F(NewsStoreTest, EqualTextsShareOneCopyAndMissingOnesBecomeNull) {
    std::string posterA = "Same Poster <s@example.com>";
    std::string posterB = posterA;  // other storage
    store.AddOverviewLine(Group, ("1\tone\t" + posterA).c_str());
    store.AddFieldLine(Group, FIELD_POSTER, ("2 " + posterB).c_str());
    store.AddFieldLine(Group, FIELD_SUBJECT, "3 subject only");
    THeader* h1 = Lookup(Group, 1);
    THeader* h2 = Lookup(Group, 2);
    THeader* h3 = Lookup(Group, 3);
    ASSERT_TRUE(h1 && h2 && h3);
    EXPECT_EQ(h1->Poster, h2->Poster);
    EXPECT_NE(h1->Poster, posterA.c_str());
    EXPECT_EQ(h1->Poster, store.Intern(posterA.c_str()));
    EXPECT_EQ(h3->Poster, nullptr);  // until sorted

    store.SortHeaders(Group);
    const char* null = store.Null();
    EXPECT_STREQ(null, "null");
    EXPECT_EQ(null, store.Intern("null"));
    EXPECT_EQ(h2->Subject, null);
    EXPECT_EQ(h3->Poster, null);
    for (THeader* h : {h1, h2, h3}) {
        EXPECT_EQ(h->CrossPosts, null);
        EXPECT_EQ(h->PostingHost, null);
    }
    EXPECT_NE(h1->Subject, null);
    EXPECT_NE(h1->Poster, null);
}

// ---- SortHeaders ----

TEST_F(NewsStoreTest, SortChainsAllHeadersInNumberOrder) {
    std::vector<TArticleNo> numbers = {3000, 5, 1029, 2, 4096, 1, 2053, TArticleNo{1} << 33, 1024};
    for (TArticleNo n : numbers) store.FindOrAddHeader(Group, n);
    store.SortHeaders(Group);
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(NumberOrder(Group), numbers);

    // A second visit adds more; the re-sort rebuilds every link.
    std::vector<TArticleNo> more = {4, 1500, 9999};
    for (TArticleNo n : more) store.FindOrAddHeader(Group, n);
    store.SortHeaders(Group);
    numbers.insert(numbers.end(), more.begin(), more.end());
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(NumberOrder(Group), numbers);
}

TEST_F(NewsStoreTest, SortManyHeadersInNumberOrder) {
    std::mt19937_64 rng(7);
    std::vector<TArticleNo> numbers;
    for (int i = 0; i < 5000; ++i) {
        TArticleNo n = static_cast<TArticleNo>(rng() % 200000) + 1;
        if (Lookup(Group, n)) continue;
        store.FindOrAddHeader(Group, n);
        numbers.push_back(n);
    }
    store.SortHeaders(Group);
    std::sort(numbers.begin(), numbers.end());
    EXPECT_EQ(NumberOrder(Group), numbers);
}

TEST_F(NewsStoreTest, PosterChains) {
    struct TPost {
        TArticleNo Number;
        const char* Poster;  // nullptr: no From line
        uint32_t Date;
        const char* Subject;
    };
    struct TCase {
        const char* Name;
        std::vector<TPost> Posts;
        std::vector<std::vector<TArticleNo>> Chains;  // ordered by head number
    };
    const std::vector<TCase> cases = {
        {"one poster in date order",
         {{1, "al", 300, "c"}, {2, "al", 100, "a"}, {3, "al", 200, "b"}},
         {{2, 3, 1}}},
        {"same date in subject order",
         {{1, "al", 100, "part b"}, {2, "al", 100, "part a"}, {3, "al", 100, "part c"}},
         {{2, 1, 3}}},
        {"subjects compare as unsigned bytes",
         {{1, "al", 100, "\xE9t\xE9"}, {2, "al", 100, "zeta"}, {3, "al", 100, "Zeta"}},
         {{3, 2, 1}}},
        {"date before subject", {{1, "al", 200, "a"}, {2, "al", 100, "z"}}, {{2, 1}}},
        {"headers without From share null",
         {{1, nullptr, 0, "b"}, {2, nullptr, 0, "a"}, {3, "al", 0, "c"}, {4, nullptr, 0, "c"}},
         {{2, 1, 4}, {3}}},
        {"interleaved posters including high bytes",
         {{1, "bob", 10, "x"},
          {2, "\xE9mile", 30, "x"},
          {3, "al", 20, "x"},
          {4, "zed", 10, "x"},
          {5, "bob", 5, "x"},
          {6, "\xE9mile", 20, "x"},
          {7, "al", 10, "x"},
          {8, "zed", 10, "y"},
          {9, "\xE9mile", 25, "x"},
          {10, "Bob", 1, "x"}},
         {{5, 1}, {6, 9, 2}, {7, 3}, {4, 8}, {10}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        TNewsStore s;
        TNewsGroup* g = s.AddGroup("g");
        for (const TPost& p : c.Posts) {
            THeader* h = s.FindOrAddHeader(g, p.Number);
            ASSERT_NE(h, nullptr);
            h->Subject = s.Intern(p.Subject);
            if (p.Poster) h->Poster = s.Intern(p.Poster);
            h->Date = p.Date;
        }
        s.SortHeaders(g);
        std::vector<std::vector<TArticleNo>> chains = PosterChains(g);
        std::sort(chains.begin(), chains.end());
        std::vector<std::vector<TArticleNo>> want = c.Chains;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(chains, want);
    }
}

TEST_F(NewsStoreTest, ResortRelinksPosterChains) {
    store.AddOverviewLine(Group, "1\ta\tal\tMon, 07 May 2007 10:00:00 GMT");
    store.AddOverviewLine(Group, "3\tc\tal\tMon, 07 May 2007 12:00:00 GMT");
    store.AddOverviewLine(Group, "4\td\tbo\tMon, 07 May 2007 12:00:00 GMT");
    store.SortHeaders(Group);
    EXPECT_EQ(PosterChains(Group), (std::vector<std::vector<TArticleNo>>{{1, 3}, {4}}));
    // A later post of al dated between the two, and one of bo's.
    store.AddOverviewLine(Group, "5\tb\tal\tMon, 07 May 2007 11:00:00 GMT");
    store.AddOverviewLine(Group, "6\te\tbo\tMon, 07 May 2007 09:00:00 GMT");
    store.SortHeaders(Group);
    EXPECT_EQ(NumberOrder(Group), (std::vector<TArticleNo>{1, 3, 4, 5, 6}));
    EXPECT_EQ(PosterChains(Group), (std::vector<std::vector<TArticleNo>>{{1, 5, 3}, {6, 4}}));
}

TEST_F(NewsStoreTest, SortWithoutHeadersLeavesNoHead) {
    THeader stale{};
    Group->SortedHead = &stale;
    store.SortHeaders(Group);  // never loaded: no hash
    EXPECT_EQ(Group->SortedHead, nullptr);

    store.CreateHash(Group);
    store.AddFieldLine(Group, FIELD_SUBJECT, "9");  // number only: no record
    Group->SortedHead = &stale;
    store.SortHeaders(Group);
    EXPECT_EQ(Group->SortedHead, nullptr);
}

// ---- ApplyPointer ----

TEST_F(NewsStoreTest, ApplyPointerMarksHeadersBelowThePointer) {
    struct TCase {
        TArticleNo Pointer;
        std::vector<bool> Handled;  // for 10, 20, 30, 40
    };
    const std::vector<TCase> cases = {
        {0, {false, false, false, false}},
        {30, {true, true, false, false}},
        {31, {true, true, true, false}},
        {1000, {true, true, true, true}},
    };
    const std::vector<TArticleNo> numbers = {40, 10, 30, 20};
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Pointer);
        TNewsStore s;
        TNewsGroup* g = s.AddGroup("g");
        for (TArticleNo n : numbers) s.FindOrAddHeader(g, n);
        s.SortHeaders(g);
        Lookup(g, 40)->Flags = HEADER_HANDLED | HEADER_REQUESTED;
        Lookup(g, 10)->Flags = HEADER_MARKED_REJECT;
        g->Pointer = c.Pointer;
        s.ApplyPointer(g);
        for (size_t i = 0; i < 4; ++i) {
            THeader* h = Lookup(g, 10 * static_cast<TArticleNo>(i + 1));
            EXPECT_EQ((h->Flags & HEADER_HANDLED) != 0, c.Handled[i]) << h->Number;
        }
        EXPECT_TRUE(Lookup(g, 40)->Flags & HEADER_REQUESTED);
        EXPECT_TRUE(Lookup(g, 10)->Flags & HEADER_MARKED_REJECT);
    }
}

// ---- statistics ----

TEST_F(NewsStoreTest, StatsCountNewTextsOnce) {
    const THeaderStats& st = store.Stats();
    EXPECT_EQ(st.RecordsHandedOut, 0u);
    EXPECT_EQ(st.Blocks, 0u);
    EXPECT_EQ(st.SubjectBytes, 0u);

    store.AddOverviewLine(Group, "1\tHello\tAlice");
    store.AddOverviewLine(Group, "2\tHello\tBob");
    store.AddOverviewLine(Group, "3\tWorld\tAlice");
    store.AddOverviewLine(Group, "1\tHello\tAlice");     // same record, same texts
    store.AddFieldLine(Group, FIELD_POSTER, "4 World");  // already a subject text
    store.AddFieldLine(Group, FIELD_SUBJECT, ("5 " + std::string(150, 'L')).c_str());
    EXPECT_EQ(st.SubjectBytes, 5u + 5u + 100u);  // the stored (cut) length
    EXPECT_EQ(st.PosterBytes, 5u + 3u);

    store.AddFieldLine(Group, FIELD_XREF, "1 host a.b:1");
    store.AddFieldLine(Group, FIELD_XREF, "2 other.host A.B:7");  // same text "a.b: "
    store.AddFieldLine(Group, FIELD_XREF, "3 host a.b:1 c.d:2");
    EXPECT_EQ(st.XrefBytes, std::strlen("host a.b:1") + std::strlen("host a.b:1 c.d:2"));

    store.AddFieldLine(Group, FIELD_POSTING_HOST, "1 h.example");
    store.AddFieldLine(Group, FIELD_POSTING_HOST, "2 h.example");
    EXPECT_EQ(st.HostBytes, std::strlen("h.example"));

    EXPECT_EQ(st.RecordsHandedOut, 5u);
    EXPECT_EQ(st.Blocks, 1u);
    EXPECT_EQ(st.BlockBytes, sizeof(THeader) * HEADER_BLOCK_COUNT);

    for (TArticleNo n = 6; n <= HEADER_BLOCK_COUNT + 1; ++n) store.FindOrAddHeader(Group, n);
    EXPECT_EQ(st.RecordsHandedOut, static_cast<uint64_t>(HEADER_BLOCK_COUNT + 1));
    EXPECT_EQ(st.Blocks, 2u);
    EXPECT_EQ(st.BlockBytes, 2 * sizeof(THeader) * HEADER_BLOCK_COUNT);
}

TEST_F(NewsStoreTest, NewHeaderIsZeroedAndDistinct) {
    std::vector<THeader*> seen;
    for (int i = 0; i < HEADER_BLOCK_COUNT + 3; ++i) {
        THeader* h = store.NewHeader();
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->HashNext, nullptr);
        EXPECT_EQ(h->Subject, nullptr);
        EXPECT_EQ(h->Number, 0);
        EXPECT_EQ(h->Flags, 0u);
        h->Number = i + 1;  // dirty it: no record is handed out twice
        h->HashNext = h;
        seen.push_back(h);
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(std::adjacent_find(seen.begin(), seen.end()), seen.end());
}

// ---- group table ----

class GroupTableTest : public ::testing::Test {
  protected:
    void Add(const std::vector<std::string>& names) {
        for (const std::string& n : names) ASSERT_NE(store.AddGroup(n.c_str()), nullptr);
    }
    std::vector<std::string> Names() {
        std::vector<std::string> out;
        for (int i = 0; i < store.GroupCount(); ++i) out.push_back(store.GetGroup(i)->Name);
        return out;
    }
    // Ordinals must always be position + 1.
    void ExpectOrdinals() {
        for (int i = 0; i < store.GroupCount(); ++i)
            EXPECT_EQ(store.GetGroup(i)->Ordinal, i + 1) << "position " << i;
    }

    TNewsStore store;
};

TEST_F(GroupTableTest, AddGroupFillsRecordsUntilFull) {
    EXPECT_EQ(store.GroupCount(), 0);
    EXPECT_EQ(store.AddGroup(nullptr), nullptr);
    std::string name = "alt.binaries.test";
    TNewsGroup* g = store.AddGroup(name.c_str());
    ASSERT_NE(g, nullptr);
    EXPECT_NE(g->Name, name.c_str());  // interned copy
    EXPECT_EQ(g->Name, store.Intern("alt.binaries.test"));
    EXPECT_EQ(g->Enabled, 1);
    EXPECT_EQ(g->Ordinal, 1);
    EXPECT_EQ(g->Pointer, 0);
    EXPECT_EQ(g->HeaderHash, nullptr);
    EXPECT_EQ(store.GetGroup(0), g);
    // No duplicate check here.
    TNewsGroup* again = store.AddGroup("alt.binaries.test");
    ASSERT_NE(again, nullptr);
    EXPECT_NE(again, g);
    EXPECT_EQ(again->Ordinal, 2);

    for (int i = 2; i < MAXNEWSGROUPS; ++i) {
        TNewsGroup* x = store.AddGroup(("g" + std::to_string(i)).c_str());
        ASSERT_NE(x, nullptr) << i;
        ASSERT_EQ(x->Ordinal, i + 1);
    }
    EXPECT_EQ(store.GroupCount(), MAXNEWSGROUPS);
    EXPECT_EQ(store.AddGroup("one.too.many"), nullptr);
    EXPECT_EQ(store.GroupCount(), MAXNEWSGROUPS);
    EXPECT_EQ(store.IndexOfGroup("one.too.many"), -1);
}

TEST_F(GroupTableTest, AddGroupAfterDeleteStartsZeroed) {
    Add({"a", "b"});
    TNewsGroup* b = store.GetGroup(1);
    b->Pointer = 77;
    b->Enabled = 0;
    store.CreateHash(b);
    store.DeleteGroup(1);
    TNewsGroup* c = store.AddGroup("c");
    ASSERT_EQ(c, b);  // the same slot
    EXPECT_EQ(c->Pointer, 0);
    EXPECT_EQ(c->Enabled, 1);
    EXPECT_EQ(c->HeaderHash, nullptr);
    EXPECT_EQ(c->Ordinal, 2);
}

TEST_F(GroupTableTest, GetGroupBounds) {
    Add({"a", "b", "c"});
    struct TCase {
        int Index;
        const char* Name;  // nullptr: no record
    };
    for (const TCase& c : std::vector<TCase>{
             {-1, nullptr}, {0, "a"}, {2, "c"}, {3, nullptr}, {MAXNEWSGROUPS, nullptr}}) {
        SCOPED_TRACE(c.Index);
        TNewsGroup* g = store.GetGroup(c.Index);
        if (!c.Name) {
            EXPECT_EQ(g, nullptr);
        } else {
            ASSERT_NE(g, nullptr);
            EXPECT_STREQ(g->Name, c.Name);
        }
    }
}

TEST_F(GroupTableTest, FindGroupIsExactIndexOfGroupIgnoresCase) {
    Add({"alt.binaries.test", "Comp.Lang.C", "alt.binaries"});
    struct TCase {
        const char* Query;
        int Found;  // index FindGroup returns, -1 for null
        int Index;
    };
    const std::vector<TCase> cases = {
        {"alt.binaries.test", 0, 0},
        {"ALT.Binaries.TEST", -1, 0},
        {"comp.lang.c", -1, 1},
        {"Comp.Lang.C", 1, 1},
        {"alt.binaries", 2, 2},
        {"alt.binaries.tes", -1, -1},
        {"", -1, -1},
        {nullptr, -1, -1},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Query ? c.Query : "(null)");
        TNewsGroup* g = store.FindGroup(c.Query);
        EXPECT_EQ(g, c.Found < 0 ? nullptr : store.GetGroup(c.Found));
        EXPECT_EQ(store.IndexOfGroup(c.Query), c.Index);
    }
}

TEST_F(GroupTableTest, DeleteGroupShiftsAndZeroesTheLast) {
    struct TCase {
        int Index;
        std::vector<std::string> Left;
    };
    const std::vector<TCase> cases = {
        {0, {"b", "c", "d"}},      {1, {"a", "c", "d"}},       {3, {"a", "b", "c"}},
        {4, {"a", "b", "c", "d"}}, {-1, {"a", "b", "c", "d"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Index);
        TNewsStore s;
        for (const char* n : {"a", "b", "c", "d"}) {
            TNewsGroup* g = s.AddGroup(n);
            g->Pointer = 100 + n[0];  // data that must move with the name
            s.CreateHash(g);
        }
        TNewsGroup* last = s.GetGroup(3);
        s.DeleteGroup(c.Index);
        ASSERT_EQ(s.GroupCount(), static_cast<int>(c.Left.size()));
        for (int i = 0; i < s.GroupCount(); ++i) {
            TNewsGroup* g = s.GetGroup(i);
            EXPECT_EQ(std::string(g->Name), c.Left[i]);
            EXPECT_EQ(g->Pointer, 100 + g->Name[0]);
            EXPECT_EQ(g->Ordinal, i + 1);
            EXPECT_NE(g->HeaderHash, nullptr);
        }
        if (c.Left.size() == 3) {
            EXPECT_EQ(last->Name, nullptr);
            EXPECT_EQ(last->Pointer, 0);
            EXPECT_EQ(last->Ordinal, 0);
            EXPECT_EQ(last->HeaderHash, nullptr);
            EXPECT_EQ(s.GetGroup(3), nullptr);
        }
    }
}

TEST_F(GroupTableTest, MoveGroupSwapsNeighboursOrdinalsStay) {
    struct TCase {
        bool Up;
        int Index;
        std::vector<std::string> After;
    };
    const std::vector<TCase> cases = {
        {true, 0, {"a", "b", "c"}},  {true, 1, {"b", "a", "c"}},   {true, 2, {"a", "c", "b"}},
        {true, 3, {"a", "b", "c"}},  {false, 0, {"b", "a", "c"}},  {false, 1, {"a", "c", "b"}},
        {false, 2, {"a", "b", "c"}}, {false, -1, {"a", "b", "c"}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::Message() << (c.Up ? "up " : "down ") << c.Index);
        TNewsStore s;
        for (const char* n : {"a", "b", "c"}) s.AddGroup(n)->Pointer = n[0];
        s.SetEnabled(1, 0);  // b
        if (c.Up)
            s.MoveGroupUp(c.Index);
        else
            s.MoveGroupDown(c.Index);
        ASSERT_EQ(s.GroupCount(), 3);
        for (int i = 0; i < 3; ++i) {
            TNewsGroup* g = s.GetGroup(i);
            EXPECT_EQ(std::string(g->Name), c.After[i]);
            EXPECT_EQ(g->Ordinal, i + 1);
            EXPECT_EQ(g->Pointer, g->Name[0]);
            EXPECT_EQ(g->Enabled, g->Name[0] == 'b' ? 0 : 1);
        }
    }
}

TEST_F(GroupTableTest, SortGroupsByUnsignedBytes) {
    struct TCase {
        std::vector<std::string> In, Out;
    };
    const std::vector<TCase> cases = {
        {{"b", "a", "c"}, {"a", "b", "c"}},
        {{"\xE9t\xE9", "zeta", "alpha", "Alpha"}, {"Alpha", "alpha", "zeta", "\xE9t\xE9"}},
        {{"a.b.c", "a.b", "a"}, {"a", "a.b", "a.b.c"}},
        {{"x", "x", "a"}, {"a", "x", "x"}},
        {{}, {}},
    };
    for (const TCase& c : cases) {
        TNewsStore s;
        for (const std::string& n : c.In) s.AddGroup(n.c_str())->Pointer = n.empty() ? 0 : n[0];
        s.SortGroups();
        ASSERT_EQ(s.GroupCount(), static_cast<int>(c.Out.size()));
        for (int i = 0; i < s.GroupCount(); ++i) {
            TNewsGroup* g = s.GetGroup(i);
            EXPECT_EQ(std::string(g->Name), c.Out[i]);
            EXPECT_EQ(g->Ordinal, i + 1);
            EXPECT_EQ(g->Pointer, g->Name[0]);
        }
    }
}

TEST_F(GroupTableTest, SortGroupsManyKeepsRecordsWhole) {
    std::vector<std::string> names;
    std::mt19937 rng(3);
    for (int i = 0; i < 500; ++i) {
        std::string n = "g";
        for (int k = rng() % 6 + 1; k > 0; --k) n += static_cast<char>('a' + rng() % 4);
        if (rng() % 10 == 0) n += '\xF0';
        names.push_back(n);
    }
    Add(names);
    for (int i = 0; i < store.GroupCount(); ++i) store.GetGroup(i)->Pointer = i;
    store.SortGroups();
    std::vector<std::string> want = names;
    std::sort(want.begin(), want.end());  // std::string compares as unsigned char
    EXPECT_EQ(Names(), want);
    ExpectOrdinals();
    for (int i = 0; i < store.GroupCount(); ++i) {
        TNewsGroup* g = store.GetGroup(i);
        EXPECT_EQ(names[static_cast<size_t>(g->Pointer)], g->Name);
    }
}

TEST_F(GroupTableTest, EnabledFlag) {
    Add({"a", "b"});
    struct TCase {
        int Index, Flag, Want;
    };
    for (const TCase& c : std::vector<TCase>{{0, 0, 0}, {0, 5, 1}, {1, 1, 1}, {1, 0, 0}}) {
        store.SetEnabled(c.Index, c.Flag);
        EXPECT_EQ(store.IsEnabled(c.Index), c.Want) << c.Index << " " << c.Flag;
        EXPECT_EQ(store.GetGroup(c.Index)->Enabled, c.Want);
    }
    store.SetEnabled(2, 1);  // outside: ignored
    store.SetEnabled(-1, 1);
    EXPECT_EQ(store.IsEnabled(2), 0);
    EXPECT_EQ(store.IsEnabled(-1), 0);
    EXPECT_EQ(store.GroupCount(), 2);
}

}  // namespace
}  // namespace zorvex
