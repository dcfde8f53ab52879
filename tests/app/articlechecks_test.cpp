// The checks that run while an article arrives (its header lines, the
// names of its files, a body without data) and the cut that skips the rest
// of an unwanted article, against the scripted server; the dupe tables
// across runs and the autoscan at the start.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "app/acceptance.h"
#include "decode/placement.h"
#include "library/fileio.h"
#include "nntp/crosspost.h"
#include "support/encoders.h"
#include "support/news_fixture.h"
#include "support/news_posts.h"

namespace zorvex::test {
namespace {

using Lines = std::vector<std::string>;

class ArticleChecksTest : public NewsControlTest {
  protected:
    // Posts 1 and 3 are small files of their own; post 2 is given.
    std::vector<TPost> AroundSecond(const TPost& second) {
        return {{"p1", Name(1), "", YencBody(Name(1), Data[0])},
                second,
                {"p3", Name(3), "", YencBody(Name(3), Data[2])}};
    }
    // About 1,600 lines of yEnc.
    TPost Big(const std::string& name, const std::string& headers = "") {
        return {"p2", name, headers, YencBody(name, Noise(200000, 9))};
    }
    TPost Small(const std::string& name, const std::string& headers = "") {
        return {"p2", name, headers, YencBody(name, Noise(2000, 9))};
    }
    void WriteHomeFile(const char* name, const std::string& text) {
        ASSERT_TRUE(ReplaceFileAtomically(Home.File(name), text, nullptr));
    }
    bool Exists(const std::string& name) {
        return FileBytes(Home.File("dl/") + name) != "<missing>";
    }
    int LoggedCount(const std::string& line) {
        return static_cast<int>(std::count(View.Logged.begin(), View.Logged.end(), line));
    }
    Lines ArticlesAsked() {
        Lines asked;
        for (const std::string& command : Server.Received())
            if (command.rfind("article ", 0) == 0) asked.push_back(command);
        return asked;
    }
};

// The Organization line of a large article locks it out: the connection is
// dropped under it and opened again, the article is not asked for again,
// and the walk goes on with the next one. The Xref line of the article
// before it was counted into the similar-groups tally.
TEST_F(ArticleChecksTest, LockedOutArticleIsCutShortAndTheWalkGoesOn) {
    WriteHomeFile("lockout.lst", "ORGANIZATION All-Groups 0 evil\n");
    std::vector<TPost> posts = AroundSecond(Big("big.bin", "Organization: Evil Corp\n"));
    posts[0].Headers = "Xref: news.example a.b:1 c.d:7\n";
    Server.ServeSessions(Sessions(posts, {{1, 2}, {3}}));
    WriteIni("");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(LoggedCount("[LOCKOUT ORG] 2: Evil Corp, from=p2, subj=big.bin"), 1);
    EXPECT_EQ(Server.Accepted(), 2);
    EXPECT_EQ(ArticlesAsked(), (Lines{"article 1", "article 2", "article 3"}));
    EXPECT_FALSE(View.Has("Article #2 was cut off; it will be asked for again"));
    EXPECT_TRUE(Whole(1));
    EXPECT_TRUE(Whole(3));
    EXPECT_FALSE(Exists("big.bin"));
    EXPECT_EQ(GroupListValue("0"), "a.b 1 3");
    TCrossPostTally* tally = App->News().Checks().Selection().Tally;
    ASSERT_NE(tally, nullptr);
    EXPECT_EQ(tally->CountOf("c.d"), 1);
    EXPECT_EQ(tally->CountOf("news.example"), 0);
}

struct TNoCutCase {
    const char* Name;
    bool Big;
    const char* Ini;
    const char* Misc = "";
};

class NoCutTest : public ArticleChecksTest, public ::testing::WithParamInterface<TNoCutCase> {};

// Without the cut the article is read to its end, but its file is still
// not written: a locked-out article leaves nothing behind.
TEST_P(NoCutTest, ArticleIsReadToTheEndAndItsFileIsNotWritten) {
    const TNoCutCase& c = GetParam();
    WriteHomeFile("lockout.lst", "ORGANIZATION All-Groups 0 evil\n");
    const std::string org = "Organization: Evil Corp\n";
    std::vector<TPost> posts = AroundSecond(c.Big ? Big("two.bin", org) : Small("two.bin", org));
    Server.ServeSessions(Sessions(posts, {{1, 2, 3}}));
    MiscKeys = c.Misc;
    WriteIni(c.Ini);
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(LoggedCount("[LOCKOUT ORG] 2: Evil Corp, from=p2, subj=two.bin"), 1);
    EXPECT_EQ(Server.Accepted(), 1);
    EXPECT_TRUE(View.Has("A file of rejected article #2 is not written"));
    EXPECT_FALSE(Exists("two.bin"));
    EXPECT_TRUE(Whole(1));
    EXPECT_TRUE(Whole(3));
}

INSTANTIATE_TEST_SUITE_P(Cases, NoCutTest,
                         ::testing::Values(TNoCutCase{"FewLinesLeft", false, ""},
                                           TNoCutCase{"CutSwitchedOff", true,
                                                      "[disconnect]\nlockout_org=0\n"},
                                           TNoCutCase{"NoCutsLeft", true, "", "maxdisc=0\n"}),
                         [](const auto& info) { return std::string(info.param.Name); });

// [misc] maxdisc bounds the cuts in a row: the fourth locked-out article
// in a row is read to its end, and the count starts over after it.
TEST_F(ArticleChecksTest, MaxDiscBoundsTheCutsInARow) {
    WriteHomeFile("lockout.lst", "ORGANIZATION All-Groups 0 evil\n");
    std::vector<TPost> posts;
    for (int i = 1; i <= 4; ++i)
        posts.push_back({"p" + std::to_string(i), "big" + std::to_string(i) + ".bin",
                         "Organization: Evil Corp\n",
                         YencBody("big" + std::to_string(i) + ".bin", Noise(200000, i))});
    posts.push_back({"p5", Name(3), "", YencBody(Name(3), Data[2])});
    Server.ServeSessions(Sessions(posts, {{1}, {2}, {3}, {4, 5}}));
    MiscKeys = "maxdisc=3\n";
    WriteIni("");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(Server.Accepted(), 4);
    for (int i = 1; i <= 4; ++i) {
        EXPECT_EQ(LoggedCount("[LOCKOUT ORG] " + std::to_string(i) + ": Evil Corp, from=p" +
                              std::to_string(i) + ", subj=big" + std::to_string(i) + ".bin"),
                  1);
        EXPECT_FALSE(Exists("big" + std::to_string(i) + ".bin"));
    }
    EXPECT_EQ(ArticlesAsked(),
              (Lines{"article 1", "article 2", "article 3", "article 4", "article 5"}));
    EXPECT_TRUE(Whole(3));
    EXPECT_EQ(App->News().CutCount(), 0);
}

struct TFileCheckCase {
    const char* Name;
    const char* Ini;
    const char* Lockouts;
    const char* DupeFiles;
    const char* FileName;
    const char* Expected;
};

class FileCheckTest : public ArticleChecksTest,
                      public ::testing::WithParamInterface<TFileCheckCase> {};

// A file whose name the checks refuse is not written, and a large article
// is cut short at its begin line.
TEST_P(FileCheckTest, RefusedNameIsNotWrittenAndTheArticleIsCut) {
    const TFileCheckCase& c = GetParam();
    WriteHomeFile("lockout.lst", c.Lockouts);
    WriteHomeFile("dupefile.lst", c.DupeFiles);
    std::vector<TPost> posts = AroundSecond(Big(c.FileName));
    Server.ServeSessions(Sessions(posts, {{1, 2}, {3}}));
    WriteIni(c.Ini);
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(LoggedCount(c.Expected), 1);
    EXPECT_EQ(Server.Accepted(), 2);
    EXPECT_FALSE(Exists(c.FileName));
    EXPECT_TRUE(Whole(1));
    EXPECT_TRUE(Whole(3));
}

INSTANTIATE_TEST_SUITE_P(
    Tags, FileCheckTest,
    ::testing::Values(
        TFileCheckCase{"NoMask", "[filemask]\n0=*.jpg\n1=file?.bin\n", "", "", "big.zip",
                       "[NO MASK] 2: big.zip, from=p2, subj=big.zip"},
        TFileCheckCase{"Suspicious", "", "", "", "big.jpg.exe",
                       "[SUSPICIOUS FILENAME] 2: big.jpg.exe, from=p2, subj=big.jpg.exe"},
        TFileCheckCase{"DupeFile", "[dupe_file]\nenabled=1\nsave=1\nin_subject=0\n", "",
                       "5 big.bin\n", "big.bin", "[DUPE FILE] 2: big.bin, from=p2, subj=big.bin"},
        TFileCheckCase{"LockoutFile", "", "FILE All-Groups 0 big\n", "", "big.bin",
                       "[LOCKOUT FILE] 2: big.bin, from=p2, subj=big.bin"}),
    [](const auto& info) { return std::string(info.param.Name); });

struct TNoDataCase {
    const char* Name;
    const char* Ini;
    int Lines;
    bool Reported;
    bool Cut;
};

class NoDataTest : public ArticleChecksTest, public ::testing::WithParamInterface<TNoDataCase> {};

TEST_P(NoDataTest, BodyWithoutAFileIsReportedOnceAndCut) {
    const TNoDataCase& c = GetParam();
    std::vector<TPost> posts = AroundSecond({"p2", "talk", "", TalkBody(c.Lines)});
    Server.ServeSessions(Sessions(posts, c.Cut ? std::vector<std::vector<int>>{{1, 2}, {3}}
                                               : std::vector<std::vector<int>>{{1, 2, 3}}));
    WriteIni(c.Ini);
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(LoggedCount("[NO DATA] 2: from=p2, subj=talk"), c.Reported ? 1 : 0);
    EXPECT_EQ(Server.Accepted(), c.Cut ? 2 : 1);
    EXPECT_TRUE(Whole(1));
    EXPECT_TRUE(Whole(3));
}

INSTANTIATE_TEST_SUITE_P(
    Threshold, NoDataTest,
    ::testing::Values(TNoDataCase{"Default", "", 700, true, true},
                      TNoDataCase{"BelowTheDefault", "", 500, false, false},
                      TNoDataCase{"FewLinesLeft", "", 560, true, false},
                      // A threshold below 64 counts as 64.
                      TNoDataCase{"LowThresholdIs64", "[miscpref]\nnodatathresh=10\n", 200, true,
                                  true},
                      TNoDataCase{"Under64", "[miscpref]\nnodatathresh=10\n", 60, false, false}),
    [](const auto& info) { return std::string(info.param.Name); });

// The subjects of received articles are kept in dupesubj.lst; the next run
// rejects the same posts without asking for them.
TEST_F(ArticleChecksTest, DupeSubjectsAreKeptAcrossRuns) {
    std::vector<TPost> posts = AroundSecond({"p2", Name(2), "", YencBody(Name(2), Data[1])});
    std::vector<TSession> sessions = Sessions(posts, {{1, 2, 3}});
    sessions.push_back({kGreeting, GroupStepsFor(posts, true)});
    Server.ServeSessions(sessions);
    WriteIni("[dupe]\nenabled=1\nsave=1\n");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    const std::string saved = FileBytes(Home.File("dupesubj.lst"));
    for (int i = 1; i <= 3; ++i) {
        const int lines = BodyLines(posts[i - 1]);
        EXPECT_NE(saved.find(" p" + std::to_string(i) + " ## " + Name(i) + " ## " +
                             std::to_string(lines) + "\n"),
                  std::string::npos)
            << saved;
    }

    // The group's pointer goes back, as a new server or a lost settings
    // file would set it: only the tables keep the posts out.
    App.reset();
    WriteIni("[dupe]\nenabled=1\nsave=1\n");
    TNewsStore second;
    TStartup startup;
    startup.HomeDir = Home.Path();
    startup.SettingsPath = Home.File("vantrel.ini");
    startup.Switches = AutoExit();
    App = std::make_unique<TNewsApp>(startup, View, Loop, second);
    ASSERT_EQ(App->Start().ExitCode, 0);
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(Server.Accepted(), 2);
    EXPECT_EQ(ArticlesAsked(), (Lines{"article 1", "article 2", "article 3"}));
    for (int i = 1; i <= 3; ++i)
        EXPECT_EQ(LoggedCount("[DUPE SUBJ] " + std::to_string(i) + ": from=p" + std::to_string(i) +
                              ", subj=" + Name(i)),
                  1);
    App.reset();  // before the store it uses
}

// The autoscan puts the files already on disk into the file table: a post
// of one of them is rejected from its subject and never asked for.
TEST_F(ArticleChecksTest, AutoscannedFilesAreNotFetchedAgain) {
    ASSERT_TRUE(EnsureDirectory(Home.File("have/sub/"), true));
    ASSERT_TRUE(ReplaceFileAtomically(Home.File("have/FILE2.BIN"), "x", nullptr));
    ASSERT_TRUE(ReplaceFileAtomically(Home.File("have/sub/other.jpg"), "y", nullptr));
    std::vector<TPost> posts = AroundSecond({"p2", Name(2), "", YencBody(Name(2), Data[1])});
    Server.ServeSessions(Sessions(posts, {{1, 3}}));
    WriteIni("[dupe_file]\nenabled=1\n[autoscan]\n0=" + Home.File("have") + "\n");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    EXPECT_TRUE(View.Has("Dupe file autoscan: 1 paths, 2 dirs, 2 files scanned"));
    EXPECT_EQ(LoggedCount("[DUPE FILE] 2: file2.bin, from=p2, subj=file2.bin"), 1);
    EXPECT_EQ(ArticlesAsked(), (Lines{"article 1", "article 3"}));
    EXPECT_TRUE(Whole(1));
    EXPECT_TRUE(Whole(3));
    // Nothing is saved: [dupe_file] save is off.
    EXPECT_EQ(FileBytes(Home.File("dupefile.lst")), "<missing>");
}

}  // namespace
}  // namespace zorvex::test
