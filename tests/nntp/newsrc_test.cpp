// The kept newsrc list: listing lines, the LIST / NEWGROUPS choice with its
// stamped moment, newsrc.lst on disk, and the exchange with a server.
#include "nntp/newsrc.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "library/fileio.h"
#include "support/scripted_server.h"
#include "support/tempdir.h"
#include "support/test_client.h"

namespace zorvex {
namespace {

using Names = std::vector<std::string>;

// 2024-03-05 06:07:08 UTC and a day and a bit later.
constexpr time_t kFirstRequest = 1709618828;
constexpr time_t kSecondRequest = kFirstRequest + 90061;

Names NamesOf(const TNewsrcList& list) {
    return Names(list.Names().begin(), list.Names().end());
}

class NewsrcTest : public ::testing::Test {
  protected:
    void TearDown() override { ClearFileFaults(); }
    std::string FileText() {
        std::string text;
        EXPECT_TRUE(ReadWholeFile(Dir.File("newsrc.lst"), &text));
        return text;
    }
    void WriteFile(const std::string& text) {
        std::string error;
        ASSERT_TRUE(ReplaceFileAtomically(Dir.File("newsrc.lst"), text, &error)) << error;
    }

    test::TTempDir Dir;
    TNewsrcList List{Dir.Path()};
};

struct LineCase {
    const char* Label;
    std::string Line;
    Names Expected;
};

class NewsrcLine : public NewsrcTest, public ::testing::WithParamInterface<LineCase> {};

TEST_P(NewsrcLine, KeepsOnlyTheName) {
    List.AddNewsrcLine("first.group");
    List.AddNewsrcLine(GetParam().Line.c_str());
    Names expected{"first.group"};
    expected.insert(expected.end(), GetParam().Expected.begin(), GetParam().Expected.end());
    EXPECT_EQ(NamesOf(List), expected);
    EXPECT_TRUE(List.HasList());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewsrcLine,
    ::testing::Values(
        LineCase{"ListLine", "alt.binaries.x 0000012345 0000000100 y", {"alt.binaries.x"}},
        LineCase{"NewgroupsLine", "comp.lang.c", {"comp.lang.c"}},
        LineCase{"TabSeparated", "rec.a\t10\t1\tm", {"rec.a"}}, LineCase{"Empty", "", {}},
        LineCase{"LeadingBlank", " alt.x 1 1 y", {}}, LineCase{"LeadingTab", "\talt.x", {}},
        LineCase{"Repeated", "first.group 9 9 n", {}},
        LineCase{"ControlBytes", "alt.\x01x 1 1 y", {}},
        LineCase{"HighBytesKept", "\xe4\xf6.\xff 1 1 y", {"\xe4\xf6.\xff"}},
        LineCase{
            "LongNameCut", std::string(5000, 'q') + " 1 1 y", {std::string(NEWSRC_NAME_MAX, 'q')}}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(NewsrcTest, NoListUntilALineOrAFile) {
    EXPECT_FALSE(List.HasList());
    EXPECT_EQ(List.BeginRequest(), "LIST");
    List.AddNewsrcLine("");
    EXPECT_TRUE(List.HasList());
    EXPECT_EQ(NamesOf(List), Names{});
}

TEST_F(NewsrcTest, NewgroupsCarriesTheMomentOfThePreviousRequest) {
    // The clock moves on by an hour at every look, so a moment taken when a
    // listing ends (or at connect) would show.
    time_t now = kFirstRequest - 3600;
    List.SetClock([&] { return now += 3600; });
    EXPECT_EQ(List.BeginRequest(), "LIST");
    EXPECT_EQ(List.Date(), "240305");
    EXPECT_EQ(List.Time(), "060708");
    List.AddNewsrcLine("a.b 1 1 y");
    List.EndListing(true);

    now = kSecondRequest - 3600;
    EXPECT_EQ(List.BeginRequest(), "NEWGROUPS 240305 060708 GMT");
    EXPECT_EQ(List.Date(), "240306");
    EXPECT_EQ(List.Time(), "070809");
    EXPECT_EQ(NamesOf(List), Names{"a.b"});  // NEWGROUPS adds to the list
    List.AddNewsrcLine("c.d");
    List.EndListing(true);
    EXPECT_EQ(List.BeginRequest(), "NEWGROUPS 240306 070809 GMT");
    EXPECT_EQ(NamesOf(List), (Names{"a.b", "c.d"}));
}

TEST_F(NewsrcTest, AListWithoutADateIsAskedForAgainAndEmptiedFirst) {
    List.SetClock([] { return kFirstRequest; });
    WriteFile("240101\n000000\nold.one\nold.two\n");
    List.Read();
    ASSERT_EQ(NamesOf(List), (Names{"old.one", "old.two"}));
    List.RequestFresh();
    EXPECT_EQ(List.Date(), "");
    EXPECT_EQ(access(List.Path().c_str(), F_OK), -1);
    EXPECT_TRUE(List.HasList());

    EXPECT_EQ(List.BeginRequest(), "LIST");
    EXPECT_EQ(NamesOf(List), Names{});
    List.AddNewsrcLine("new.one 1 1 y");
    List.EndListing(true);
    EXPECT_EQ(FileText(), "240305\n060708\nnew.one\n");
}

TEST_F(NewsrcTest, ARefusedRequestKeepsTheMomentOfTheLastListing) {
    // A refused LIST must leave no date behind, or every later logon would
    // ask only for newer groups and never get the whole list; a refused
    // NEWGROUPS must keep the old moment, or the groups made since then
    // would never be asked for. Neither touches the file.
    time_t now = kFirstRequest;
    List.SetClock([&] { return now; });
    EXPECT_EQ(List.BeginRequest(), "LIST");
    List.EndListing(false);
    EXPECT_TRUE(List.LoadedThisRun());
    EXPECT_EQ(List.Date(), "");
    EXPECT_EQ(access(List.Path().c_str(), F_OK), -1);
    TNewsrcList next(Dir.Path());
    next.Read();
    EXPECT_EQ(next.BeginRequest(), "LIST");

    EXPECT_EQ(List.BeginRequest(), "LIST");
    List.AddNewsrcLine("a.b");
    List.EndListing(true);
    std::string written = FileText();
    now = kSecondRequest;
    EXPECT_EQ(List.BeginRequest(), "NEWGROUPS 240305 060708 GMT");
    List.EndListing(false);
    EXPECT_EQ(List.Date(), "240305");
    EXPECT_EQ(List.Time(), "060708");
    EXPECT_EQ(FileText(), written);
    EXPECT_EQ(List.BeginRequest(), "NEWGROUPS 240305 060708 GMT");
}

TEST_F(NewsrcTest, FileRoundTrip) {
    List.SetClock([] { return kFirstRequest; });
    List.BeginRequest();
    for (const char* line : {"zeta.z 1 1 y", "alpha.a 2 1 n", "\xe9t\xe9.x 3 1 m", "mid.m"})
        List.AddNewsrcLine(line);
    ASSERT_TRUE(List.Write());
    EXPECT_EQ(FileText(), "240305\n060708\nzeta.z\nalpha.a\n\xe9t\xe9.x\nmid.m\n");

    TNewsrcList again(Dir.Path());
    again.Read();
    EXPECT_EQ(again.Date(), "240305");
    EXPECT_EQ(again.Time(), "060708");
    EXPECT_EQ(NamesOf(again), NamesOf(List));
    EXPECT_TRUE(again.HasList());
    EXPECT_FALSE(again.LoadedThisRun());
}

struct ReadCase {
    const char* Label;
    std::string File;
    std::string Date, Time;
    Names Expected;
    bool HasList;
};

class NewsrcRead : public NewsrcTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(NewsrcRead, ReadsWhatItCanUse) {
    const ReadCase& c = GetParam();
    WriteFile(c.File);
    List.AddNewsrcLine("stale.name");  // a read replaces what was there
    List.Read();
    EXPECT_EQ(List.Date(), c.Date);
    EXPECT_EQ(List.Time(), c.Time);
    EXPECT_EQ(NamesOf(List), c.Expected);
    EXPECT_EQ(List.HasList(), c.HasList);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NewsrcRead,
    ::testing::Values(
        ReadCase{"Plain", "240305\n060708\na.b\nc.d\n", "240305", "060708", {"a.b", "c.d"}, true},
        ReadCase{"NoLastLineFeed", "240305\n060708\na.b", "240305", "060708", {"a.b"}, true},
        ReadCase{"CrLf", "240305\r\n060708\r\na.b\r\n", "240305", "060708", {"a.b"}, true},
        ReadCase{"OnlyTheStamp", "240305\n060708\n", "240305", "060708", {}, false},
        ReadCase{"Empty", "", "", "", {}, false},
        ReadCase{"DateThatIsNoDate", "yesterday\n060708\na.b\n", "", "", {"a.b"}, true},
        ReadCase{"StampTooLong", "2403051\n060708\na.b\n", "", "", {"a.b"}, true},
        ReadCase{"HugeLines",
                 std::string(100000, '9') + "\n060708\n" + std::string(100000, 'x') + "\nb.c\n",
                 "",
                 "",
                 {std::string(NEWSRC_NAME_MAX, 'x'), "b.c"},
                 true},
        ReadCase{"BinaryJunk",
                 "240305\n060708\n\x01\x02\x03\nok.one\n\x7f\n",
                 "240305",
                 "060708",
                 {"ok.one"},
                 true}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(NewsrcTest, AnAbsentOrUnreadableFileIsNothing) {
    List.Read();
    EXPECT_FALSE(List.HasList());
    EXPECT_EQ(List.Date(), "");
    ASSERT_EQ(mkdir(Dir.File("newsrc.lst").c_str(), 0700), 0);  // a directory cannot be read
    List.Read();
    EXPECT_FALSE(List.HasList());
    EXPECT_EQ(List.BeginRequest(), "LIST");
}

TEST_F(NewsrcTest, AFileThatCannotBeWrittenKeepsTheListInMemory) {
    TNewsrcList list(Dir.File("missing-dir"));
    list.SetClock([] { return kFirstRequest; });
    list.BeginRequest();
    list.AddNewsrcLine("a.b");
    EXPECT_FALSE(list.Write());
    EXPECT_FALSE(list.LastError().empty());
    list.EndListing(true);
    EXPECT_TRUE(list.LoadedThisRun());
    EXPECT_EQ(NamesOf(list), Names{"a.b"});
    EXPECT_EQ(list.BeginRequest(), "NEWGROUPS 240305 060708 GMT");
}

TEST_F(NewsrcTest, AFailedWriteLeavesTheOldFile) {
    WriteFile("240101\n000000\nold.one\n");
    List.Read();
    List.AddNewsrcLine("new.one");
    InjectFileFault(TFileFault::SHORT_WRITE);
    EXPECT_FALSE(List.Write());
    ClearFileFaults();
    EXPECT_EQ(FileText(), "240101\n000000\nold.one\n");
    ASSERT_TRUE(List.Write());
    EXPECT_EQ(FileText(), "240101\n000000\nold.one\nnew.one\n");
}

TEST_F(NewsrcTest, AFloodOfNamesIsCut) {
    TNewsrcList list(Dir.Path(), 1000);
    list.BeginRequest();
    for (int i = 0; i < 5000; ++i)
        list.AddNewsrcLine(("g." + std::to_string(i) + " 1 1 y").c_str());
    list.AddNewsrcLine("g.7");  // known names are not counted as dropped
    EXPECT_EQ(list.Names().size(), 1000u);
    EXPECT_EQ(list.Dropped(), 4000u);
    EXPECT_EQ(list.Names().back(), "g.999");
    ASSERT_TRUE(list.Write());
    TNewsrcList again(Dir.Path(), 1000);
    again.Read();
    EXPECT_EQ(again.Names().size(), 1000u);
    EXPECT_EQ(list.BeginRequest().substr(0, 9), "NEWGROUPS");
    EXPECT_EQ(list.Dropped(), 4000u);
    list.RequestFresh();
    EXPECT_EQ(list.BeginRequest(), "LIST");  // the whole list again: the count starts over
    EXPECT_EQ(list.Dropped(), 0u);
}

// ---- the exchange with a server ----

const test::TStep kGreeting{"200 scripted server ready\n"};
const test::TStep kModeReaderOk{"200 reader mode\n"};

class TNewsrcClient : public test::TTestClient {
  public:
    using TTestClient::TTestClient;
    bool MaintainNewsrc() override { return true; }
};

class NewsrcExchange : public NewsrcTest {
  protected:
    // One connection with the keeper; returns the commands the server saw.
    std::vector<std::string> Connect(TNewsrcKeeper& keeper, std::vector<test::TStep> steps) {
        test::TScriptedServer server;
        TPlainEventLoop loop;
        auto client = std::make_unique<TNewsrcClient>(Store, loop);
        client->SetNewsrc(&keeper);
        steps.insert(steps.begin(), kModeReaderOk);
        server.Serve(kGreeting, std::move(steps));
        EXPECT_TRUE(client->Connect(server.HostString()));
        EXPECT_TRUE(client->Run([&] { return client->AllDone > 0; }));
        Logs = client->Logs;
        client->Disconnect();
        client.reset();
        return server.Received();
    }
    bool Logged(const std::string& line) const {
        return std::find(Logs.begin(), Logs.end(), line) != Logs.end();
    }

    TNewsStore Store;
    std::vector<std::string> Logs;
};

TEST_F(NewsrcExchange, ListFirstThenNewgroupsSinceThatRequest) {
    {
        TNewsrcList first(Dir.Path());
        first.SetClock([] { return kFirstRequest; });
        first.Read();
        auto seen = Connect(first, {test::TStep{"215 list follows\nalt.a 10 1 y\n"
                                                "comp.b 0000000005 0000000002 m\n.\n"}});
        EXPECT_EQ(seen, (std::vector<std::string>{"mode reader", "LIST"}));
        EXPECT_TRUE(Logged("Downloading full NewsRC listing (may take a few minutes...)"));
        EXPECT_TRUE(first.LoadedThisRun());
        EXPECT_EQ(FileText(), "240305\n060708\nalt.a\ncomp.b\n");

        // Loaded in this run: a second connection asks for nothing.
        seen = Connect(first, {});
        EXPECT_EQ(seen, std::vector<std::string>{"mode reader"});
    }
    // The next run reads the file and asks only for what is new since the
    // first request.
    TNewsrcList second(Dir.Path());
    second.SetClock([] { return kSecondRequest; });
    second.Read();
    auto seen = Connect(second, {test::TStep{"231 new groups follow\nsci.c 3 1 y\n.\n"}});
    EXPECT_EQ(seen, (std::vector<std::string>{"mode reader", "NEWGROUPS 240305 060708 GMT"}));
    EXPECT_FALSE(Logged("Downloading full NewsRC listing (may take a few minutes...)"));
    EXPECT_EQ(FileText(), "240306\n070809\nalt.a\ncomp.b\nsci.c\n");
}

TEST_F(NewsrcExchange, AHostileListingEndsWithAUsableFile) {
    TNewsrcList list(Dir.Path(), 5000);
    list.SetClock([] { return kFirstRequest; });
    std::string reply = "215 list follows\n";
    reply += std::string(200000, 'x') + " 1 1 y\n";  // longer than any line the client keeps
    reply += std::string("bin\x01\x02ary 1 1 y\n");
    for (int i = 0; i < 20000; ++i) reply += "g." + std::to_string(i) + " 1 1 y\n";
    reply += "..dotted 1 1 y\n.\n";
    auto seen = Connect(list, {test::TStep{reply}});
    EXPECT_EQ(seen, (std::vector<std::string>{"mode reader", "LIST"}));
    ASSERT_EQ(list.Names().size(), 5000u);
    EXPECT_EQ(list.Names().front(), std::string(NEWSRC_NAME_MAX, 'x'));
    EXPECT_EQ(list.Dropped(), 20001u - 4999u);
    TNewsrcList again(Dir.Path(), 5000);
    again.Read();
    EXPECT_EQ(again.Names(), list.Names());
    EXPECT_EQ(again.Date(), "240305");
}

}  // namespace
}  // namespace zorvex
