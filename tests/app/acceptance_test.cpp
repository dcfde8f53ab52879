// The acceptance checks as the client runs them on a loaded header: the
// order of the chain and its tags, where each reject line goes, and the
// small rules (suspicious names, the Xref scan, the reject line's format).
// The checks that run while an article arrives are in news_test.cpp,
// against the scripted server.
#include "app/acceptance.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/news.h"
#include "app/statuslog.h"
#include "dupe/dupetable.h"
#include "library/profile.h"
#include "nntp/crosspost.h"
#include "plugin/plugins.h"
#include "select/filemask.h"
#include "select/lockout.h"
#include "support/recording_view.h"
#include "support/tempdir.h"

namespace zorvex {
namespace {

using Lines = std::vector<std::string>;

// Vetoes every header whose subject holds "veto"; counts what it was asked.
class TVetoingPlugIn final : public TNoPlugInsLoaded {
  public:
    int Asked = 0;
    bool HeaderVetoed(const THeader& header) override {
        ++Asked;
        return std::string(header.Subject).find("veto") != std::string::npos;
    }
};

struct THeaderFields {
    const char* From = "poster@example.com";
    const char* Subject = "holiday.jpg (1/1)";
    const char* Xref = "null";
    const char* Host = "null";
    int32_t Lines = 100;
    uint32_t Flags = 0;
};

class HeaderChainTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(Store.AddGroup("a.b"), nullptr);
        ASSERT_NE(Store.AddGroup("other.group"), nullptr);
        Settings.LoadSettings();
        Log = std::make_unique<TStatusLog>(View, Settings.Settings(), Home.Path(), Diagnostics);
        News =
            std::make_unique<TNews>(Settings, *Log, View, TNoPlugInsNoPreview::Instance(), Store);
        NewDupeTables();
        // Offline the group command cannot be sent; the group is current all
        // the same, which is all the checks read.
        News->SelectGroup(0);
        ASSERT_EQ(News->CurrentGroup(), Store.GetGroup(0));
    }

    // Empty tables, which the checks use from now on.
    void NewDupeTables() {
        Dupes = std::make_unique<TDupeTables>();
        TSelection lists;
        lists.Lockouts = &Lockouts;
        lists.Masks = &Masks;
        lists.Dupes = Dupes.get();
        lists.Tally = &Tally;
        lists.PlugIns = &PlugIn;
        News->SetSelection(lists);
    }
    THeader Header(const THeaderFields& f) {
        THeader h{};
        h.Subject = Store.Intern(f.Subject);
        h.Poster = Store.Intern(f.From);
        h.CrossPosts = Store.Intern(f.Xref);
        h.PostingHost = Store.Intern(f.Host);
        h.Number = 42;
        h.Lines = f.Lines;
        h.Flags = f.Flags;
        return h;
    }
    // The reject lines, "log: ..." for the log list and "status: ..." for
    // the status line only.
    Lines Rejects() const {
        Lines out;
        for (const std::string& l : View.Logged) out.push_back("log: " + l);
        for (const std::string& l : View.Status)
            if (!l.empty() && l[0] == '[') out.push_back("status: " + l);
        return out;
    }

    test::TTempDir Home;
    TSettingsStore Settings{Home.File("vantrel.ini"), TNoOtherSettingsKept::Instance()};
    test::TRecordingView View;
    TDiagnosticLog Diagnostics{Home.File("diagnost.log")};
    std::unique_ptr<TStatusLog> Log;
    TNewsStore Store;
    TLockoutLists Lockouts{Store};
    TFileMasks Masks;
    std::unique_ptr<TDupeTables> Dupes;
    TCrossPostTally Tally;
    TVetoingPlugIn PlugIn;
    std::unique_ptr<TNews> News;
};

struct TChainCase {
    const char* Name;
    const char* LockoutText;              // lockout.lst
    std::function<void(TSettings&)> Set;  // settings besides the defaults
    THeaderFields Fields;
    const char* SeenSubject;  // in the subject table before the header comes
    const char* SeenFile;     // in the file table before the header comes
    Lines Expected;           // every reject line; none: accepted
};

const std::string kTail = "from=poster@example.com, subj=";

TEST_F(HeaderChainTest, EachStepHasItsTagAndTheFirstHitEndsTheChain) {
    auto none = [](TSettings&) {};
    const std::vector<TChainCase> cases = {
        {"nothing listed: accepted", "", none, {}, nullptr, nullptr, {}},
        {"keywords: neither from nor subject",
         "KEYWORDS a.b 0 cats\n",
         none,
         {},
         nullptr,
         nullptr,
         {"log: [No KeyWords] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"keywords: the subject passes",
         "KEYWORDS All-Groups 0 holiday\n",
         none,
         {},
         nullptr,
         nullptr,
         {}},
        {"keywords: the poster passes", "KEYWORDS a.b 0 poster@\n", none, {}, nullptr, nullptr, {}},
        // The poster step wins over the subject step behind it.
        {"poster",
         "POSTER All-Groups 0 poster@example\nSUBJECT All-Groups 0 holiday\n",
         none,
         {},
         nullptr,
         nullptr,
         {"log: [LOCKOUT FROM] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"subject, from the group's list",
         "SUBJECT a.b 0 holiday\nANY All-Groups 0 holiday\n",
         none,
         {},
         nullptr,
         nullptr,
         {"log: [LOCKOUT SUBJECT] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"another group's list does not count",
         "SUBJECT other.group 0 holiday\n",
         none,
         {},
         nullptr,
         nullptr,
         {}},
        {"any, on the subject",
         "ANY All-Groups 0 holiday\n",
         none,
         {},
         nullptr,
         nullptr,
         {"log: [LOCKOUT ANY] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"any, on the cross-posts",
         "ANY All-Groups 0 bad.group\n",
         none,
         {.Xref = "a.b: bad.group: "},
         nullptr,
         nullptr,
         {"log: [LOCKOUT ANY] 42: a.b: bad.group: , " + kTail + "holiday.jpg (1/1)"}},
        {"xref",
         "XREF All-Groups 1 bad.group\nHOST All-Groups 0 evil\n",
         none,
         {.Xref = "a.b: bad.group: c.d: ", .Host = "evil.host"},
         nullptr,
         nullptr,
         {"log: [LOCKOUT XREF] 42: bad.group, " + kTail + "holiday.jpg (1/1)"}},
        {"too many groups",
         "",
         [](TSettings& s) { s.MaxXref = 2; },
         {.Xref = "a.b: c.d: e.f: "},
         nullptr,
         nullptr,
         {"log: [TOO MANY XREF] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"maxxref 0 lets any number through",
         "",
         [](TSettings& s) { s.MaxXref = 0; },
         {.Xref = "a.b: c.d: e.f: "},
         nullptr,
         nullptr,
         {}},
        {"posting host",
         "HOST All-Groups 0 evil\n",
         none,
         {.Host = "evil.host"},
         nullptr,
         nullptr,
         {"log: [LOCKOUT HOST] 42: evil.host, " + kTail + "holiday.jpg (1/1)"}},
        {"duplicate subject",
         "",
         [](TSettings& s) { s.DupeEnabled = 1; },
         {},
         "holiday.jpg (1/1)",
         nullptr,
         {"log: [DUPE SUBJ] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"duplicate subject to the status line",
         "",
         [](TSettings& s) {
             s.DupeEnabled = 1;
             s.LogDupeSubject = 0;
         },
         {},
         "holiday.jpg (1/1)",
         nullptr,
         {"status: [DUPE SUBJ] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"duplicate subject, checker off: nothing", "", none, {}, "holiday.jpg (1/1)", nullptr, {}},
        {"duplicate file named in the subject",
         "",
         [](TSettings& s) { s.DupeFileEnabled = 1; },
         {.Subject = "party - Beach.JPG (1/3)"},
         nullptr,
         "beach.jpg",
         {"log: [DUPE FILE] 42: beach.jpg, " + kTail + "party - Beach.JPG (1/3)"}},
        {"file in subject switched off",
         "",
         [](TSettings& s) {
             s.DupeFileEnabled = 1;
             s.DupeFileInSubject = 0;
         },
         {.Subject = "party - Beach.JPG (1/3)"},
         nullptr,
         "beach.jpg",
         {}},
        {"no mask in the subject",
         "",
         [](TSettings& s) { s.FileMaskRequireSubject = 1; },
         {.Subject = "holiday.zip"},
         nullptr,
         nullptr,
         {"log: [NO MASK in SUBJ] 42: " + kTail + "holiday.zip"}},
        {"plug-in veto",
         "",
         none,
         {.Subject = "veto me.jpg"},
         nullptr,
         nullptr,
         {"log: [PLUGIN REJECT] 42: " + kTail + "veto me.jpg"}},
        // The line-count tests run after a mark.
        {"marked, then too small",
         "",
         [](TSettings& s) { s.MinLines = 10; },
         {.Lines = 5, .Flags = HEADER_MARKED_REJECT},
         nullptr,
         nullptr,
         {"log: [REJECTED] 42: " + kTail + "holiday.jpg (1/1)",
          "status: [TOOSMALL] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"too long, logged",
         "",
         [](TSettings& s) { s.LogTooBig = 1; },
         {.Lines = 16385},
         nullptr,
         nullptr,
         {"log: [TOOLONG] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"maxlines is the setting's",
         "",
         [](TSettings& s) { s.MaxLines = 50000; },
         {.Lines = 20000},
         nullptr,
         nullptr,
         {}},
        {"unknown line count is never too small",
         "",
         [](TSettings& s) { s.MinLines = 10; },
         {.Lines = 0},
         nullptr,
         nullptr,
         {}},
    };
    for (const TChainCase& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Logged.clear();
        View.Status.clear();
        Lockouts.LoadFromText(c.LockoutText);
        Settings.LoadSettings();
        for (const std::string& mask : Masks.FileMasks()) Masks.DeleteFileMask(mask);
        ASSERT_TRUE(Masks.AddFileMask("*.jpg"));
        c.Set(Settings.Settings());
        NewDupeTables();
        THeader h = Header(c.Fields);
        if (c.SeenSubject) {
            THeader seen = h;
            seen.Subject = Store.Intern(c.SeenSubject);
            Dupes->AddSubject(seen);
        }
        if (c.SeenFile) Dupes->AddFile(c.SeenFile, h);
        const bool rejected = News->CheckHeader(&h);
        EXPECT_EQ(rejected, !c.Expected.empty());
        EXPECT_EQ(h.Flags & (HEADER_HANDLED | HEADER_REQUESTED),
                  c.Expected.empty() ? 0u : HEADER_HANDLED | HEADER_REQUESTED);
        EXPECT_EQ(Rejects(), c.Expected);
    }
}

// A rejected header is final: asked again, it is not tested or reported
// again; an accepted one is tested every time.
TEST_F(HeaderChainTest, ARejectedHeaderIsNotTestedAgain) {
    Lockouts.LoadFromText("POSTER All-Groups 0 poster@\n");
    THeader h = Header({});
    EXPECT_TRUE(News->CheckHeader(&h));
    EXPECT_TRUE(News->CheckHeader(&h));
    EXPECT_EQ(View.Logged.size(), 1u);
    EXPECT_EQ(PlugIn.Asked, 0);
    THeader other = Header({.From = "friend@example.com"});
    EXPECT_FALSE(News->CheckHeader(&other));
    EXPECT_FALSE(News->CheckHeader(&other));
    EXPECT_EQ(PlugIn.Asked, 2);
}

// The subject lookup renews a matching entry even with the checker off, so
// that what is still being posted does not age out of the table.
TEST_F(HeaderChainTest, SubjectLookupKeepsTheEntryYoungWithTheCheckerOff) {
    Dupes->Subjects().Configure(8, DUPE_MATCH_FROM | DUPE_MATCH_LINES);
    THeader h = Header({});
    THeader forgotten = Header({.Subject = "never asked about again"});
    Dupes->AddSubject(h);
    Dupes->AddSubject(forgotten);
    for (int i = 0; i < 20; ++i) {
        const std::string subject = "filler " + std::to_string(i);
        THeader filler = Header({.Subject = subject.c_str()});
        Dupes->AddSubject(filler);
        EXPECT_FALSE(News->CheckHeader(&h));
    }
    EXPECT_TRUE(Dupes->LookupSubject(h, false));
    EXPECT_FALSE(Dupes->LookupSubject(forgotten, false));
}

struct TArticleCase {
    const char* Name;
    const char* LockoutText;
    std::function<void(TSettings&)> Set;
    const char* HeaderLine;  // tested as a header line of the article, when given
    const char* FileName;    // else announced as a file of it
    bool Refused;            // the article's files, or this file, are refused
    Lines Expected;
};

// While the article arrives: each header line and each file name, with its
// tag; the first hit on a file name decides, and a line that hits ANY is
// not reported again for XREF, HOST or ORGANIZATION.
TEST_F(HeaderChainTest, ArticleLinesAndFileNamesHaveTheirTags) {
    auto none = [](TSettings&) {};
    const std::string tail = ", " + kTail + "holiday.jpg (1/1)";
    const std::vector<TArticleCase> cases = {
        {"plain line",
         "ORGANIZATION All-Groups 0 evil\n",
         none,
         "Organization: Good Corp",
         nullptr,
         false,
         {}},
        {"organization",
         "ORGANIZATION All-Groups 0 evil\n",
         none,
         "ORGANIZATION: Evil Corp",
         nullptr,
         true,
         {"log: [LOCKOUT ORG] 42: Evil Corp" + tail}},
        {"posting host",
         "HOST a.b 0 evil\n",
         none,
         "nntp-posting-host: evil.example",
         nullptr,
         true,
         {"log: [LOCKOUT HOST] 42: evil.example" + tail}},
        {"xref group",
         "XREF All-Groups 1 bad.group\n",
         none,
         "Xref: news.example a.b:42 bad.group:7",
         nullptr,
         true,
         {"log: [LOCKOUT XREF] 42: bad.group" + tail}},
        // The server's name leads the value and is no group.
        {"xref server name",
         "XREF All-Groups 1 news.example\n",
         none,
         "Xref: news.example a.b:42",
         nullptr,
         false,
         {}},
        {"xref is case sensitive",
         "XREF All-Groups 1 bad.group\n",
         none,
         "XREF: news.example bad.group:7",
         nullptr,
         false,
         {}},
        {"too many groups",
         "",
         [](TSettings& s) { s.MaxXref = 1; },
         "Xref: news.example a.b:42 c.d:7",
         nullptr,
         true,
         {"log: [TOO MANY XREF] 42: " + kTail + "holiday.jpg (1/1)"}},
        {"any on the whole line, once",
         "ANY All-Groups 0 bad.group\nXREF All-Groups 1 bad.group\n",
         none,
         "Xref: news.example bad.group:7",
         nullptr,
         true,
         {"log: [LOCKOUT ANY] 42: Xref: news.example bad.group:7" + tail}},
        {"file passes", "", none, nullptr, "holiday.jpg", false, {}},
        {"no mask before the lockout",
         "FILE All-Groups 0 holiday\n",
         none,
         nullptr,
         "holiday.zip",
         true,
         {"log: [NO MASK] 42: holiday.zip" + tail}},
        {"suspicious",
         "",
         none,
         nullptr,
         "holiday.zip.exe.jpg.exe",
         true,
         {"log: [SUSPICIOUS FILENAME] 42: holiday.zip.exe.jpg.exe" + tail}},
        {"suspicious switched off",
         "",
         [](TSettings& s) { s.RejectSuspicious = 0; },
         nullptr,
         "holiday.exe.jpg",
         false,
         {}},
        {"file lockout",
         "FILE All-Groups 0 holiday\n",
         none,
         nullptr,
         "holiday.jpg",
         true,
         {"log: [LOCKOUT FILE] 42: holiday.jpg" + tail}},
    };
    for (const TArticleCase& c : cases) {
        SCOPED_TRACE(c.Name);
        View.Logged.clear();
        View.Status.clear();
        Lockouts.LoadFromText(c.LockoutText);
        Settings.LoadSettings();
        c.Set(Settings.Settings());
        for (const std::string& mask : Masks.FileMasks()) Masks.DeleteFileMask(mask);
        ASSERT_TRUE(Masks.AddFileMask("*.jpg"));
        ASSERT_TRUE(Masks.AddFileMask("*.exe"));
        TAcceptanceChecks& checks = News->Checks();
        checks.SetOptions(AcceptanceOptionsFrom(Settings.Settings()));
        THeader h = Header({});
        checks.ArticleReady(&h, "<42@test>");
        const bool refused = c.HeaderLine ? checks.ArticleHeaderLine(&h, c.HeaderLine)
                                          : !checks.FileAccepted(&h, c.FileName);
        EXPECT_EQ(refused, c.Refused);
        EXPECT_EQ(Rejects(), c.Expected);
        // Reports while an article arrives leave the header as it was.
        EXPECT_EQ(h.Flags, 0u);
    }
}

// A file already received is a duplicate by its name (any case), and the
// header is marked so that it is never offered again.
TEST_F(HeaderChainTest, DuplicateFileMarksTheArticleAskedFor) {
    Settings.Settings().DupeFileEnabled = 1;
    ASSERT_TRUE(Masks.AddFileMask("*.jpg"));
    TAcceptanceChecks& checks = News->Checks();
    checks.SetOptions(AcceptanceOptionsFrom(Settings.Settings()));
    THeader h = Header({});
    Dupes->AddFile("Holiday.JPG", Header({.From = "someone@else"}));
    checks.ArticleRequested(h);
    checks.ArticleReady(&h, "<42@test>");
    EXPECT_FALSE(checks.FileAccepted(&h, "holiday.jpg"));
    EXPECT_EQ(Rejects(),
              (Lines{"log: [DUPE FILE] 42: holiday.jpg, " + kTail + "holiday.jpg (1/1)"}));
    EXPECT_EQ(h.Flags, HEADER_HANDLED | HEADER_REQUESTED);
    EXPECT_TRUE(checks.FileAccepted(&h, "other.jpg"));
    // A received file goes into the table.
    checks.FileReceived(&h, "other.jpg");
    EXPECT_TRUE(Dupes->LookupFile("OTHER.jpg", h, false));
}

// The groups of each fetched article's Xref line are counted for the
// similar-groups list; the header phase counts nothing.
TEST_F(HeaderChainTest, XrefLinesOfFetchedArticlesAreCounted) {
    THeader h = Header({.Xref = "a.b: c.d: "});
    EXPECT_FALSE(News->CheckHeader(&h));
    EXPECT_EQ(Tally.CountOf("c.d"), 0);
    News->Checks().ArticleHeaderLine(&h, "Xref: news.example a.b:42 c.d:7 e.f:9");
    News->Checks().ArticleHeaderLine(&h, "Xref: news.example c.d:8");
    EXPECT_EQ(Tally.CountOf("c.d"), 2);
    EXPECT_EQ(Tally.CountOf("e.f"), 1);
    EXPECT_EQ(Tally.CountOf("news.example"), 0);
}

TEST(RejectText, FormatsAndCuts) {
    const std::string long80(80, 'f');
    const std::string long300(300, 's');
    struct Case {
        const char* Name;
        std::string From, Subject, Extra, Expected;
    } const cases[] = {
        {"plain", "p", "s", "", "[T] 7: from=p, subj=s"},
        {"extra before from", "p", "s", "x.jpg", "[T] 7: x.jpg, from=p, subj=s"},
        {"fields cut to 79", long80, "s", long80,
         "[T] 7: " + long80.substr(0, 79) + ", from=" + long80.substr(0, 79) + ", subj=s"},
        // 79-character fields cannot reach 250; the cut guards longer tags.
        {"line within 250", "p", long300, "", "[T] 7: from=p, subj=" + long300.substr(0, 79)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(TAcceptanceChecks::RejectText("[T]", 7, c.From, c.Subject, c.Extra), c.Expected);
    }
    const std::string tag(300, 'T');
    EXPECT_EQ(TAcceptanceChecks::RejectText(tag, 7, "p", "s", "").size(), REJECT_LINE_MAX);
}

TEST(SuspiciousName, ExtensionsAndBlanksBetweenTheDots) {
    struct Case {
        std::string Name;
        bool Suspicious;
    } const cases[] = {
        {"picture.jpg", false},
        {"picture.jpg.exe", true},
        {"picture.jpg.EXE", true},
        {"a.b.scr", true},
        {"notes.txt.vbs", true},
        {"virus.exe", false},  // one dot: first and last are the same
        {"noext", false},
        {"a.b" + std::string(33, ' ') + ".jpg", true},
        {"a.b" + std::string(32, ' ') + ".jpg", false},
        {"one" + std::string(40, ' ') + ".jpg", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(TAcceptanceChecks::SuspiciousName(c.Name), c.Suspicious);
    }
}

}  // namespace
}  // namespace zorvex
