// The download controller as the headless program runs it: TNewsApp with
// its settings file in a temporary home directory, against the scripted
// server. Watchdog, retry, the pause between articles, the free-space
// guard, graceful disconnect and the end of a run.
#include "app/news.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/newsapp.h"
#include "app/view.h"
#include "library/fileio.h"
#include "library/profile.h"
#include "select/lockout.h"
#include "support/encoders.h"
#include "support/news_fixture.h"
#include "support/recording_view.h"
#include "support/scripted_server.h"
#include "support/tempdir.h"

namespace zorvex::test {
namespace {

using Lines = std::vector<std::string>;
using TSession = TScriptedServer::TSession;

TEST_F(NewsControlTest, RunDownloadsSavesPointersAndExitsThroughExit) {
    Server.ServeSessions({FullSession(3)});
    WriteIni("");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(Whole(i)) << Name(i);
    EXPECT_TRUE(View.Has("Finished all groups..."));
    EXPECT_TRUE(View.Has("Executing Automatic Exit..."));
    EXPECT_EQ(GroupListValue("0"), "a.b 1 3");
    // The exit-time save wrote the main settings too.
    TProfile p;
    p.Load(Home.File("vantrel.ini"));
    EXPECT_TRUE(p.Has("timeout", "msgdelay"));
    EXPECT_EQ(Server.Accepted(), 1);
}

TEST_F(NewsControlTest, EmptyGroupListEndsAtOnceWithTheHints) {
    Server.ServeSessions({{kGreeting, {kModeReader}}});
    WriteIni("", "");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    auto hint = std::find(View.Status.begin(), View.Status.end(),
                          ">>>> Use the <Add> button to add some groups");
    ASSERT_NE(hint, View.Status.end());
    ASSERT_NE(hint + 1, View.Status.end());
    EXPECT_EQ(*(hint + 1), ">>>> Then <connect> again");
    EXPECT_FALSE(View.Has("Finished all groups..."));
}

TEST_F(NewsControlTest, AutorestartWinsOverAutoexit) {
    Server.ServeSessions({FullSession(3), FullSession(3)});
    WriteIni("");
    TStartupSwitches sw = AutoExit();
    sw.Autorestart = 1;
    StartApp(sw);
    ASSERT_TRUE(RunUntil([&] { return View.Count("Finished all groups...") == 2; }));
    RunUntil([] { return false; }, 1500);
    EXPECT_EQ(View.Count("Executing Automatic Restart"), 2);
    EXPECT_FALSE(View.Has("Executing Automatic Exit..."));
    EXPECT_FALSE(App->Exited());
    EXPECT_GE(Server.Accepted(), 2);
}

// The run fetched no picture: no group has a page to make.
TEST_F(NewsControlTest, AutocatWithoutPicturesGoesOnToTheExit) {
    Server.ServeSessions({FullSession(1)});
    WriteIni("");
    TStartupSwitches sw = AutoExit();
    sw.Autocat = 1;
    StartApp(sw);
    ASSERT_TRUE(RunUntilExited());
    auto cat = std::find(View.Status.begin(), View.Status.end(),
                         "Executing Automatic Catalog All Groups...");
    auto exit = std::find(View.Status.begin(), View.Status.end(), "Executing Automatic Exit...");
    ASSERT_NE(cat, View.Status.end());
    ASSERT_NE(exit, View.Status.end());
    EXPECT_LT(cat, exit);
    EXPECT_TRUE(std::none_of(View.Status.begin(), View.Status.end(), [](const std::string& s) {
        return s.rfind("Generating Catalogs: ", 0) == 0;
    }));
    EXPECT_TRUE(View.CatalogPages.empty());
}

// A server that answers the logon and the group, then never answers the
// first article: the watchdog ends the silence.
TSession StallingAtArticle(int articles, bool overview = true) {
    return {kGreeting, GroupSteps(articles, overview)};
}

TEST_F(NewsControlTest, WatchdogRecoversAStallAndTheArticleIsAskedAgain) {
    Server.ServeSessions({StallingAtArticle(3), FullSession(3, false)});
    WriteIni("[timeout]\ndelay=1\n");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited(12000));
    EXPECT_TRUE(View.Has("Timeout has occurred (1 secs)"));
    EXPECT_NE(std::find(View.Logged.begin(), View.Logged.end(), "Timeout"), View.Logged.end());
    EXPECT_TRUE(View.Has("Article #1 was cut off; it will be asked for again"));
    EXPECT_EQ(Asked("article 1"), 2);
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(Whole(i)) << Name(i);
    EXPECT_EQ(Server.Accepted(), 2);
    EXPECT_EQ(GroupListValue("0"), "a.b 1 3");
}

struct TQuietCase {
    const char* Name;
    int Delay;
    int MaxCount;
    bool TimesOut;
    bool Exits;
};

class WatchdogLimitTest : public NewsControlTest,
                          public ::testing::WithParamInterface<TQuietCase> {};

TEST_P(WatchdogLimitTest, DelayAndMaxCount) {
    const TQuietCase& c = GetParam();
    Server.ServeSessions({StallingAtArticle(1), StallingAtArticle(1, false)});
    WriteIni("[timeout]\ndelay=" + std::to_string(c.Delay) +
             "\nmaxcount=" + std::to_string(c.MaxCount) + "\n");
    StartApp(AutoExit());
    bool exited = RunUntilExited(3500);
    EXPECT_EQ(View.Has("Timeout has occurred (1 secs)"), c.TimesOut);
    EXPECT_EQ(View.Has("Maximum timeout count exceeded, shutting down"), c.Exits);
    EXPECT_EQ(exited, c.Exits);
    // Over the limit the run ends without a second connection.
    if (c.Exits) {
        EXPECT_EQ(Server.Accepted(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, WatchdogLimitTest,
                         ::testing::Values(TQuietCase{"NoWatchdog", 0, 1000, false, false},
                                           TQuietCase{"FirstTimeoutEnds", 1, 0, true, true},
                                           TQuietCase{"Reconnects", 1, 5, true, false}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(NewsControlTest, CloseMidArticleIsRetriedAndTheFileComesWhole) {
    // The first session cuts article 2 after its first data line.
    std::vector<TStep> steps = GroupSteps(3);
    steps.push_back(TStep{Article(1)});
    std::string cut = Article(2);
    cut = cut.substr(0, cut.find('\n', cut.find("=ybegin")) + 130);
    steps.push_back(TStep{cut, true, true});
    Server.ServeSessions({{kGreeting, steps}, FullSession(3, false, 2)});
    WriteIni("");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntil([&] { return View.Has("Automatic retry in 5 seconds..."); }));
    EXPECT_TRUE(View.Has("The server disconnected us -- trying again!"));
    EXPECT_TRUE(View.Has("Article #2 was cut off; it will be asked for again"));
    ASSERT_TRUE(RunUntilExited(12000));
    for (int i = 1; i <= 3; ++i) EXPECT_TRUE(Whole(i)) << Name(i);
    // Article 1 was finished before the cut and is not fetched again.
    EXPECT_EQ(Asked("article 1"), 1);
    EXPECT_EQ(Asked("article 2"), 2);
    EXPECT_EQ(FileBytes(Home.File("dl/file2(1).bin")), "<missing>");
    int received = 0;
    for (const auto& l : View.Logged) received += l.rfind("[RECEIVED]", 0) == 0;
    EXPECT_EQ(received, 3);
}

class PauseTest : public NewsControlTest, public ::testing::WithParamInterface<bool> {};

TEST_P(PauseTest, TwelveTicksBetweenArticlesAndConnectShortensThem) {
    const bool press = GetParam();
    std::vector<TStep> steps = GroupSteps(2);
    steps.push_back(TStep{Article(1)});
    steps.push_back(TStep{Article(2)});
    Server.ServeSessions({{kGreeting, steps}});
    int ticksAtPause = -1;
    View.OnStatus = [&](const std::string& line) {
        if (line == "Delaying 3 seconds" && ticksAtPause < 0)
            ticksAtPause = App->News().PauseTicks();
    };
    WriteIni("[timeout]\nmsgdelay=3\n");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntil([&] { return ticksAtPause >= 0; }));
    EXPECT_EQ(ticksAtPause, 12);
    if (press) {
        EXPECT_TRUE(App->News().ConnectCommand());
        EXPECT_EQ(App->News().PauseTicks(), 1);
    } else {
        ASSERT_TRUE(RunUntil([&] { return App->News().PauseTicks() == 1; }));
    }
    // Nothing is asked for while the pause runs.
    EXPECT_EQ(Asked("article 2"), 0);
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(Asked("article 2"), 1);
    EXPECT_TRUE(Whole(2));
}

INSTANTIATE_TEST_SUITE_P(Connect, PauseTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pressed" : "NotPressed"; });

// One part of a two-part yEnc post of m.bin by poster "pm", whole data 4000 bytes.
std::string MultipartArticle(TArticleNo n, int part, const std::string& whole) {
    const size_t begin = part == 1 ? 0 : 2000, end = part == 1 ? 2000 : whole.size();
    std::string out = "220 " + std::to_string(n) + " <" + std::to_string(n) +
                      "@test> article\nSubject: m.bin (" + std::to_string(part) +
                      "/2)\nFrom: pm\n\n=ybegin part=" + std::to_string(part) +
                      " total=2 line=128 size=" + std::to_string(whole.size()) +
                      " name=m.bin\n=ypart begin=" + std::to_string(begin + 1) +
                      " end=" + std::to_string(end) + "\n";
    for (const std::string& l : YencDataLines(whole.substr(begin, end - begin))) out += l + "\n";
    return out + "=yend size=" + std::to_string(end - begin) + " part=" + std::to_string(part) +
           "\n.\n";
}

// The connection drops while the second part of a post comes in. After the
// reconnect that part comes first, although another poster's article has a
// lower number: the waiting file must not be ended by another file.
TEST_F(NewsControlTest, ReconnectGoesOnWithThePartAFileWaitsFor) {
    const std::string whole = Noise(4000, 21);
    const std::string overview =
        "224 overview follows\n"
        "1\tm.bin (1/2)\tpm\td\t<1@test>\t\t100\t10\n"
        "2\tfile2\tp2\td\t<2@test>\t\t100\t10\n"
        "3\tm.bin (2/2)\tpm\td\t<3@test>\t\t100\t10\n.\n";
    std::string cut = MultipartArticle(3, 2, whole);
    cut = cut.substr(0, cut.find('\n', cut.find("=ypart")) + 130);
    std::vector<TStep> first = {kModeReader, TStep{"211 3 1 3 a.b\n"}, TStep{overview},
                                TStep{MultipartArticle(1, 1, whole)}, TStep{cut, true, true}};
    std::vector<TStep> second = {kModeReader, TStep{"211 3 1 3 a.b\n"},
                                 TStep{MultipartArticle(3, 2, whole)}, TStep{Article(2)}};
    Server.ServeSessions({{kGreeting, first}, {kGreeting, second}});
    WriteIni("");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited(12000));
    EXPECT_TRUE(View.Has("Article #3 was cut off; it will be asked for again"));
    EXPECT_EQ(FileBytes(Home.File("dl/m.bin")), whole);
    EXPECT_TRUE(Whole(2));
    Lines asked;
    for (const std::string& c : Server.Received())
        if (c.rfind("article ", 0) == 0) asked.push_back(c);
    EXPECT_EQ(asked, (Lines{"article 1", "article 3", "article 3", "article 2"}));
    int received = 0, incomplete = 0;
    for (const auto& l : View.Logged) {
        received += l.rfind("[RECEIVED]", 0) == 0;
        incomplete += l.rfind("[INCOMPLETE]", 0) == 0;
    }
    EXPECT_EQ(received, 2);
    EXPECT_EQ(incomplete, 0);
}

// A post whose second part never reached the server: once the third shows
// the gap, the file ends incomplete and the later parts are not fetched.
TEST_F(NewsControlTest, PartsAfterAGapAreNotFetched) {
    const std::string whole = Noise(8000, 23);
    auto part = [&](TArticleNo n, int p) {
        const size_t begin = (p - 1) * 2000, end = begin + 2000;
        std::string out =
            "220 " + std::to_string(n) + " <" + std::to_string(n) +
            "@test> article\nSubject: g.bin (" + std::to_string(p) +
            "/4)\nFrom: pm\n\n=ybegin part=" + std::to_string(p) +
            " total=4 line=128 size=8000 name=g.bin\n=ypart begin=" + std::to_string(begin + 1) +
            " end=" + std::to_string(end) + "\n";
        for (const std::string& l : YencDataLines(whole.substr(begin, 2000))) out += l + "\n";
        return out + "=yend size=2000 part=" + std::to_string(p) + "\n.\n";
    };
    const std::string overview =
        "224 overview follows\n"
        "1\tg.bin (1/4)\tpm\td\t<1@test>\t\t100\t10\n"
        "2\tg.bin (4/4)\tpm\td\t<2@test>\t\t100\t10\n"
        "3\tg.bin (3/4)\tpm\td\t<3@test>\t\t100\t10\n"
        "4\tfile4\tp4\td\t<4@test>\t\t100\t10\n.\n";
    Data.push_back(Noise(900, 24));
    Server.ServeSessions({{kGreeting,
                           {kModeReader, TStep{"211 4 1 4 a.b\n"}, TStep{overview},
                            TStep{part(1, 1)}, TStep{part(3, 3)}, TStep{Article(4)}}}});
    WriteIni("");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    Lines asked;
    for (const std::string& c : Server.Received())
        if (c.rfind("article ", 0) == 0) asked.push_back(c);
    EXPECT_EQ(asked, (Lines{"article 1", "article 3", "article 4"}));
    EXPECT_TRUE(View.Has("Skipping 1 more parts of \"g.bin (3/4)\": the file cannot be completed"));
    EXPECT_EQ(FileBytes(Home.File("dl/g.bin")), whole.substr(0, 2000));
    EXPECT_TRUE(Whole(4));
    int incomplete = 0;
    for (const auto& l : View.Logged) incomplete += l.rfind("[INCOMPLETE] ", 0) == 0;
    EXPECT_EQ(incomplete, 1);
    EXPECT_EQ(GroupListValue("0"), "a.b 1 4");
}

// A multipart file whose last part the walk never brings: the end of the
// group (another group follows) or of the run ends it with its log line.
class WaitingPartTest : public NewsControlTest, public ::testing::WithParamInterface<bool> {};

TEST_P(WaitingPartTest, FileIsLoggedIncompleteWhenTheWalkMovesOn) {
    const bool anotherGroup = GetParam();
    const std::string whole = Noise(4000, 9), part = whole.substr(0, 2000);
    std::string first =
        "220 1 <1@test> article\nSubject: m.bin (1/2)\nFrom: p1\n\n"
        "=ybegin part=1 total=2 line=128 size=4000 name=m.bin\n"
        "=ypart begin=1 end=2000\n";
    for (const std::string& l : YencDataLines(part)) first += l + "\n";
    first += "=yend size=2000 part=1\n.\n";
    std::vector<TStep> steps = GroupSteps(1);
    steps.push_back(TStep{first});
    if (anotherGroup) {
        steps.push_back(TStep{"211 1 1 1 c.d\n"});
        steps.push_back(TStep{"224 overview follows\n1\tfile1\tp1\td\t<c1@test>\t\t100\t10\n.\n"});
        steps.push_back(TStep{Article(1)});
    }
    Server.ServeSessions({{kGreeting, steps}});
    WriteIni("", anotherGroup ? "0=a.b 1 0\n1=c.d 1 0\n" : "0=a.b 1 0\n");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(FileBytes(Home.File("dl/m.bin")), part);
    int logged = 0;
    for (const std::string& l : View.Logged)
        if (l.find("m.bin") != std::string::npos) {
            ++logged;
            EXPECT_EQ(l.rfind("[INCOMPLETE] " + Home.File("dl/m.bin"), 0), 0u) << l;
        }
    EXPECT_EQ(logged, 1);
    EXPECT_TRUE(View.Has(
        anotherGroup ? "multipart yenc: m.bin ends incomplete after part 1 (the group ended)"
                     : "multipart yenc: m.bin ends incomplete after part 1 (the run ended)"));
    if (anotherGroup) {
        EXPECT_TRUE(Whole(1));
    }
}

INSTANTIATE_TEST_SUITE_P(Walk, WaitingPartTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "AnotherGroup" : "RunEnds"; });

struct TFreeSpaceCase {
    const char* Name;
    int MinFree;
    double Free;  // what the file system reports; -1 unknown
    bool Stops;
};

class FreeSpaceTest : public NewsControlTest,
                      public ::testing::WithParamInterface<TFreeSpaceCase> {};

TEST_P(FreeSpaceTest, GuardStopsOnlyBelowTheMinimum) {
    const TFreeSpaceCase& c = GetParam();
    Server.ServeSessions({{kGreeting, {kModeReader, TStep{"211 0 0 0 a.b\n"}}}});
    WriteIni("", "0=a.b 1 0\n", c.MinFree);
    StartApp(AutoExit());
    double free = c.Free;
    App->News().FreeSpaceOf = [free](const std::string&) { return free; };
    ASSERT_TRUE(RunUntilExited());
    EXPECT_EQ(View.Has("Low disk space (999 bytes) on download drive"), c.Stops);
    EXPECT_EQ(Asked("group a.b"), c.Stops ? 0 : 1);
    // Unattended, a stopped run ends with its own exit code and says why.
    std::string why;
    EXPECT_EQ(App->ExitCodeAfterRun(&why), c.Stops ? EXIT_LOW_SPACE : 0);
    if (c.Stops) {
        EXPECT_EQ(why, "stopped for low disk space: 999 bytes free on " + Home.File("dl/") +
                           ", below [misc] minfreespace 1000");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, FreeSpaceTest,
                         ::testing::Values(TFreeSpaceCase{"GuardOff", 0, 10, false},
                                           TFreeSpaceCase{"Unknown", 1000, -1, false},
                                           TFreeSpaceCase{"Enough", 1000, 5000, false},
                                           TFreeSpaceCase{"TooLittle", 1000, 999, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

struct TGracefulCase {
    const char* Name;
    TBoxAnswer Answer;
    bool Stops;
    bool Exits;
};

class GracefulTest : public NewsControlTest, public ::testing::WithParamInterface<TGracefulCase> {};

TEST_P(GracefulTest, AnswerDecides) {
    const TGracefulCase& c = GetParam();
    Server.ServeSessions({FullSession(3)});
    WriteIni("");
    View.Answers.push_back(c.Answer);
    bool asked = false;
    View.OnStatus = [&](const std::string& line) {
        if (line == "Asking for message #1" && !asked) {
            asked = true;
            App->News().GracefulDisconnectCommand();
        }
    };
    TStartupSwitches sw;
    sw.Autostart = 1;
    StartApp(sw);
    ASSERT_TRUE(RunUntil([&] {
        return View.Has("Finished all groups...") ||
               View.Has("Graceful disconnect requested; Shutting Down.");
    }));
    RunUntil([&] { return App->Exited(); }, 1600);
    ASSERT_EQ(View.Boxes.size(), 1u);
    EXPECT_EQ(View.Boxes[0],
              "Confirm: This will cause Vantrel to disconnect after the current action has "
              "completed. Do you wish to auto-exit as well?");
    EXPECT_EQ(View.Has("Graceful disconnect requested; Shutting Down."), c.Stops);
    EXPECT_EQ(App->Exited(), c.Exits);
    // The current article is finished either way.
    EXPECT_TRUE(Whole(1));
    EXPECT_EQ(Asked("article 2"), c.Stops ? 0 : 1);
    EXPECT_FALSE(App->News().IsConnected());
}

INSTANTIATE_TEST_SUITE_P(Answers, GracefulTest,
                         ::testing::Values(TGracefulCase{"Cancel", ANSWER_CANCEL, false, false},
                                           TGracefulCase{"No", ANSWER_NO, true, false},
                                           TGracefulCase{"Yes", ANSWER_YES, true, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

// [miscpref] minlines and maxlines decide which articles are asked for;
// the overview gives the three articles 3, 10 and 50 lines.
struct TLineLimitsCase {
    const char* Name;
    const char* Miscpref;
    std::vector<int> Asked;
};

class LineLimitsTest : public NewsControlTest,
                       public ::testing::WithParamInterface<TLineLimitsCase> {};

TEST_P(LineLimitsTest, OnlyArticlesWithinTheLimitsAreAskedFor) {
    const TLineLimitsCase& c = GetParam();
    std::string overview = "224 overview follows\n";
    const int lines[] = {3, 10, 50};
    for (int i = 1; i <= 3; ++i)
        overview += std::to_string(i) + "\tfile" + std::to_string(i) + "\tp\td\t<" +
                    std::to_string(i) + "@test>\t\t100\t" + std::to_string(lines[i - 1]) + "\n";
    std::vector<TStep> steps = {kModeReader, TStep{"211 3 1 3 a.b\n"}, TStep{overview + ".\n"}};
    for (int i : c.Asked) steps.push_back(TStep{Article(i)});
    Server.ServeSessions({{kGreeting, steps}});
    WriteIni(std::string("[miscpref]\n") + c.Miscpref);
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntilExited());
    Lines asked;
    for (const std::string& command : Server.Received())
        if (command.rfind("article ", 0) == 0) asked.push_back(command);
    Lines expected;
    for (int i : c.Asked) expected.push_back("article " + std::to_string(i));
    EXPECT_EQ(asked, expected);
    for (int i : c.Asked) EXPECT_TRUE(Whole(i)) << Name(i);
    // The walk passes the articles it skipped: the pointer is at the end.
    EXPECT_EQ(GroupListValue("0"), "a.b 1 3");
}

INSTANTIATE_TEST_SUITE_P(
    Miscpref, LineLimitsTest,
    ::testing::Values(TLineLimitsCase{"Defaults", "", {1, 2, 3}},
                      TLineLimitsCase{"MinLines", "minlines=5\n", {2, 3}},
                      TLineLimitsCase{"MaxLines", "maxlines=20\n", {1, 2}},
                      TLineLimitsCase{"Both", "minlines=5\nmaxlines=20\n", {2}},
                      TLineLimitsCase{"NegativeIsOff", "minlines=-1\nmaxlines=-1\n", {1, 2, 3}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(NewsControlTest, JumpToNeedsExactlyOneGroup) {
    WriteIni("", "0=a.b 1 0\n1=c.d 1 0\n");
    StartApp(TStartupSwitches{});
    TNews& news = App->News();
    news.JumpToCommand({0, 1});
    news.JumpToCommand({});
    news.JumpToCommand({7});
    EXPECT_FALSE(news.GroupEndRequested());
    Store.GetGroup(1)->Done = 1;
    news.JumpToCommand({1});
    EXPECT_EQ(View.Boxes,
              (Lines{"Error: Please select only one item when using this button",
                     "Error!: Please select a newsgroup in the group list first!",
                     "Error!: Please select a newsgroup in the group list first!",
                     "Group switch confirmed: Group switch will take place as soon as current "
                     "action has completed."}));
    EXPECT_TRUE(news.GroupEndRequested());
    EXPECT_EQ(news.PendingGroup(), 1);
    EXPECT_EQ(Store.GetGroup(1)->Done, 0);
}

TEST_F(NewsControlTest, AnArticleNobodyAskedForIsRetried) {
    // The group command answered with an article: the reply cannot be
    // trusted, so the connection starts over after the retry delay.
    Server.ServeSessions(
        {{kGreeting, {kModeReader, TStep{"220 9 <9@test> article\n\nx\n.\n"}}}, FullSession(1)});
    WriteIni("");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntil(
        [&] { return View.Has("[Error] CurMsg==NULL in ArticleReady(), retrying ..."); }, 3000));
    EXPECT_FALSE(App->News().IsConnected());
    ASSERT_TRUE(RunUntilExited(12000));
    EXPECT_EQ(Server.Accepted(), 2);
    EXPECT_TRUE(Whole(1));
}

TEST_F(NewsControlTest, PointersCommandLeavesTheCurrentGroupOnlyWhenItMoved) {
    WriteIni("", "0=a.b 1 10\n1=c.d 1 20\n");
    StartApp(TStartupSwitches{});
    TNews& news = App->News();
    news.SelectGroup(0);  // a.b is being walked
    // The request to leave the group stays until the walk takes it: the
    // one case that makes it comes last.
    struct {
        int Index;
        TArticleNo Pointer;
        bool Accepted;
        TArticleNo After;
        bool Terminates;
    } cases[] = {{1, 25, true, 25, false},
                 {0, 10, true, 10, false},
                 {0, -3, false, 10, false},
                 {5, 15, false, 10, false},
                 {0, 15, true, 15, true}};
    for (const auto& c : cases) {
        EXPECT_EQ(news.SetPointerCommand(c.Index, c.Pointer), c.Accepted) << c.Pointer;
        EXPECT_EQ(news.GroupEndRequested(), c.Terminates) << c.Pointer;
        EXPECT_EQ(Store.GetGroup(c.Index == 5 ? 0 : c.Index)->Pointer, c.After) << c.Pointer;
    }
}

TEST_F(NewsControlTest, PointersAreAutosavedBeforeTheRunEnds) {
    // Three articles, the third never answered: what a killed run leaves.
    std::vector<TStep> steps = GroupSteps(3);
    steps.push_back(TStep{Article(1)});
    steps.push_back(TStep{Article(2)});
    Server.ServeSessions({{kGreeting, steps}});
    WriteIni("[autosave]\npointers=2\n[timeout]\ndelay=0\n");
    StartApp(AutoExit());
    ASSERT_TRUE(RunUntil([&] { return Asked("article 3") == 1; }));
    RunUntil([] { return false; }, 200);
    // Saved when the second article began: the first was dealt with.
    EXPECT_EQ(GroupListValue("0"), "a.b 1 1");
    EXPECT_TRUE(View.Has("Autosave: Pointers"));
    EXPECT_FALSE(App->Exited());
}

TEST_F(NewsControlTest, GroupCommandsKeepTheWalksPlace) {
    WriteIni("", "0=a.b 1 0\n1=c.d 1 0\n2=e.f 1 0\n");
    StartApp(TStartupSwitches{});
    TNews& news = App->News();
    news.SelectGroup(2);  // e.f is being walked
    news.JumpToGroup(1);  // and c.d comes next
    news.ChangeGroupTable([&] { App->Groups().Promote(2, View, App->Settings()); });
    ASSERT_NE(news.CurrentGroup(), nullptr);
    EXPECT_STREQ(news.CurrentGroup()->Name, "e.f");
    EXPECT_EQ(news.PendingGroup(), 2);
    news.ChangeGroupTable([&] { App->Groups().Sort(View, App->Settings()); });
    // The headless answer to "Sort the newsgroup listing?" is No.
    EXPECT_STREQ(news.CurrentGroup()->Name, "e.f");
    View.Answers.push_back(ANSWER_YES);
    news.ChangeGroupTable([&] { App->Groups().DeleteGroups({0}, nullptr, View, App->Settings()); });
    EXPECT_STREQ(news.CurrentGroup()->Name, "e.f");
    EXPECT_EQ(news.PendingGroup(), 1);
    EXPECT_STREQ(Store.GetGroup(news.PendingGroup())->Name, "c.d");
    EXPECT_EQ(GroupListValue("0"), "e.f 1 0");
    EXPECT_EQ(GroupListValue("2"), "<absent>");
}

// Overview lines with the given subjects; posters are p1, p2, ...
std::vector<TStep> GroupStepsWithSubjects(const std::vector<std::string>& subjects) {
    const int n = static_cast<int>(subjects.size());
    std::string text = "224 overview follows\n";
    for (int i = 1; i <= n; ++i)
        text += std::to_string(i) + "\t" + subjects[i - 1] + "\tp" + std::to_string(i) + "\td\t<" +
                std::to_string(i) + "@test>\t\t100\t10\n";
    return {kModeReader, TStep{"211 " + std::to_string(n) + " 1 " + std::to_string(n) + " a.b\n"},
            TStep{text + ".\n"}};
}

struct TEncryptionCase {
    const char* Ini;
    bool Enable;
    bool GifEnciphered, BinEnciphered;
};

class EncryptionMaskTest : public NewsControlTest,
                           public ::testing::WithParamInterface<TEncryptionCase> {};

TEST_P(EncryptionMaskTest, OnlyNamesMatchingTheMasksAreEnciphered) {
    const TEncryptionCase& c = GetParam();
    std::vector<TStep> steps = GroupStepsWithSubjects({"photo.gif", "archive.bin"});
    steps.push_back(TStep{YencArticle(1, "photo.gif", Data[0])});
    steps.push_back(TStep{YencArticle(2, "archive.bin", Data[1])});
    Server.ServeSessions({{kGreeting, steps}});
    WriteIni(c.Ini);
    StartApp(TStartupSwitches{});
    App->Settings().Settings().EncryptionEnable = c.Enable;
    App->Settings().Settings().EncryptionKey = "secret";
    ASSERT_TRUE(App->News().Connect());
    ASSERT_TRUE(RunUntil([&] { return View.Has("Finished all groups..."); }));
    const std::string gif = FileBytes(Home.File("dl/photo.gif"));
    const std::string bin = FileBytes(Home.File("dl/archive.bin"));
    EXPECT_EQ(gif.rfind("KVENC\n", 0) == 0, c.GifEnciphered);
    EXPECT_EQ(bin.rfind("KVENC\n", 0) == 0, c.BinEnciphered);
    if (!c.GifEnciphered) {
        EXPECT_TRUE(gif == Data[0]);
    }
    if (!c.BinEnciphered) {
        EXPECT_TRUE(bin == Data[1]);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EncryptionMaskTest,
                         ::testing::Values(
                             // The default masks are *.jpg, *.gif and *.bmp.
                             TEncryptionCase{"", true, true, false},
                             TEncryptionCase{"[encryption]\nmask_count=1\nmask0=*.bin\n", true,
                                             false, true},
                             TEncryptionCase{"", false, false, false}));

TEST_F(NewsControlTest, LockoutListIsReadAtTheStartAndSavedAtTheExit) {
    WriteIni("");
    ASSERT_TRUE(ReplaceFileAtomically(Home.File("lockout.lst"),
                                      "POSTER a.b 1 *spammer*\n"
                                      "SUBJECT All-Groups 64 only until exit\n"
                                      "FILE All-Groups x *.exe\n"
                                      "an old poster\n",
                                      nullptr));
    StartApp(TStartupSwitches{});
    TLockoutLists& lists = App->Lockouts();
    TNewsGroup* group = Store.FindGroup("a.b");
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(lists.Matches(group, LOCKOUT_POSTER, "the spammer"));
    EXPECT_FALSE(lists.Matches(nullptr, LOCKOUT_POSTER, "the spammer"));
    EXPECT_TRUE(lists.Matches(nullptr, LOCKOUT_POSTER, "an old poster"));
    EXPECT_TRUE(lists.Matches(nullptr, LOCKOUT_SUBJECT, "only until exit"));
    EXPECT_FALSE(lists.Matches(nullptr, LOCKOUT_FILE, "a.exe"));
    EXPECT_EQ(
        View.Count(Home.File("lockout.lst") + ": 1 malformed line skipped, the first is line 3"),
        1);

    // The string matcher test and a lockout command without an article.
    View.TextAnswers = {"the spammer", "nobody"};
    App->News().TestStringCommand(LOCKOUT_POSTER);
    App->News().TestStringCommand(LOCKOUT_POSTER);
    EXPECT_FALSE(App->News().LockoutArticleCommand(false));
    EXPECT_EQ(View.Boxes, (std::vector<std::string>{
                              "hit: string matches in a.b",
                              "no hit: string did not match any groups",
                              "Error!: No picture has been downloaded into the image slot",
                          }));
    EXPECT_EQ(View.Questions[0],
              "Test String Matcher: Enter a string, Zorvex will tell which groups match:");

    App->Exit();
    EXPECT_EQ(FileBytes(Home.File("lockout.lst")),
              "POSTER All-Groups 0 an old poster\n"
              "POSTER a.b 1 *spammer*\n");
}

TEST_F(NewsControlTest, LockoutCommandsOfferTheCurrentAndThePreviousArticle) {
    std::vector<TStep> steps = GroupStepsWithSubjects({"first (1/1)", "a*b(1/2)"});
    steps.push_back(TStep{YencArticle(1, "first.bin", Data[0])});
    steps.push_back(TStep{YencArticle(2, "second.bin", Data[1])});
    Server.ServeSessions({{kGreeting, steps}});
    WriteIni("");
    StartApp(TStartupSwitches{});
    ASSERT_TRUE(App->News().Connect());
    ASSERT_TRUE(RunUntil([&] { return View.Has("Finished all groups..."); }));

    // Cancelled: nothing is added.
    EXPECT_FALSE(App->News().LockoutArticleCommand(true));
    ASSERT_EQ(View.LockoutForms.size(), 1u);
    EXPECT_EQ(View.LockoutForms[0].Fields.Poster, "p1");
    EXPECT_EQ(View.LockoutForms[0].Fields.Subject, "first (1/1)");
    EXPECT_EQ(View.LockoutForms[0].Fields.File, "first.bin");
    EXPECT_TRUE(View.LockoutForms[0].Choice.Poster);
    EXPECT_FALSE(App->Lockouts().Matches(nullptr, LOCKOUT_POSTER, "p1"));

    View.OnLockoutForm = [](TLockoutForm& form) {
        form.Choice.Subject = true;
        form.Choice.File = true;
        form.Choice.Host = true;  // empty: the posting host was never loaded
        form.Temporary = true;
    };
    EXPECT_TRUE(App->News().LockoutArticleCommand(false));
    const TLockoutForm& shown = View.LockoutForms.back();
    EXPECT_EQ(shown.Fields.Poster, "p2");
    EXPECT_EQ(shown.Fields.Subject, "a\\*b(1/2)");
    EXPECT_EQ(shown.Fields.File, "second.bin");
    EXPECT_EQ(shown.Fields.Host, "");
    TLockoutLists& lists = App->Lockouts();
    EXPECT_TRUE(lists.Matches(nullptr, LOCKOUT_POSTER, "p2"));
    EXPECT_TRUE(lists.Matches(nullptr, LOCKOUT_SUBJECT, "Re: a*b(1/2)"));
    EXPECT_FALSE(lists.Matches(nullptr, LOCKOUT_SUBJECT, "aXb(1/2)"));
    EXPECT_TRUE(lists.Matches(nullptr, LOCKOUT_FILE, "second.bin"));
    EXPECT_FALSE(lists.HasEntries(nullptr, LOCKOUT_HOST));
    // Temporary: gone from the file after the exit's save.
    App->Exit();
    EXPECT_EQ(FileBytes(Home.File("lockout.lst")), "");
}

}  // namespace
}  // namespace zorvex::test
