#include "nntp/newsstore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "library/parsedate.h"

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

// The poster chains of a fresh group holding rows (each with Number, Poster,
// nullptr for no From line, Date and Subject), sorted so that a case may
// list them in any order.
template <class TRow>
std::vector<std::vector<TArticleNo>> SortedChains(const std::vector<TRow>& rows) {
    TNewsStore s;
    TNewsGroup* g = s.AddGroup("g");
    for (const TRow& r : rows) {
        THeader* h = s.FindOrAddHeader(g, r.Number);
        if (!h) {
            ADD_FAILURE() << "no record for " << r.Number;
            continue;
        }
        h->Subject = s.Intern(r.Subject);
        if (r.Poster) h->Poster = s.Intern(r.Poster);
        h->Date = r.Date;
    }
    s.SortHeaders(g);
    std::vector<std::vector<TArticleNo>> chains = PosterChains(g);
    std::sort(chains.begin(), chains.end());
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
        THeaderField Kind;
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

// The date field is read without the full parser when it has the usual
// form; whichever way it is read, the value is the full parser's.
TEST_F(NewsStoreTest, OverviewDatesAgreeWithTheDateParser) {
    std::vector<std::string> dates = {
        "Mon, 07 May 2007 10:11:12 GMT",
        "Mon, 07 May 2007 10:11:12 +0000",
        "Mon, 07 May 2007 10:11:12 -0500",
        "Mon, 07 May 2007 10:11:12 +0530",
        "Mon, 07 May 2007 10:11:12 +2400",
        "Mon, 07 May 2007 10:11:12 +2500",
        "Mon, 07 May 2007 10:11:12 +0060",
        "mon, 07 may 2007 10:11:12 gmt",
        "Mon, 07 May 2007 10:11:12 UT",
        "Mon, 07 May 2007 10:11:12 UTC",
        "Mon, 07 May 2007 10:11:12 UTX",
        "Mon, 07 May 2007 10:11:12 GMTX",
        "Mon, 07 May 2007 10:11:12 GMT+0200",
        "Mon, 07 May 2007 10:11:12 EST",
        "Mon, 07 May 2007 10:11:12 EDT",
        "Mon, 07 May 2007 10:11:12",
        "Mon, 07 May 2007 10:11:12 +0000 (UTC)",
        "Mon, 07 May 2007 10:11:12 +0000 (UTC)  ",
        "Mon, 07 May 2007 10:11:12 +0000 (a (nested) one)",
        "Mon, 07 May 2007 10:11:12 +0000 (open",
        "Mon, 07 May 2007 10:11:12 +0000 x",
        "Mon, 07 May 2007 10:11:12.25 +0000",
        "Mon, 07 May 2007 10:11 +0000",
        "Mon, 7 May 2007 10:11:12 +0000",
        "07 May 2007 10:11:12 +0000",
        "7 May 2007 10:11:12 GMT",
        "Mon,07 May 2007 10:11:12 +0000",
        "Mon 07 May 2007 10:11:12 +0000",
        "Xyz, 07 May 2007 10:11:12 +0000",
        "Mar, 07 May 2007 10:11:12 +0000",
        " Mon, 07 May 2007 10:11:12 +0000",
        "Mon, 07 Mai 2007 10:11:12 +0000",
        "Mon, 07 May 07 10:11:12 +0000",
        "Mon, 007 May 2007 10:11:12 +0000",
        "Tue, 29 Feb 2000 23:59:59 +0000",
        "Thu, 29 Feb 2001 23:59:59 +0000",
        "Sun, 31 Apr 2007 00:00:00 +0000",
        "Sat, 31 Dec 2011 23:59:60 +0000",
        "Sat, 31 Dec 2011 23:59:61 +0000",
        "Sat, 31 Dec 2011 23:59:62 +0000",
        "Sat, 31 Dec 2011 24:00:00 +0000",
        "Sat, 31 Dec 2011 23:60:00 +0000",
        "Thu, 01 Jan 1970 00:00:00 +0000",
        "Thu, 01 Jan 1970 00:00:00 +0100",
        "Thu, 01 Jan 1970 00:00:01 +0000",
        "Wed, 31 Dec 1969 23:59:59 -0100",
        "Tue, 19 Jan 2038 03:14:07 +0000",
        "Fri, 31 Dec 2038 23:59:59 -2400",
        "Sat, 01 Jan 2039 00:00:00 +0000",
        "Mon, 00 May 2007 10:11:12 +0000",
        "",
        "garbage",
        "Mon,",
        "Mon, 07",
        "Mon, 07 May 2007 10:11:12 +",
        "Mon, 07 May 2007 10:11:12 \xC3\xA9",
    };
    // And many ordinary ones, in every month and zone.
    static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::mt19937 rng(17);
    auto r = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
    for (int i = 0; i < 3000; ++i) {
        char buf[100];
        char zone[8];
        switch (r(4)) {
            case 0:
                std::snprintf(zone, sizeof zone, "GMT");
                break;
            case 1:
                std::snprintf(zone, sizeof zone, "UT");
                break;
            default:
                std::snprintf(zone, sizeof zone, "%c%02u%02u", r(2) ? '+' : '-', r(15), r(4) * 15);
                break;
        }
        std::snprintf(buf, sizeof buf, "%s, %0*u %s %u %02u:%02u:%02u %s", kDays[r(7)],
                      r(2) ? 2 : 1, r(31) + 1, kMonths[r(12)], 1970 + r(70), r(24), r(60), r(60),
                      zone);
        dates.push_back(buf);
    }
    TArticleNo number = 0;
    for (const std::string& d : dates) {
        SCOPED_TRACE(d);
        ++number;
        const std::string line = std::to_string(number) + "\ts\tp\t" + d + "\t<id>";
        store.AddOverviewLine(Group, line.c_str());
        const int64_t t = ParseDate(d.c_str());
        const uint32_t want = t < 0 || t > UINT32_MAX ? 0 : static_cast<uint32_t>(t);
        ASSERT_NE(Lookup(Group, number), nullptr);
        EXPECT_EQ(Lookup(Group, number)->Date, want);
    }
}

// Texts are packed into large shared blocks: each must come back whole and
// distinct, including one larger than a block.
TEST_F(NewsStoreTest, InternedTextsStayWholeAcrossBlocks) {
    std::vector<std::string> texts;
    for (int i = 0; i < 3000; ++i)
        texts.push_back(std::to_string(i) + std::string(static_cast<size_t>(i % 97), 'a' + i % 26));
    texts.push_back(std::string(200000, 'h'));
    texts.push_back("");
    texts.push_back("after the big one");
    std::vector<const char*> stored;
    for (const std::string& t : texts) stored.push_back(store.Intern(t.c_str(), t.size()));
    for (size_t i = 0; i < texts.size(); ++i) {
        EXPECT_EQ(std::string(stored[i]), texts[i]) << i;
        EXPECT_EQ(store.Intern(texts[i].c_str()), stored[i]) << i;
    }
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
        std::vector<std::vector<TArticleNo>> want = c.Chains;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(SortedChains(c.Posts), want);
    }
}

// A poster's chain gives each multipart post's parts in part order, the
// part counter being the subject's last "(n/m)" or "[n/m]".
TEST_F(NewsStoreTest, PosterChainsKeepPostsInPartOrder) {
    struct TRow {
        TArticleNo Number;
        const char* Subject;
        uint32_t Date;
        const char* Poster = "al";
    };
    struct TCase {
        const char* Name;
        std::vector<TRow> Rows;
        std::vector<std::vector<TArticleNo>> Chains;
    };
    const std::vector<TCase> cases = {
        {"quoted name, equal dates: (8/419) before (10/419)",
         {{1, "\"big.iso\" yEnc (10/419)", 100},
          {2, "\"big.iso\" yEnc (8/419)", 100},
          {3, "\"big.iso\" yEnc (9/419)", 100}},
         {{2, 3, 1}}},
        {"file index of a set stays in the post's name",
         {{1, "[2/3] - \"b.rar\" yEnc (02/56)", 100},
          {2, "[1/3] - \"a.rar\" yEnc (02/56)", 100},
          {3, "[2/3] - \"b.rar\" yEnc (01/56)", 100},
          {4, "[1/3] - \"a.rar\" yEnc (01/56)", 100},
          {5, "[3/3] - \"c.rar\" yEnc (01/56)", 100}},
         {{4, 2, 3, 1, 5}}},
        {"bare name, numbers out of part order",
         {{7, "name.part01.rar (3/12)", 50},
          {8, "name.part01.rar (1/12)", 50},
          {9, "name.part01.rar (2/12)", 51}},
         {{8, 9, 7}}},
        {"reply prefix is part of the name",
         {{1, "Re: name (3/3)", 10},
          {2, "Re: name (1/3)", 10},
          {3, "name (2/3)", 10},
          {4, "Re: name (2/3)", 10}},
         {{2, 4, 1, 3}}},
        {"leading zeros do not make another post",
         {{1, "x (003/120)", 10}, {2, "x (2/120)", 10}, {3, "x (001/120)", 10}},
         {{3, 2, 1}}},
        {"another part total is another post",
         {{1, "x (2/3)", 10}, {2, "x (1/4)", 10}, {3, "x (1/3)", 10}, {4, "x (2/4)", 10}},
         {{3, 1, 2, 4}}},
        {"the last of two counters is the part",
         {{1, "set (1/2) - f (2/5)", 10},
          {2, "set (2/2) - f (1/5)", 20},
          {3, "set (1/2) - f (1/5)", 10}},
         {{3, 1, 2}}},
        {"square brackets count, mixed brackets do not",
         {{1, "k [2/2]", 10}, {2, "k [1/2]", 10}, {3, "k (2/2]", 10}, {4, "k (1/2]", 10}},
         {{4, 3, 2, 1}}},
        {"not counters: each is a post of its own in subject order",
         {{1, "a (2/)", 10}, {2, "a (/2)", 10}, {3, "a ( 1/2)", 10}, {4, "a (1 /2)", 10}},
         {{3, 2, 4, 1}}},
        {"a single post takes its date's place between others",
         {{1, "p (2/2)", 100},
          {2, "readme.nfo", 150},
          {3, "p (1/2)", 100},
          {4, "q (1/1)", 200},
          {5, "early.sfv", 50}},
         {{5, 3, 1, 2, 4}}},
        {"a post sits at its earliest part's date",
         {{1, "v (1/3)", 300}, {2, "w.nfo", 200}, {3, "v (3/3)", 100}, {4, "v (2/3)", 300}},
         {{1, 4, 3, 2}}},
        {"equal date and name: lowest number first",
         {{6, "z (1/1)", 10}, {2, "z.nfo", 10}, {4, "z (1/1)", 10}},
         {{4, 6, 2}}},
        {"two posters interleaved, equal dates",
         {{1, "a (2/2)", 10, "al"},
          {2, "b (2/2)", 10, "bo"},
          {3, "b (1/2)", 10, "bo"},
          {4, "a (1/2)", 10, "al"},
          {5, "a (1/2)", 10, "bo"}},
         {{4, 1}, {5, 3, 2}}},
        {"a missing part leaves a gap",
         {{1, "g (4/4)", 10}, {2, "g (2/4)", 10}, {3, "g (1/4)", 10}},
         {{3, 2, 1}}},
        {"a repost is a second post, matched by date then number",
         {{1, "r (1/3)", 100},
          {2, "r (2/3)", 100},
          {3, "r (3/3)", 101},
          {9, "r (2/3)", 500},
          {8, "r (1/3)", 500},
          {7, "r (3/3)", 500}},
         {{1, 2, 3, 8, 9, 7}}},
        {"a part posted twice: the earlier copy joins the first post",
         {{5, "r (1/3)", 100}, {6, "r (3/3)", 100}, {7, "r (2/3)", 100}, {4, "r (2/3)", 90}},
         {{5, 4, 6, 7}}},
        {"repost parts with equal dates go by number",
         {{3, "s (1/2)", 10}, {4, "s (1/2)", 10}, {1, "s (2/2)", 10}, {2, "s (2/2)", 10}},
         {{3, 1, 4, 2}}},
        {"subjects compare as unsigned bytes",
         {{1, "\xE9 (1/1)", 10}, {2, "e (1/1)", 10}, {3, "E (1/1)", 10}},
         {{3, 2, 1}}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Name);
        std::vector<std::vector<TArticleNo>> want = c.Chains;
        std::sort(want.begin(), want.end());
        EXPECT_EQ(SortedChains(c.Rows), want);
    }
}

// What tells the walk that an article is a later part of the same post.
TEST_F(NewsStoreTest, LaterPartOfPostNeedsPosterPostAndAHigherPart) {
    struct TCase {
        const char* First;
        const char* Next;
        const char* NextPoster;
        bool Later;
    } cases[] = {
        {"\"a.bin\" yEnc (1/12)", "\"a.bin\" yEnc (2/12)", "al", true},
        {"\"a.bin\" yEnc (1/12)", "\"a.bin\" yEnc (12/12)", "al", true},
        {"\"a.bin\" yEnc (01/12)", "\"a.bin\" yEnc (3/12)", "al", true},
        {"[1/3] - \"a.bin\" yEnc (1/5)", "[1/3] - \"a.bin\" yEnc (2/5)", "al", true},
        {"\"a.bin\" yEnc (2/12)", "\"a.bin\" yEnc (2/12)", "al", false},  // a repost
        {"\"a.bin\" yEnc (5/12)", "\"a.bin\" yEnc (1/12)", "al", false},
        {"\"a.bin\" yEnc (1/12)", "\"a.bin\" yEnc (2/13)", "al", false},
        {"\"a.bin\" yEnc (1/12)", "\"b.bin\" yEnc (2/12)", "al", false},
        {"[1/3] - \"a.bin\" yEnc (1/5)", "[2/3] - \"b.bin\" yEnc (2/5)", "al", false},
        {"\"a.bin\" yEnc (1/12)", "\"a.bin\" yEnc (2/12)", "bo", false},
        {"a.bin", "a.bin", "al", false},
    };
    TNewsStore s;
    TNewsGroup* g = s.AddGroup("g");
    TArticleNo number = 0;
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.First) + " then " + c.Next);
        THeader* a = s.FindOrAddHeader(g, ++number);
        THeader* b = s.FindOrAddHeader(g, ++number);
        ASSERT_TRUE(a && b);
        a->Subject = s.Intern(c.First);
        a->Poster = s.Intern("al");
        b->Subject = s.Intern(c.Next);
        b->Poster = s.Intern(c.NextPoster);
        EXPECT_EQ(TNewsStore::LaterPartOfPost(a, b), c.Later);
    }
    EXPECT_FALSE(TNewsStore::LaterPartOfPost(nullptr, nullptr));
}

// Which article continues a post's file, which copies of a part are no new
// articles, and what a broken post's log line says of it: one poster's
// posts with copies of parts and a gap, posted at one time (the copies of
// a part go to a run of their own after the post), sorted as the walk sees
// them.
TEST_F(NewsStoreTest, NextPartCopiesAndGapsOfAPost) {
    struct TRow {
        TArticleNo Number;
        const char* Subject;
        uint32_t Date;
    };
    const TRow rows[] = {
        {1, "f (1/3)", 10}, {2, "f (2/3)", 10}, {3, "f (2/3)", 10}, {4, "f (3/3)", 10},
        {5, "g (2/4)", 10}, {6, "g (4/4)", 10}, {7, "talk", 10},   {8, "g (2/4)", 10},
    };
    for (const TRow& r : rows) {
        THeader* h = store.FindOrAddHeader(Group, r.Number);
        ASSERT_NE(h, nullptr);
        h->Subject = store.Intern(r.Subject);
        h->Poster = store.Intern("al");
        h->Date = r.Date;
    }
    store.SortHeaders(Group);
    auto at = [&](TArticleNo n) { return Lookup(Group, n); };
    auto number = [](const THeader* h) { return h ? h->Number : 0; };

    // The next part, whichever copy of this one is asked from.
    EXPECT_EQ(number(TNewsStore::NextPartOfPost(at(1))), 2);
    EXPECT_EQ(number(TNewsStore::NextPartOfPost(at(2))), 4);
    EXPECT_EQ(number(TNewsStore::NextPartOfPost(at(3))), 4);
    EXPECT_EQ(TNewsStore::NextPartOfPost(at(4)), nullptr);  // the last part
    EXPECT_EQ(TNewsStore::NextPartOfPost(at(5)), nullptr);  // part 3 is not there
    EXPECT_EQ(TNewsStore::NextPartOfPost(at(7)), nullptr);  // no counter
    // A copy still to be dealt with is preferred to one already handled.
    at(2)->Flags |= HEADER_HANDLED;
    EXPECT_EQ(number(TNewsStore::NextPartOfPost(at(1))), 3);
    at(3)->Flags |= HEADER_HANDLED;
    EXPECT_EQ(number(TNewsStore::NextPartOfPost(at(1))), 2);

    // Copies of a handled part, in the same run or a later one.
    EXPECT_TRUE(TNewsStore::RepeatsHandledPart(at(3)));
    EXPECT_FALSE(TNewsStore::RepeatsHandledPart(at(4)));
    EXPECT_FALSE(TNewsStore::RepeatsHandledPart(at(8)));
    at(5)->Flags |= HEADER_HANDLED;
    EXPECT_TRUE(TNewsStore::RepeatsHandledPart(at(8)));
    EXPECT_FALSE(TNewsStore::RepeatsHandledPart(at(7)));

    EXPECT_EQ(TNewsStore::DescribePost(at(8)), "parts 2, 4 of 4, missing 1, 3");
    EXPECT_EQ(TNewsStore::DescribePost(at(4)), "parts 1-3 of 3 on the server");
    EXPECT_EQ(TNewsStore::DescribePost(at(7)), "");
    EXPECT_TRUE(TNewsStore::SamePost(at(5), at(8)));
    EXPECT_FALSE(TNewsStore::SamePost(at(1), at(5)));
    EXPECT_FALSE(TNewsStore::SamePost(at(7), at(7)));
}

// The order is a function of the headers alone: loading them in another
// order, into other buckets, gives the same chains.
TEST_F(NewsStoreTest, PosterChainsDoNotDependOnLoadOrder) {
    std::vector<std::string> lines;
    std::mt19937 rng(11);
    auto r = [&rng](unsigned n) { return static_cast<unsigned>(rng() % n); };
    for (int i = 1; i <= 600; ++i) {
        char buf[200];
        std::snprintf(buf, sizeof buf, "%d\tf%u (%u/%u)\tp%u\tMon, 07 May 2007 10:00:%02u GMT", i,
                      r(7), r(9) + 1, r(2) + 8, r(3), r(3));
        lines.push_back(buf);
    }
    std::vector<std::vector<TArticleNo>> first;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        TNewsStore s;
        TNewsGroup* g = s.AddGroup("g");
        for (const std::string& l : lines) s.AddOverviewLine(g, l.c_str());
        s.SortHeaders(g);
        std::vector<std::vector<TArticleNo>> chains = PosterChains(g);
        size_t linked = 0;
        for (const auto& ch : chains) linked += ch.size();
        EXPECT_EQ(linked, lines.size());
        EXPECT_EQ(chains.size(), 3u);
        if (round == 0)
            first = chains;
        else
            EXPECT_EQ(chains, first);
        std::shuffle(lines.begin(), lines.end(), rng);
    }
}

// A binaries group at full size: 1,000 posts of 32 parts by several
// posters, many within one second, article numbers shuffled.
TEST_F(NewsStoreTest, PosterChainsAtScaleGiveEveryPostInPartOrder) {
    constexpr int kPosts = 1000, kParts = 32, kPosters = 7;
    struct TPart {
        int Post, Part;
    };
    std::vector<TPart> parts;
    for (int post = 0; post < kPosts; ++post)
        for (int part = 1; part <= kParts; ++part) parts.push_back({post, part});
    std::mt19937 rng(5);
    std::shuffle(parts.begin(), parts.end(), rng);
    std::vector<uint32_t> postDate(kPosts);
    for (uint32_t& d : postDate) d = 1178532672 + rng() % 20;  // few distinct dates
    std::vector<int> posterOf(kPosts);
    for (int& p : posterOf) p = static_cast<int>(rng() % kPosters);

    std::vector<std::pair<int, int>> postOf;  // by number - 1
    for (size_t i = 0; i < parts.size(); ++i) {
        const TPart& p = parts[i];
        const TArticleNo number = static_cast<TArticleNo>(i) + 1;
        THeader* h = store.FindOrAddHeader(Group, number);
        ASSERT_NE(h, nullptr);
        char subject[100];
        // Half the posts write "(7/32)", where subject bytes would put
        // part 10 before part 7.
        std::snprintf(subject, sizeof subject, "[%d/50] - \"file%04d.rar\" yEnc (%0*d/%d)",
                      p.Post % 50 + 1, p.Post, p.Post % 2 ? 2 : 1, p.Part, kParts);
        char poster[32];
        std::snprintf(poster, sizeof poster, "poster%d <p@x>", posterOf[p.Post]);
        h->Subject = store.Intern(subject);
        h->Poster = store.Intern(poster);
        h->Date = postDate[p.Post];
        postOf.push_back({p.Post, p.Part});
    }
    store.SortHeaders(Group);

    auto post = [&](const THeader* h) { return postOf[static_cast<size_t>(h->Number - 1)]; };
    std::vector<int> seen(kPosts, 0);
    int heads = 0;
    size_t linked = 0;
    for (THeader* h = Group->SortedHead; h; h = h->NumberNext) {
        if (h->PosterPrev) {
            ASSERT_EQ(h->PosterPrev->PosterNext, h);
            continue;
        }
        ++heads;
        // Walk one poster's chain: whole posts, each parts 1..32 in a row,
        // in order of date and then name.
        std::pair<uint32_t, std::string> last{0, ""};
        for (THeader* p = h; p;) {
            const int postNo = post(p).first;
            ASSERT_EQ(post(p).second, 1) << "post " << postNo << " does not start at part 1";
            std::pair<uint32_t, std::string> key{p->Date, p->Subject};
            EXPECT_LT(last, key);
            last = key;
            for (int part = 1; part <= kParts; ++part, p = p->PosterNext) {
                ASSERT_NE(p, nullptr);
                ASSERT_EQ(post(p), std::make_pair(postNo, part));
                ASSERT_EQ(p->Poster, h->Poster);
                if (p->PosterNext) {
                    ASSERT_EQ(p->PosterNext->PosterPrev, p);
                }
                ++linked;
            }
            ++seen[static_cast<size_t>(postNo)];
        }
    }
    EXPECT_EQ(heads, kPosters);
    EXPECT_EQ(linked, parts.size());
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [](int n) { return n == 1; }));
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
