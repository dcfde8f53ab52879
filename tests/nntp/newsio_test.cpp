// Exact protocol cases against the scripted server.
#include "nntp/newsio.h"

#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "library/strman.h"
#include "net/ntlm.h"
#include "support/scripted_server.h"
#include "support/test_client.h"

namespace zorvex::test {
namespace {

using Commands = std::vector<std::string>;

const TStep kGreeting{"200 scripted server ready\n"};
const TStep kModeReaderOk{"200 reader mode\n"};

TStep Reply(const std::string& text) {
    return TStep{text};
}
TStep Close(const std::string& text = "") {
    return TStep{text, false, true};
}

class NewsIoTest : public ::testing::Test {
  protected:
    void Start(TStep greeting, std::vector<TStep> steps) {
        Server.Serve(std::move(greeting), std::move(steps));
        ASSERT_TRUE(Client->Connect(Server.HostString()));
    }
    void StartLoggedOn(std::vector<TStep> steps) {
        steps.insert(steps.begin(), kModeReaderOk);
        Start(kGreeting, std::move(steps));
    }
    bool RunUntilDone(int ms = 5000) {
        return Client->Run([&] { return Client->AllDone > 0; }, ms);
    }
    Commands Settle() { return SettledCommands(*Client, Server); }
    bool NoLogContains(const std::string& secret) const {
        for (const auto& l : Client->Logs)
            if (strcasestr(l.c_str(), secret.c_str())) return false;
        return true;
    }

    TPlainEventLoop Loop;
    TNewsStore Store;
    TScriptedServer Server;
    std::unique_ptr<TTestClient> Client = std::make_unique<TTestClient>(Store, Loop);
};

std::string Overview(std::initializer_list<std::string> lines) {
    std::string out = "224 overview follows\n";
    for (const auto& l : lines) out += l + "\n";
    return out + ".\n";
}

std::string Article(TArticleNo n, const std::string& body) {
    return "220 " + std::to_string(n) + " <" + std::to_string(n) +
           "@test> article\nSubject: s\nFrom: p\n\n" + body + ".\n";
}

// ---- logon ----

struct GreetingCase {
    const char* Greeting;
    bool LogsOn;
};

class GreetingTest : public NewsIoTest, public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(GreetingTest, LogonFollowsOnlyAGoodGreeting) {
    Start(Reply(std::string(GetParam().Greeting) + "\n"), {kModeReaderOk});
    bool done = RunUntilDone(GetParam().LogsOn ? 5000 : 400);
    EXPECT_EQ(done, GetParam().LogsOn);
    EXPECT_EQ(Settle(), GetParam().LogsOn ? Commands{"mode reader"} : Commands{});
    EXPECT_EQ(Client->ConnectedCount, 1);
}

INSTANTIATE_TEST_SUITE_P(Greetings, GreetingTest,
                         ::testing::Values(GreetingCase{"200 news ready (posting ok)", true},
                                           GreetingCase{"201 news ready (no posting)", true},
                                           GreetingCase{"400 service unavailable", false},
                                           GreetingCase{"502 access denied", false}),
                         [](const auto& info) {
                             return std::string("Code") +
                                    std::string(info.param.Greeting).substr(0, 3);
                         });

TEST_F(NewsIoTest, RefusedModeReaderStillLogsOn) {
    Store.AddGroup("a.b");
    Start(kGreeting, {Reply("500 what?\n"), Reply("211 0 0 0 a.b\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b"}));
    EXPECT_TRUE(Client->Logged("Group is empty"));
}

TEST_F(NewsIoTest, SecondGreetingAfterLogonIsConfused) {
    Start(kGreeting, {Reply("200 reader mode\n200 again\n")});
    ASSERT_TRUE(RunUntilDone());
    Settle();
    EXPECT_TRUE(Client->Logged("Confused -- too many 200 respones?"));
    EXPECT_EQ(Client->AllDone, 1);
}

TEST_F(NewsIoTest, AlwaysAtLogonSendsCredentialsAfterModeReader) {
    Client->AlwaysAuth = 1;
    Client->Name = "reader";
    Client->Password = "Secr3t";
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("381 more\n"), Reply("281 ok\n"), Reply("211 0 0 0 a.b\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "AUTHINFO USER reader", "AUTHINFO PASS Secr3t",
                                  "group a.b"}));
    EXPECT_TRUE(NoLogContains("Secr3t"));
    EXPECT_TRUE(Client->Logged("SEND AUTHINFO PASS (password hidden)"));
}

TEST_F(NewsIoTest, PasswordIsMaskedWhateverTheCase) {
    Client->Name = "reader";
    Client->Password = "Secr3t";
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 0 0 0 a.b\n")});
    ASSERT_TRUE(RunUntilDone());
    Client->SendCommand("authinfo pass %s", "Secr3t");
    EXPECT_TRUE(NoLogContains("Secr3t"));
}

TEST_F(NewsIoTest, LineBreakInANameNeverSendsASecondCommand) {
    Client->AlwaysAuth = 1;
    Client->Name = "reader\r\nGROUP evil";
    Client->Password = "pw";
    StartLoggedOn({Reply("381 more\n"), Reply("281 ok\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "AUTHINFO USER reader", "AUTHINFO PASS pw"}));
    EXPECT_TRUE(Client->Logged("SEND AUTHINFO USER reader"));
}

TEST_F(NewsIoTest, AuthRequiredOnGroupRepeatsTheGroupCommand) {
    Client->Name = "reader";
    Client->Password = "Secr3t";
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("480 authentication required\n"), Reply("381 more\n"), Reply("281 ok\n"),
                   Reply("211 0 0 0 a.b\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "AUTHINFO USER reader",
                                  "AUTHINFO PASS Secr3t", "group a.b"}));
}

TEST_F(NewsIoTest, AuthRequiredWithoutNameDisconnects) {
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("480 authentication required\n")});
    ASSERT_TRUE(Client->Run([&] { return Client->DisconnectedCount > 0; }));
    EXPECT_TRUE(Client->Logged("Error: Server wants auth-name!"));
    EXPECT_TRUE(Client->Logged(">>>> Use Configure:Authentication menu option"));
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b"}));
}

TEST_F(NewsIoTest, AuthinfoSimpleMasksTheCredentialsLine) {
    Client->Name = "reader";
    Client->Password = "Secr3t";
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("450 authorization required\n"), Reply("350 continue\n"),
                   Reply("250 ok\n"), Reply("211 0 0 0 a.b\n")});
    ASSERT_TRUE(Client->Run([&] { return Client->Logged("Group is empty"); }));
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "AUTHINFO SIMPLE", "reader Secr3t",
                                  "group a.b"}));
    EXPECT_TRUE(NoLogContains("Secr3t"));
}

TEST_F(NewsIoTest, RefusedPasswordWithoutRetriesContinuesLogon) {
    Client->AlwaysAuth = 1;
    Client->Name = "reader";
    Client->Password = "wrong";
    StartLoggedOn({Reply("381 more\n"), Reply("502 no\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_TRUE(Client->Logged(">>>> Check your auth settings (config: authentication)"));
    EXPECT_FALSE(Client->Logged(">>> retrying authentication. standby."));
    EXPECT_EQ(Settle(), (Commands{"mode reader", "AUTHINFO USER reader", "AUTHINFO PASS wrong"}));
}

// Stands in for the NTLM library: deterministic messages show the wiring.
class TRecordingNtlm : public TNtlmBuilder {
  public:
    bool Build(const char* name, const char*, const char* challenge,
               std::string* message) override {
        *message = challenge ? std::string("AUTH-") + challenge : std::string("NEG-") + name;
        return true;
    }
};

TEST_F(NewsIoTest, NtlmLogonRunsThroughTheBuilder) {
    TRecordingNtlm ntlm;
    Client->SetNtlm(&ntlm);
    Client->Spa = 1;
    Client->AlwaysAuth = 1;
    Client->Name = "user@domain";
    Client->Password = "pw";
    StartLoggedOn({Reply("381 go on\n"), Reply("381 CHALLENGE123 extra\n"), Reply("281 ok\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(),
              (Commands{"mode reader", "AUTHINFO GENERIC MSN", "AUTHINFO GENERIC NEG-user@domain",
                        "AUTHINFO GENERIC AUTH-CHALLENGE123"}));
}

TEST_F(NewsIoTest, NtlmRefusalIsRetriedTenTimes) {
    TRecordingNtlm ntlm;
    Client->SetNtlm(&ntlm);
    Client->Spa = 1;
    Client->AlwaysAuth = 1;
    Client->Name = "user";
    Client->Password = "pw";
    std::vector<TStep> steps(11, Reply("502 refused\n"));
    StartLoggedOn(steps);
    ASSERT_TRUE(RunUntilDone());
    Commands expected{"mode reader"};
    expected.insert(expected.end(), 11, "AUTHINFO GENERIC MSN");
    EXPECT_EQ(Settle(), expected);
    EXPECT_EQ(std::count(Client->Logs.begin(), Client->Logs.end(),
                         ">>> retrying authentication. standby."),
              10);
    EXPECT_TRUE(Client->Logged(">>>> Check your auth settings (config: authentication)"));
}

TEST_F(NewsIoTest, RetriedLogonNeverLogsTheSimpleCredentials) {
    TRecordingNtlm ntlm;
    Client->SetNtlm(&ntlm);
    Client->Spa = 1;  // retries are on
    Client->Name = "reader";
    Client->Password = "Secr3t";
    Store.AddGroup("a.b");
    StartLoggedOn(
        {Reply("450 authorization required\n"), Reply("350 continue\n"), Reply("502 refused\n")});
    ASSERT_TRUE(
        Client->Run([&] { return Client->Logged(">>> retrying authentication. standby."); }));
    Settle();
    EXPECT_TRUE(Server.SawCommand("reader Secr3t"));
    EXPECT_TRUE(NoLogContains("Secr3t"));
}

TEST_F(NewsIoTest, NtlmWithoutBuilderEndsTheConnection) {
    Client->Spa = 1;
    Client->AlwaysAuth = 1;
    Client->Name = "user";
    Client->Password = "pw";
    StartLoggedOn({Reply("381 go on\n")});
    ASSERT_TRUE(Client->Run([&] { return Client->DisconnectedCount > 0; }));
    EXPECT_TRUE(Client->Logged("Error: no NTLM (SPA) message could be made for this name"));
}

// ---- groups ----

TEST_F(NewsIoTest, EmptyGroupListEndsAtOnce) {
    StartLoggedOn({});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), Commands{"mode reader"});
    EXPECT_EQ(Client->GetState(), TNewsState::ALL_DONE);
}

TEST_F(NewsIoTest, EmptyAndMissingGroupsAreSkipped) {
    Store.AddGroup("a.b");
    Store.AddGroup("c.d");
    Store.AddGroup("e.f")->Enabled = 0;
    Store.AddGroup("g.h");
    StartLoggedOn(
        {Reply("211 0 0 0 a.b\n"), Reply("411 no such group\n"), Reply("211 0 9 3 g.h\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "group c.d", "group g.h"}));
    EXPECT_TRUE(Client->Logged("No such group: c.d"));
    TNewsGroup* missing = Store.FindGroup("c.d");
    EXPECT_EQ(missing->Done, 1);
    EXPECT_EQ(missing->Last, 0);
    EXPECT_EQ(Store.FindGroup("g.h")->Pointer, 3);  // last below first: empty, pointer := last
}

TEST_F(NewsIoTest, GroupResponseNamingTheWordGroupIsAccepted) {
    Client->Xover = 1;
    Client->MaxLinesValue = 1;  // everything too long: no article is fetched
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 1 7 7 group\n"), Reply("224 ok\n7\ts\tp\td\t<i>\t\t10\t50\n.\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "xover 7-7"}));
    EXPECT_EQ(Store.FindGroup("a.b")->Pointer, 7);
}

TEST_F(NewsIoTest, WrongGroupStopsTheWalk) {
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 1 7 7 x.y\n")});
    ASSERT_TRUE(Client->Run([&] { return Client->Logged("Wrong group -- expected a.b"); }));
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b"}));
    EXPECT_EQ(Client->AllDone, 0);
}

// ---- header ranges ----

struct RangeCase {
    TArticleNo Pointer;
    const char* GroupReply;
    const char* ExpectedCommand;  // nullptr: nothing is loaded
    TArticleNo PointerAfter;
};

class RangeTest : public NewsIoTest, public ::testing::WithParamInterface<RangeCase> {};

TEST_P(RangeTest, RangeFollowsPointerAndServerNumbers) {
    const RangeCase& c = GetParam();
    Client->Xover = 1;
    TNewsGroup* g = Store.AddGroup("a.b");
    g->Pointer = c.Pointer;
    // The xover reply is empty: the walk then finds nothing and finishes.
    StartLoggedOn({Reply(std::string(c.GroupReply) + "\n"), Reply("224 ok\n.\n")});
    ASSERT_TRUE(RunUntilDone());
    Commands expected{"mode reader", "group a.b"};
    if (c.ExpectedCommand) expected.push_back(c.ExpectedCommand);
    EXPECT_EQ(Settle(), expected);
    EXPECT_EQ(g->Pointer, c.PointerAfter);
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, RangeTest,
    ::testing::Values(
        // Below first: loads from first; the walk then finishes at last.
        RangeCase{0, "211 10 5000 5009 a.b", "xover 5000-5009", 5009},
        // Above last: the server renumbered; loads everything again.
        RangeCase{9999, "211 10 5000 5009 a.b", "xover 5000-5009", 5009},
        RangeCase{5004, "211 10 5000 5009 a.b", "xover 5005-5009", 5009},
        // Everything seen.
        RangeCase{5009, "211 10 5000 5009 a.b", nullptr, 5009},
        // Numbers beyond 32 bits.
        RangeCase{4294967300LL, "211 3 4294967299 4294967302 a.b", "xover 4294967301-4294967302",
                  4294967302LL},
        // A hostile server's numbers are clamped, never overflowed.
        RangeCase{0, "211 1 -5 3 a.b", "xover 1-3", 3},
        // ...and past what the store holds only the newest are asked.
        RangeCase{0, "211 1 1 99999999999999999999999 a.b",
                  "xover 4611686018427355904-4611686018427387904", ARTICLE_NO_MAX},
        // A pointer far behind passes over the older articles too.
        RangeCase{5, "211 100000000 1 100000000 a.b", "xover 99968000-100000000", 100000000}),
    [](const auto& info) { return "Case" + std::to_string(info.index); });

TEST_F(NewsIoTest, SecondVisitLoadsOnlyAboveHighestLoaded) {
    Client->Xover = 1;
    Client->MaxLinesValue = 1;
    TNewsGroup* g = Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 3 1 3 a.b\n"),
                   Reply("224 ok\n1\ts1\tp\td\t<1>\t\t1\t50\n2\ts2\tp\td\t<2>\t\t1\t50\n"
                         "3\ts3\tp\td\t<3>\t\t1\t50\n.\n"),
                   Reply("211 5 1 5 a.b\n"), Reply("224 ok\n.\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(g->HighestLoaded, 3);
    g->Pointer = 0;  // even with a lower pointer, loaded headers are not asked again
    Client->ClearDoneFlags();
    Client->StartGroupWalk();
    ASSERT_TRUE(Client->Run([&] { return Client->AllDone > 1; }));
    EXPECT_EQ(Settle(),
              (Commands{"mode reader", "group a.b", "xover 1-3", "group a.b", "xover 4-5"}));
    EXPECT_EQ(Client->Expected, (std::vector<long>{3, 2}));
}

TEST_F(NewsIoTest, XhdrFieldByFieldThenXrefWhenWanted) {
    Client->LoadXref = 1;
    Client->MaxXrefValue = 5;
    Client->LoadHost = 1;  // no host list: no posting-host request
    TNewsGroup* g = Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 2 1 2 a.b\n"), Reply("221 subject\n1 one\n2 two\n.\n"),
                   Reply("221 from\n1 p1\n2 p2\n.\n"),
                   Reply("221 date\n1 Mon, 07 May 2007 10:11:12 GMT\n.\n"),
                   Reply("500 no lines here\n"), Reply("500 what?\n"), Reply("500 what?\n"),
                   Reply("221 xref\n2 host a.b:2 C.D:9\n.\n"), Reply(Article(1, "x\n")),
                   Reply(Article(2, "x\n"))});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "xhdr subject 1-2", "xhdr from 1-2",
                                  "xhdr date 1-2", "xhdr lines 1-2", "CAPABILITIES",
                                  "LIST OVERVIEW.FMT", "xhdr xref 1-2", "article 1", "article 2"}));
    EXPECT_EQ(Client->Expected, (std::vector<long>{2, 2}));
    THeader* first = g->SortedHead;
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->Subject, "one");
    EXPECT_EQ(first->Date, 1178532672u);
    EXPECT_STREQ(first->NumberNext->CrossPosts, "a.b: c.d: ");
    // The server refused the line counts, so no size check could reject.
    EXPECT_EQ(Client->Requested, (std::vector<TArticleNo>{1, 2}));
}

TEST_F(NewsIoTest, ListsMakeXrefAndPostingHostWorthLoading) {
    Client->Xover = 1;
    Client->LoadXref = 1;  // the cross-post limit (100) alone would not ask
    Client->LoadHost = 1;
    Client->MaxLinesValue = 1;
    TStringManager xrefs(kBaseEntrySize, 4), hosts(kBaseEntrySize, 4);
    xrefs.Add("alt.spam");
    hosts.Add("bad.example");
    TNewsGroup* g = Store.AddGroup("a.b");
    g->XrefList = &xrefs;
    Store.AllGroup().HostList = &hosts;
    StartLoggedOn({Reply("211 1 4 4 a.b\n"), Reply(Overview({"4\ts\tp\td\t<4>\t\t1\t50"})),
                   Reply("221 xref\n4 host a.b:4 alt.spam:9\n.\n"),
                   Reply("221 host\n4 bad.example\n.\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "xover 4-4", "xhdr xref 4-4",
                                  "xhdr nntp-posting-host 4-4"}));
    ASSERT_NE(g->SortedHead, nullptr);
    EXPECT_STREQ(g->SortedHead->CrossPosts, "a.b: alt.spam: ");
    EXPECT_STREQ(g->SortedHead->PostingHost, "bad.example");
    g->XrefList = nullptr;
    Store.AllGroup().HostList = nullptr;
}

TEST_F(NewsIoTest, HeaderCapIsToldOnceWithTheFirstArticleLeftOut) {
    Client->Xover = 1;
    Client->MaxLinesValue = 1;  // nothing is fetched: only the loading matters
    constexpr int kArticles = HEADER_CAP + 5;
    // The client asks only the newest it can store; this server ignores the
    // range and sends them all, so the store's own cap has to hold.
    std::string overview = "224 overview\n";
    for (int n = 1; n <= kArticles; ++n)
        overview += std::to_string(n) + "\ts\tp\td\t<" + std::to_string(n) + ">\t\t1\t50\n";
    overview += ".\n";
    TNewsGroup* g = Store.AddGroup("a.b");
    StartLoggedOn(
        {Reply("211 " + std::to_string(kArticles) + " 1 " + std::to_string(kArticles) + " a.b\n"),
         Reply(overview)});
    ASSERT_TRUE(RunUntilDone(20000));
    EXPECT_EQ(Settle(),
              (Commands{"mode reader", "group a.b", "xover 5-" + std::to_string(kArticles)}));
    EXPECT_EQ(g->NumHeaders, HEADER_CAP + 1);
    EXPECT_EQ(
        std::count_if(Client->Logs.begin(), Client->Logs.end(),
                      [](const std::string& l) { return l.rfind("Too many headers", 0) == 0; }),
        1);
    EXPECT_TRUE(Client->Logged("Too many headers in a.b: articles from #" +
                               std::to_string(HEADER_CAP + 2) +
                               " on are not stored and wait for the next start"));
    // Never seen, so never passed: the next start loads them.
    EXPECT_EQ(g->Pointer, HEADER_CAP + 1);
}

TEST_F(NewsIoTest, XhdrWithoutSubjectsFallsBackToXover) {
    Client->MaxLinesValue = 1;
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 1 1 1 a.b\n"), Reply("221 subject\n.\n"), Reply("221 from\n.\n"),
                   Reply("221 date\n.\n"), Reply("221 lines\n.\n"),
                   Reply("224 ok\n1\ts\tp\td\t<1>\t\t1\t50\n.\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "xhdr subject 1-1", "xhdr from 1-1",
                                  "xhdr date 1-1", "xhdr lines 1-1", "xover 1-1"}));
}

// ---- line counts ----

// "xhdr lines" answers nothing for posts without a Lines header; the
// server's :lines metadata is asked where it says it has it.
struct LineCountCase {
    const char* Name;
    std::vector<std::string> ProbeReplies;
    Commands ProbeCommands;  // sent after "xhdr lines"
    int32_t Lines1, Lines2;  // 0: unknown
    bool ToldUnknown;        // a status line says the counts are missing
};

class LineCountTest : public NewsIoTest, public ::testing::WithParamInterface<LineCountCase> {};

TEST_P(LineCountTest, MissingCountsComeFromTheServersMetadata) {
    const LineCountCase& c = GetParam();
    // Known counts 5 and 50 are too small and too long; unknown ones pass.
    Client->MinLinesValue = 10;
    Client->MaxLinesValue = 20;
    TNewsGroup* g = Store.AddGroup("a.b");
    std::vector<TStep> steps{Reply("211 2 1 2 a.b\n"), Reply("221 subject\n1 one\n2 two\n.\n"),
                             Reply("221 from\n1 p1\n2 p2\n.\n"), Reply("221 date\n.\n"),
                             Reply("221 lines\n.\n")};
    for (const auto& r : c.ProbeReplies) steps.push_back(Reply(r));
    const bool unknown = c.Lines1 == 0 && c.Lines2 == 0;
    if (unknown) {
        steps.push_back(Reply(Article(1, "x\n")));
        steps.push_back(Reply(Article(2, "x\n")));
    }
    StartLoggedOn(steps);
    ASSERT_TRUE(RunUntilDone());
    Commands expected{"mode reader",   "group a.b",     "xhdr subject 1-2",
                      "xhdr from 1-2", "xhdr date 1-2", "xhdr lines 1-2"};
    expected.insert(expected.end(), c.ProbeCommands.begin(), c.ProbeCommands.end());
    if (unknown) expected.insert(expected.end(), {"article 1", "article 2"});
    EXPECT_EQ(Settle(), expected);
    ASSERT_NE(g->SortedHead, nullptr);
    ASSERT_NE(g->SortedHead->NumberNext, nullptr);
    EXPECT_EQ(std::max(g->SortedHead->Lines, 0), c.Lines1);
    EXPECT_EQ(std::max(g->SortedHead->NumberNext->Lines, 0), c.Lines2);
    const std::vector<TArticleNo> fetched =
        unknown ? std::vector<TArticleNo>{1, 2} : std::vector<TArticleNo>{};
    EXPECT_EQ(Client->Requested, fetched);
    EXPECT_EQ(Client->LoggedPrefix("The server "), c.ToldUnknown);
}

const char kCapsWithHdr[] = "101 Capability list:\nVERSION 2\nREADER\nHDR\nOVER\n.\n";

INSTANTIATE_TEST_SUITE_P(
    Probes, LineCountTest,
    ::testing::Values(
        LineCountCase{"HdrCapability",
                      {kCapsWithHdr, "225 metadata follows\n1 5\n2 50\n.\n"},
                      {"CAPABILITIES", "HDR :lines 1-2"},
                      5,
                      50,
                      false},
        LineCountCase{"OverviewFormatOfAnOlderServer",
                      {"500 what?\n",
                       "215 order of fields\nSubject:\nFrom:\nDate:\nMessage-ID:\nReferences:\n"
                       ":bytes\n:lines\nXref:full\n.\n",
                       "221 metadata follows\n1 5\n2 50\n.\n"},
                      {"CAPABILITIES", "LIST OVERVIEW.FMT", "XHDR :lines 1-2"},
                      5,
                      50,
                      false},
        // A server that lists its capabilities is believed: no HDR, no counts.
        LineCountCase{"CapabilitiesWithoutHdr",
                      {"101 Capability list:\nVERSION 2\nREADER\nLIST ACTIVE HEADERS\nXHDR\n.\n"},
                      {"CAPABILITIES"},
                      0,
                      0,
                      true},
        // "Lines:" in the overview is the header, which "xhdr lines" already gave.
        LineCountCase{"LegacyOverviewFormat",
                      {"500 what?\n",
                       "215 order of fields\nSubject:\nFrom:\nDate:\nMessage-ID:\nReferences:\n"
                       "Bytes:\nLines:\n.\n"},
                      {"CAPABILITIES", "LIST OVERVIEW.FMT"},
                      0,
                      0,
                      true},
        LineCountCase{"NeitherProbeAnswered",
                      {"500 what?\n", "500 what?\n"},
                      {"CAPABILITIES", "LIST OVERVIEW.FMT"},
                      0,
                      0,
                      true},
        LineCountCase{"MetadataRefused",
                      {kCapsWithHdr, "503 metadata not supported\n"},
                      {"CAPABILITIES", "HDR :lines 1-2"},
                      0,
                      0,
                      true},
        // Garbage counts are no counts: they neither crash nor reject.
        LineCountCase{"GarbageCounts",
                      {kCapsWithHdr, "225 metadata follows\n1 many\nnonsense\n2 -7\n\n.\n"},
                      {"CAPABILITIES", "HDR :lines 1-2"},
                      0,
                      0,
                      false}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(NewsIoTest, LineCountsAreAskedOnlyWhereMissingAndCapabilitiesOnce) {
    Client->MinLinesValue = 100;  // every known count is too small: nothing is fetched
    TNewsGroup* ab = Store.AddGroup("a.b");
    TNewsGroup* cd = Store.AddGroup("c.d");
    StartLoggedOn({Reply("211 4 1 4 a.b\n"), Reply("221 subject\n1 s1\n2 s2\n3 s3\n4 s4\n.\n"),
                   Reply("221 from\n.\n"), Reply("221 date\n.\n"),
                   Reply("221 lines\n1 12\n4 15\n.\n"), Reply(kCapsWithHdr),
                   Reply("225 metadata follows\n2 7\n3 8\n.\n"), Reply("211 2 8 9 c.d\n"),
                   Reply("221 subject\n8 s8\n9 s9\n.\n"), Reply("221 from\n.\n"),
                   Reply("221 date\n.\n"), Reply("221 lines\n8 3\n.\n"),
                   Reply("225 metadata follows\n9 4\n.\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(),
              (Commands{"mode reader", "group a.b", "xhdr subject 1-4", "xhdr from 1-4",
                        "xhdr date 1-4", "xhdr lines 1-4", "CAPABILITIES", "HDR :lines 2-3",
                        "group c.d", "xhdr subject 8-9", "xhdr from 8-9", "xhdr date 8-9",
                        "xhdr lines 8-9", "HDR :lines 9-9"}));
    auto lines = [](TNewsGroup* g) {
        std::vector<int32_t> out;
        for (THeader* h = g->SortedHead; h; h = h->NumberNext) out.push_back(h->Lines);
        return out;
    };
    EXPECT_EQ(lines(ab), (std::vector<int32_t>{12, 7, 8, 15}));
    EXPECT_EQ(lines(cd), (std::vector<int32_t>{3, 4}));
    EXPECT_TRUE(Client->Requested.empty());
}

TEST_F(NewsIoTest, EveryCountGivenAsksNothingMore) {
    Client->MinLinesValue = 100;
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 2 1 2 a.b\n"), Reply("221 subject\n1 s1\n2 s2\n.\n"),
                   Reply("221 from\n.\n"), Reply("221 date\n.\n"),
                   Reply("221 lines\n1 12\n2 15\n.\n")});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "xhdr subject 1-2", "xhdr from 1-2",
                                  "xhdr date 1-2", "xhdr lines 1-2"}));
}

// ---- groups larger than the store ----

struct HugeGroupCase {
    const char* Name;
    bool Xover;
    std::vector<std::string> Replies;  // after the group reply
    Commands Sent;                     // after "group a.b"
};

class HugeGroupTest : public NewsIoTest, public ::testing::WithParamInterface<HugeGroupCase> {};

TEST_P(HugeGroupTest, FirstVisitLoadsOnlyTheNewestTheStoreHolds) {
    const HugeGroupCase& c = GetParam();
    Client->Xover = c.Xover;
    Client->MaxLinesValue = 1;  // nothing is fetched: only the loading matters
    TNewsGroup* g = Store.AddGroup("a.b");
    std::vector<TStep> steps{Reply("211 100000000 1 100000000 a.b\n")};
    for (const auto& r : c.Replies) steps.push_back(Reply(r));
    StartLoggedOn(steps);
    ASSERT_TRUE(RunUntilDone());
    Commands expected{"mode reader", "group a.b"};
    expected.insert(expected.end(), c.Sent.begin(), c.Sent.end());
    EXPECT_EQ(Settle(), expected);
    const std::string told = "a.b: 99967999 older articles passed over, loading the newest 32001";
    EXPECT_EQ(std::count(Client->Logs.begin(), Client->Logs.end(), told), 1);
    EXPECT_FALSE(Client->LoggedPrefix("Too many headers"));
    ASSERT_FALSE(Client->Expected.empty());
    EXPECT_EQ(Client->Expected.front(), HEADER_CAP + 1);
    EXPECT_EQ(g->NumHeaders, 2);
    EXPECT_EQ(g->Pointer, 100000000);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, HugeGroupTest,
    ::testing::Values(HugeGroupCase{"Xover",
                                    true,
                                    {Overview({"99968000\ts\tp\td\t<a>\t\t1\t50",
                                               "100000000\ts\tp\td\t<b>\t\t1\t50"})},
                                    {"xover 99968000-100000000"}},
                      HugeGroupCase{
                          "Xhdr",
                          false,
                          {"221 subject\n99968000 s1\n100000000 s2\n.\n", "221 from\n.\n",
                           "221 date\n.\n", "221 lines\n99968000 50\n100000000 50\n.\n"},
                          {"xhdr subject 99968000-100000000", "xhdr from 99968000-100000000",
                           "xhdr date 99968000-100000000", "xhdr lines 99968000-100000000"}}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(NewsIoTest, NextVisitToAHugeGroupLoadsOnlyWhatIsNew) {
    Client->Xover = 1;
    Client->MaxLinesValue = 1;
    TNewsGroup* g = Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 100000000 1 100000000 a.b\n"),
                   Reply(Overview({"100000000\ts\tp\td\t<a>\t\t1\t50"})),
                   Reply("211 100000010 1 100000010 a.b\n"),
                   Reply(Overview({"100000010\ts\tp\td\t<b>\t\t1\t50"}))});
    ASSERT_TRUE(RunUntilDone());
    Client->ClearDoneFlags();
    Client->StartGroupWalk();
    ASSERT_TRUE(Client->Run([&] { return Client->AllDone > 1; }));
    EXPECT_EQ(Settle(), (Commands{"mode reader", "group a.b", "xover 99968000-100000000",
                                  "group a.b", "xover 100000001-100000010"}));
    EXPECT_EQ(std::count_if(
                  Client->Logs.begin(), Client->Logs.end(),
                  [](const std::string& l) { return l.find("passed over") != std::string::npos; }),
              1);
    EXPECT_EQ(g->Pointer, 100000010);
}

// New articles that the store of this run cannot hold are not passed over
// for good: the pointer stays below them, the group is not asked again in
// this pass, and the next start of the program loads them.
TEST_F(NewsIoTest, FullStoreKeepsThePointerBelowWhatItCannotHold) {
    struct Case {
        const char* Name;
        int Stored;
        Commands Sent;
        TArticleNo Pointer;
    } const cases[] = {
        {"full", HEADER_CAP + 1, {"mode reader", "group a.b"}, HEADER_CAP + 1},
        {"room for one", HEADER_CAP, {"mode reader", "group a.b", "xover 32001-32001"}, 32001},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        TNewsStore store;
        TScriptedServer server;
        auto client = std::make_unique<TTestClient>(store, Loop);
        client->Xover = 1;
        client->MaxLinesValue = 1;  // nothing is fetched: only the pointer matters
        TNewsGroup* g = store.AddGroup("a.b");
        for (TArticleNo n = 1; n <= c.Stored; ++n) {
            THeader* h = store.FindOrAddHeader(g, n);
            ASSERT_NE(h, nullptr);
            h->Subject = store.Null();
            h->Poster = store.Null();
            h->Flags |= HEADER_HANDLED;
        }
        g->HighestLoaded = c.Stored;
        g->Pointer = c.Stored;
        std::vector<TStep> steps{kModeReaderOk, Reply("211 32006 1 32006 a.b\n")};
        if (c.Stored == HEADER_CAP) steps.push_back(Reply(Overview({"32001\ts\tp\td\t<x>\t\t1\t50"})));
        server.Serve(kGreeting, steps);
        ASSERT_TRUE(client->Connect(server.HostString()));
        ASSERT_TRUE(client->Run([&] { return client->AllDone > 0; }));
        EXPECT_EQ(SettledCommands(*client, server), c.Sent);
        EXPECT_TRUE(client->Logged("a.b: the store is full; articles from #" +
                                   std::to_string(c.Pointer + 1) + " on wait for the next start"));
        EXPECT_TRUE(client->Requested.empty());
        EXPECT_EQ(g->Pointer, c.Pointer);
    }
}

// ---- articles ----

TEST_F(NewsIoTest, ArticleLinesAreUnstuffedCutAndHandedOver) {
    Client->Xover = 1;
    TNewsGroup* g = Store.AddGroup("a.b");
    std::string longLine(MAXCOMMLINE + 100, 'L');
    StartLoggedOn({Reply("211 1 1 1 a.b\n"), Reply(Overview({"1\ts\tp\td\t<1@test>\t\t10\t4"})),
                   Reply(Article(1, "..dot\n.x\n" + longLine + "\nafter\n"))});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Client->HeaderLines, (Commands{"Subject: s", "From: p"}));
    EXPECT_EQ(Client->BodyLines, (Commands{".dot", ".x", std::string(MAXCOMMLINE, 'L'), "after"}));
    EXPECT_STREQ(Client->MessageId(), "<1@test>");
    EXPECT_EQ(Client->LinesReceived(), 4);
    EXPECT_EQ(g->Pointer, 1);
    EXPECT_TRUE(Client->Logged("Finished with group a.b"));
}

TEST_F(NewsIoTest, GarbageBytesNeverBreakTheLines) {
    Client->Xover = 1;
    Store.AddGroup("a.b");
    std::string body("nul\0byte\nc\rr\n\xff\xfe\x80\n", 17);
    StartLoggedOn({Reply("211 1 1 1 a.b\n"), Reply(Overview({"1\ts\tp\td\t<1@test>\t\t10\t3"})),
                   TStep{"220 1 <1@test>\r\n\r\n" + body + ".\r\n", true}});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Client->BodyLines, (Commands{std::string("nul\0byte", 8), "cr", "\xff\xfe\x80"}));
}

TEST_F(NewsIoTest, MissingArticleMovesOn) {
    Client->Xover = 1;
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 2 1 2 a.b\n"),
                   Reply(Overview({"1\ts1\tp1\td\t<1>\t\t10\t4", "2\ts2\tp2\td\t<2>\t\t10\t4"})),
                   Reply("423 no such article\n"), Reply(Article(2, "body\n"))});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Client->Requested, (std::vector<TArticleNo>{1, 2}));
    EXPECT_EQ(Client->BodyLines, Commands{"body"});
}

TEST_F(NewsIoTest, UnexpectedArticleIsNotReadAsResponses) {
    Start(kGreeting, {Reply("200 reader mode\n220 5 <x@y>\n200 looks like a greeting\n.\n")});
    // The first 200 was the mode reader reply: the walk ends before the 220.
    ASSERT_TRUE(Client->Run([&] { return Client->Unexpected > 0; }));
    Settle();
    EXPECT_EQ(Client->Unexpected, 1);
    EXPECT_FALSE(Client->Logged("Confused -- too many 200 respones?"));
    EXPECT_TRUE(Client->BodyLines.empty());
}

TEST_F(NewsIoTest, WalkStepsBackToAPostersEarliestPart) {
    Client->Xover = 1;
    Store.AddGroup("a.b");
    // Article 1 is part 2 of poster A; article 2 is part 1, posted earlier.
    StartLoggedOn({Reply("211 3 1 3 a.b\n"),
                   Reply(Overview({"1\tpart 2\tA\tMon, 07 May 2007 10:12:00 GMT\t<1>\t\t1\t1",
                                   "2\tpart 1\tA\tMon, 07 May 2007 10:11:00 GMT\t<2>\t\t1\t1",
                                   "3\tother\tB\tMon, 07 May 2007 10:10:00 GMT\t<3>\t\t1\t1"})),
                   Reply(Article(2, "x\n")), Reply(Article(1, "x\n")), Reply(Article(3, "x\n"))});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Client->Requested, (std::vector<TArticleNo>{2, 1, 3}));
    EXPECT_EQ(Store.FindGroup("a.b")->Pointer, 3);
}

TEST_F(NewsIoTest, FollowPosterFlagTakesThePostersNextPart) {
    Client->Xover = 1;
    Client->FollowPosterValue = 0;  // numeric order unless the owner asks
    Client->AtArticleEnd = [](TTestClient& c) {
        c.FollowPosterNext(c.CurrentArticle()->Number == 1);
    };
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 3 1 3 a.b\n"),
                   Reply(Overview({"1\tpart 1\tA\tMon, 07 May 2007 10:11:00 GMT\t<1>\t\t1\t1",
                                   "2\tother\tB\tMon, 07 May 2007 10:12:00 GMT\t<2>\t\t1\t1",
                                   "3\tpart 2\tA\tMon, 07 May 2007 10:13:00 GMT\t<3>\t\t1\t1"})),
                   Reply(Article(1, "x\n")), Reply(Article(3, "x\n")), Reply(Article(2, "x\n"))});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Client->Requested, (std::vector<TArticleNo>{1, 3, 2}));
}

// Following a post goes to its next part past a copy of the part just
// fetched, and the copy, when the cursor reaches it, is skipped unasked.
TEST_F(NewsIoTest, FollowingAPostSkipsCopiesOfItsParts) {
    Client->Xover = 1;
    Client->FollowPosterValue = 0;
    Client->AtArticleEnd = [](TTestClient& c) {
        c.FollowPosterNext(c.CurrentArticle()->Poster == std::string("A"));
    };
    Store.AddGroup("a.b");
    const char* date = "Mon, 07 May 2007 10:11:00 GMT";
    auto row = [&](int n, const char* subject, const char* poster) {
        return std::to_string(n) + "\t" + subject + "\t" + poster + "\t" + date + "\t<" +
               std::to_string(n) + ">\t\t1\t1";
    };
    StartLoggedOn({Reply("211 5 1 5 a.b\n"),
                   Reply(Overview({row(1, "f (1/3)", "A"), row(2, "f (2/3)", "A"),
                                   row(3, "f (2/3)", "A"), row(4, "other", "B"),
                                   row(5, "f (3/3)", "A")})),
                   Reply(Article(1, "x\n")), Reply(Article(2, "x\n")), Reply(Article(5, "x\n")),
                   Reply(Article(4, "x\n"))});
    ASSERT_TRUE(RunUntilDone());
    EXPECT_EQ(Client->Requested, (std::vector<TArticleNo>{1, 2, 5, 4}));
    EXPECT_TRUE(Client->Logged("Article #3 repeats a part already dealt with: skipped"));
    EXPECT_EQ(Store.FindGroup("a.b")->Pointer, 5);
}

TEST_F(NewsIoTest, SizeLimitsRejectWithoutFetching) {
    Client->Xover = 1;
    Client->MinLinesValue = 10;
    Client->MaxLinesValue = 100;
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 4 1 4 a.b\n"),
                   Reply(Overview({"1\ts1\tp1\td\t<1>\t\t1\t5", "2\ts2\tp2\td\t<2>\t\t1\t50",
                                   "3\ts3\tp3\td\t<3>\t\t1\t500", "4\ts4\tp4\td\t<4>\t\t1\t0"})),
                   Reply(Article(2, "x\n")), Reply(Article(4, "x\n"))});
    ASSERT_TRUE(RunUntilDone());
    // No line count (0) is never too small.
    EXPECT_EQ(Client->Requested, (std::vector<TArticleNo>{2, 4}));
}

// ---- connection failures ----

TEST_F(NewsIoTest, ServerClosingMidArticleKeepsTheLinesReceived) {
    Client->Xover = 1;
    Store.AddGroup("a.b");
    StartLoggedOn({Reply("211 1 1 1 a.b\n"), Reply(Overview({"1\ts\tp\td\t<1>\t\t10\t4"})),
                   Close("220 1 <1@test>\n\nline one\nline two\npartial")});
    ASSERT_TRUE(Client->Run([&] { return !Client->Lost.empty(); }));
    Settle();
    EXPECT_EQ(Client->BodyLines, (Commands{"line one", "line two"}));
    EXPECT_EQ(Client->Lost, std::vector<int>{SOCKET_RECV_CLOSED});
    // The line reader may meet the recorded error before the error message
    // arrives, so "getchar" can come first; the worker's report must be there.
    auto async = std::find_if(Client->Errors.begin(), Client->Errors.end(),
                              [](const TReportedError& e) { return e.Where == "async error"; });
    ASSERT_NE(async, Client->Errors.end());
    EXPECT_EQ(async->Code, SOCKET_RECV_CLOSED);
    EXPECT_TRUE(async->Fatal);
    for (const auto& e : Client->Errors) EXPECT_EQ(e.Code, SOCKET_RECV_CLOSED) << e.Where;
}

TEST_F(NewsIoTest, ServerThatClosesAtOnceIsALostConnection) {
    // Nothing, or a greeting, and the connection is gone before the client
    // even accepted it: the close must still be reported.
    Start(Close("200 bye\n"), {});
    ASSERT_TRUE(Client->Run([&] { return !Client->Lost.empty(); }));
    ASSERT_EQ(Client->Lost.size(), 1u);
    // A close, or a reset when "mode reader" reached the closed socket first.
    EXPECT_TRUE(Client->Lost[0] == SOCKET_RECV_CLOSED || Client->Lost[0] == SOCKET_FAIL_RECV)
        << SocketErrorName(Client->Lost[0]);
}

TEST_F(NewsIoTest, UnresolvableHostPostsCloseErrorFailEnd) {
    ASSERT_TRUE(Client->Connect("no such host:119"));
    ASSERT_TRUE(Client->Run([&] { return Client->SocketMessages.size() >= 4; }));
    Client->Run([] { return false; }, 100);
    EXPECT_EQ(Client->SocketMessages, (std::vector<uintptr_t>{5, 4, 7, 2}));
    ASSERT_EQ(Client->Errors.size(), 1u);
    EXPECT_EQ(Client->Errors[0].Code, SOCKET_FAIL_HOST_LOOKUP);
    EXPECT_EQ(Client->Lost, std::vector<int>{SOCKET_FAIL_HOST_LOOKUP});
    EXPECT_TRUE(Client->Logged("Error during connection"));
    EXPECT_EQ(Client->ConnectedCount, 0);
}

TEST_F(NewsIoTest, DisconnectIsQuietAndReconnectStartsAfresh) {
    StartLoggedOn({});
    ASSERT_TRUE(RunUntilDone());
    Client->Disconnect();
    EXPECT_EQ(Client->DisconnectedCount, 1);
    EXPECT_TRUE(Client->Logged("Disconnecting.... successful!"));
    Client->Run([] { return false; }, 150);
    EXPECT_TRUE(Client->Errors.empty());  // our own close is no error
    EXPECT_TRUE(Client->Lost.empty());
}

}  // namespace
}  // namespace zorvex::test
